// SPDX-License-Identifier: MIT
// Reading of firmware files (Intel HEX text) into the process-wide firmware image, with the
// whole-file check that keeps a damaged, cut-short or foreign file away from the unit.
#include "files/firmware_image.h"

#include <algorithm>

FirmwareImage firmwareImage;

namespace {

constexpr std::uint8_t kRecordMark = ':';
constexpr std::uint8_t kErasedByte = 0xFF;
constexpr std::uint8_t kCtrlZ = 0x1A;                  // DOS end-of-file mark some tools append
constexpr std::int64_t kSegmentUnitBytes = 16;         // a segment value counts 16-byte paragraphs
constexpr int kLinearAddressShift = 16;                // a linear address value counts 64 KiB
constexpr std::uint8_t kAddressRecordLength = 2;       // data bytes of a segment or linear record
constexpr std::array<std::uint8_t, 3> kByteOrderMark = {0xEF, 0xBB, 0xBF};
constexpr std::int8_t kNotADigit = -1;

// Value of every byte as an upper-case hexadecimal digit, or kNotADigit.
constexpr std::array<std::int8_t, 256> makeDigitValues()
{
    std::array<std::int8_t, 256> values{};
    values.fill(kNotADigit);
    for (int digit = 0; digit < 10; ++digit) values['0' + digit] = static_cast<std::int8_t>(digit);
    for (int digit = 0; digit < 6; ++digit) values['A' + digit] = static_cast<std::int8_t>(10 + digit);
    return values;
}
constexpr std::array<std::int8_t, 256> kDigitValues = makeDigitValues();

bool isBlank(std::uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == kCtrlZ;
}

// Skips white space from the read position, counting line ends (LF, CR LF, or CR alone).
void skipBlanks(std::span<const std::uint8_t> text, HexRecordState& state)
{
    std::size_t p = state.readPosition;
    while (p < text.size() && isBlank(text[p])) {
        if (text[p] == '\n' || (text[p] == '\r' && (p + 1 == text.size() || text[p + 1] != '\n'))) {
            ++state.line;
        }
        ++p;
    }
    state.readPosition = p;
}

// The byte whose two digits start at p. On failure kind says why: a line end, a colon or the
// end of the text where a digit belongs cut the record short; anything else is invalid.
bool recordByte(std::span<const std::uint8_t> text, std::size_t p, std::uint8_t& value, FirmwareProblemKind& kind)
{
    for (std::size_t i = p; i < p + 2; ++i) {
        if (i >= text.size()) {
            kind = FirmwareProblemKind::RecordCutShort;
            return false;
        }
        const std::uint8_t c = text[i];
        if (kDigitValues[c] == kNotADigit) {
            kind = c == '\r' || c == '\n' || c == kRecordMark ? FirmwareProblemKind::RecordCutShort
                                                               : FirmwareProblemKind::InvalidCharacter;
            return false;
        }
    }
    value = static_cast<std::uint8_t>(kDigitValues[text[p]] * 16 + kDigitValues[text[p + 1]]);
    return true;
}

FirmwareProblem problemAt(FirmwareProblemKind kind, const HexRecord& record, std::int64_t address = -1)
{
    return FirmwareProblem{kind, record.number, record.line, address};
}

// Reads the records of text and checks them; place(address, bytes) receives every run of
// data bytes inside the range, in file order.
template <typename Place>
FirmwareCheck readFirmware(std::span<const std::uint8_t> text, int rangeBlocks, Place place)
{
    FirmwareCheck check;
    FirmwareProblem& problem = check.problem;
    const std::int64_t rangeEnd =
        static_cast<std::int64_t>(std::clamp(rangeBlocks, 0, kImageBlockCount)) * static_cast<std::int64_t>(kBlockSizeBytes);
    HexRecordState state;
    HexRecord record;
    std::int64_t segmentBase = 0;
    bool endOfFileSeen = false;
    std::int32_t lastRecordLine = 0;

    for (;;) {
        const HexStep step = nextHexRecord(text, state, record, problem);
        if (step == HexStep::EndOfText) {
            break;
        }
        if (step == HexStep::Problem) {
            if (problem.kind == FirmwareProblemKind::ChecksumMismatch && record.type == HEX_DATA) {
                problem.address = segmentBase + record.address;
            }
            return check;
        }
        lastRecordLine = record.line;
        switch (record.type) {
        case HEX_DATA: {
            if (record.length == 0) {
                break;
            }
            const std::int64_t start = segmentBase + record.address;
            ++check.dataRecords;
            check.highestAddress = std::max(check.highestAddress, start + record.length - 1);
            const std::int64_t inRange = std::clamp<std::int64_t>(rangeEnd - start, 0, record.length);
            // What lies beyond the range never reaches the unit: only erased bytes may stand there.
            for (std::int64_t i = inRange; i < record.length; ++i) {
                if (record.data[static_cast<std::size_t>(i)] != kErasedByte) {
                    problem = problemAt(FirmwareProblemKind::DataBeyondRange, record, start + i);
                    return check;
                }
            }
            if (inRange > 0) {
                place(start, std::span<const std::uint8_t>(record.data).first(static_cast<std::size_t>(inRange)));
            }
            break;
        }
        case HEX_END_OF_FILE:
            endOfFileSeen = true;
            break;
        case HEX_EXTENDED_SEGMENT_ADDRESS:
        case HEX_EXTENDED_LINEAR_ADDRESS: {
            if (record.length != kAddressRecordLength) {
                problem = problemAt(FirmwareProblemKind::RecordLength, record);
                return check;
            }
            const std::int64_t value = record.data[0] * 256 + record.data[1];
            if (record.type == HEX_EXTENDED_SEGMENT_ADDRESS) {
                segmentBase = value * kSegmentUnitBytes;
            } else if (value != 0) {
                // Many tools write a linear address of 0 first; any other would move the data
                // to where this updater cannot put it.
                problem = problemAt(FirmwareProblemKind::LinearAddress, record, value << kLinearAddressShift);
                return check;
            }
            break;
        }
        case HEX_START_SEGMENT_ADDRESS:
        case HEX_START_LINEAR_ADDRESS:
            break;   // where a program starts: nothing for the image
        default:
            problem = problemAt(FirmwareProblemKind::UnknownRecordType, record);
            return check;
        }
    }
    if (check.dataRecords == 0) {
        problem = FirmwareProblem{FirmwareProblemKind::NoDataRecord, 0, 0, -1};
    } else if (!endOfFileSeen) {
        problem = FirmwareProblem{FirmwareProblemKind::NoEndOfFileRecord, 0, lastRecordLine, -1};
    }
    return check;
}

}  // namespace

