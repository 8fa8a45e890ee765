// SPDX-License-Identifier: MIT
// The data file paths formed from the working directory.
#include "files/data_paths.h"

#include <gtest/gtest.h>

namespace {
const std::string sep(1, kPathSeparator);
}

TEST(DataPaths, FormedFromTheDirectory)
{
    const std::string dir = sep + "opt" + sep + "vf";
    ASSERT_TRUE(initDataPaths(dir));
    EXPECT_EQ(dataPaths.workDir, dir + sep);
    EXPECT_EQ(dataPaths.deviceListPath, dir + sep + "devicelist.ovk");
    EXPECT_EQ(dataPaths.helpPathDe, dir + sep + "HelpD.ovk");
    EXPECT_EQ(dataPaths.helpPathEn, dir + sep + "HelpGB.ovk");
    EXPECT_EQ(dataPaths.safetyPathDe, dir + sep + "SecurityD.ovk");
    EXPECT_EQ(dataPaths.safetyPathEn, dir + sep + "SecurityGB.ovk");
    std::string path;
    ASSERT_TRUE(formDataPath("VX58.hex", path));
    EXPECT_EQ(path, dir + sep + "VX58.hex");

    // A root directory keeps a single separator.
    ASSERT_TRUE(initDataPaths(sep));
    EXPECT_EQ(dataPaths.deviceListPath, sep + "devicelist.ovk");
}

TEST(DataPaths, LongestDirectoryThatFits)
{
    // "SecurityGB.ovk" is the longest name: 14 characters, so the directory may have 240
    // characters plus its separator for a path of 255.
    const std::string fits = sep + std::string(239, 'd');
    ASSERT_TRUE(initDataPaths(fits));
    EXPECT_EQ(dataPaths.safetyPathEn.size(), 255u);

    const std::string tooLong = sep + std::string(240, 'd');
    EXPECT_FALSE(initDataPaths(tooLong));
    EXPECT_TRUE(dataPaths.workDir.empty());
    EXPECT_TRUE(dataPaths.deviceListPath.empty());
    EXPECT_TRUE(dataPaths.safetyPathEn.empty());
}

TEST(DataPaths, FirmwarePathTooLongIsRefused)
{
    ASSERT_TRUE(initDataPaths(sep + "data"));
    std::string path = "stale";
    const std::size_t room = 255 - dataPaths.workDir.size();
    EXPECT_TRUE(formDataPath(std::string(room, 'f'), path));
    EXPECT_EQ(path.size(), 255u);
    EXPECT_FALSE(formDataPath(std::string(room + 1, 'f'), path));
    EXPECT_TRUE(path.empty());
}
