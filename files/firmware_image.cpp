// SPDX-License-Identifier: MIT
// Reading of firmware files (Intel HEX text: data records and extended segment address
// records take effect, everything else is skipped) into the process-wide firmware image.
#include "files/firmware_image.h"

#include <algorithm>

FirmwareImage firmwareImage;

namespace {

constexpr std::uint8_t kRecordMark = ':';
constexpr std::uint8_t kErasedByte = 0xFF;
constexpr std::int64_t kSegmentUnitBytes = 16;   // a segment value counts 16-byte paragraphs

// Character positions inside a record, counted from its colon.
constexpr std::int64_t kByteCountAt = 1;
constexpr std::int64_t kAddressAt = 3;
constexpr std::int64_t kTypeAt = 7;
constexpr std::int64_t kDataAt = 9;
constexpr std::int64_t kSegmentRecordEnd = 13;   // one past the segment value's last digit

bool hexDigitValue(char digit, std::uint8_t& value)
{
    if (digit >= '0' && digit <= '9') {
        value = static_cast<std::uint8_t>(digit - '0');
        return true;
    }
    if (digit >= 'A' && digit <= 'F') {
        value = static_cast<std::uint8_t>(digit - 'A' + 10);
        return true;
    }
    return false;
}

// The byte whose two digits start at position at; the caller has checked that both exist.
bool byteAt(std::span<const std::uint8_t> text, std::int64_t at, std::uint8_t& value)
{
    const auto index = static_cast<std::size_t>(at);
    return parseHexPair(static_cast<char>(text[index]), static_cast<char>(text[index + 1]), value);
}

bool wordAt(std::span<const std::uint8_t> text, std::int64_t at, std::int32_t& value)
{
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    if (!byteAt(text, at, high) || !byteAt(text, at + 2, low)) {
        return false;
    }
    value = high * 256 + low;
    return true;
}

bool typeIs(std::span<const std::uint8_t> text, std::int64_t mark, char high, char low)
{
    const auto index = static_cast<std::size_t>(mark + kTypeAt);
    return text[index] == static_cast<std::uint8_t>(high) && text[index + 1] == static_cast<std::uint8_t>(low);
}

}  // namespace

bool parseHexPair(char high, char low, std::uint8_t& value)
{
    std::uint8_t highValue = 0;
    std::uint8_t lowValue = 0;
    if (!hexDigitValue(high, highValue) || !hexDigitValue(low, lowValue)) {
        return false;
    }
    value = static_cast<std::uint8_t>(highValue * 16 + lowValue);
    return true;
}

bool nextHexRecord(std::span<const std::uint8_t> text, HexRecordState& state, HexRecord& record)
{
    // Never read beyond the text, whatever the state claims its length to be.
    const std::int64_t length = std::clamp<std::int64_t>(state.textLength, 0, static_cast<std::int64_t>(text.size()));
    std::int64_t p = std::max<std::int32_t>(state.readPosition, 0);

    while (p < length) {
        if (text[static_cast<std::size_t>(p)] != kRecordMark) {
            ++p;
            continue;
        }
        // A record counts only when the text holds every character its fields need.
        if (p + kTypeAt + 2 > length) {
            break;
        }
        if (typeIs(text, p, '0', '2')) {
            if (p + kSegmentRecordEnd > length) {
                break;
            }
            std::int32_t segment = 0;
            if (!wordAt(text, p + kDataAt, segment)) {
                state.readPosition = static_cast<std::int32_t>(p);
                return false;
            }
            state.segment = segment;
            ++p;   // the rest of the segment record is skipped as text
            continue;
        }
        if (typeIs(text, p, '0', '0')) {
            std::uint8_t byteCount = 0;
            std::int32_t address = 0;
            if (!byteAt(text, p + kByteCountAt, byteCount) || !wordAt(text, p + kAddressAt, address)) {
                state.readPosition = static_cast<std::int32_t>(p);
                return false;
            }
            if (p + kDataAt + 2 * static_cast<std::int64_t>(byteCount) > length) {
                break;
            }
            p += kDataAt;
            for (std::size_t i = 0; i < byteCount; ++i) {
                if (!byteAt(text, p, record.data[i])) {
                    state.readPosition = static_cast<std::int32_t>(p);
                    return false;
                }
                p += 2;
            }
            record.length = byteCount;
            record.address = address;
            state.readPosition = static_cast<std::int32_t>(p);   // rests on the checksum
            return true;
        }
        ++p;
    }
    state.readPosition = static_cast<std::int32_t>(length);
    return false;
}

void clearFirmwareImage()
{
    firmwareImage.fill(kErasedByte);
}

bool loadFirmwareImage(std::span<const std::uint8_t> text)
{
    clearFirmwareImage();

    HexRecordState state;
    // Texts beyond 2 GiB are not firmware; reading stops at the state's 32-bit length.
    state.textLength = static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
    HexRecord record;

    while (nextHexRecord(text, state, record)) {
        const std::int64_t start = static_cast<std::int64_t>(state.segment) * kSegmentUnitBytes + record.address;
        const std::int64_t imageSize = static_cast<std::int64_t>(firmwareImage.size());
        if (record.length == 0 || start < 0 || start >= imageSize) {
            continue;
        }
        // Bytes that would fall beyond the image are dropped; the rest is placed.
        const std::int64_t count = std::min<std::int64_t>(record.length, imageSize - start);
        std::copy_n(record.data.begin(), count, firmwareImage.begin() + start);
    }
    return true;
}
