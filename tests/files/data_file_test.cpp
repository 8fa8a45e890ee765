// SPDX-License-Identifier: MIT
// The whole-file loader and the storage encoding.
#include "files/data_file.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

using namespace std::string_literals;

TEST(SwapNibbles, ExchangesTheHalvesOfEveryByte)
{
    const std::uint8_t source[] = {0x3A, 0x23, 0x0A, 0xAB, 0x00, 0xFF, 0x12};
    std::uint8_t destination[7] = {};
    swapNibbles(source, destination);
    const std::uint8_t expected[] = {0xA3, 0x32, 0xA0, 0xBA, 0x00, 0xFF, 0x21};
    EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), destination));
}

TEST(SwapNibbles, TwiceGivesBackEveryByteValue)
{
    std::vector<std::uint8_t> all(256);
    std::iota(all.begin(), all.end(), 0);
    std::vector<std::uint8_t> once(256);
    std::vector<std::uint8_t> twice(256);
    swapNibbles(all, once);
    swapNibbles(once, twice);
    EXPECT_EQ(twice, all);
    EXPECT_NE(once, all);
}

TEST(SwapNibbles, LeavesBytesBeyondTheShorterSpanAlone)
{
    const std::uint8_t source[] = {0x12, 0x34};
    std::uint8_t destination[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    swapNibbles(source, destination);
    EXPECT_EQ(destination[1], 0x43);
    EXPECT_EQ(destination[2], 0xEE);
    EXPECT_EQ(destination[3], 0xEE);
}

TEST(LoadDataFile, DecodesAStoredFileExactlyAsLong)
{
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string text = ":10000000\r\n#a,b\n\0end"s;
    const auto loaded = loadDataFile(dir.writeEncoded("f.ovk", text));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(std::string(loaded->begin(), loaded->end()), text);
}

TEST(LoadDataFile, MissingEmptyAndDirectory)
{
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    EXPECT_FALSE(loadDataFile(dir.file("missing.ovk")));
    EXPECT_FALSE(loadDataFile(dir.path().string()));   // a directory is no data file
    const auto empty = loadDataFile(dir.writeRaw("empty.ovk", ""));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

TEST(SaveDataFile, WritesTheEncodingAndRoundTrips)
{
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string text = "Gerät\nfür Blitz\n";
    ASSERT_TRUE(saveDataFile(dir.file("t.ovk"), bytesOf(text)));
    const std::string stored = dir.readRaw("t.ovk");
    ASSERT_EQ(stored.size(), text.size());
    EXPECT_EQ(static_cast<std::uint8_t>(stored[0]), 0x74);   // 'G' 0x47
    EXPECT_EQ(static_cast<std::uint8_t>(stored.back()), 0xA0);   // LF 0x0A
    const auto loaded = loadDataFile(dir.file("t.ovk"));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(std::string(loaded->begin(), loaded->end()), text);

    // Replacing a longer file leaves nothing of it behind.
    ASSERT_TRUE(saveDataFile(dir.file("t.ovk"), bytesOf("ab")));
    EXPECT_EQ(dir.readRaw("t.ovk").size(), 2u);
    EXPECT_FALSE(saveDataFile(dir.file("no-such-dir/t.ovk"), bytesOf("ab")));
}
