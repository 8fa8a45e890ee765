// SPDX-License-Identifier: MIT
// Reading Intel HEX firmware text into the firmware image, and the whole-file check that
// refuses a damaged, cut-short or foreign file before any of it reaches a unit.
#include "files/firmware_image.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Kind = FirmwareProblemKind;

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

// Loads text, which must pass the check.
void load(const std::string& text, int rangeBlocks = kImageBlockCount)
{
    const FirmwareCheck check = loadFirmwareImage(bytesOf(text), rangeBlocks);
    EXPECT_FALSE(check.problem.found()) << firmwareProblemName(check.problem.kind) << " in line "
                                        << check.problem.line;
}

// The first problem of text, as the update's load and the tools' check both find it.
FirmwareProblem problemOf(const std::string& text, int rangeBlocks = kImageBlockCount)
{
    const FirmwareProblem checked = checkFirmwareText(bytesOf(text), rangeBlocks).problem;
    const FirmwareProblem loaded = loadFirmwareImage(bytesOf(text), rangeBlocks).problem;
    EXPECT_EQ(checked.kind, loaded.kind);
    EXPECT_EQ(checked.line, loaded.line);
    return loaded;
}

void expectProblem(const FirmwareProblem& problem, Kind kind, int record, int line, std::int64_t address = -1)
{
    EXPECT_EQ(firmwareProblemName(problem.kind), firmwareProblemName(kind));
    EXPECT_EQ(problem.record, record);
    EXPECT_EQ(problem.line, line);
    EXPECT_EQ(problem.address, address);
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

// ---- what a usable file puts where ----

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

// A segment base below 64 KiB with offsets that reach past it, and a record whose offsets
// cross 0xFFFF: the address is segment x 16 + offset + i, never wrapped.
TEST(LoadFirmwareImage, SegmentsAndRecordsAcross64KiB)
{
    load(segmentRecord(0x0FF0) + "\n" + dataRecord(0x00F8, counting(16, 0x30)) + "\n" + segmentRecord(0) + "\n" +
         dataRecord(0xFFF8, counting(16, 0x50)) + "\n" + kEndOfFile + "\n");
    EXPECT_EQ(firmwareImage[0xFFF8], 0x50);            // the second record overwrote the first here
    EXPECT_EQ(firmwareImage[0x10000], 0x58);
    EXPECT_EQ(firmwareImage[0x10007], 0x5F);
    EXPECT_EQ(writtenBytes(), 16u);
    load(segmentRecord(0x0FF0) + "\n" + dataRecord(0x00F8, counting(16, 0x30)) + "\n" + kEndOfFile + "\n");
    EXPECT_EQ(firmwareImage[0xFFF8], 0x30);
    EXPECT_EQ(firmwareImage[0x10007], 0x3F);
}

TEST(LoadFirmwareImage, EachLoadStartsFromACleanImage)
{
    load(dataRecord(0x0100, {0x11, 0x22}) + kEndOfFile);
    load(dataRecord(0x0200, {0x33}) + kEndOfFile);
    EXPECT_EQ(firmwareImage[0x0100], 0xFF);
    EXPECT_EQ(firmwareImage[0x0200], 0x33);
    // A refused file leaves no trace of the file before it either.
    EXPECT_TRUE(loadFirmwareImage(bytesOf(""), kImageBlockCount).problem.found());
    EXPECT_EQ(writtenBytes(), 0u);
}

// What stored files may rely on keeps working: data records after an end-of-file record
// (files put one after another), several end-of-file records, an extended linear address of
// 0 that many tools write first, start address records, 0xFF padding beyond the unit.
TEST(LoadFirmwareImage, WhatStoredFilesMayRelyOn)
{
    load(dataRecord(0, {0x10}) + "\n" + kEndOfFile + "\n" + dataRecord(0x40, {0x20}) + "\n");
    EXPECT_EQ(firmwareImage[0x00], 0x10);
    EXPECT_EQ(firmwareImage[0x40], 0x20);

    load(":020000040000FA\r\n" + record(0x03, 0, {0x00, 0x00, 0x01, 0x00}) + "\r\n" + dataRecord(0x30, {0x12, 0x34}) +
         "\r\n" + record(0x05, 0, {0x00, 0x00, 0x01, 0x00}) + "\r\n" + kEndOfFile + "\r\n" + kEndOfFile + "\r\n");
    EXPECT_EQ(firmwareImage[0x30], 0x12);
    EXPECT_EQ(firmwareImage[0x31], 0x34);
    EXPECT_EQ(writtenBytes(), 2u);

    // A 64 KiB unit and a file padded with 0xFF up to 128 KiB and into the image's tail.
    load(dataRecord(0xFFFF, {0x99, 0xFF}) + "\n" + segmentRecord(0x1000) + "\n" +
         dataRecord(0x0000, std::vector<std::uint8_t>(32, 0xFF)) + "\n" + segmentRecord(0x2000) + "\n" +
         dataRecord(0x0000, std::vector<std::uint8_t>(40, 0xFF)) + "\n" + kEndOfFile + "\n", 256);
    EXPECT_EQ(firmwareImage[0xFFFF], 0x99);
    EXPECT_EQ(writtenBytes(), 1u);
}

TEST(LoadFirmwareImage, ByteCountZeroChangesNothing)
{
    load(dataRecord(0x0000, {}) + "\n" + dataRecord(0x0001, {0x42}) + "\n" + kEndOfFile);
    EXPECT_EQ(firmwareImage[0], 0xFF);
    EXPECT_EQ(firmwareImage[1], 0x42);
    EXPECT_EQ(writtenBytes(), 1u);
}

// Line ends of any kind, blanks, no separator at all, a byte order mark at the start and
// Ctrl-Z marks at the end all load the same.
TEST(LoadFirmwareImage, SeparatorsDoNotMatter)
{
    const std::vector<std::string> records = {segmentRecord(0x1000), dataRecord(0x0000, counting(32, 0x10)),
                                              segmentRecord(0x0000), dataRecord(0x0100, counting(16, 0x80)),
                                              kEndOfFile};
    std::vector<FirmwareImage> images;
    for (const char* separator : {"\r\n", "\n", "", "\r", " \t\r\n\r\n"}) {
        std::string text;
        for (const auto& r : records) {
            text += r + separator;
        }
        load(text);
        images.push_back(firmwareImage);
    }
    std::string marked = "\xEF\xBB\xBF";
    for (const auto& r : records) {
        marked += r + "\r\n";
    }
    load(marked + "\x1A\x1A");
    images.push_back(firmwareImage);
    EXPECT_EQ(images[0][0x10000], 0x10);
    EXPECT_EQ(images[0][0x0100], 0x80);
    for (const FirmwareImage& image : images) {
        EXPECT_EQ(image, images[0]);
    }
}

TEST(LoadFirmwareImage, FullLengthRecordOf255Bytes)
{
    const auto data = counting(255, 0);
    load(dataRecord(0x0100, data) + "\n" + kEndOfFile);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), firmwareImage.begin() + 0x100));
    EXPECT_EQ(firmwareImage[0x100 + 255], 0xFF);
    EXPECT_EQ(writtenBytes(), 255u);
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

