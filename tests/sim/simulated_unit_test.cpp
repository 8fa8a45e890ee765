// SPDX-License-Identifier: MIT
// Tests of the simulated flash unit, driven by a scripted host over a real pty: a correct
// update, the flash behaviour of its memory, the faults, and the violations it must catch.
#include "sim/simulated_unit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kReadLimitMs = 700;   // short enough for a test, long enough for a loaded machine

std::uint8_t checksum(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to) {
    unsigned sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += bytes[i];
    return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

std::vector<std::uint8_t> commandFrame(std::uint8_t code, std::vector<std::uint8_t> payload = {}) {
    std::vector<std::uint8_t> frame = {0x01, static_cast<std::uint8_t>(payload.size() + 1), code};
    frame.reserve(payload.size() + 5);
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(checksum(frame, 1, frame.size()));
    frame.push_back(0x03);
    return frame;
}

std::vector<std::uint8_t> rangeFrame(std::uint8_t code, std::uint32_t end) {
    return commandFrame(code, {0, 0, 0, static_cast<std::uint8_t>(end >> 16), static_cast<std::uint8_t>(end >> 8),
                               static_cast<std::uint8_t>(end)});
}

std::vector<std::uint8_t> blockFrame(const std::vector<std::uint8_t>& image, int block, bool last) {
    std::vector<std::uint8_t> frame = {0x02, 0x00};
    frame.reserve(260);
    frame.insert(frame.end(), image.begin() + block * 256, image.begin() + block * 256 + 256);
    frame.push_back(checksum(frame, 1, frame.size()));
    frame.push_back(last ? 0x03 : 0x17);
    return frame;
}

const std::vector<std::uint8_t> kAck = {0x02, 0x01, 0x06, 0xF9, 0x03};
const std::vector<std::uint8_t> kBlockAck = {0x02, 0x02, 0x06, 0x06, 0xF2, 0x03};
const std::vector<std::uint8_t> kBlockNak = {0x02, 0x02, 0x06, 0x15, 0xE3, 0x03};
const std::vector<std::uint8_t> kNotBlank = {0x02, 0x01, 0x1B, 0xE4, 0x03};
constexpr std::uint8_t CONNECT = 0x00, SET_SPEED = 0x90, READ_INFO = 0xC0, READ_EXTRA = 0xC5, BLANK = 0x32,
                       ERASE = 0x20, PROGRAM = 0x40, CHECKSUM = 0xB0, VERIFY = 0x13;

// The unit on the master side of a pty, served in a thread for the life of the fixture.
class SimulatedUnitTest : public ::testing::Test {
protected:
    void start(SimOptions options) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        slavePath_ = ptsname(master_);
        unit_ = std::make_unique<SimulatedUnit>(options);
        server_ = std::thread([this] { unit_->serve(master_, slavePath_, stop_); });
    }

    void TearDown() override {
        closeHost();
        stop_ = true;
        if (server_.joinable()) server_.join();
        if (master_ >= 0) close(master_);
    }

    // Opens the line like the host: raw 8N1 at 9600, no flow control.
    void openHost() {
        closeHost();
        host_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(host_, 0);
        termios settings{};
        ASSERT_EQ(tcgetattr(host_, &settings), 0);
        cfmakeraw(&settings);
        settings.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB);
        settings.c_cflag |= CLOCAL | CREAD;
        cfsetspeed(&settings, B9600);
        ASSERT_EQ(tcsetattr(host_, TCSANOW, &settings), 0);
    }

    void closeHost() {
        if (host_ >= 0) close(host_);
        host_ = -1;
    }

    void setSpeed(speed_t speed) {
        termios settings{};
        tcgetattr(host_, &settings);
        cfsetspeed(&settings, speed);
        tcsetattr(host_, TCSANOW, &settings);
    }

    void send(const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(write(host_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Reads exactly count bytes, or what came within the read limit.
    std::vector<std::uint8_t> read(std::size_t count, int limitMs = kReadLimitMs) {
        std::vector<std::uint8_t> bytes;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (bytes.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            pollfd in{host_, POLLIN, 0};
            if (poll(&in, 1, static_cast<int>(left)) <= 0) break;
            std::uint8_t buffer[512];
            const ssize_t got = ::read(host_, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (got <= 0) break;
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
        return bytes;
    }

    // Identification as a correct host does it; returns the information reply's data bytes.
    std::vector<std::uint8_t> identify() {
        openHost();
        send({0x00});
        send({0x00});
        send(commandFrame(CONNECT));
        EXPECT_EQ(read(5), kAck);
        send(commandFrame(SET_SPEED, {0x02, 0x00, 0x00, 0x05}));
        EXPECT_EQ(read(1).size(), 1u);
        setSpeed(B115200);
        send(commandFrame(SET_SPEED, {0x02, 0x00, 0x00, 0x05}));
        EXPECT_EQ(read(5), kAck);
        send(commandFrame(READ_INFO));
        EXPECT_EQ(read(5), kAck);
        std::vector<std::uint8_t> head = read(2);
        if (head.size() != 2) return {};
        std::vector<std::uint8_t> rest = read(head[1] + 2u);
        send(commandFrame(READ_EXTRA));
        EXPECT_EQ(read(5), kAck);
        std::vector<std::uint8_t> extraHead = read(2);
        if (extraHead.size() == 2) read(extraHead[1] + 2u);
        rest.resize(head[1]);
        return rest;
    }

    // Blank check, erase when needed, write pass, device check, checksum, verify pass.
    // Returns false at the first answer a correct host would stop at.
    bool update(const std::vector<std::uint8_t>& image, std::uint32_t end) {
        const int blocks = static_cast<int>((end + 1) >> 8);
        send(rangeFrame(BLANK, end));
        if (read(5) != kAck) {
            send(rangeFrame(BLANK, end));
            if (read(5) != kAck) {
                send(rangeFrame(ERASE, end));
                if (read(5) != kAck) return false;
            }
        }
        send(rangeFrame(PROGRAM, end));
        if (read(5) != kAck) return false;
        unsigned sum = 0;
        for (int b = 0; b < blocks; ++b) {
            for (int i = 0; i < 256; ++i) sum += image[b * 256 + i];
            send(blockFrame(image, b, b == blocks - 1));
            if (read(6) != kBlockAck) return false;
        }
        if (read(5) != kAck) return false;
        send(rangeFrame(CHECKSUM, end));
        if (read(5) != kAck) return false;
        const std::vector<std::uint8_t> value = read(6);
        const std::uint16_t expected = static_cast<std::uint16_t>(0x10000 - (sum & 0xFFFF));
        if (value.size() != 6 || value[2] != (expected >> 8) || value[3] != (expected & 0xFF)) return false;
        send(rangeFrame(VERIFY, end));
        if (read(5) != kAck) return false;
        for (int b = 0; b < blocks; ++b) {
            send(blockFrame(image, b, b == blocks - 1));
            if (read(6) != kBlockAck) return false;
        }
        return true;
    }

    // A check as the host does it after the identification: the checksum, and when it equals
    // the image's the verify pass. Returns the block the unit refused, -1 when it acknowledged
    // every one, -2 when the checksum differed, -3 when an answer was missing.
    int check(const std::vector<std::uint8_t>& image, std::uint32_t end) {
        const int blocks = static_cast<int>((end + 1) >> 8);
        unsigned sum = 0;
        for (int i = 0; i < blocks * 256; ++i) sum += image[static_cast<std::size_t>(i)];
        const std::uint16_t expected = static_cast<std::uint16_t>(0x10000 - (sum & 0xFFFF));
        send(rangeFrame(CHECKSUM, end));
        if (read(5) != kAck) return -3;
        const std::vector<std::uint8_t> value = read(6);
        if (value.size() != 6) return -3;
        if (value[2] != (expected >> 8) || value[3] != (expected & 0xFF)) return -2;
        send(rangeFrame(VERIFY, end));
        if (read(5) != kAck) return -3;
        for (int b = 0; b < blocks; ++b) {
            send(blockFrame(image, b, b == blocks - 1));
            const std::vector<std::uint8_t> answer = read(6);
            if (answer == kBlockNak) return b;
            if (answer != kBlockAck) return -3;
        }
        return -1;
    }

    // Lets the unit take the last frames before the test looks at what it saw.
    void settle() {
        closeHost();
        stop_ = true;
        if (server_.joinable()) server_.join();
    }

    bool sawViolation(const std::string& part) const {
        for (const std::string& text : unit_->violations()) {
            if (text.find(part) != std::string::npos) return true;
        }
        return false;
    }

    static std::vector<std::uint8_t> firmware(std::size_t size) {
        std::vector<std::uint8_t> image(size, 0xFF);
        for (std::size_t i = 0; i < size / 2; ++i) image[i] = static_cast<std::uint8_t>((i * 31 + 7) ^ (i >> 8));
        return image;
    }

    int master_ = -1;
    int host_ = -1;
    std::string slavePath_;
    std::atomic<bool> stop_{false};
    std::unique_ptr<SimulatedUnit> unit_;
    std::thread server_;
};

constexpr std::uint32_t kSmallEnd = 0x0FFF;   // 16 blocks keep the tests short

SimOptions smallUnit() {
    SimOptions options;
    options.endAddress = kSmallEnd;
    return options;
}

TEST_F(SimulatedUnitTest, CorrectUpdateWritesMemoryAndCountsAsCompleted) {
    SimOptions options = smallUnit();
    options.deviceName = "VF TEST";
    start(options);
    const std::vector<std::uint8_t> info = identify();
    ASSERT_EQ(info.size(), 9u + 7u);
    // End address 0FFF in 7-bit groups, least significant first, then the name.
    EXPECT_EQ(info[4], 0x7F);
    EXPECT_EQ(info[5], 0x1F);
    EXPECT_EQ(info[6], 0x00);
    EXPECT_EQ(std::string(info.begin() + 7, info.begin() + 14), "VF TEST");

    const auto image = firmware(kSmallEnd + 1);
    EXPECT_TRUE(update(image, kSmallEnd));
    settle();
    EXPECT_EQ(unit_->memory(), image);
    EXPECT_EQ(unit_->completedUpdates(), 1);
    EXPECT_TRUE(unit_->violations().empty()) << unit_->violations().front();
}

TEST_F(SimulatedUnitTest, OldFirmwareIsErasedAndMemoryPersistsAcrossConnections) {
    SimOptions options = smallUnit();
    options.oldFirmware = true;
    start(options);
    identify();
    send(rangeFrame(BLANK, kSmallEnd));
    EXPECT_EQ(read(5), kNotBlank);
    closeHost();   // the host gives up; the memory must still hold the old firmware

    identify();
    const auto image = firmware(kSmallEnd + 1);
    EXPECT_TRUE(update(image, kSmallEnd));
    identify();
    EXPECT_TRUE(update(image, kSmallEnd));   // not blank any more: erased again, then written
    settle();
    EXPECT_EQ(unit_->memory(), image);
    EXPECT_EQ(unit_->completedUpdates(), 2);
    EXPECT_TRUE(unit_->violations().empty()) << unit_->violations().front();
}

TEST_F(SimulatedUnitTest, WritingOverUnerasedMemoryCorruptsItAndWithholdsTheFinalAck) {
    start(smallUnit());
    const auto image = firmware(kSmallEnd + 1);
    identify();
    ASSERT_TRUE(update(image, kSmallEnd));
    // A second write pass without erasing: flash can only clear bits.
    identify();
    send(rangeFrame(PROGRAM, kSmallEnd));
    ASSERT_EQ(read(5), kAck);
    std::vector<std::uint8_t> other(image.size());
    for (std::size_t i = 0; i < other.size(); ++i) other[i] = static_cast<std::uint8_t>(~image[i] | 0x80);
    for (int b = 0; b < 16; ++b) {
        send(blockFrame(other, b, b == 15));
        ASSERT_EQ(read(6), kBlockAck);
    }
    EXPECT_TRUE(read(5, 300).empty());   // no acknowledgement of the device's own check
    settle();
    for (std::size_t i = 0; i < image.size(); ++i) ASSERT_EQ(unit_->memory()[i], image[i] & other[i]) << i;
    EXPECT_TRUE(sawViolation("CMD_PROGRAM_MODE before the memory was found blank"));
    EXPECT_EQ(unit_->completedUpdates(), 1);
}

TEST_F(SimulatedUnitTest, RecordsFramingAndOrderViolations) {
    start(smallUnit());
    openHost();
    send({0x00, 0x00});
    std::vector<std::uint8_t> badConnect = commandFrame(CONNECT);
    badConnect[3] ^= 0x01;
    send(badConnect);
    EXPECT_NE(read(5), kAck);
    EXPECT_TRUE(sawViolation("wrong checksum"));

    identify();
    send(rangeFrame(BLANK, 0x01FFFF));   // not the range the unit reported
    EXPECT_NE(read(5), kAck);
    EXPECT_TRUE(sawViolation("expected 00 00 00 00 0F FF"));

    send(rangeFrame(BLANK, kSmallEnd));
    ASSERT_EQ(read(5), kAck);
    send(rangeFrame(PROGRAM, kSmallEnd));
    ASSERT_EQ(read(5), kAck);
    const auto image = firmware(kSmallEnd + 1);
    send(blockFrame(image, 0, false));
    ASSERT_EQ(read(6), kBlockAck);
    send(blockFrame(image, 1, true));   // a middle block marked as the last one
    EXPECT_EQ(read(6), (std::vector<std::uint8_t>{0x02, 0x02, 0x06, 0x15, 0xE3, 0x03}));
    settle();
    EXPECT_TRUE(sawViolation("write block 1 ends in 03, expected 17"));
}

TEST_F(SimulatedUnitTest, RecordsASpeedCommandNotSentAt115200) {
    start(smallUnit());
    openHost();
    send({0x00});
    send({0x00});
    send(commandFrame(CONNECT));
    ASSERT_EQ(read(5), kAck);
    send(commandFrame(SET_SPEED, {0x02, 0x00, 0x00, 0x05}));
    ASSERT_EQ(read(1).size(), 1u);
    // The host forgets to switch its line to 115200.
    send(commandFrame(SET_SPEED, {0x02, 0x00, 0x00, 0x05}));
    read(5);
    settle();
    EXPECT_TRUE(sawViolation("CMD_SET_SPEED sent with the line at 9600 baud, expected 115200"));
}

TEST_F(SimulatedUnitTest, RecordsLineSettingsThatAreNotRaw8N1) {
    start(smallUnit());
    openHost();
    termios settings{};
    tcgetattr(host_, &settings);
    // A pty keeps 8 data bits and no parity whatever is asked; two stop bits and XON/XOFF stay.
    settings.c_cflag |= CSTOPB;
    settings.c_iflag |= IXON;
    settings.c_lflag |= ECHO;
    tcsetattr(host_, TCSANOW, &settings);
    send({0x00});
    send({0x00});
    send(commandFrame(CONNECT));
    read(5);
    settle();
    EXPECT_TRUE(sawViolation("not set to 8 data bits"));
    EXPECT_TRUE(sawViolation("XON/XOFF"));
    EXPECT_TRUE(sawViolation("line not raw"));
}

TEST_F(SimulatedUnitTest, RecordsAConnectWithDtrOnOnlyWhenTheTransportShowsTheLines) {
    start(smallUnit());
    identify();   // a pty shows no modem lines: nothing to hold against the host
    EXPECT_TRUE(unit_->violations().empty());
    unit_->noteModemLines(false, true);
    identify();
    EXPECT_TRUE(unit_->violations().empty());
    unit_->noteModemLines(true, true);
    identify();
    settle();
    EXPECT_TRUE(sawViolation("DTR on"));
}

TEST_F(SimulatedUnitTest, RefusedWriteBlockHitsOnlyTheFirstUpdate) {
    SimOptions options = smallUnit();
    options.faults.refuseWriteBlock = 3;
    start(options);
    const auto image = firmware(kSmallEnd + 1);
    identify();
    EXPECT_FALSE(update(image, kSmallEnd));
    identify();
    EXPECT_TRUE(update(image, kSmallEnd));
    settle();
    EXPECT_EQ(unit_->completedUpdates(), 1);
    EXPECT_EQ(unit_->memory(), image);
    EXPECT_TRUE(unit_->violations().empty()) << unit_->violations().front();
}

TEST_F(SimulatedUnitTest, HangUpEndsServingAfterTheNamedBlock) {
    SimOptions options = smallUnit();
    options.faults.hangUpAfterBlock = 2;
    start(options);
    identify();
    send(rangeFrame(BLANK, kSmallEnd));
    ASSERT_EQ(read(5), kAck);
    send(rangeFrame(PROGRAM, kSmallEnd));
    ASSERT_EQ(read(5), kAck);
    const auto image = firmware(kSmallEnd + 1);
    for (int b = 0; b < 3; ++b) {
        send(blockFrame(image, b, false));
        ASSERT_EQ(read(6), kBlockAck);
    }
    server_.join();   // serve returns by itself
    EXPECT_TRUE(unit_->hungUp());
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 3 * 256, unit_->memory().begin()));
}

TEST_F(SimulatedUnitTest, InformationFaultsShapeTheReply) {
    SimOptions options = smallUnit();
    options.faults.bigRange = true;
    options.faults.longInfoReply = true;
    start(options);
    const std::vector<std::uint8_t> first = identify();
    ASSERT_EQ(first.size(), 120u);
    // 03FFFF in 7-bit groups.
    EXPECT_EQ(first[4], 0x7F);
    EXPECT_EQ(first[5], 0x7F);
    EXPECT_EQ(first[6], 0x0F);
    const std::vector<std::uint8_t> second = identify();   // long reply once only; big range stays
    EXPECT_LT(second.size(), 99u);
    ASSERT_GE(second.size(), 7u);
    EXPECT_EQ(second[6], 0x0F);
    settle();
    EXPECT_EQ(unit_->memory().size(), 0x40000u);
}

TEST_F(SimulatedUnitTest, ChecksumAndFinalAckFaults) {
    SimOptions options = smallUnit();
    options.faults.noFinalAck = true;
    options.faults.wrongChecksum = true;
    start(options);
    const auto image = firmware(kSmallEnd + 1);
    identify();
    EXPECT_FALSE(update(image, kSmallEnd));   // no acknowledgement after the write pass
    identify();
    EXPECT_FALSE(update(image, kSmallEnd));   // checksum off by one
    identify();
    EXPECT_TRUE(update(image, kSmallEnd));
    settle();
    EXPECT_EQ(unit_->completedUpdates(), 1);
}

// The unit's record, read back once serving has ended: one line per event.
std::vector<std::string> recordLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string freshRecordPath(const char* name) {
    const auto path = std::filesystem::temp_directory_path() /
                      (std::string("vf-sim-test-") + std::to_string(getpid()) + "-" + name);
    std::filesystem::remove(path);
    return path.string();
}

// A check session: the checksum over the memory and a verify pass compared with it, outside
// an update. It counts as a check, not an update, and changes nothing.
TEST_F(SimulatedUnitTest, CheckSessionComparesWithTheMemoryAndChangesNothing) {
    start(smallUnit());
    const auto image = firmware(kSmallEnd + 1);
    identify();
    ASSERT_TRUE(update(image, kSmallEnd));
    identify();
    EXPECT_EQ(check(image, kSmallEnd), -1);
    // One byte changed in block 5 and one in block 9, the sum as it was: the checksum cannot
    // tell, the verify pass stops at block 5.
    std::vector<std::uint8_t> colliding = image;
    colliding[5 * 256 + 17] = static_cast<std::uint8_t>(colliding[5 * 256 + 17] + 1);
    colliding[9 * 256 + 3] = static_cast<std::uint8_t>(colliding[9 * 256 + 3] - 1);
    identify();
    EXPECT_EQ(check(colliding, kSmallEnd), 5);
    identify();
    std::vector<std::uint8_t> other = image;
    other[100] ^= 0x01;
    EXPECT_EQ(check(other, kSmallEnd), -2);
    settle();
    EXPECT_EQ(unit_->memory(), image);
    EXPECT_EQ(unit_->completedUpdates(), 1);
    EXPECT_EQ(unit_->completedChecks(), 1);
    EXPECT_TRUE(unit_->violations().empty()) << unit_->violations().front();
    int sessions = 0;
    for (const SimEvent& event : unit_->events()) sessions += event.text.rfind("check session", 0) == 0 ? 1 : 0;
    EXPECT_EQ(sessions, 3);
}

// Once a connection has asked for the checksum outside an update, the memory must stay as
// it is: an erase, program mode or a write block is a violation (and is still carried out,
// as a real unit would). A checksum asked for after an erase is no check.
TEST_F(SimulatedUnitTest, EraseProgramModeAndWriteBlocksInACheckSessionAreViolations) {
    SimOptions options = smallUnit();
    options.oldFirmware = true;
    start(options);
    const auto image = firmware(kSmallEnd + 1);
    identify();
    // The older firmware and this image happen to share their 16-bit sum: the checksum
    // cannot tell them apart, the first block can.
    EXPECT_EQ(check(image, kSmallEnd), 0);
    send(rangeFrame(BLANK, kSmallEnd));
    EXPECT_EQ(read(5), kNotBlank);
    send(rangeFrame(BLANK, kSmallEnd));
    EXPECT_EQ(read(5), kNotBlank);
    send(rangeFrame(ERASE, kSmallEnd));
    EXPECT_EQ(read(5), kAck);
    send(rangeFrame(PROGRAM, kSmallEnd));
    EXPECT_EQ(read(5), kAck);
    send(blockFrame(image, 0, false));
    EXPECT_EQ(read(6), kBlockAck);
    EXPECT_TRUE(sawViolation("CMD_ERASE in a check session"));
    EXPECT_TRUE(sawViolation("CMD_PROGRAM_MODE in a check session"));
    EXPECT_TRUE(sawViolation("write block in a check session"));

    identify();
    send(rangeFrame(BLANK, kSmallEnd));
    read(5);
    send(rangeFrame(BLANK, kSmallEnd));
    read(5);
    send(rangeFrame(ERASE, kSmallEnd));
    EXPECT_EQ(read(5), kAck);
    EXPECT_EQ(check(image, kSmallEnd), -2);
    settle();
    EXPECT_TRUE(sawViolation("CMD_READ_CHECKSUM before a complete write pass"));
    EXPECT_EQ(unit_->completedChecks(), 0);
}

// The block faults strike in a check's verify pass when nothing was written before: the
// mute unit answers nothing more, not even a new connection; the pulled cable ends serving.
class CheckFaultTest : public SimulatedUnitTest {
protected:
    // A small unit holding image from the start.
    SimOptions holdingImage() {
        image_ = firmware(kSmallEnd + 1);
        memoryFile_ = freshRecordPath("memory.bin");
        std::ofstream out(memoryFile_, std::ios::binary);
        out.write(reinterpret_cast<const char*>(image_.data()), static_cast<std::streamsize>(image_.size()));
        SimOptions options = smallUnit();
        options.memoryInFile = memoryFile_;
        return options;
    }
    void TearDown() override {
        SimulatedUnitTest::TearDown();
        if (!memoryFile_.empty()) std::filesystem::remove(memoryFile_);
    }

    std::vector<std::uint8_t> image_;
    std::string memoryFile_;
};

TEST_F(CheckFaultTest, MuteAfterABlockOfTheCheck) {
    SimOptions options = holdingImage();
    options.faults.muteAfterBlock = 2;
    start(options);
    identify();
    EXPECT_EQ(check(image_, kSmallEnd), -3);
    openHost();
    send({0x00});
    send({0x00});
    send(commandFrame(CONNECT));
    EXPECT_TRUE(read(5, 300).empty());
    settle();
    EXPECT_EQ(unit_->memory(), image_);
    EXPECT_EQ(unit_->completedChecks(), 0);
    EXPECT_TRUE(unit_->violations().empty()) << unit_->violations().front();
}

TEST_F(CheckFaultTest, HangUpAfterABlockOfTheCheck) {
    SimOptions options = holdingImage();
    options.faults.hangUpAfterBlock = 2;
    start(options);
    identify();
    EXPECT_EQ(check(image_, kSmallEnd), -3);
    server_.join();   // serve returns by itself
    EXPECT_TRUE(unit_->hungUp());
    EXPECT_EQ(unit_->memory(), image_);
}

// A paced unit ends its record with its own lateness against its pacing, in the words the
// update benchmarks read; the five identification frames are all counted.
TEST_F(SimulatedUnitTest, PacedUnitRecordsItsOwnLateness) {
    SimOptions options = smallUnit();
    options.pace = true;
    options.recordFile = freshRecordPath("paced.txt");
    start(options);
    ASSERT_EQ(identify().size(), 9u + options.deviceName.size());
    settle();
    const std::vector<std::string> lines = recordLines(*options.recordFile);
    std::filesystem::remove(*options.recordFile);
    ASSERT_FALSE(lines.empty());
    int frames = 0;
    double lateMs = -1, frameEndsMs = -1, longestMs = -1;
    ASSERT_EQ(std::sscanf(lines.back().c_str(),
                          "pacing: %d frames, unit late by %lf ms in all (last reply bytes after their wire time); "
                          "frames taken up %lf ms late in all, at most %lf ms",
                          &frames, &lateMs, &frameEndsMs, &longestMs),
              4)
        << lines.back();
    EXPECT_EQ(frames, 5);
    EXPECT_GE(lateMs, 0.0);
    EXPECT_GE(frameEndsMs, 0.0);
    EXPECT_LE(longestMs, frameEndsMs + 0.001);
    EXPECT_TRUE(unit_->violations().empty()) << unit_->violations().front();
}

// The timing file the benchmarks pair with the host's own times: one line per frame, and a
// paced unit's reply never due, nor handed over, before the frame and the reply itself could
// have crossed the line (a unit that answered early would flatter every host figure).
TEST_F(SimulatedUnitTest, PacedUnitTimesEveryFrameAndNeverAnswersEarly) {
    SimOptions options = smallUnit();
    options.pace = true;
    options.timingFile = freshRecordPath("timing.txt");
    start(options);
    identify();
    settle();
    const std::vector<std::string> lines = recordLines(*options.timingFile);
    std::filesystem::remove(*options.timingFile);
    ASSERT_EQ(lines.size(), 5u);   // connect, two speed commands, information, extra information
    for (std::size_t i = 0; i < lines.size(); ++i) {
        long long bytes = 0, start = 0, taken = 0, replyBytes = 0, replyStart = 0, replyLast = 0;
        ASSERT_EQ(std::sscanf(lines[i].c_str(), "frame %lld %lld %lld %lld %lld %lld", &bytes, &start, &taken,
                              &replyBytes, &replyStart, &replyLast),
                  6)
            << lines[i];
        // Every speed the line has here is at most 115200 baud, so its wire time is a lower bound.
        const auto wire = [](long long count) {
            return static_cast<long long>(std::chrono::nanoseconds(simWireTime(static_cast<std::size_t>(count), 115200)).count());
        };
        EXPECT_GE(taken, start + wire(bytes)) << lines[i];
        EXPECT_GE(replyStart, start + wire(bytes)) << lines[i];
        EXPECT_GE(replyLast, replyStart + wire(replyBytes)) << lines[i];
        EXPECT_GT(replyBytes, 0) << lines[i];   // every frame of the identification is answered
    }
    EXPECT_TRUE(unit_->violations().empty()) << unit_->violations().front();
}

// Through the modelled FT232R a correct update still succeeds; every reply reaches the host
// in a USB frame (on a whole millisecond) no earlier than the frame after its last byte had
// crossed the line; the record says what the converter held back, at most one timer run each;
// and the host's low-latency request, once the transport reports it, sets the timer to 1 ms.
TEST_F(SimulatedUnitTest, RepliesThroughTheModelledFt232rComeInUsbFrames) {
    SimOptions options = smallUnit();
    options.pace = true;
    options.ft232r = true;
    options.latencyTimerMs = 8;
    options.recordFile = freshRecordPath("ft232r-record.txt");
    options.timingFile = freshRecordPath("ft232r-timing.txt");
    start(options);
    identify();
    unit_->noteLowLatencyRequest(true);
    const auto image = firmware(kSmallEnd + 1);
    EXPECT_TRUE(update(image, kSmallEnd));
    settle();
    EXPECT_EQ(unit_->memory(), image);
    EXPECT_TRUE(unit_->violations().empty()) << unit_->violations().front();

    const std::vector<std::string> timing = recordLines(*options.timingFile);
    std::filesystem::remove(*options.timingFile);
    const long long msNs = 1000000;
    int replies = 0;
    for (const std::string& line : timing) {
        long long bytes = 0, start = 0, taken = 0, replyBytes = 0, replyStart = 0, replyLast = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "frame %lld %lld %lld %lld %lld %lld", &bytes, &start, &taken, &replyBytes,
                              &replyStart, &replyLast),
                  6)
            << line;
        if (replyBytes == 0) continue;
        ++replies;
        const long long onWire = replyStart + std::chrono::nanoseconds(simWireTime(static_cast<std::size_t>(replyBytes), 115200)).count();
        const long long firstFrame = (onWire + msNs - 1) / msNs * msNs;
        EXPECT_GE(replyLast, firstFrame) << line;
    }
    EXPECT_EQ(replies, 5 + 2 + 16 + 1 + 1 + 16);   // identification, blank check and program mode, blocks,
                                                   // checksum, verify, blocks again

    const std::vector<std::string> record = recordLines(*options.recordFile);
    std::filesystem::remove(*options.recordFile);
    ASSERT_FALSE(record.empty());
    EXPECT_EQ(record.front().find("converter: FT232R model, latency timer 8 ms"), 0u) << record.front();
    EXPECT_NE(std::find(record.begin(), record.end(), "converter latency timer 1 ms (low-latency request set by the host)"),
              record.end());
    int latencyMs = 0, frames = 0, packets = 0;
    double heldMs = 0, longestMs = 0;
    ASSERT_EQ(std::sscanf(record.back().c_str(),
                          "converter: FT232R, latency timer %d ms; %d answered frames, replies held %lf ms in all after "
                          "their last byte had crossed the line, at most %lf ms; %d packets",
                          &latencyMs, &frames, &heldMs, &longestMs, &packets),
              5)
        << record.back();
    EXPECT_EQ(latencyMs, 1);
    EXPECT_EQ(frames, replies);
    EXPECT_GE(packets, frames);
    EXPECT_GT(heldMs, 0.0);
    EXPECT_LE(longestMs, 8.0);   // never more than one run of the longest timer it had
}

