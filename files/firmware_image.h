// SPDX-License-Identifier: MIT
// The firmware file format (Intel HEX text, data and extended segment address records) and
// the process-wide firmware image that the update writes to the device block by block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::size_t kFirmwareImageSize = 131100;   // 0x2001C bytes
inline constexpr std::size_t kBlockSizeBytes = 256;
inline constexpr int kImageBlockCount = 512;                  // whole blocks the image holds
// A record's byte count field allows 255 data bytes; the record buffer takes all of them.
inline constexpr std::size_t kRecordBufferSize = 255;

using FirmwareImage = std::array<std::uint8_t, kFirmwareImageSize>;
extern FirmwareImage firmwareImage;

// Reading position of the HEX reader, kept from one nextHexRecord call to the next.
struct HexRecordState {
    std::int32_t readPosition = 0;
    std::int32_t textLength = 0;
    std::int32_t segment = 0;
};

// One data record as nextHexRecord delivers it.
struct HexRecord {
    std::array<std::uint8_t, kRecordBufferSize> data{};
    std::uint8_t length = 0;
    std::int32_t address = 0;   // the record's 16-bit load offset
};

// Two hexadecimal digits ("0"-"9", upper-case "A"-"F" only), high digit first.
bool parseHexPair(char high, char low, std::uint8_t& value);

// Delivers the next data record of text, or false at the end of the text or at an invalid
// segment or data record. text.size() must equal state.textLength.
bool nextHexRecord(std::span<const std::uint8_t> text, HexRecordState& state, HexRecord& record);

// Sets every byte of firmwareImage to 0xFF.
void clearFirmwareImage();

// Clears firmwareImage and places the data records of text in it (segment x 16 + address).
// Bytes that would fall outside the image are dropped; the rest of the load goes on.
// Always reports success: an invalid record ends the load with what came before it.
bool loadFirmwareImage(std::span<const std::uint8_t> text);
