// SPDX-License-Identifier: MIT
// Report and trace files on Windows: a new file beside the target made with CreateFileW
// (wide, so that a path outside the ANSI code page works; not inheritable, so no child
// process holds it), FlushFileBuffers and MoveFileExW at the end.
#include "cli/report_file.h"

#include "cli/console.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <string>

namespace {

constexpr int kTemporaryNameAttempts = 100;

std::string errorText(DWORD error)
{
    wchar_t text[256] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        text, sizeof text / sizeof text[0], nullptr);
    std::wstring wide(text, length);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ' || wide.back() == L'.'))
        wide.pop_back();
    if (wide.empty()) return "Windows error " + std::to_string(error);
    return pathToUtf8(std::filesystem::path(wide));
}

std::FILE* streamOf(HANDLE handle)
{
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "wb");
    if (stream == nullptr) _close(fd);
    return stream;
}

}  // namespace

bool ReportFile::create(const std::string& path, std::string& error)
{
    discard();
    path_ = path;
    target_ = path;
    writeError_ = 0;
    const std::wstring target = pathFromUtf8(path).wstring();
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = errorText(ERROR_DIRECTORY);
        return false;
    }
    // A device (NUL, CON, a pipe): written as it is, nothing to rename.
    const HANDLE existing = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
        if (GetFileType(existing) != FILE_TYPE_DISK) {
            stream_ = streamOf(existing);
            if (stream_ == nullptr) {
                error = "cannot write to it";
                return false;
            }
            temporaryPath_.clear();
            return true;
        }
        CloseHandle(existing);
    }
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        const std::wstring temporary = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                       std::to_wstring(attempt) + L".tmp";
        const HANDLE handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD failure = GetLastError();
            if (failure == ERROR_FILE_EXISTS || failure == ERROR_ALREADY_EXISTS) continue;
            error = errorText(failure);
            return false;
        }
        stream_ = streamOf(handle);
        if (stream_ == nullptr) {
            DeleteFileW(temporary.c_str());
            error = "cannot write to it";
            return false;
        }
        temporaryPath_ = pathToUtf8(std::filesystem::path(temporary));
        return true;
    }
    error = errorText(ERROR_FILE_EXISTS);
    return false;
}

bool ReportFile::commit(std::string& error)
{
    if (stream_ == nullptr) {
        error = "not open";
        return false;
    }
    DWORD failure = ERROR_SUCCESS;
    if (writeError_ != 0 || std::fflush(stream_) != 0 || std::ferror(stream_) != 0) failure = ERROR_WRITE_FAULT;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream_)));
    if (failure == ERROR_SUCCESS && !temporaryPath_.empty() && !FlushFileBuffers(handle)) failure = GetLastError();
    if (std::fclose(stream_) != 0 && failure == ERROR_SUCCESS) failure = ERROR_WRITE_FAULT;
    stream_ = nullptr;
    if (failure == ERROR_SUCCESS && !temporaryPath_.empty() &&
        !MoveFileExW(pathFromUtf8(temporaryPath_).wstring().c_str(), pathFromUtf8(target_).wstring().c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        failure = GetLastError();
    }
    if (failure != ERROR_SUCCESS) {
        error = errorText(failure);
        discard();
        return false;
    }
    temporaryPath_.clear();
    return true;
}

void ReportFile::discard()
{
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
    if (!temporaryPath_.empty()) DeleteFileW(pathFromUtf8(temporaryPath_).wstring().c_str());
    temporaryPath_.clear();
}