// ---- what makes a file unusable, and where ----

// Damaged records: a lower-case digit, a flipped bit under an unchanged checksum, a record
// whose line ends early, an unknown type, a segment record without its two bytes.
TEST(FirmwareCheck, DamagedRecordsAreNamedByRecordLineAndAddress)
{
    const std::string first = dataRecord(0x0000, counting(16, 0x01)) + "\r\n";
    std::string lower = dataRecord(0x0010, {0xAB, 0xCD});
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
    expectProblem(problemOf(first + lower + "\r\n" + kEndOfFile), Kind::InvalidCharacter, 2, 2);
    // A lower-case digit in a segment value is as bad.
    expectProblem(problemOf(first + ":020000021a00E4\r\n" + kEndOfFile), Kind::InvalidCharacter, 2, 2);

    std::string flipped = segmentRecord(0x1000) + "\n" + dataRecord(0x0020, counting(8, 0x40));
    flipped[flipped.size() - 3] ^= 0x01;   // '7' -> '6' in the last data byte, checksum kept
    expectProblem(problemOf(first + flipped + "\n" + kEndOfFile), Kind::ChecksumMismatch, 3, 3, 0x10020);

    const std::string whole = dataRecord(0x0040, counting(8, 0x60));
    expectProblem(problemOf(first + whole.substr(0, 12) + "\r\n" + whole + "\r\n" + kEndOfFile),
                  Kind::RecordCutShort, 2, 2);
    expectProblem(problemOf(first + whole.substr(0, 12) + whole + "\r\n" + kEndOfFile), Kind::RecordCutShort, 2, 2);

    expectProblem(problemOf(first + record(0x06, 0, {1, 2}) + "\r\n" + kEndOfFile), Kind::UnknownRecordType, 2, 2);
    expectProblem(problemOf(first + record(0x02, 0, {0x10, 0x00, 0x00}) + "\r\n" + kEndOfFile), Kind::RecordLength, 2,
                  2);
}

