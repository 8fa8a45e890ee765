// SPDX-License-Identifier: MIT
// The link's operations through a whole identification, write pass and verify pass against
// the simulated flash unit on a pseudo-terminal; afterwards the unit's memory must equal
// the firmware image byte for byte and the unit must have seen no protocol violation.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <ostream>
#include <thread>

#include "files/firmware_image.h"
#include "link/commands.h"
#include "link/frames.h"
#include "link/serial.h"
#include "sim/simulated_unit.h"

namespace {

constexpr int kFinalAckAttempts = 5;

struct Device {
    std::uint32_t endAddress;
    bool oldFirmware;   // memory not blank: the update must erase it
};

void PrintTo(const Device& device, std::ostream* os) {
    *os << "end address " << std::hex << device.endAddress << (device.oldFirmware ? ", old firmware" : ", blank");
}

class SimulatedExchange : public ::testing::TestWithParam<Device> {};

// Fills the image with a pattern that differs from block to block and from the unit's
// "older firmware".
void fillImage() {
    for (std::size_t i = 0; i < firmwareImage.size(); ++i) {
        firmwareImage[i] = static_cast<std::uint8_t>((i * 31) ^ (i >> 8) ^ 0x5A);
    }
}

// What the identification does, step by step, with the link's operations.
void identify() {
    ASSERT_TRUE(cmdConnect());
    ASSERT_TRUE(cmdSetSpeed());
    std::array<std::uint8_t, 1> stray{};
    portRead(stray);   // one byte whatever it is
    portSetSpeed(kFastBaud);
    waitMs(kSpeedSwitchSettleMs);
    ASSERT_TRUE(cmdSetSpeed());
    ASSERT_TRUE(readAck());

    beginIdentification();
    ReplyFrame reply;
    ASSERT_TRUE(cmdReadInfo());
    ASSERT_TRUE(readReplyFrame(reply));
    applyInfoReply(reply);
    ASSERT_TRUE(cmdReadExtra());
    ASSERT_TRUE(readReplyFrame(reply));
    applyExtraReply(reply);
}

TEST_P(SimulatedExchange, IdentifyProgramAndVerify) {
    const Device device = GetParam();
    int master = -1;
    int slave = -1;
    char slavePath[128] = {};
    ASSERT_EQ(openpty(&master, &slave, slavePath, nullptr, nullptr), 0);

    SimOptions options;
    options.endAddress = device.endAddress;
    options.oldFirmware = device.oldFirmware;
    SimulatedUnit unit(options);
    std::atomic<bool> stop{false};
    std::thread server([&] { unit.serve(master, slavePath, stop); });

    resetProtocolState();
    fillImage();
    ASSERT_TRUE(portOpen(0, slavePath, kPortByName));
    ::close(slave);   // the port holds the line from here on

    identify();
    const int blockCount = protocolState.blockCount;
    EXPECT_EQ(blockCount, static_cast<int>((device.endAddress + 1) >> 8));

    EXPECT_TRUE(cmdBlankCheck() || cmdBlankCheckOrErase());
    EXPECT_TRUE(cmdProgramMode());

    std::uint16_t checkValue = 0;
    for (int block = 0; block < blockCount; ++block) {
        for (std::size_t i = 0; i < kBlockSizeBytes; ++i) {
            checkValue = static_cast<std::uint16_t>(checkValue - (0xFF00 | firmwareImage[block * kBlockSizeBytes + i]));
        }
        ASSERT_TRUE(sendDataBlock(block)) << "write pass, block " << block;
    }
    bool checked = false;
    for (int attempt = 0; attempt < kFinalAckAttempts && !checked; ++attempt) checked = readAck();
    EXPECT_TRUE(checked);

    std::uint16_t deviceChecksum = 0;
    EXPECT_TRUE(cmdReadChecksum(deviceChecksum));
    EXPECT_EQ(deviceChecksum, checkValue);

    EXPECT_TRUE(cmdVerify());
    for (int block = 0; block < blockCount; ++block) {
        ASSERT_TRUE(sendDataBlock(block)) << "verify pass, block " << block;
    }
    portClose();

    stop = true;
    server.join();
    ::close(master);
    resetProtocolState();

    EXPECT_TRUE(unit.violations().empty()) << unit.violations().front();
    EXPECT_EQ(unit.completedUpdates(), 1);
    const auto& memory = unit.memory();
    ASSERT_EQ(memory.size(), static_cast<std::size_t>(device.endAddress) + 1);
    std::size_t firstDifference = memory.size();
    for (std::size_t i = 0; i < memory.size(); ++i) {
        if (memory[i] != firmwareImage[i]) {
            firstDifference = i;
            break;
        }
    }
    EXPECT_EQ(firstDifference, memory.size()) << "unit memory differs from the image";
}

INSTANTIATE_TEST_SUITE_P(Devices, SimulatedExchange,
                         ::testing::Values(Device{0x01FFFF, true}, Device{0x003FFF, false}),
                         [](const auto& info) { return info.param.oldFirmware ? "FullRangeOldFirmware" : "SmallBlankDevice"; });

}  // namespace
