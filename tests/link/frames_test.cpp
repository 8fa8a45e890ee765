// SPDX-License-Identifier: MIT
// Frame checksum and the exact bytes of every frame the host sends, with the start-up
// address range and with a device reporting end address 00 40 00.
#include <gtest/gtest.h>

#include <numeric>

#include "link/commands.h"
#include "link/frames.h"
#include "pty_peer.h"

namespace {

Bytes toBytes(std::span<const std::uint8_t> s) {
    return Bytes(s.begin(), s.end());
}

TEST(FrameChecksum, KnownValues) {
    EXPECT_EQ(frameChecksum({}), 0x00);
    const Bytes abc{0x61, 0x62, 0x63};
    EXPECT_EQ(frameChecksum(abc), 0xDA);
    const Bytes readInfo{0x01, 0xC0};
    EXPECT_EQ(frameChecksum(readInfo), 0x3F);
    const Bytes ack{0x01, 0x06};
    EXPECT_EQ(frameChecksum(ack), 0xF9);
    const Bytes sumIsZero{0x80, 0x80};
    EXPECT_EQ(frameChecksum(sumIsZero), 0x00);
}

TEST(CommandFrames, FixedCommands) {
    EXPECT_EQ(hex(buildCommandFrame(CMD_CONNECT, {})), "01 01 00 FF 03");
    EXPECT_EQ(hex(buildCommandFrame(CMD_READ_INFO, {})), "01 01 C0 3F 03");
    EXPECT_EQ(hex(buildCommandFrame(CMD_READ_EXTRA, {})), "01 01 C5 3A 03");
    resetProtocolState();
    EXPECT_EQ(hex(buildCommandFrame(CMD_SET_SPEED, protocolState.speedParameter)),
              "01 05 90 02 00 00 05 64 03");
}

TEST(CommandFrames, LengthByteAndChecksumCoverPayload) {
    const Bytes payload{0x10, 0x20, 0x30};
    const Bytes frame = buildCommandFrame(0x55, payload);
    ASSERT_EQ(frame.size(), 8u);
    EXPECT_EQ(frame[1], 4);   // code + 3 payload bytes
    // Length, code, payload and checksum sum to 0 modulo 256.
    EXPECT_EQ(std::accumulate(frame.begin() + 1, frame.end() - 1, 0) % 256, 0);
    EXPECT_EQ(frame.back(), kEtx);

    // The largest payload still fits the length byte; one more byte gives no frame.
    EXPECT_EQ(buildCommandFrame(0x55, Bytes(250, 0xAA)).size(), 255u);
    EXPECT_TRUE(buildCommandFrame(0x55, Bytes(251, 0xAA)).empty());
}

TEST(RangeFrames, StartUpRange) {
    resetProtocolState();
    EXPECT_EQ(hex(toBytes(buildRangeFrame(CMD_BLANK_CHECK))), "01 07 32 00 00 00 01 FF FF C8 03");
    EXPECT_EQ(hex(toBytes(buildRangeFrame(CMD_ERASE))), "01 07 20 00 00 00 01 FF FF DA 03");
    EXPECT_EQ(hex(toBytes(buildRangeFrame(CMD_PROGRAM_MODE))), "01 07 40 00 00 00 01 FF FF BA 03");
    EXPECT_EQ(hex(toBytes(buildRangeFrame(CMD_READ_CHECKSUM))), "01 07 B0 00 00 00 01 FF FF 4A 03");
    EXPECT_EQ(hex(toBytes(buildRangeFrame(CMD_VERIFY))), "01 07 13 00 00 00 01 FF FF E7 03");
}

TEST(RangeFrames, RangeReportedByDevice) {
    resetProtocolState();
    // Information reply with d4 d5 d6 = 00 00 01: end address 00 40 00.
    ReplyFrame info;
    info.length = 12;
    info.bytes[6] = 0x01;
    applyInfoReply(info);
    EXPECT_EQ(hex(toBytes(buildRangeFrame(CMD_BLANK_CHECK))), "01 07 32 00 00 00 00 40 00 87 03");
    EXPECT_EQ(hex(toBytes(buildRangeFrame(CMD_ERASE))), "01 07 20 00 00 00 00 40 00 99 03");
    EXPECT_EQ(hex(toBytes(buildRangeFrame(CMD_PROGRAM_MODE))), "01 07 40 00 00 00 00 40 00 79 03");
    EXPECT_EQ(hex(toBytes(buildRangeFrame(CMD_READ_CHECKSUM))), "01 07 B0 00 00 00 00 40 00 09 03");
    EXPECT_EQ(hex(toBytes(buildRangeFrame(CMD_VERIFY))), "01 07 13 00 00 00 00 40 00 A6 03");
    resetProtocolState();
}

TEST(DataBlockFrames, LayoutChecksumAndEndByte) {
    std::array<std::uint8_t, 256> block{};
    std::iota(block.begin(), block.end(), 0);   // 00 01 .. FF sums to 0x7F80
    const auto middle = buildDataBlockFrame(block, false);
    EXPECT_EQ(middle[0], 0x02);
    EXPECT_EQ(middle[1], 0x00);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), middle.begin() + 2));
    EXPECT_EQ(middle[258], 0x80);
    EXPECT_EQ(middle[259], 0x17);

    const auto last = buildDataBlockFrame(block, true);
    EXPECT_EQ(last[259], 0x03);
    EXPECT_TRUE(std::equal(middle.begin(), middle.begin() + 259, last.begin()));

    block.fill(0xFF);   // 256 x FF sums to 0xFF00
    EXPECT_EQ(buildDataBlockFrame(block, false)[258], 0x00);
    block[7] = 0xFE;
    EXPECT_EQ(buildDataBlockFrame(block, false)[258], 0x01);
}

}  // namespace