TEST_F(SimulatedUnitTest, UnpacedUnitRecordsNoPacing) {
    SimOptions options = smallUnit();
    options.recordFile = freshRecordPath("unpaced.txt");
    start(options);
    identify();
    settle();
    const std::vector<std::string> lines = recordLines(*options.recordFile);
    std::filesystem::remove(*options.recordFile);
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines) EXPECT_NE(line.rfind("pacing:", 0), 0u) << line;
}

// Ten bits a byte, to the nanosecond: a whole second of bytes at 115200 baud is a second,
// not the 0.99 s that whole microseconds per byte would give.
TEST(SimWireTimeTest, TenBitsPerByteToTheNanosecond) {
    using std::chrono::nanoseconds;
    EXPECT_EQ(simWireTime(11520, 115200), std::chrono::seconds(1));
    EXPECT_EQ(simWireTime(960, 9600), std::chrono::seconds(1));
    EXPECT_EQ(simWireTime(260, 115200), nanoseconds(22569444));   // a data block frame
    EXPECT_EQ(simWireTime(1, 9600), nanoseconds(1041667));
    EXPECT_EQ(simWireTime(0, 115200), nanoseconds(0));
    // A longer reply is never due before a shorter one's end.
    for (std::size_t bytes = 1; bytes < 300; ++bytes) {
        EXPECT_LT(simWireTime(bytes - 1, 115200), simWireTime(bytes, 115200)) << bytes;
    }
}

