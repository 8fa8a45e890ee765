// SPDX-License-Identifier: MIT
// Every command over a pseudo-terminal against a scripted device: the bytes it sends, and
// how it takes the device's good and bad answers.
#include <gtest/gtest.h>

#include <chrono>

#include "files/firmware_image.h"
#include "link/commands.h"
#include "link/frames.h"
#include "link/serial.h"
#include "pty_peer.h"
#include "update/result_codes.h"
#include "update/shared_state.h"

namespace {

const Bytes kAck{0x02, 0x01, 0x06, 0xF9, 0x03};
const Bytes kNak{0x02, 0x01, 0x15, 0xEA, 0x03};   // a one-byte reply that is not ACK

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes range(std::uint8_t code) {
    const auto frame = buildRangeFrame(code);
    return Bytes(frame.begin(), frame.end());
}

class CommandExchange : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peer.ok());
        resetProtocolState();
        resultCode = 0;
        ASSERT_TRUE(portOpen(0, peer.slavePath(), kPortByName));
    }
    void TearDown() override {
        portClose();
        resetProtocolState();
        resultCode = 0;
    }

    PtyPeer peer;
};

TEST_F(CommandExchange, Connect) {
    peer.run({receiveThen(7, kAck)});
    EXPECT_TRUE(cmdConnect());
    EXPECT_EQ(hex(peer.finish()), "00 00 01 01 00 FF 03");

    peer.run({receiveThen(7, kNak)});
    EXPECT_FALSE(cmdConnect());
    EXPECT_EQ(hex(peer.finish()), "00 00 01 01 00 FF 03");
}

TEST_F(CommandExchange, SetSpeedReadsNoReply) {
    peer.run({receiveThen(9, {0x55})});
    EXPECT_TRUE(cmdSetSpeed());
    EXPECT_EQ(hex(peer.finish()), "01 05 90 02 00 00 05 64 03");
    // The stray byte is left for the caller to read.
    Bytes stray(1);
    EXPECT_TRUE(portRead(stray));
    EXPECT_EQ(stray[0], 0x55);
}

TEST_F(CommandExchange, ReadInfoAndItsReply) {
    // Reply: d0..d3, end address 7F 7F 07, the name "VF 60" with top bits set, two more bytes.
    const Bytes data{0x10, 0x11, 0x12, 0x13, 0x7F, 0x7F, 0x07, 0xD6, 0xC6, 0xA0, 0xB6, 0xB0, 0x00, 0x00};
    Bytes frame{0x02, static_cast<std::uint8_t>(data.size())};
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(frameChecksum(Bytes(frame.begin() + 1, frame.end())));
    frame.push_back(0x03);

    protocolState.endAddress = {0, 0x40, 0};   // replaced by the reply
    peer.run({receiveThen(5, concat({kAck, frame}))});
    beginIdentification();
    ASSERT_TRUE(cmdReadInfo());
    ReplyFrame reply;
    ASSERT_TRUE(readReplyFrame(reply));
    EXPECT_EQ(hex(peer.finish()), "01 01 C0 3F 03");
    EXPECT_EQ(reply.length, data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), reply.bytes.begin()));
    EXPECT_EQ(reply.bytes[data.size()], frame[frame.size() - 2]);   // checksum, then end byte
    EXPECT_EQ(reply.bytes[data.size() + 1], 0x03);

    applyInfoReply(reply);
    EXPECT_EQ((std::array<std::uint8_t, 3>{0x01, 0xFF, 0xFF}), protocolState.endAddress);
    EXPECT_EQ(protocolState.blockCount, 512);
    EXPECT_STREQ(reinterpret_cast<const char*>(protocolState.deviceName.data()), "VF 60");

    peer.run({receiveThen(5, kNak)});
    EXPECT_FALSE(cmdReadInfo());
    peer.finish();
}

TEST_F(CommandExchange, ReadExtraAndItsReply) {
    peer.run({receiveThen(5, concat({kAck, {0x02, 0x03, 0xA1, 0xA2, 0xA3, 0x00, 0x03}}))});
    beginIdentification();
    ASSERT_TRUE(cmdReadExtra());
    ReplyFrame reply;
    ASSERT_TRUE(readReplyFrame(reply));
    EXPECT_EQ(hex(peer.finish()), "01 01 C5 3A 03");
    applyExtraReply(reply);
    EXPECT_EQ(protocolState.extraData[0], 0xA1);
    EXPECT_EQ(protocolState.extraData[2], 0xA3);
    EXPECT_EQ(protocolState.extraData[3], 0xFF);

    peer.run({receiveThen(5, kNak)});
    EXPECT_FALSE(cmdReadExtra());
    peer.finish();
}

