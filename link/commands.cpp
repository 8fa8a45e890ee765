// SPDX-License-Identifier: MIT
// The boot-loader commands the updater uses, each with its fixed pause, its frame and the
// check of the device's answer; the reading and decoding of the device's data replies; and
// the process-wide protocol state whose address range the range commands carry.
#include "link/commands.h"

#include <algorithm>

#include "files/firmware_image.h"
#include "link/frames.h"
#include "link/serial.h"
#include "update/result_codes.h"
#include "update/shared_state.h"

ProtocolState protocolState;

namespace {

// cmdConnect sends two single zero bytes before its frame to wake the boot loader's
// receiver at 9600 baud.
constexpr std::uint8_t kWakeByte = 0x00;
constexpr int kWakeByteCount = 2;

constexpr std::size_t kReplyHeadSize = 2;          // start byte and length byte
constexpr std::size_t kReplyTrailerSize = 2;       // checksum and end byte
constexpr std::size_t kBlankCheckReplySize = 5;    // a one-byte reply frame
constexpr std::size_t kBlankCheckStatusOffset = 2; // its data byte
constexpr std::size_t kChecksumReplySize = 6;      // 02 02 hi lo checksum 03
constexpr std::size_t kChecksumHighOffset = 2;
constexpr std::size_t kChecksumLowOffset = 3;
constexpr std::uint8_t kRangeLengthByte = 0x07;    // code and two 3-byte addresses

// Information reply: d4..d6 carry the end address as 7-bit groups, least significant first;
// d7 onwards the device name, L - 9 characters of 7 bits.
constexpr std::size_t kInfoAddressOffset = 4;
constexpr std::size_t kInfoAddressEnd = kInfoAddressOffset + 3;
constexpr std::size_t kInfoNameOffset = 7;
constexpr std::size_t kInfoNonNameBytes = 9;       // d0..d6 and the two last data bytes
constexpr std::size_t kInfoLengthCap = 50;         // above this the length counts as
constexpr std::size_t kInfoCappedLength = 49;      // this one
constexpr std::uint8_t kSevenBitMask = 0x7F;

// The extra reply is copied whole up to kExtraDataSize bytes; a longer one gives its first
// kExtraDataSize - 1 bytes.
constexpr std::size_t kExtraCappedCopy = kExtraDataSize - 1;

constexpr std::uint8_t kUnsetByte = 0xFF;

bool writeBytes(std::span<const std::uint8_t> bytes) {
    return portWrite(bytes);
}

// Pause, frame, and the acknowledgement only when the write was accepted.
bool sendAndAcknowledge(std::span<const std::uint8_t> frame) {
    waitMs(kFramePauseMs);
    if (!writeBytes(frame)) return false;
    return readAck();
}

std::vector<std::uint8_t> plainCommandFrame(std::uint8_t code) {
    return buildCommandFrame(code, {});
}

}  // namespace

void resetProtocolState() {
    protocolState = ProtocolState{};
}

void beginIdentification() {
    protocolState.deviceName.fill(kUnsetByte);
    protocolState.extraData.fill(kUnsetByte);
}

std::array<std::uint8_t, 11> buildRangeFrame(std::uint8_t code) {
    std::array<std::uint8_t, 11> frame{};
    frame[0] = kSoh;
    frame[1] = kRangeLengthByte;
    frame[2] = code;
    std::copy(protocolState.startAddress.begin(), protocolState.startAddress.end(), frame.begin() + 3);
    std::copy(protocolState.endAddress.begin(), protocolState.endAddress.end(), frame.begin() + 6);
    frame[9] = frameChecksum(std::span<const std::uint8_t>(frame).subspan(1, 8));
    frame[10] = kEtx;
    return frame;
}

bool readReplyFrame(ReplyFrame& reply) {
    reply.length = 0;
    if (!portRead(std::span<std::uint8_t>(reply.bytes).first(kReplyHeadSize))) return false;
    // The start byte is not examined; the length decides how much follows.
    const std::uint8_t length = reply.bytes[1];
    if (length > kMaxReplyDataLength) return false;   // would not fit the buffer
    reply.length = length;
    return portRead(std::span<std::uint8_t>(reply.bytes).first(length + kReplyTrailerSize));
}

std::uint32_t decodeEndAddress(const ReplyFrame& reply) {
    if (reply.length < kInfoAddressEnd) return 0;
    const auto group = [&](std::size_t i) {
        return static_cast<std::uint32_t>(reply.bytes[kInfoAddressOffset + i] & kSevenBitMask);
    };
    return (group(2) << 14) | (group(1) << 7) | group(0);
}

