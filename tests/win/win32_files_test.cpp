// SPDX-License-Identifier: MIT
// The data files on Windows, run under Wine (or on Windows): a file in a folder whose name
// holds a character outside ASCII is read by the path's bytes in the ANSI code page, as
// _getcwd gives them; devices and pipes are no data files; and the Linux build's reading of
// device list file names agrees with Windows' own table of code page 1252.
#include "files/data_file.h"
#include "files/texts.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A folder under the temporary folder, made and removed with the wide API, so that its name
// is exactly the characters given whatever the code page.
class WideFolder {
public:
    explicit WideFolder(const std::wstring& name) {
        wchar_t base[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, base);
        path_ = std::wstring(base) + name + L"-" + std::to_wstring(GetCurrentProcessId());
        created_ = CreateDirectoryW(path_.c_str(), nullptr) != FALSE;
    }
    ~WideFolder() {
        for (const std::wstring& file : files_) DeleteFileW(file.c_str());
        RemoveDirectoryW(path_.c_str());
    }
    WideFolder(const WideFolder&) = delete;
    WideFolder& operator=(const WideFolder&) = delete;

    bool created() const { return created_; }

    void write(const std::wstring& name, const std::string& bytes) {
        const std::wstring file = path_ + L"\\" + name;
        std::FILE* out = _wfopen(file.c_str(), L"wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
        std::fclose(out);
        files_.push_back(file);
    }

    // The folder's path as a program of the ANSI code page sees it; fails the test when the
    // code page has no byte for one of its characters.
    std::string ansiPath() const {
        BOOL usedDefault = FALSE;
        char path[MAX_PATH * 2] = {};
        const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path_.c_str(), -1, path,
                                               sizeof path, nullptr, &usedDefault);
        EXPECT_GT(length, 0);
        EXPECT_FALSE(usedDefault) << "code page " << GetACP() << " cannot name the test's folder";
        return path;
    }

private:
    std::wstring path_;
    std::vector<std::wstring> files_;
    bool created_ = false;
};

std::string encoded(const std::string& text) {
    std::string stored(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        stored[i] = static_cast<char>(static_cast<unsigned char>((byte << 4) | (byte >> 4)));
    }
    return stored;
}

// The en dash and the typographic apostrophe are 0x96 and 0x92 in code page 1252, characters
// U+2013 and U+2019, where a byte-for-byte reading of the path would take U+0096 and U+0092.
TEST(DataFileWin32, ReadFromAFolderNamedWithCharactersOfTheAnsiCodePage) {
    WideFolder folder(L"vf-upd\u2013blitz\u2019s");
    ASSERT_TRUE(folder.created());
    const std::string text = "Safety instructions\n";
    folder.write(L"SecurityGB.ovk", encoded(text));
    const std::string path = folder.ansiPath() + "\\SecurityGB.ovk";
    ASSERT_NE(path.find('\x96'), std::string::npos) << "code page " << GetACP();

    const auto loaded = loadDataFile(path);
    ASSERT_TRUE(loaded) << "code page " << GetACP();
    EXPECT_EQ(std::string(loaded->begin(), loaded->end()), text);
    EXPECT_FALSE(loadDataFile(folder.ansiPath()));   // the folder itself is no data file
}

TEST(DataFileWin32, DevicesAndPipesAreNoDataFiles) {
    EXPECT_FALSE(loadDataFile("NUL"));

    // A pipe whose server never writes: refused at once, without waiting for data.
    const std::string pipeName = "\\\\.\\pipe\\vf-data-file-test-" + std::to_string(GetCurrentProcessId());
    const HANDLE pipe = CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                         512, 512, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(loadDataFile(pipeName));
    CloseHandle(pipe);
}

TEST(Cp1252FileNames, ConvertAsWindowsReadsTheCodePage) {
    for (int value = 1; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        wchar_t wide[2] = {};
        ASSERT_EQ(MultiByteToWideChar(1252, 0, &byte, 1, wide, 2), 1) << value;
        char utf8[8] = {};
        const int length = WideCharToMultiByte(CP_UTF8, 0, wide, 1, utf8, sizeof utf8, nullptr, nullptr);
        ASSERT_GT(length, 0) << value;
        EXPECT_EQ(cp1252FileNameToUtf8(std::string(1, byte)), std::string(utf8, length)) << "byte " << value;
    }
}

}  // namespace
