// SPDX-License-Identifier: MIT
// Frame layer of the boot-loader protocol: the 8-bit frame checksum, the building of command
// and data block frames, and the check of the device's two fixed acknowledgement replies.
#include "link/frames.h"

#include <algorithm>

#include "link/serial.h"

namespace {

// The length byte of a command frame counts the command byte and the payload; 250 payload
// bytes keep it well inside one byte.
constexpr std::size_t kMaxCommandPayload = 250;

}  // namespace

std::uint8_t frameChecksum(std::span<const std::uint8_t> bytes) {
    std::uint8_t sum = 0;
    for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
    return static_cast<std::uint8_t>(0x100 - sum);
}

std::vector<std::uint8_t> buildCommandFrame(std::uint8_t code, std::span<const std::uint8_t> payload) {
    // A payload too long for the length byte gives no frame at all rather than a wrong one.
    if (payload.size() > kMaxCommandPayload) return {};
    std::vector<std::uint8_t> frame;
    frame.reserve(payload.size() + 5);
    frame.push_back(kSoh);
    frame.push_back(static_cast<std::uint8_t>(1 + payload.size()));
    frame.push_back(code);
    frame.insert(frame.end(), payload.begin(), payload.end());
    // Checksum over the length byte, the command byte and the payload.
    frame.push_back(frameChecksum(std::span<const std::uint8_t>(frame).subspan(1)));
    frame.push_back(kEtx);
    return frame;
}

std::array<std::uint8_t, kDataBlockFrameSize> buildDataBlockFrame(
    std::span<const std::uint8_t, 256> block, bool lastBlock) {
    std::array<std::uint8_t, kDataBlockFrameSize> frame{};
    frame[0] = kStx;
    frame[1] = kDataBlockLengthByte;
    std::copy(block.begin(), block.end(), frame.begin() + 2);
    // The checksum covers the length byte 00 and the 256 data bytes.
    frame[258] = frameChecksum(std::span<const std::uint8_t>(frame).subspan(1, 257));
    frame[259] = lastBlock ? kEtx : kEtb;
    return frame;
}

bool readAck() {
    std::array<std::uint8_t, kAckFrame.size()> reply{};
    if (!portRead(reply)) return false;
    return reply == kAckFrame;
}

bool readBlockAck() {
    return readBlockAnswer() == BlockAnswer::Acknowledged;
}

BlockAnswer readBlockAnswer() {
    std::array<std::uint8_t, kBlockAckSize> reply{};
    if (!portRead(reply)) return BlockAnswer::NoAnswer;
    // An acknowledgement is known by its head alone; the checksum and end byte are not examined.
    if (std::equal(kBlockAckHead.begin(), kBlockAckHead.end(), reply.begin())) return BlockAnswer::Acknowledged;
    // A refusal counts only as a whole, well-formed reply: line noise is no answer.
    const bool blockReply = reply[0] == kStx && reply[1] == kBlockReplyLengthByte &&
                            reply[4] == frameChecksum(std::span<const std::uint8_t>(reply).subspan(1, 3)) &&
                            reply[5] == kEtx;
    return blockReply ? BlockAnswer::Refused : BlockAnswer::NoAnswer;
}