void applyInfoReply(const ReplyFrame& reply) {
    const std::uint32_t endAddress = decodeEndAddress(reply);
    protocolState.endAddress = {static_cast<std::uint8_t>(endAddress >> 16),
                                static_cast<std::uint8_t>(endAddress >> 8),
                                static_cast<std::uint8_t>(endAddress)};
    protocolState.blockCount = static_cast<std::int32_t>((endAddress + 1) >> 8);

    // The name runs from d7 to d(L - 3). Capping L at 49 keeps it at most 40 characters
    // for long replies (41 for L = 50), so it always fits the name buffer with its zero and
    // never reaches past the reply's data.
    std::size_t length = reply.length;
    if (length > kInfoLengthCap) length = kInfoCappedLength;
    const std::size_t nameLength = length > kInfoNonNameBytes ? length - kInfoNonNameBytes : 0;
    for (std::size_t i = 0; i < nameLength; ++i) {
        protocolState.deviceName[i] =
            static_cast<std::uint8_t>(reply.bytes[kInfoNameOffset + i] & kSevenBitMask);
    }
    protocolState.deviceName[nameLength] = 0;
}

void applyExtraReply(const ReplyFrame& reply) {
    std::size_t count = reply.length;
    if (count > kExtraDataSize) count = kExtraCappedCopy;
    std::copy_n(reply.bytes.begin(), count, protocolState.extraData.begin());
}

bool cmdConnect() {
    const std::array<std::uint8_t, 1> wake{kWakeByte};
    for (int i = 0; i < kWakeByteCount; ++i) {
        waitMs(kFramePauseMs);
        writeBytes(wake);   // the single bytes' results do not matter
    }
    return sendAndAcknowledge(plainCommandFrame(CMD_CONNECT));
}

bool cmdSetSpeed() {
    waitMs(kFramePauseMs);
    // No reply is read here: at 9600 baud the caller reads one stray byte, at 115200 an
    // acknowledgement.
    return writeBytes(buildCommandFrame(CMD_SET_SPEED, protocolState.speedParameter));
}

bool cmdReadInfo() {
    return sendAndAcknowledge(plainCommandFrame(CMD_READ_INFO));
}

bool cmdReadExtra() {
    return sendAndAcknowledge(plainCommandFrame(CMD_READ_EXTRA));
}

bool cmdBlankCheck() {
    waitMs(kFramePauseMs);
    writeBytes(buildRangeFrame(CMD_BLANK_CHECK));   // a failed write shows in the read
    std::array<std::uint8_t, kBlankCheckReplySize> reply{};
    if (!portRead(reply)) return false;
    return reply[kBlankCheckStatusOffset] == kAck;
}

bool cmdBlankCheckOrErase() {
    waitMs(kFramePauseMs);
    if (cmdBlankCheck()) {
        storeResult(ERROR_ERASE_ALREADY_BLANK);
        return true;
    }
    waitMs(kErasePauseMs);
    writeBytes(buildRangeFrame(CMD_ERASE));   // a failed write shows in the read
    return readAck();
}

bool cmdProgramMode() {
    return sendAndAcknowledge(buildRangeFrame(CMD_PROGRAM_MODE));
}

bool cmdReadChecksum(std::uint16_t& checksum) {
    waitMs(kFramePauseMs);
    writeBytes(buildRangeFrame(CMD_READ_CHECKSUM));   // a failed write shows in the read
    if (!readAck()) return false;
    std::array<std::uint8_t, kChecksumReplySize> reply{};
    if (!portRead(reply)) return false;
    checksum = static_cast<std::uint16_t>((reply[kChecksumHighOffset] << 8) | reply[kChecksumLowOffset]);
    return true;
}

bool cmdVerify() {
    waitMs(kFramePauseMs);
    waitMs(kVerifyPauseMs);
    writeBytes(buildRangeFrame(CMD_VERIFY));   // a failed write shows in the read
    return readAck();
}

bool sendDataBlock(int blockIndex) {
    return sendDataBlockForAnswer(blockIndex) == BlockAnswer::Acknowledged;
}

BlockAnswer sendDataBlockForAnswer(int blockIndex) {
    // Only blocks the device range and the image both hold: anything else would read past
    // the image, so it is refused before anything is sent.
    const int blocksInRange = std::min<int>(protocolState.blockCount, kImageBlockCount);
    if (blockIndex < 0 || blockIndex >= blocksInRange) return BlockAnswer::NoAnswer;

    const std::size_t offset = static_cast<std::size_t>(blockIndex) * kBlockSizeBytes;
    const std::span<const std::uint8_t, kBlockSizeBytes> block(firmwareImage.data() + offset, kBlockSizeBytes);
    const bool lastBlock = blockIndex == protocolState.blockCount - 1;

    waitMs(kFramePauseMs);
    writeBytes(buildDataBlockFrame(block, lastBlock));   // a failed write shows in the read
    return readBlockAnswer();
}
