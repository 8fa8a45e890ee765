// SPDX-License-Identifier: MIT
// The sample data set delivered in sample/: every file loads, the first entry names the
// converter the simulated testbed presents, and the firmware fills the image as intended.
#include "files/data_file.h"
#include "files/device_list.h"
#include "files/firmware_image.h"
#include "files/texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>

namespace {

std::string samplePath(const std::string& name)
{
    return std::string(VF_SAMPLE_DIR) + "/" + name;
}

bool blockIsErased(std::size_t block)
{
    const auto begin = firmwareImage.begin() + static_cast<std::ptrdiff_t>(block * kBlockSizeBytes);
    return std::all_of(begin, begin + kBlockSizeBytes, [](std::uint8_t b) { return b == 0xFF; });
}

}  // namespace

TEST(SampleData, DeviceList)
{
    DeviceList list;
    ASSERT_TRUE(loadDeviceList(list, samplePath("devicelist.ovk")));
    ASSERT_EQ(list.entryCount(), 3);
    const DeviceListEntry& first = list.entry(0);
    EXPECT_EQ(first.converterSerial, "FTVF2Q7K");
    EXPECT_EQ(first.modelName, "VX-58 Pro");
    std::set<std::string> serials;
    for (int i = 0; i < list.entryCount(); ++i) {
        EXPECT_EQ(list.entry(i).converterSerial.size(), 8u);
        serials.insert(list.entry(i).converterSerial);
        const auto firmware = loadDataFile(samplePath(list.entry(i).firmwareFile));
        ASSERT_TRUE(firmware) << list.entry(i).firmwareFile;
        // Each firmware passes the updater's check for the unit it is made for.
        EXPECT_FALSE(checkFirmwareText(*firmware, i == 0 ? 512 : i == 1 ? 128 : 256).problem.found())
            << list.entry(i).firmwareFile;
    }
    EXPECT_EQ(serials.size(), 3u);
    int index = -1;
    EXPECT_TRUE(list.findBySerial("FTVF8H3N", index));
    EXPECT_EQ(index, 1);
}

TEST(SampleData, FirstFirmwareFillsItsRangesWithDistinctBlocks)
{
    DeviceList list;
    ASSERT_TRUE(loadDeviceList(list, samplePath("devicelist.ovk")));
    const auto text = loadDataFile(samplePath(list.entry(0).firmwareFile));
    ASSERT_TRUE(text);
    ASSERT_FALSE(loadFirmwareImage(*text).problem.found());

    // Data up to 0x1A3FF, gaps at 0x0C000-0x0C7FF and 0x17400-0x177FF.
    std::set<std::string> contents;
    for (std::size_t block = 0; block < kImageBlockCount; ++block) {
        const std::size_t address = block * kBlockSizeBytes;
        const bool gap = (address >= 0x0C000 && address < 0x0C800) || (address >= 0x17400 && address < 0x17800) ||
                         address >= 0x1A400;
        EXPECT_EQ(blockIsErased(block), gap) << std::hex << address;
        if (!gap) {
            contents.insert(std::string(firmwareImage.begin() + static_cast<std::ptrdiff_t>(address),
                                        firmwareImage.begin() + static_cast<std::ptrdiff_t>(address + kBlockSizeBytes)));
        }
    }
    EXPECT_EQ(contents.size(), (0x1A400 - 0x800 - 0x400) / kBlockSizeBytes);
}

TEST(SampleData, Texts)
{
    for (const char* name : {"HelpGB.ovk", "HelpD.ovk", "SecurityGB.ovk", "SecurityD.ovk"}) {
        const auto raw = loadDataFile(samplePath(name));
        ASSERT_TRUE(raw) << name;
        ASSERT_FALSE(raw->empty());
        EXPECT_EQ(raw->back(), '\n') << name;
        EXPECT_EQ(std::count(raw->begin(), raw->end(), '\r'), 0) << name;
        EXPECT_EQ(std::count(raw->begin(), raw->end(), '\0'), 0) << name;
        const auto shown = loadDisplayText(samplePath(name));
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->size(), raw->size() - 1);
    }
    // The German texts are Windows-1252: their umlauts are single bytes.
    const auto german = loadDisplayText(samplePath("SecurityD.ovk"));
    ASSERT_TRUE(german);
    EXPECT_NE(german->find("Ger\xE4t"), std::string::npos);
    EXPECT_NE(cp1252ToUtf8(*german).find("Blitzgerät"), std::string::npos);
    const auto help = loadDisplayText(samplePath("HelpD.ovk"));
    ASSERT_TRUE(help);
    EXPECT_NE(cp1252ToUtf8(*help).find("Größere"), std::string::npos);

    // The safety texts fit the safety window's text area line by line.
    for (const char* name : {"SecurityGB.ovk", "SecurityD.ovk"}) {
        std::istringstream lines(*loadDisplayText(samplePath(name)));
        std::string line;
        int count = 0;
        while (std::getline(lines, line)) {
            ++count;
            EXPECT_LE(line.size(), 80u) << name << ": " << line;
        }
        EXPECT_GE(count, 10);
        EXPECT_LE(count, 15);
    }
}