// A file cut in the middle of a record, and one cut at a record's end: the end-of-file
// record is missing.
TEST(FirmwareCheck, CutShortFiles)
{
    const std::string text = dataRecord(0x0000, counting(32, 0)) + "\r\n" + dataRecord(0x0020, counting(32, 0x20)) +
                             "\r\n" + kEndOfFile + "\r\n";
    const std::size_t secondStart = text.find(':', 1);
    const std::size_t endStart = text.rfind(':');
    for (std::size_t cut = secondStart + 1; cut < endStart; ++cut) {
        // A heap copy of exactly cut bytes, so that AddressSanitizer sees any read beyond it.
        const std::vector<std::uint8_t> prefix(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(cut));
        const FirmwareProblem problem = checkFirmwareText(prefix).problem;
        if (cut < endStart - 2) {
            expectProblem(problem, Kind::RecordCutShort, 2, 2);
        } else {
            expectProblem(problem, Kind::NoEndOfFileRecord, 0, 2);   // only the line end is missing
        }
    }
    for (std::size_t cut = endStart + 1; cut < endStart + kEndOfFile.size(); ++cut) {
        expectProblem(problemOf(text.substr(0, cut)), Kind::RecordCutShort, 3, 3);
    }
}

TEST(FirmwareCheck, FilesWithoutData)
{
    expectProblem(problemOf(""), Kind::NoDataRecord, 0, 0);
    expectProblem(problemOf("\r\n \r\n"), Kind::NoDataRecord, 0, 0);
    expectProblem(problemOf(kEndOfFile + "\r\n"), Kind::NoDataRecord, 0, 0);
    expectProblem(problemOf(dataRecord(0, {}) + "\r\n" + kEndOfFile), Kind::NoDataRecord, 0, 0);
    // Garbage, and a record whose colon was damaged: text outside the records.
    expectProblem(problemOf("PK\x03\x04 this is no firmware\n"), Kind::TextOutsideRecord, 0, 1);
    std::string lostColon = dataRecord(0, {1}) + "\n" + dataRecord(1, {2}) + "\n" + kEndOfFile;
    lostColon[lostColon.find(':', 1)] = ';';
    expectProblem(problemOf(lostColon), Kind::TextOutsideRecord, 0, 2);
}

// An extended linear address other than 0 would put the data where this updater cannot.
TEST(FirmwareCheck, LinearAddressOtherThanZero)
{
    expectProblem(problemOf(":020000040001F9\n" + dataRecord(0, {1}) + "\n" + kEndOfFile), Kind::LinearAddress, 1, 1,
                  0x10000);
}

