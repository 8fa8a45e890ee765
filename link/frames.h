// SPDX-License-Identifier: MIT
// Frame layer of the boot-loader protocol: control bytes, the 8-bit frame checksum, frame
// building, and recognition of the device's two fixed acknowledgement replies.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

inline constexpr std::uint8_t kSoh = 0x01;   // start of a command frame
inline constexpr std::uint8_t kStx = 0x02;   // start of a reply or data block frame
inline constexpr std::uint8_t kEtx = 0x03;   // end of frame; end byte of the last data block
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kEtb = 0x17;   // end byte of every data block but the last
inline constexpr std::uint8_t kDataBlockLengthByte = 0x00;   // stands for 256 data bytes

inline constexpr std::array<std::uint8_t, 5> kAckFrame = {0x02, 0x01, 0x06, 0xF9, 0x03};
inline constexpr std::array<std::uint8_t, 4> kBlockAckHead = {0x02, 0x02, 0x06, 0x06};
inline constexpr std::size_t kBlockAckSize = 6;
inline constexpr std::uint8_t kBlockReplyLengthByte = 0x02;   // a block reply's two status bytes
inline constexpr std::size_t kDataBlockFrameSize = 260;

// Fixed pauses of the protocol.
inline constexpr int kFramePauseMs = 5;           // before every command and data block frame
inline constexpr int kErasePauseMs = 50;          // before CMD_ERASE, after the failed blank check
inline constexpr int kVerifyPauseMs = 50;         // before CMD_VERIFY, after the usual 5 ms
inline constexpr int kSpeedSwitchSettleMs = 100;  // after the host switches to 115200 baud
inline constexpr int kNoDeviceCloseWaitMs = 20;   // after closing the port when identification failed

// Two's complement of the 8-bit sum of bytes (00 for no bytes).
std::uint8_t frameChecksum(std::span<const std::uint8_t> bytes);

// 01, length (1 + payload size), code, payload, checksum, 03. payload holds at most 250 bytes.
std::vector<std::uint8_t> buildCommandFrame(std::uint8_t code, std::span<const std::uint8_t> payload);

// 02, 00, the 256 bytes of block, checksum, and 03 for the last block of a pass, else 17.
std::array<std::uint8_t, kDataBlockFrameSize> buildDataBlockFrame(
    std::span<const std::uint8_t, 256> block, bool lastBlock);

// Reads 5 bytes; true only when they are exactly 02 01 06 F9 03.
bool readAck();

// Reads 6 bytes; true only when the first four are 02 02 06 06.
bool readBlockAck();

// What the unit said to a data block.
enum class BlockAnswer {
    Acknowledged,   // 02 02 06 06 (only the head examined, as by readBlockAck)
    Refused,        // a whole block reply that is not an acknowledgement: 02 02, two status
                    // bytes, a matching checksum and the end byte 03 (a verify block that
                    // differs from the unit's memory is answered 02 02 06 15)
    NoAnswer,       // fewer than 6 bytes, or bytes that are no block reply
};

// Reads the 6-byte block reply and tells which of the three it was.
BlockAnswer readBlockAnswer();
