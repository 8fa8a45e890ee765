// SPDX-License-Identifier: MIT
// The command set of the flash unit's boot loader (the UART flash-programming protocol of
// NEC/Renesas microcontroller boot loaders, the subset this updater uses), the reading of its
// data replies, and the small protocol state that the range commands carry.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "link/frames.h"

enum CommandCode : std::uint8_t {
    CMD_CONNECT = 0x00,
    CMD_SET_SPEED = 0x90,
    CMD_READ_INFO = 0xC0,
    CMD_READ_EXTRA = 0xC5,
    CMD_BLANK_CHECK = 0x32,
    CMD_ERASE = 0x20,
    CMD_PROGRAM_MODE = 0x40,
    CMD_READ_CHECKSUM = 0xB0,
    CMD_VERIFY = 0x13,
};

inline constexpr std::size_t kDeviceNameSize = 50;
inline constexpr std::size_t kExtraDataSize = 20;

struct ProtocolState {
    std::array<std::uint8_t, 4> speedParameter{0x02, 0x00, 0x00, 0x05};
    std::array<std::uint8_t, 3> startAddress{0x00, 0x00, 0x00};   // most significant first
    std::array<std::uint8_t, 3> endAddress{0x01, 0xFF, 0xFF};     // most significant first
    std::int32_t blockCount = 512;
    std::array<std::uint8_t, kDeviceNameSize> deviceName{};
    std::array<std::uint8_t, kExtraDataSize> extraData{};
};

extern ProtocolState protocolState;

// Gives protocolState its start-up values.
void resetProtocolState();

// A reply frame read by readReplyFrame: after the read, bytes[0 .. length-1] hold the data
// bytes, followed by the checksum and the end byte.
inline constexpr std::size_t kReplyBufferSize = 100;
inline constexpr std::size_t kMaxReplyDataLength = kReplyBufferSize - 2;   // 98
struct ReplyFrame {
    std::array<std::uint8_t, kReplyBufferSize> bytes{};
    std::uint8_t length = 0;
};

// Reads the 2-byte head (02, L) and then L + 2 bytes. A head announcing more than 98 data
// bytes is refused as a failed read (nothing more is read).
bool readReplyFrame(ReplyFrame& reply);

// The 11-byte frame of a range command with the current start and end address.
std::array<std::uint8_t, 11> buildRangeFrame(std::uint8_t code);

// End address from an information reply's data bytes d4..d6 (7-bit groups, least
// significant first). reply.length must be at least 7; otherwise 0.
std::uint32_t decodeEndAddress(const ReplyFrame& reply);

// Takes a CMD_READ_INFO reply into protocolState: end address, block count
// ((end address + 1) >> 8) and device name (at most 41 characters, zero-terminated).
void applyInfoReply(const ReplyFrame& reply);

// Takes a CMD_READ_EXTRA reply into protocolState.extraData.
void applyExtraReply(const ReplyFrame& reply);

// Prepares the device name and extra data for a new identification (all bytes FF).
void beginIdentification();

// The commands. Each waits its fixed pause, sends its frame and checks the answer.
bool cmdConnect();
bool cmdSetSpeed();
bool cmdReadInfo();
bool cmdReadExtra();
bool cmdBlankCheck();
bool cmdBlankCheckOrErase();   // stores result code 9 when its own blank check passes
bool cmdProgramMode();
bool cmdReadChecksum(std::uint16_t& checksum);
bool cmdVerify();
// Sends block blockIndex of firmwareImage (end byte 03 when it is the last of
// protocolState.blockCount) and reads the block acknowledgement. blockIndex must be below
// both the block count and kImageBlockCount.
bool sendDataBlock(int blockIndex);
// The same, telling a refusal from no answer (a block outside the range is not sent: no
// answer). The check needs the difference: only a refused block says the memory differs.
BlockAnswer sendDataBlockForAnswer(int blockIndex);