TEST_F(CommandExchange, ReplyFrameLengthLimit) {
    // 98 data bytes fill the 100-byte buffer exactly.
    Bytes longest{0x02, 98};
    for (int i = 0; i < 98; ++i) longest.push_back(static_cast<std::uint8_t>(i));
    longest.push_back(0x5C);
    longest.push_back(0x03);
    peer.send(longest);
    ReplyFrame reply;
    ASSERT_TRUE(readReplyFrame(reply));
    EXPECT_EQ(reply.length, 98);
    EXPECT_EQ(reply.bytes[97], 97);
    EXPECT_EQ(reply.bytes[98], 0x5C);
    EXPECT_EQ(reply.bytes[99], 0x03);

    // A head announcing 99 or more is refused and nothing after the head is read.
    for (std::uint8_t announced : {std::uint8_t{99}, std::uint8_t{0xFF}}) {
        peer.send({0x02, announced, 0x42});
        EXPECT_FALSE(readReplyFrame(reply));
        EXPECT_EQ(reply.length, 0);
        Bytes next(1);
        ASSERT_TRUE(portRead(next));
        EXPECT_EQ(next[0], 0x42);
    }

    // The start byte is not examined.
    peer.send({0x7E, 0x01, 0x33, 0x00, 0x00});
    ASSERT_TRUE(readReplyFrame(reply));
    EXPECT_EQ(reply.length, 1);
    EXPECT_EQ(reply.bytes[0], 0x33);
}

TEST_F(CommandExchange, BlankCheckExaminesOnlyTheDataByte) {
    peer.run({receiveThen(11, {0x02, 0x01, 0x06, 0x00, 0x00})});
    EXPECT_TRUE(cmdBlankCheck());
    EXPECT_EQ(hex(peer.finish()), "01 07 32 00 00 00 01 FF FF C8 03");

    peer.run({receiveThen(11, kNak)});
    EXPECT_FALSE(cmdBlankCheck());
    peer.finish();
}

TEST_F(CommandExchange, BlankCheckOrEraseFindsBlankMemory) {
    peer.run({receiveThen(11, kAck)});
    EXPECT_TRUE(cmdBlankCheckOrErase());
    EXPECT_EQ(resultCode.load(), ERROR_ERASE_ALREADY_BLANK);
    // Only the blank check went out: no erase frame.
    EXPECT_EQ(hex(peer.finish(100)), "01 07 32 00 00 00 01 FF FF C8 03");
}

TEST_F(CommandExchange, BlankCheckOrEraseErases) {
    peer.run({receiveThen(11, kNak), receiveThen(11, kAck)});
    EXPECT_TRUE(cmdBlankCheckOrErase());
    EXPECT_EQ(resultCode.load(), 0);
    EXPECT_EQ(hex(peer.finish()), hex(concat({range(CMD_BLANK_CHECK), range(CMD_ERASE)})));

    peer.run({receiveThen(11, kNak), receiveThen(11, kNak)});
    EXPECT_FALSE(cmdBlankCheckOrErase());
    EXPECT_EQ(hex(peer.finish()), "01 07 32 00 00 00 01 FF FF C8 03 01 07 20 00 00 00 01 FF FF DA 03");
}

TEST_F(CommandExchange, ProgramModeAndVerify) {
    peer.run({receiveThen(11, kAck), receiveThen(11, kAck)});
    EXPECT_TRUE(cmdProgramMode());
    EXPECT_TRUE(cmdVerify());
    EXPECT_EQ(hex(peer.finish()), "01 07 40 00 00 00 01 FF FF BA 03 01 07 13 00 00 00 01 FF FF E7 03");

    peer.run({receiveThen(11, kNak), receiveThen(11, kNak)});
    EXPECT_FALSE(cmdProgramMode());
    EXPECT_FALSE(cmdVerify());
    peer.finish();
}

TEST_F(CommandExchange, ReadChecksum) {
    std::uint16_t checksum = 0;
    peer.run({receiveThen(11, concat({kAck, {0x02, 0x02, 0x12, 0x34, 0xB8, 0x03}}))});
    EXPECT_TRUE(cmdReadChecksum(checksum));
    EXPECT_EQ(checksum, 0x1234);
    EXPECT_EQ(hex(peer.finish()), "01 07 B0 00 00 00 01 FF FF 4A 03");

    // Only bytes 2 and 3 count.
    peer.run({receiveThen(11, concat({kAck, {0x02, 0x02, 0xAB, 0xCD, 0x77, 0x77}}))});
    EXPECT_TRUE(cmdReadChecksum(checksum));
    EXPECT_EQ(checksum, 0xABCD);
    peer.finish();

    checksum = 0x5555;
    peer.run({receiveThen(11, concat({kNak, {0x02, 0x02, 0x12, 0x34, 0xB8, 0x03}}))});
    EXPECT_FALSE(cmdReadChecksum(checksum));
    EXPECT_EQ(checksum, 0x5555);
    peer.finish();
}

