// SPDX-License-Identifier: MIT
// The serial port over a real pseudo-terminal: what the line looks like from the other side,
// exclusive use, reads under the time limit, hang-ups, and the closed port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <numeric>
#include <thread>

#include "link/frames.h"
#include "link/serial.h"
#include "pty_peer.h"

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Well below the 2000 ms read limit: a read that ends before this did not wait it out.
constexpr long long kFarBelowReadLimitMs = 1000;

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peer.ok());
        portClose();
    }
    void TearDown() override { portClose(); }
    void open() { ASSERT_TRUE(portOpen(0, peer.slavePath(), kPortByName)); }

    PtyPeer peer;
};

void expectRawEightNOne(const termios& t) {
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | IGNBRK | BRKINT |
                           PARMRK | INPCK | IUCLC), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
}

TEST_F(SerialPort, LineSettingsAndSpeedChange) {
    // Start from a line set up as unlike ours as it gets.
    termios t{};
    ASSERT_EQ(tcgetattr(peer.slaveFd(), &t), 0);
    t.c_iflag |= IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK | INPCK | IUCLC;
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK);
    t.c_oflag |= OPOST | ONLCR | OLCUC;
    t.c_lflag |= ICANON | ECHO | ECHONL | ISIG | IEXTEN;
    t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB | CSTOPB | CRTSCTS | HUPCL;
    cfsetospeed(&t, B38400);
    cfsetispeed(&t, B38400);
    ASSERT_EQ(tcsetattr(peer.slaveFd(), TCSANOW, &t), 0);

    open();
    ASSERT_EQ(tcgetattr(peer.slaveFd(), &t), 0);
    expectRawEightNOne(t);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B9600));

    portSetSpeed(kFastBaud);
    ASSERT_EQ(tcgetattr(peer.slaveFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
    expectRawEightNOne(t);

    // A speed the line cannot take changes nothing.
    portSetSpeed(12345);
    ASSERT_EQ(tcgetattr(peer.slaveFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
}

TEST_F(SerialPort, EveryByteValuePassesUnchangedBothWays) {
    termios t{};
    ASSERT_EQ(tcgetattr(peer.slaveFd(), &t), 0);
    t.c_iflag |= IXON | IXOFF | ICRNL | ISTRIP;
    t.c_oflag |= OPOST | ONLCR;
    t.c_lflag |= ICANON | ECHO | ISIG;
    ASSERT_EQ(tcsetattr(peer.slaveFd(), TCSANOW, &t), 0);
    open();
    // 0x03 (INTR), 0x0D/0x0A (line ends), 0x11/0x13 (XON/XOFF), 0x7F, 0xFF: all plain data.
    Bytes all(256);
    std::iota(all.begin(), all.end(), 0);
    peer.run({receiveThen(256, all)});
    ASSERT_TRUE(portWrite(all));
    Bytes back(256);
    ASSERT_TRUE(portRead(back));
    EXPECT_EQ(hex(back), hex(all));
    EXPECT_EQ(hex(peer.finish()), hex(all));
}

TEST_F(SerialPort, OpenIsExclusive) {
    open();
    // The open port holds the advisory lock: another opener cannot take it.
    const int other = ::open(peer.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (other >= 0) {
        EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
        EXPECT_EQ(errno, EWOULDBLOCK);
        ::close(other);
    } else {
        EXPECT_EQ(errno, EBUSY);   // the tty's exclusive mode refused it outright
    }
    portClose();

    // And the other way round: a node that someone else holds is not opened.
    const int holder = ::open(peer.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(portOpen(0, peer.slavePath(), kPortByName));
    EXPECT_FALSE(portIsOpen());
    EXPECT_FALSE(portLastErrorText().empty());
    ::close(holder);
    EXPECT_TRUE(portOpen(0, peer.slavePath(), kPortByName));
}

TEST_F(SerialPort, TtyExclusiveModeRefusesOtherOpeners) {
    if (geteuid() == 0) GTEST_SKIP() << "root may open a tty in exclusive mode; the lock test covers root";
    open();
    const int other = ::open(peer.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_LT(other, 0);
    EXPECT_EQ(errno, EBUSY);
    if (other >= 0) ::close(other);
}

TEST_F(SerialPort, DevicePathForms) {
    // A bare name is looked for under /dev/.
    const std::string path = peer.slavePath();
    ASSERT_EQ(path.rfind("/dev/", 0), 0u);
    EXPECT_TRUE(portOpen(0, path.substr(5), kPortByName));
    portClose();

    EXPECT_FALSE(portOpen(0, "/dev/does-not-exist-vf", kPortByName));
    EXPECT_FALSE(portIsOpen());
    EXPECT_EQ(portLastErrorText(), std::strerror(ENOENT));

    EXPECT_FALSE(portOpen(0, "", kPortByName));
    EXPECT_FALSE(portIsOpen());

    // 99 characters fit the path buffer (and do not exist); 100 do not fit.
    const std::string fits = "/dev/" + std::string(94, 'x');
    EXPECT_FALSE(portOpen(0, fits, kPortByName));
    EXPECT_EQ(portLastErrorText(), std::strerror(ENOENT));
    EXPECT_FALSE(portOpen(0, fits + "x", kPortByName));
    EXPECT_EQ(portLastErrorText(), std::strerror(ENAMETOOLONG));
    // The same limit counts the /dev/ put in front of a bare name.
    EXPECT_FALSE(portOpen(0, std::string(95, 'x'), kPortByName));
    EXPECT_EQ(portLastErrorText(), std::strerror(ENAMETOOLONG));
    EXPECT_FALSE(portOpen(0, std::string(94, 'x'), kPortByName));
    EXPECT_EQ(portLastErrorText(), std::strerror(ENOENT));

    // Selector 0 names /dev/ttyUSB<n>; there is none with this number.
    EXPECT_FALSE(portOpen(32000, "", kPortByNumber));
    EXPECT_FALSE(portIsOpen());
}

TEST_F(SerialPort, UnknownSelectorLeavesPortAsItWas) {
    EXPECT_FALSE(portOpen(0, peer.slavePath(), 2));
    EXPECT_FALSE(portIsOpen());
    open();
    EXPECT_FALSE(portOpen(0, peer.slavePath(), 2));
    EXPECT_TRUE(portIsOpen());
    // Still the same working port.
    peer.run({receiveThen(1, {0x5A})});
    const Bytes ping{0xA5};
    ASSERT_TRUE(portWrite(ping));
    Bytes pong(1);
    EXPECT_TRUE(portRead(pong));
    EXPECT_EQ(pong[0], 0x5A);
    peer.finish();
}

TEST_F(SerialPort, ClosedPortFailsAtOnceWithoutTouchingTheBuffer) {
    Bytes buffer(5, 0xAB);
    const auto start = Clock::now();
    EXPECT_FALSE(portRead(buffer));
    EXPECT_FALSE(portWrite(buffer));
    EXPECT_FALSE(readAck());
    EXPECT_FALSE(readBlockAck());
    EXPECT_LT(msSince(start), kFarBelowReadLimitMs);
    EXPECT_EQ(buffer, Bytes(5, 0xAB));
    portClose();   // closing a closed port is harmless
    EXPECT_FALSE(portIsOpen());
}

// One wait of the full read limit, used for everything that needs one: a short reply is
// a failed read, the bytes that came stay in the buffer and are consumed, and the wait
// costs no processor time.
TEST_F(SerialPort, ShortReplyTimesOutAndIsConsumed) {
    open();
    peer.send({0x02, 0x01, 0x06, 0xF9});   // four bytes of an acknowledgement
    Bytes buffer(5, 0);
    const auto start = Clock::now();
    const double cpuBefore = threadCpuMs();
    EXPECT_FALSE(portRead(buffer));
    const long long elapsed = msSince(start);
    const double cpuUsed = threadCpuMs() - cpuBefore;
    EXPECT_GE(elapsed, kReadTotalTimeoutMs - 10);
    EXPECT_LT(elapsed, kReadTotalTimeoutMs + 1000);
    EXPECT_LT(cpuUsed, 200.0) << "the read must sleep, not spin";
    EXPECT_EQ(hex(buffer), "02 01 06 F9 00");
    EXPECT_EQ(portLastErrorText(), std::strerror(ETIMEDOUT));

    // The four bytes are gone: a whole acknowledgement now reads as one.
    peer.send(Bytes(kAckFrame.begin(), kAckFrame.end()));
    EXPECT_TRUE(readAck());
}

TEST_F(SerialPort, BytesArrivingInPiecesMakeOneRead) {
    open();
    peer.run({answerAfter(20, {0x02, 0x01}),
              answerAfter(50, {0x06}),
              answerAfter(50, {0xF9, 0x03})});
    EXPECT_TRUE(readAck());
    peer.finish();
}

// The line wakes a read only once every byte it waits for is there; each read of another
// size must change that, or a shorter read would wait for bytes that never come.
TEST_F(SerialPort, ReadsOfDifferentSizesOneAfterAnother) {
    open();
    peer.send({0x02, 0x02, 0x06, 0x06, 0xF2, 0x03});
    EXPECT_TRUE(readBlockAck());
    for (std::size_t size : {1u, 5u, 2u, 300u, 6u, 1u}) {
        Bytes sent(size);
        std::iota(sent.begin(), sent.end(), static_cast<std::uint8_t>(size));
        peer.send(sent);
        Bytes buffer(size, 0);
        EXPECT_TRUE(portRead(buffer)) << size << " bytes";
        EXPECT_EQ(buffer, sent) << size << " bytes";
    }

    // A fresh open starts from the line's own settings again.
    portClose();
    open();
    peer.send({0x5A});
    Bytes one(1, 0);
    EXPECT_TRUE(portRead(one));
    EXPECT_EQ(one[0], 0x5A);
}

// The thread that waits on the port has its timers fire on time, whatever slack it had.
TEST(PortTimers, ThreadThatWaitsGetsAFineTimerSlack) {
    constexpr unsigned long kLinuxDefaultSlackNs = 50000;
    long before = 0;
    long waited = 0;
    std::thread([&] {
        prctl(PR_SET_TIMERSLACK, kLinuxDefaultSlackNs, 0, 0, 0);
        before = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
        waitMs(1);
        waited = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    }).join();
    EXPECT_EQ(before, static_cast<long>(kLinuxDefaultSlackNs));
    EXPECT_GT(waited, 0);
    EXPECT_LE(waited, 1000);
}

// A pause asks to be woken early by the thread's usual lateness and waits the rest out
// awake; it must still never end before its time, the first pauses (nothing learned yet)
// and the later ones (woken early) alike.
TEST(PortTimers, PausesNeverEndEarly) {
    constexpr int kPauses = 60;   // well past the few the lateness is learned from
    constexpr int kPauseMs = 2;
    std::vector<double> tooShortBy;
    std::thread([&] {
        for (int i = 0; i < kPauses; ++i) {
            const auto start = Clock::now();
            waitMs(kPauseMs);
            const auto took = Clock::now() - start;
            if (took < std::chrono::milliseconds(kPauseMs)) {
                tooShortBy.push_back(std::chrono::duration<double, std::micro>(std::chrono::milliseconds(kPauseMs) - took).count());
            }
        }
    }).join();
    EXPECT_TRUE(tooShortBy.empty()) << tooShortBy.size() << " pauses ended early, the first by " << tooShortBy.front()
                                    << " us";
}

TEST_F(SerialPort, HangUpDuringReadFailsFast) {
    open();
    // Three bytes come, then the cable is pulled. The hang-up discards what the line held
    // for the reader, so the read only has to fail, and at once.
    peer.run({answerAfter(100, {0x02, 0x02, 0x06}),
              hangUpAfter(100)});
    Bytes buffer(6, 0);
    const auto start = Clock::now();
    EXPECT_FALSE(portRead(buffer));
    EXPECT_LT(msSince(start), kFarBelowReadLimitMs);
    peer.finish(0);

    // Every further read and write on the dead line fails at once as well.
    const auto again = Clock::now();
    EXPECT_FALSE(readAck());
    EXPECT_FALSE(readBlockAck());
    EXPECT_FALSE(portWrite(buffer));
    EXPECT_LT(msSince(again), kFarBelowReadLimitMs);
    EXPECT_FALSE(portLastErrorText().empty());
    portClose();
    EXPECT_FALSE(portIsOpen());
}

TEST_F(SerialPort, Acknowledgements) {
    open();
    peer.send({0x02, 0x01, 0x15, 0xEA, 0x03});   // well formed, but not ACK
    EXPECT_FALSE(readAck());
    peer.send({0x02, 0x01, 0x06, 0xF9, 0x04});   // wrong end byte
    EXPECT_FALSE(readAck());
    peer.send({0x02, 0x01, 0x06, 0xF9, 0x03});
    EXPECT_TRUE(readAck());

    peer.send({0x02, 0x02, 0x06, 0x06, 0x00, 0x00});   // last two bytes not examined
    EXPECT_TRUE(readBlockAck());
    peer.send({0x02, 0x02, 0x06, 0x06, 0xF2, 0x03});
    EXPECT_TRUE(readBlockAck());
    peer.send({0x02, 0x02, 0x06, 0x15, 0xE3, 0x03});
    EXPECT_FALSE(readBlockAck());
    peer.send({0x02, 0x01, 0x06, 0x06, 0xF2, 0x03});
    EXPECT_FALSE(readBlockAck());
}

// The check tells a unit that says a block differs from one that said nothing usable: only
// a whole, well-formed block reply is a refusal.
TEST_F(SerialPort, BlockAnswers) {
    open();
    peer.send({0x02, 0x02, 0x06, 0x06, 0x00, 0x00});
    EXPECT_EQ(readBlockAnswer(), BlockAnswer::Acknowledged);
    peer.send({0x02, 0x02, 0x06, 0x15, 0xE3, 0x03});
    EXPECT_EQ(readBlockAnswer(), BlockAnswer::Refused);
    peer.send({0x02, 0x02, 0x15, 0x15, 0xD4, 0x03});
    EXPECT_EQ(readBlockAnswer(), BlockAnswer::Refused);
    peer.send({0x02, 0x02, 0x06, 0x15, 0xE4, 0x03});   // checksum off
    EXPECT_EQ(readBlockAnswer(), BlockAnswer::NoAnswer);
    peer.send({0x02, 0x02, 0x06, 0x15, 0xE3, 0x17});   // end byte not 03
    EXPECT_EQ(readBlockAnswer(), BlockAnswer::NoAnswer);
    peer.send({0x02, 0x01, 0x15, 0xEA, 0x03, 0x00});   // a one-byte reply
    EXPECT_EQ(readBlockAnswer(), BlockAnswer::NoAnswer);
    peer.send({0x02, 0x02, 0x06, 0x15, 0xE3});         // one byte short: the read times out
    EXPECT_EQ(readBlockAnswer(), BlockAnswer::NoAnswer);
}

}  // namespace
