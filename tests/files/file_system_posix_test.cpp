// SPDX-License-Identifier: MIT
// The data files on POSIX systems: only regular files are read, the check is made on the
// open file and never waits, and the device list's Windows-1252 file names are found under
// their UTF-8 names.
#include "files/data_file.h"
#include "files/data_paths.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

using namespace std::string_literals;

TEST(LoadDataFilePosix, OnlyRegularFilesAndLinksToThem)
{
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string text = "#VX-58 Pro,Lumetra LX,FTVF2Q7K,2.14,VX58PRO_V214.hex\r\n";
    const std::string file = dir.writeEncoded("devicelist.ovk", text);
    std::filesystem::create_symlink(file, dir.file("link.ovk"));
    const auto viaLink = loadDataFile(dir.file("link.ovk"));
    ASSERT_TRUE(viaLink);
    EXPECT_EQ(std::string(viaLink->begin(), viaLink->end()), text);

    EXPECT_FALSE(loadDataFile("/dev/null"));
    EXPECT_FALSE(loadDataFile("/dev/zero"));   // endless: it must not be read at all
    std::filesystem::create_symlink("/dev/zero", dir.file("zero.ovk"));
    EXPECT_FALSE(loadDataFile(dir.file("zero.ovk")));
    EXPECT_FALSE(loadDataFile(dir.file("dangling.ovk")));
}

// A FIFO in a data file's place, with no writer: an ordinary open would wait for one for
// ever. It is refused at once, also when reached through a link.
TEST(LoadDataFilePosix, FifoIsRefusedWithoutWaiting)
{
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    ASSERT_EQ(::mkfifo(dir.file("SecurityGB.ovk").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir.file("SecurityGB.ovk"), dir.file("link.ovk"));
    EXPECT_FALSE(loadDataFile(dir.file("SecurityGB.ovk")));
    EXPECT_FALSE(loadDataFile(dir.file("link.ovk")));
}

TEST(LoadDataFilePosix, UnreadableFileAndZeroByteInThePath)
{
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string file = dir.writeEncoded("HelpGB.ovk", "help");
    EXPECT_FALSE(loadDataFile(file + "\0.bak"s));   // would open HelpGB.ovk if cut at the zero
    if (::geteuid() != 0) {   // root reads whatever the mode says
        ASSERT_EQ(::chmod(file.c_str(), 0), 0);
        EXPECT_FALSE(loadDataFile(file));
    }
}

TEST(FirmwarePathPosix, ListNameInWindows1252BecomesUtf8)
{
    ASSERT_TRUE(initDataPaths("/data"));
    std::string path;
    ASSERT_TRUE(formFirmwarePath("Blitzger\xE4t.hex", path));
    EXPECT_EQ(path, "/data/Blitzger\xC3\xA4t.hex");
    ASSERT_TRUE(formFirmwarePath("VX58PRO_V214.hex", path));
    EXPECT_EQ(path, "/data/VX58PRO_V214.hex");

    // The limit of 255 characters holds for the converted path: each "\xE4" takes two bytes.
    const std::size_t room = 255 - dataPaths.workDir.size();
    ASSERT_TRUE(formFirmwarePath(std::string(room / 2, '\xE4'), path));
    EXPECT_EQ(path.size(), dataPaths.workDir.size() + room / 2 * 2);
    EXPECT_FALSE(formFirmwarePath(std::string(room / 2 + 1, '\xE4'), path));
    EXPECT_TRUE(path.empty());
}
