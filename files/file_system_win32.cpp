// SPDX-License-Identifier: MIT
// The data files' file system on Windows: paths kept as bytes in the ANSI code page from
// _getcwd to fopen, a regular file checked on the open file, device list file names as
// they are.
#include "files/file_system.h"

#include <windows.h>

#include <direct.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

bool dataFolderPath(const std::optional<std::string>& requested, std::string& folder)
{
    // The C runtime's narrow functions take and give the path in the ANSI code page, like
    // fopen; a std::filesystem::path would carry it through the C locale and name another
    // folder once its name holds a character outside ASCII.
    char* absolute = requested ? _fullpath(nullptr, requested->c_str(), 0) : _getcwd(nullptr, 0);
    if (absolute == nullptr) {
        folder = requested.value_or(std::string());
        return false;
    }
    folder = absolute;
    std::free(absolute);
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<DataBuffer> readRegularFile(const std::string& path)
{
    // fopen reads the path's bytes in the ANSI code page, which is how _getcwd wrote the
    // working directory; any other reading of them (a std::filesystem::path made in the C
    // locale takes each byte for the character of the same value) names another file as
    // soon as the folder holds a character outside ASCII.
    FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return std::nullopt;
    }
    // A device name (NUL, COM1, a pipe) opens too: only a regular file is a data file.
    struct _stat64 status {};
    if (_fstat64(_fileno(file.get()), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG ||
        status.st_size < 0) {
        return std::nullopt;
    }
    if (static_cast<std::uint64_t>(status.st_size) > std::numeric_limits<std::size_t>::max()) {
        return std::nullopt;
    }

    DataBuffer buffer;
    try {
        buffer.resize(static_cast<std::size_t>(status.st_size));
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
    if (!buffer.empty() && std::fread(buffer.data(), 1, buffer.size(), file.get()) != buffer.size()) {
        return std::nullopt;
    }
    return buffer;
}

// The device lists are written in Windows-1252, which is the ANSI code page of the Western
// systems they are made for, so the name's bytes already are the file's name there.
std::string localFileName(std::string_view listFileName)
{
    return std::string(listFileName);
}
