// SPDX-License-Identifier: MIT
// The firmware file format (Intel HEX text) and the process-wide firmware image that the
// update writes to the device block by block. A firmware file is checked as a whole while
// it is read: one that is damaged, cut short or made for a larger device is refused before
// any of it can reach a unit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

inline constexpr std::size_t kFirmwareImageSize = 131100;   // 0x2001C bytes
inline constexpr std::size_t kBlockSizeBytes = 256;
inline constexpr int kImageBlockCount = 512;                  // whole blocks the image holds
// A record's byte count field allows 255 data bytes; the record buffer takes all of them.
inline constexpr std::size_t kRecordBufferSize = 255;

using FirmwareImage = std::array<std::uint8_t, kFirmwareImageSize>;
extern FirmwareImage firmwareImage;

// Record types of Intel HEX.
enum HexRecordType : std::uint8_t {
    HEX_DATA = 0x00,
    HEX_END_OF_FILE = 0x01,
    HEX_EXTENDED_SEGMENT_ADDRESS = 0x02,
    HEX_START_SEGMENT_ADDRESS = 0x03,
    HEX_EXTENDED_LINEAR_ADDRESS = 0x04,
    HEX_START_LINEAR_ADDRESS = 0x05,
};

// Why a firmware file cannot be used.
enum class FirmwareProblemKind : std::uint8_t {
    None,
    InvalidCharacter,    // a record holds a character that is not an upper-case hex digit
    RecordCutShort,      // the text or the record's line ends inside the record
    ChecksumMismatch,    // the record's bytes and checksum do not sum to 0 modulo 256
    TextOutsideRecord,   // text other than white space between records
    UnknownRecordType,   // a record type other than 00 to 05
    RecordLength,        // a segment or linear address record without its 2 data bytes
    LinearAddress,       // an extended linear address record with a value other than 0
    NoDataRecord,        // no data record with at least one data byte
    NoEndOfFileRecord,   // no end-of-file record anywhere: the file was cut short
    DataBeyondRange,     // a data byte other than 0xFF at or beyond the end of the range
};

// The first problem of a firmware file, and where it is.
struct FirmwareProblem {
    FirmwareProblemKind kind = FirmwareProblemKind::None;
    std::int32_t record = 0;    // 1-based number of the record, 0 when it concerns none
    std::int32_t line = 0;      // 1-based line of the text, 0 when it concerns none
    std::int64_t address = -1;  // the firmware address it concerns, -1 when none

    bool found() const { return kind != FirmwareProblemKind::None; }
};

// A stable name of kind for reports: "checksumMismatch", "dataBeyondRange", ...
std::string_view firmwareProblemName(FirmwareProblemKind kind);

// Reading position of the HEX reader, kept from one nextHexRecord call to the next.
struct HexRecordState {
    std::size_t readPosition = 0;
    std::int32_t line = 1;          // line of the read position
    std::int32_t recordCount = 0;   // records delivered or refused so far
};

// One record as nextHexRecord delivers it, its checksum verified.
struct HexRecord {
    std::array<std::uint8_t, kRecordBufferSize> data{};
    std::uint8_t length = 0;
    std::int32_t address = 0;   // the record's 16-bit load offset
    std::uint8_t type = 0;
    std::int32_t number = 0;    // 1-based
    std::int32_t line = 0;      // the line its colon stands on
};

// Two hexadecimal digits ("0"-"9", upper-case "A"-"F" only), high digit first.
bool parseHexPair(char high, char low, std::uint8_t& value);

enum class HexStep { Record, EndOfText, Problem };

// Reads the next record of text, of any type: Record with the record; EndOfText when only
// white space is left; Problem (with problem set) for a malformed record or for text outside
// the records. White space (blanks, tabs, line ends, Ctrl-Z) may stand between records, a
// UTF-8 byte order mark at the start of the text; records may also follow each other directly.
HexStep nextHexRecord(std::span<const std::uint8_t> text, HexRecordState& state, HexRecord& record,
                      FirmwareProblem& problem);

// What reading a firmware text found.
struct FirmwareCheck {
    FirmwareProblem problem;            // kind None: the file can be written to a unit
    std::int32_t dataRecords = 0;       // data records with at least one byte, up to the problem
    std::int64_t highestAddress = -1;   // highest address a data byte was given, -1 when none
};

// Reads a firmware text as the update does and checks it as a whole, without touching the
// image. rangeBlocks is the unit's block count (clamped to 0..512): a data byte other than
// 0xFF at or beyond rangeBlocks x 256 would never reach the unit and makes the file
// unusable; bytes of 0xFF there are padding and are allowed. Data records take effect at
// segment x 16 + offset (extended segment address records, no wrap at 64 KiB or 1 MiB),
// also after an end-of-file record; start address records (03, 05) and an extended linear
// address record of value 0 change nothing. The first problem in text order is reported;
// the missing data and end-of-file records are found at the end of the text.
FirmwareCheck checkFirmwareText(std::span<const std::uint8_t> text, int rangeBlocks = kImageBlockCount);

// Sets every byte of firmwareImage to 0xFF.
void clearFirmwareImage();

// Clears firmwareImage and places the data records of text in it, checking the text as
// checkFirmwareText does. With a problem the image holds only what came before it and must
// not be written to a unit.
FirmwareCheck loadFirmwareImage(std::span<const std::uint8_t> text, int rangeBlocks = kImageBlockCount);
