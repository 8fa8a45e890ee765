// SPDX-License-Identifier: MIT
// Decoding of the information and extra replies into the protocol state, without a port.
#include <gtest/gtest.h>

#include <cstring>

#include "link/commands.h"

namespace {

ReplyFrame infoReply(std::uint8_t length, std::uint8_t d4, std::uint8_t d5, std::uint8_t d6) {
    ReplyFrame reply;
    reply.length = length;
    reply.bytes.fill(0xEE);
    reply.bytes[4] = d4;
    reply.bytes[5] = d5;
    reply.bytes[6] = d6;
    return reply;
}

std::string deviceName() {
    const auto& name = protocolState.deviceName;
    const auto* end = static_cast<const std::uint8_t*>(std::memchr(name.data(), 0, name.size()));
    EXPECT_NE(end, nullptr) << "device name is not zero-terminated";
    if (end == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(name.data()), static_cast<std::size_t>(end - name.data()));
}

class ReplyDecoding : public ::testing::Test {
protected:
    void SetUp() override {
        resetProtocolState();
        beginIdentification();
    }
    void TearDown() override { resetProtocolState(); }
};

TEST_F(ReplyDecoding, EndAddressAndBlockCount) {
    applyInfoReply(infoReply(12, 0x7F, 0x7F, 0x07));
    EXPECT_EQ((std::array<std::uint8_t, 3>{0x01, 0xFF, 0xFF}), protocolState.endAddress);
    EXPECT_EQ(protocolState.blockCount, 512);

    applyInfoReply(infoReply(12, 0x00, 0x00, 0x01));
    EXPECT_EQ((std::array<std::uint8_t, 3>{0x00, 0x40, 0x00}), protocolState.endAddress);
    EXPECT_EQ(protocolState.blockCount, 64);

    // The top bit of each group is not part of the address.
    EXPECT_EQ(decodeEndAddress(infoReply(12, 0xFF, 0xFF, 0x87)), 0x01FFFFu);
    // Groups are least significant first.
    EXPECT_EQ(decodeEndAddress(infoReply(12, 0x01, 0x02, 0x03)), (3u << 14) | (2u << 7) | 1u);
    // The largest 21-bit address, and a range below one block.
    applyInfoReply(infoReply(12, 0x7F, 0x7F, 0x7F));
    EXPECT_EQ(protocolState.blockCount, 8192);
    applyInfoReply(infoReply(12, 0x7E, 0x01, 0x00));
    EXPECT_EQ(protocolState.blockCount, 0);
    // The start address never changes.
    EXPECT_EQ((std::array<std::uint8_t, 3>{0, 0, 0}), protocolState.startAddress);
}

TEST_F(ReplyDecoding, ReplyTooShortForAnAddress) {
    EXPECT_EQ(decodeEndAddress(infoReply(6, 0x7F, 0x7F, 0x07)), 0u);
    EXPECT_EQ(decodeEndAddress(infoReply(7, 0x7F, 0x7F, 0x07)), 0x01FFFFu);
}

TEST_F(ReplyDecoding, DeviceNameIsSevenBitTextFromD7) {
    ReplyFrame reply = infoReply(20, 0x7F, 0x7F, 0x07);
    const char* text = "VARNOFLEX60";   // L - 9 = 11 characters
    for (int i = 0; i < 11; ++i) reply.bytes[7 + i] = static_cast<std::uint8_t>(text[i]) | 0x80;
    applyInfoReply(reply);
    EXPECT_EQ(deviceName(), "VARNOFLEX60");
    // Past the terminator the name keeps the FF of the identification start.
    EXPECT_EQ(protocolState.deviceName[12], 0xFF);
}

TEST_F(ReplyDecoding, DeviceNameLengthLimits) {
    ReplyFrame reply = infoReply(9, 0, 0, 1);
    for (std::size_t i = 7; i < reply.bytes.size(); ++i) reply.bytes[i] = 'A' + (i % 26);
    applyInfoReply(reply);
    EXPECT_EQ(deviceName(), "");

    reply.length = 3;   // shorter than the header: empty name, nothing read past the data
    applyInfoReply(reply);
    EXPECT_EQ(deviceName(), "");

    reply.length = 50;  // the longest name: 41 characters, d7..d47
    applyInfoReply(reply);
    EXPECT_EQ(deviceName().size(), 41u);
    EXPECT_EQ(deviceName().back(), 'A' + (47 % 26));

    reply.length = 51;  // counted as 49: 40 characters
    applyInfoReply(reply);
    EXPECT_EQ(deviceName().size(), 40u);
    EXPECT_EQ(deviceName().back(), 'A' + (46 % 26));

    reply.length = 98;
    applyInfoReply(reply);
    EXPECT_EQ(deviceName().size(), 40u);
}

TEST_F(ReplyDecoding, ExtraReplyCopiesAtMostTheBuffer) {
    ReplyFrame reply;
    for (std::size_t i = 0; i < reply.bytes.size(); ++i) reply.bytes[i] = static_cast<std::uint8_t>(i + 1);

    reply.length = 5;
    applyExtraReply(reply);
    EXPECT_EQ(protocolState.extraData[4], 5);
    EXPECT_EQ(protocolState.extraData[5], 0xFF);

    beginIdentification();
    reply.length = 20;
    applyExtraReply(reply);
    EXPECT_EQ(protocolState.extraData[19], 20);

    beginIdentification();
    reply.length = 21;   // longer than the buffer: the first 19 bytes
    applyExtraReply(reply);
    EXPECT_EQ(protocolState.extraData[18], 19);
    EXPECT_EQ(protocolState.extraData[19], 0xFF);
}

}  // namespace
