// SPDX-License-Identifier: MIT
// Reading Intel HEX firmware text into the firmware image.
#include "files/firmware_image.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string hexByte(unsigned value)
{
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", value & 0xFFu);
    return digits;
}

// One record with a correct checksum.
std::string record(unsigned type, unsigned address, const std::vector<std::uint8_t>& data)
{
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    std::string text(1, ':');
    text += hexByte(static_cast<unsigned>(data.size())) + hexByte(address >> 8) + hexByte(address) + hexByte(type);
    for (const std::uint8_t byte : data) {
        text += hexByte(byte);
        sum += byte;
    }
    return text + hexByte(0x100 - (sum & 0xFF));
}

std::string dataRecord(unsigned address, const std::vector<std::uint8_t>& data)
{
    return record(0x00, address, data);
}

std::string segmentRecord(unsigned segment)
{
    return record(0x02, 0, {static_cast<std::uint8_t>(segment >> 8), static_cast<std::uint8_t>(segment)});
}

const std::string kEndOfFile = ":00000001FF";

std::vector<std::uint8_t> counting(std::size_t count, std::uint8_t first)
{
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

void load(const std::string& text)
{
    EXPECT_TRUE(loadFirmwareImage(bytesOf(text)));
}

// Number of image bytes that are not 0xFF.
std::size_t writtenBytes()
{
    return static_cast<std::size_t>(
        std::count_if(firmwareImage.begin(), firmwareImage.end(), [](std::uint8_t b) { return b != 0xFF; }));
}

}  // namespace

TEST(ParseHexPair, UpperCaseDigitsOnly)
{
    std::uint8_t value = 0;
    EXPECT_TRUE(parseHexPair('A', '7', value));
    EXPECT_EQ(value, 0xA7);
    EXPECT_TRUE(parseHexPair('0', 'F', value));
    EXPECT_EQ(value, 0x0F);
    value = 0x55;
    for (const char bad : {'a', 'f', 'G', 'g', ' ', ':', '/', '@', '\0'}) {
        EXPECT_FALSE(parseHexPair(bad, '0', value)) << bad;
        EXPECT_FALSE(parseHexPair('0', bad, value)) << bad;
    }
    EXPECT_EQ(value, 0x55);
}

TEST(LoadFirmwareImage, FirstSegmentRecordsAtTheirAddresses)
{
    load(dataRecord(0x0000, {0x01, 0x02, 0x03}) + "\r\n" + dataRecord(0xFFFE, {0xAA, 0xBB}) + "\r\n" + kEndOfFile);
    EXPECT_EQ(firmwareImage[0], 0x01);
    EXPECT_EQ(firmwareImage[2], 0x03);
    EXPECT_EQ(firmwareImage[0xFFFE], 0xAA);
    EXPECT_EQ(firmwareImage[0xFFFF], 0xBB);
    EXPECT_EQ(writtenBytes(), 5u);
}

TEST(LoadFirmwareImage, SegmentTimesSixteenPlusAddress)
{
    load(segmentRecord(0x1000) + "\n" + dataRecord(0x0010, {0x5A, 0xA5}) + "\n" + segmentRecord(0x0001) + "\n" +
         dataRecord(0x0002, {0x77}) + "\n" + kEndOfFile + "\n");
    EXPECT_EQ(firmwareImage[0x10010], 0x5A);
    EXPECT_EQ(firmwareImage[0x10011], 0xA5);
    EXPECT_EQ(firmwareImage[0x12], 0x77);   // 0x0001 * 16 + 2
    EXPECT_EQ(writtenBytes(), 3u);
}

TEST(LoadFirmwareImage, EachLoadStartsFromACleanImage)
{
    load(dataRecord(0x0100, {0x11, 0x22}));
    load(dataRecord(0x0200, {0x33}));
    EXPECT_EQ(firmwareImage[0x0100], 0xFF);
    EXPECT_EQ(firmwareImage[0x0200], 0x33);
    load("");
    EXPECT_EQ(writtenBytes(), 0u);
    firmwareImage[7] = 0;
    load("no records here\r\n:00000001FF\r\n");
    EXPECT_EQ(writtenBytes(), 0u);
}

TEST(LoadFirmwareImage, RecordsAfterEndOfFileStillCount)
{
    load(dataRecord(0, {0x10}) + "\n" + kEndOfFile + "\n" + dataRecord(0x40, {0x20}) + "\n");
    EXPECT_EQ(firmwareImage[0x00], 0x10);
    EXPECT_EQ(firmwareImage[0x40], 0x20);
}

TEST(LoadFirmwareImage, OtherRecordTypesAndChecksumsAreIgnored)
{
    // Type 04 (extended linear address) is not acted on; a wrong checksum is never read.
    load(record(0x04, 0, {0x00, 0x01}) + "\n" + ":0200300012349F\n" + record(0x03, 0, {1, 2, 3, 4}) + "\n");
    EXPECT_EQ(firmwareImage[0x30], 0x12);
    EXPECT_EQ(firmwareImage[0x31], 0x34);
    EXPECT_EQ(writtenBytes(), 2u);
}