TEST(SimOptionsTest, ParsesFaultsAndRefusesBadValues) {
    std::vector<std::string> words = {"x", "--fault", "refuse-write-block=7", "--end-address", "0x3fff",
                                      "--fault=silent", "--fault", "refuse-verify-block", "--fault", "nonsense",
                                      "--end-address", "200000"};
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    const int argc = static_cast<int>(argv.size());
    SimOptions options;
    std::string error;
    int i = 1;
    ASSERT_TRUE(parseSimOption(argc, argv.data(), i, options, error));
    EXPECT_EQ(options.faults.refuseWriteBlock, 7);
    ++i;
    ASSERT_TRUE(parseSimOption(argc, argv.data(), i, options, error));
    EXPECT_EQ(options.endAddress, 0x3FFFu);
    ++i;
    ASSERT_TRUE(parseSimOption(argc, argv.data(), i, options, error));
    EXPECT_TRUE(options.faults.silent);
    ++i;
    EXPECT_FALSE(parseSimOption(argc, argv.data(), i, options, error));   // block number missing
    i = 8;
    EXPECT_FALSE(parseSimOption(argc, argv.data(), i, options, error));
    EXPECT_NE(error.find("nonsense"), std::string::npos);
    i = 10;
    EXPECT_FALSE(parseSimOption(argc, argv.data(), i, options, error));   // beyond 21 bits

    options = SimOptions{};
    options.endAddress = 0x0FFF;
    options.faults.refuseVerifyBlock = 16;   // the unit has blocks 0..15
    EXPECT_FALSE(checkSimOptions(options, error));
}

}  // namespace