TEST_F(CommandExchange, DataBlocks) {
    for (std::size_t i = 0; i < firmwareImage.size(); ++i) firmwareImage[i] = static_cast<std::uint8_t>(i / 256 + i);
    const Bytes blockAck{0x02, 0x02, 0x06, 0x06, 0x00, 0x00};
    peer.run({receiveThen(260, blockAck), receiveThen(260, blockAck), receiveThen(260, {0x02, 0x02, 0x06, 0x15, 0xE3, 0x03})});
    EXPECT_TRUE(sendDataBlock(0));
    EXPECT_TRUE(sendDataBlock(511));
    EXPECT_FALSE(sendDataBlock(7));
    const Bytes sent = peer.finish();
    ASSERT_EQ(sent.size(), 3u * 260);
    const auto frameOf = [](int block, bool last) {
        std::span<const std::uint8_t, 256> data(firmwareImage.data() + block * 256, 256);
        const auto f = buildDataBlockFrame(data, last);
        return Bytes(f.begin(), f.end());
    };
    EXPECT_EQ(hex(Bytes(sent.begin(), sent.begin() + 260)), hex(frameOf(0, false)));
    EXPECT_EQ(hex(Bytes(sent.begin() + 260, sent.begin() + 520)), hex(frameOf(511, true)));
    EXPECT_EQ(hex(Bytes(sent.begin() + 520, sent.end())), hex(frameOf(7, false)));
    EXPECT_EQ(sent[259], 0x17);
    EXPECT_EQ(sent[519], 0x03);
    EXPECT_EQ(sent[260 + 2 + 255], static_cast<std::uint8_t>(511 + 511 * 256 + 255));
}

TEST_F(CommandExchange, DataBlockIndexOutsideImageOrRangeSendsNothing) {
    peer.run({});
    EXPECT_FALSE(sendDataBlock(-1));
    EXPECT_FALSE(sendDataBlock(512));
    protocolState.blockCount = 1024;   // a device larger than the image
    EXPECT_FALSE(sendDataBlock(512));
    EXPECT_FALSE(sendDataBlock(1023));
    protocolState.blockCount = 64;
    EXPECT_FALSE(sendDataBlock(64));
    protocolState.blockCount = 0;
    EXPECT_FALSE(sendDataBlock(0));
    EXPECT_TRUE(peer.finish(50).empty());
}

TEST_F(CommandExchange, EveryCommandFailsAtOnceOnAClosedPort) {
    portClose();
    std::uint16_t checksum = 0;
    ReplyFrame reply;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(cmdConnect());
    EXPECT_FALSE(cmdSetSpeed());
    EXPECT_FALSE(cmdReadInfo());
    EXPECT_FALSE(cmdReadExtra());
    EXPECT_FALSE(readReplyFrame(reply));
    EXPECT_FALSE(cmdBlankCheck());
    EXPECT_FALSE(cmdBlankCheckOrErase());
    EXPECT_FALSE(cmdProgramMode());
    EXPECT_FALSE(cmdReadChecksum(checksum));
    EXPECT_FALSE(cmdVerify());
    EXPECT_FALSE(sendDataBlock(0));
    // Only the fixed pauses, no read limit.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(resultCode.load(), 0);
}

// A device that stops answering: the read limit ends each command, once per command, and
// the commands whose write result counts do not wait at all on a hung-up line.
TEST_F(CommandExchange, SilentAndVanishedDevice) {
    peer.run({});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(cmdProgramMode());   // written, then one full read limit
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(kReadTotalTimeoutMs));
    EXPECT_EQ(hex(peer.finish()), "01 07 40 00 00 00 01 FF FF BA 03");

    peer.hangUp();
    std::uint16_t checksum = 0;
    const auto again = std::chrono::steady_clock::now();
    EXPECT_FALSE(cmdConnect());
    EXPECT_FALSE(cmdProgramMode());
    EXPECT_FALSE(cmdVerify());
    EXPECT_FALSE(cmdBlankCheckOrErase());
    EXPECT_FALSE(cmdReadChecksum(checksum));
    EXPECT_FALSE(sendDataBlock(3));
    EXPECT_LT(std::chrono::steady_clock::now() - again, std::chrono::milliseconds(1000));
}

}  // namespace