TEST(LoadFirmwareImage, LowerCaseEndsTheLoadKeepingEarlierRecords)
{
    std::string lowerData = dataRecord(0x0010, {0xAB, 0xCD});
    std::transform(lowerData.begin(), lowerData.end(), lowerData.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
    load(dataRecord(0, {0x01}) + "\n" + lowerData + "\n" + dataRecord(0x20, {0x02}) + "\n");
    EXPECT_EQ(firmwareImage[0], 0x01);
    EXPECT_EQ(firmwareImage[0x10], 0xFF);
    EXPECT_EQ(firmwareImage[0x20], 0xFF);

    // A lower-case segment value ends the load as well.
    load(dataRecord(0, {0x01}) + "\n:020000021a00E4\n" + dataRecord(0x20, {0x02}) + "\n");
    EXPECT_EQ(firmwareImage[0x20], 0xFF);
    EXPECT_EQ(writtenBytes(), 1u);
}

TEST(LoadFirmwareImage, ByteCountZeroChangesNothing)
{
    load(dataRecord(0x0000, {}) + "\n" + dataRecord(0x0001, {0x42}) + "\n");
    EXPECT_EQ(firmwareImage[0], 0xFF);
    EXPECT_EQ(firmwareImage[1], 0x42);
    EXPECT_EQ(writtenBytes(), 1u);
}

TEST(LoadFirmwareImage, SeparatorsDoNotMatter)
{
    const std::vector<std::string> records = {segmentRecord(0x1000), dataRecord(0x0000, counting(32, 0x10)),
                                              segmentRecord(0x0000), dataRecord(0x0100, counting(16, 0x80)),
                                              kEndOfFile};
    std::vector<FirmwareImage> images;
    for (const char* separator : {"\r\n", "\n", ""}) {
        std::string text;
        for (const auto& r : records) {
            text += r + separator;
        }
        load(text);
        images.push_back(firmwareImage);
    }
    EXPECT_EQ(images[0][0x10000], 0x10);
    EXPECT_EQ(images[0][0x0100], 0x80);
    EXPECT_EQ(images[0], images[1]);
    EXPECT_EQ(images[0], images[2]);
}

TEST(LoadFirmwareImage, FullLengthRecordOf255Bytes)
{
    const auto data = counting(255, 0);
    load(dataRecord(0x0100, data) + "\n");
    EXPECT_TRUE(std::equal(data.begin(), data.end(), firmwareImage.begin() + 0x100));
    EXPECT_EQ(firmwareImage[0x100 + 255], 0xFF);
    EXPECT_EQ(writtenBytes(), 255u);
}

TEST(LoadFirmwareImage, BytesBeyondTheImageAreDroppedAndTheLoadGoesOn)
{
    // 0x2000 * 16 + 0x0010 = 0x20010: the image ends at 0x2001B, so 12 of 16 bytes fit.
    load(segmentRecord(0x2000) + "\n" + dataRecord(0x0010, counting(16, 0x40)) + "\n" + segmentRecord(0xFFFF) +
         "\n" + dataRecord(0xFFF0, counting(16, 0x60)) + "\n" + segmentRecord(0) + "\n" +
         dataRecord(0x0000, {0x99}) + "\n");
    EXPECT_EQ(firmwareImage[0x20010], 0x40);
    EXPECT_EQ(firmwareImage[kFirmwareImageSize - 1], 0x4B);
    EXPECT_EQ(firmwareImage[0], 0x99);   // the load went on after the dropped bytes
    EXPECT_EQ(writtenBytes(), 13u);
}

TEST(NextHexRecord, NeverReadsPastTheText)
{
    const std::string whole = dataRecord(0x0000, counting(4, 1)) + "\n" + dataRecord(0x0010, counting(8, 0x20));
    // Every prefix that cuts the second record before its last data digit gives one record.
    const std::size_t secondStart = whole.find(':', 1);
    for (std::size_t cut = secondStart; cut < whole.size() - 2; ++cut) {
        // A heap copy of exactly cut bytes, so that AddressSanitizer sees any read beyond it.
        std::vector<std::uint8_t> text(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
        HexRecordState state;
        state.textLength = static_cast<std::int32_t>(text.size());
        HexRecord record;
        ASSERT_TRUE(nextHexRecord(text, state, record)) << cut;
        EXPECT_EQ(record.length, 4);
        EXPECT_FALSE(nextHexRecord(text, state, record)) << "cut at " << cut;
        EXPECT_EQ(state.readPosition, state.textLength);
    }
    // With its data complete but no checksum the record still counts.
    std::vector<std::uint8_t> text(whole.begin(), whole.end() - 2);
    HexRecordState state;
    state.textLength = static_cast<std::int32_t>(text.size());
    HexRecord record;
    ASSERT_TRUE(nextHexRecord(text, state, record));
    ASSERT_TRUE(nextHexRecord(text, state, record));
    EXPECT_EQ(record.length, 8);
    EXPECT_EQ(record.address, 0x0010);
    EXPECT_EQ(record.data[7], 0x27);
}

TEST(NextHexRecord, TruncatedSegmentRecordAtTheEnd)
{
    const std::string whole = dataRecord(0, {1}) + "\n:0200000210";
    std::vector<std::uint8_t> text(whole.begin(), whole.end());
    HexRecordState state;
    state.textLength = static_cast<std::int32_t>(text.size());
    HexRecord record;
    ASSERT_TRUE(nextHexRecord(text, state, record));
    EXPECT_FALSE(nextHexRecord(text, state, record));
    EXPECT_EQ(state.segment, 0);
}

TEST(LoadFirmwareImage, ReadsAStoredFirmwareFile)
{
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string path = dir.writeEncoded("fw.hex", segmentRecord(0x1000) + "\r\n" +
                                                            dataRecord(0x0000, counting(32, 0xC0)) + "\r\n" + kEndOfFile + "\r\n");
    const auto text = loadDataFile(path);
    ASSERT_TRUE(text);
    load(std::string(text->begin(), text->end()));
    EXPECT_EQ(firmwareImage[0x10000], 0xC0);
    EXPECT_EQ(firmwareImage[0x1001F], 0xDF);
    EXPECT_EQ(writtenBytes(), 32u);
}