// Data other than 0xFF beyond the unit's range (or the image's 512 blocks, which takes in
// the 28 bytes past block 511) never reaches the unit.
TEST(FirmwareCheck, DataBeyondTheRange)
{
    const std::string low = dataRecord(0x0000, counting(16, 1)) + "\n";
    // A 128 KiB file and a 64 KiB unit: the first byte beyond it is named.
    std::vector<std::uint8_t> padded(16, 0xFF);
    padded[5] = 0x00;
    const std::string big = low + segmentRecord(0x1000) + "\n" + dataRecord(0x0000, padded) + "\n" + kEndOfFile;
    expectProblem(problemOf(big, 256), Kind::DataBeyondRange, 3, 3, 0x10005);
    EXPECT_FALSE(problemOf(big, kImageBlockCount).found());
    // A record that reaches across the end of the range.
    expectProblem(problemOf(dataRecord(0x00F8, counting(16, 0)) + "\n" + kEndOfFile, 1), Kind::DataBeyondRange, 1, 1,
                  0x100);
    // The image's tail beyond block 511, and beyond the image.
    expectProblem(problemOf(low + segmentRecord(0x2000) + "\n" + dataRecord(0x0010, {0x40}) + "\n" + kEndOfFile),
                  Kind::DataBeyondRange, 3, 3, 0x20010);
    expectProblem(problemOf(low + segmentRecord(0xFFFF) + "\n" + dataRecord(0xFFF0, {0x40}) + "\n" + kEndOfFile),
                  Kind::DataBeyondRange, 3, 3, 0x10FFE0);
    // No range at all: every byte other than 0xFF lies beyond it.
    expectProblem(problemOf(low + kEndOfFile, 0), Kind::DataBeyondRange, 1, 1, 0);
}

TEST(FirmwareCheck, TheFirstProblemInTheTextIsNamed)
{
    std::string text = dataRecord(0, {1}) + "\n" + dataRecord(1, {2}) + "\n" + "junk\n" + dataRecord(2, {3});
    text[text.find(':', 1) + 9] = 'x';   // record 2, then junk in line 3, then no end-of-file record
    expectProblem(problemOf(text), Kind::InvalidCharacter, 2, 2);
}

TEST(FirmwareCheck, CountsDataRecordsAndTheHighestAddress)
{
    const std::string text = segmentRecord(0x1000) + "\n" + dataRecord(0x0010, counting(4, 0)) + "\n" +
                             dataRecord(0x0000, {}) + "\n" + segmentRecord(0) + "\n" + dataRecord(0, {1}) + "\n" + kEndOfFile;
    const FirmwareCheck check = checkFirmwareText(bytesOf(text));
    EXPECT_FALSE(check.problem.found());
    EXPECT_EQ(check.dataRecords, 2);
    EXPECT_EQ(check.highestAddress, 0x10013);
}

TEST(NextHexRecord, DeliversEveryRecordWithItsNumberAndLine)
{
    const std::string text = "\r\n" + segmentRecord(0x1234) + "\r\n\r\n" + dataRecord(0xBEEF, {7, 8}) + kEndOfFile;
    HexRecordState state;
    HexRecord record;
    FirmwareProblem problem;
    ASSERT_EQ(nextHexRecord(bytesOf(text), state, record, problem), HexStep::Record);
    EXPECT_EQ(record.type, HEX_EXTENDED_SEGMENT_ADDRESS);
    EXPECT_EQ((std::vector<int>{record.number, record.line, record.length, record.data[0], record.data[1]}),
              (std::vector<int>{1, 2, 2, 0x12, 0x34}));
    ASSERT_EQ(nextHexRecord(bytesOf(text), state, record, problem), HexStep::Record);
    EXPECT_EQ((std::vector<int>{record.type, record.number, record.line, record.address}),
              (std::vector<int>{HEX_DATA, 2, 4, 0xBEEF}));
    ASSERT_EQ(nextHexRecord(bytesOf(text), state, record, problem), HexStep::Record);
    EXPECT_EQ((std::vector<int>{record.type, record.number, record.line}), (std::vector<int>{HEX_END_OF_FILE, 3, 4}));
    EXPECT_EQ(nextHexRecord(bytesOf(text), state, record, problem), HexStep::EndOfText);
    EXPECT_EQ(state.readPosition, text.size());
    EXPECT_FALSE(problem.found());
}
