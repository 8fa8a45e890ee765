// SPDX-License-Identifier: MIT
// How many system calls a read costs while its reply trickles in: the port is read with
// the linker's --wrap around read(), ppoll() and poll(), so every call the serial layer makes
// on the test's thread is counted. A reply that comes byte by byte at the line's pace must
// not cost a wake-up and a read per byte.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include "link/frames.h"
#include "link/serial.h"
#include "pty_peer.h"

namespace {

// Calls made by the thread that reads them (the scripted peer's thread keeps its own).
thread_local int readCalls = 0;
thread_local int pollCalls = 0;

}  // namespace

extern "C" {
ssize_t __real_read(int fd, void* buffer, size_t count);
int __real_ppoll(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask);
int __real_poll(pollfd* fds, nfds_t count, int timeoutMs);

ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    ++readCalls;
    return __real_read(fd, buffer, count);
}
int __wrap_ppoll(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask) {
    ++pollCalls;
    return __real_ppoll(fds, count, timeout, mask);
}
int __wrap_poll(pollfd* fds, nfds_t count, int timeoutMs) {
    ++pollCalls;
    return __real_poll(fds, count, timeoutMs);
}
}

namespace {

class SerialCalls : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peer.ok());
        ASSERT_TRUE(portOpen(0, peer.slavePath(), kPortByName));
    }
    void TearDown() override { portClose(); }

    void resetCounts() {
        readCalls = 0;
        pollCalls = 0;
    }

    PtyPeer peer;
};

// Six bytes, each a few milliseconds after the one before: far apart enough that a reader
// woken per byte would see them one at a time.
std::vector<Exchange> tricklingBlockAck() {
    std::vector<Exchange> script;
    for (std::uint8_t byte : {0x02, 0x02, 0x06, 0x06, 0xF2, 0x03}) script.push_back(answerAfter(3, {byte}));
    return script;
}

TEST_F(SerialCalls, ReplyArrivingByteByByteIsTakenWithOneWakeUpAndOneRead) {
    // The first read brings the line to the reply's size; the second shows the steady state
    // of a pass, where every reply has the same size.
    for (int round = 0; round < 2; ++round) {
        peer.run(tricklingBlockAck());
        resetCounts();
        EXPECT_TRUE(readBlockAck()) << "round " << round;
        EXPECT_LE(pollCalls, 2) << "round " << round;
        EXPECT_LE(readCalls, 2) << "round " << round;
        peer.finish(0);
    }
}

TEST_F(SerialCalls, ReplyAlreadyThereCostsOneWaitAndOneRead) {
    peer.send({0x02, 0x01, 0x06, 0xF9, 0x03});
    resetCounts();
    EXPECT_TRUE(readAck());
    EXPECT_EQ(pollCalls, 1);
    EXPECT_EQ(readCalls, 1);
}

}  // namespace