std::string_view firmwareProblemName(FirmwareProblemKind kind)
{
    switch (kind) {
    case FirmwareProblemKind::None: return "none";
    case FirmwareProblemKind::InvalidCharacter: return "invalidCharacter";
    case FirmwareProblemKind::RecordCutShort: return "recordCutShort";
    case FirmwareProblemKind::ChecksumMismatch: return "checksumMismatch";
    case FirmwareProblemKind::TextOutsideRecord: return "textOutsideRecord";
    case FirmwareProblemKind::UnknownRecordType: return "unknownRecordType";
    case FirmwareProblemKind::RecordLength: return "recordLength";
    case FirmwareProblemKind::LinearAddress: return "linearAddress";
    case FirmwareProblemKind::NoDataRecord: return "noDataRecord";
    case FirmwareProblemKind::NoEndOfFileRecord: return "noEndOfFileRecord";
    case FirmwareProblemKind::DataBeyondRange: return "dataBeyondRange";
    }
    return "unknown";
}

bool parseHexPair(char high, char low, std::uint8_t& value)
{
    const std::int8_t highValue = kDigitValues[static_cast<std::uint8_t>(high)];
    const std::int8_t lowValue = kDigitValues[static_cast<std::uint8_t>(low)];
    if (highValue == kNotADigit || lowValue == kNotADigit) {
        return false;
    }
    value = static_cast<std::uint8_t>(highValue * 16 + lowValue);
    return true;
}

HexStep nextHexRecord(std::span<const std::uint8_t> text, HexRecordState& state, HexRecord& record,
                      FirmwareProblem& problem)
{
    if (state.readPosition == 0 && text.size() >= kByteOrderMark.size() &&
        std::equal(kByteOrderMark.begin(), kByteOrderMark.end(), text.begin())) {
        state.readPosition = kByteOrderMark.size();
    }
    skipBlanks(text, state);
    if (state.readPosition >= text.size()) {
        state.readPosition = text.size();
        return HexStep::EndOfText;
    }
    if (text[state.readPosition] != kRecordMark) {
        problem = FirmwareProblem{FirmwareProblemKind::TextOutsideRecord, 0, state.line, -1};
        return HexStep::Problem;
    }

    record.number = ++state.recordCount;
    record.line = state.line;
    record.type = 0;
    FirmwareProblemKind failure = FirmwareProblemKind::None;
    std::size_t p = state.readPosition + 1;
    // Byte count, address (high, low), type, the data, then the checksum: every byte of the
    // record counts in its sum, which must come to 0 modulo 256.
    std::uint8_t header[4] = {};
    unsigned sum = 0;
    bool read = true;
    for (std::uint8_t& byte : header) {
        read = read && recordByte(text, p, byte, failure);
        p += read ? 2 : 0;
        sum += byte;
    }
    if (read) {
        record.length = header[0];
        record.address = header[1] * 256 + header[2];
        record.type = header[3];
        for (std::size_t i = 0; read && i < record.length; ++i) {
            read = recordByte(text, p, record.data[i], failure);
            p += read ? 2 : 0;
            sum += record.data[i];
        }
    }
    std::uint8_t checksum = 0;
    read = read && recordByte(text, p, checksum, failure);
    if (!read) {
        state.readPosition = std::min(p, text.size());
        problem = problemAt(failure, record);
        return HexStep::Problem;
    }
    state.readPosition = p + 2;
    if (((sum + checksum) & 0xFFu) != 0) {
        problem = problemAt(FirmwareProblemKind::ChecksumMismatch, record);
        return HexStep::Problem;
    }
    return HexStep::Record;
}

FirmwareCheck checkFirmwareText(std::span<const std::uint8_t> text, int rangeBlocks)
{
    return readFirmware(text, rangeBlocks, [](std::int64_t, std::span<const std::uint8_t>) {});
}

void clearFirmwareImage()
{
    firmwareImage.fill(kErasedByte);
}

FirmwareCheck loadFirmwareImage(std::span<const std::uint8_t> text, int rangeBlocks)
{
    clearFirmwareImage();
    return readFirmware(text, rangeBlocks, [](std::int64_t address, std::span<const std::uint8_t> bytes) {
        // The range ends within the image's whole blocks; the check keeps the copy there.
        if (address >= 0 && address + static_cast<std::int64_t>(bytes.size()) <= static_cast<std::int64_t>(firmwareImage.size())) {
            std::copy(bytes.begin(), bytes.end(), firmwareImage.begin() + address);
        }
    });
}
