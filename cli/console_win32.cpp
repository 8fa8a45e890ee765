// SPDX-License-Identifier: MIT
// The command-line updater's dealings with its own process on Windows: the arguments from
// the wide command line as UTF-8, the console's output code page set to UTF-8 and put back at
// the end, and system texts from the ANSI code page to UTF-8. The program keeps the ANSI code
// page as its own: the data file loader opens narrow paths.
#include "cli/console.h"

#include <windows.h>
#include <shellapi.h>
#include <io.h>

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<UINT> savedOutputCodePage{0};

std::string wideToUtf8(std::wstring_view wide)
{
    if (wide.empty()) return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length, nullptr,
                            nullptr);
    }
    return text;
}

std::wstring utf8ToWide(std::string_view utf8)
{
    if (utf8.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

void restoreAtExit()
{
    restoreConsole();
}

// Called after the update's own handler declined an event (it is not guarding an update):
// the process is about to end without running its exit functions.
BOOL WINAPI restoreBeforeTheEnd(DWORD)
{
    restoreConsole();
    return FALSE;
}

}  // namespace

std::vector<std::string> commandLineArguments(int argc, char** argv)
{
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
        return arguments;
    }
    for (int i = 1; i < count; ++i) arguments.push_back(wideToUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

void setUpConsole()
{
    const UINT current = GetConsoleOutputCP();
    if (current == 0) return;   // no console
    savedOutputCodePage.store(current);
    std::atexit(restoreAtExit);
    SetConsoleCtrlHandler(restoreBeforeTheEnd, TRUE);
    SetConsoleOutputCP(CP_UTF8);
}

void restoreConsole()
{
    const UINT saved = savedOutputCodePage.exchange(0);
    if (saved != 0) SetConsoleOutputCP(saved);
}

std::string systemTextToUtf8(std::string_view text)
{
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wideToUtf8(wide);
}

std::filesystem::path pathFromUtf8(const std::string& utf8)
{
    return std::filesystem::path(utf8ToWide(utf8));
}

std::string pathToUtf8(const std::filesystem::path& path)
{
    return wideToUtf8(path.wstring());
}

std::optional<std::string> pathForDataFiles(const std::filesystem::path& path)
{
    const std::wstring wide = path.wstring();
    if (wide.empty()) return std::string();
    BOOL lossy = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, &lossy);
    if (length <= 0 || lossy) return std::nullopt;
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                        nullptr, nullptr);
    return text;
}

bool isTerminal(std::FILE* stream)
{
    return _isatty(_fileno(stream)) != 0;
}

namespace {

int savedStandardOutput = -1;   // the real standard output under "--json -"

}  // namespace

bool keepStandardOutputForReport()
{
    std::fflush(stdout);
    savedStandardOutput = _dup(_fileno(stdout));
    if (savedStandardOutput < 0) return false;
    // _dup makes an inheritable handle; no child process needs it.
    SetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(savedStandardOutput)), HANDLE_FLAG_INHERIT, 0);
    return _dup2(_fileno(stderr), _fileno(stdout)) == 0;
}

bool writeReportToStandardOutput(const std::string& text, std::string& error)
{
    const int fd = savedStandardOutput >= 0 ? savedStandardOutput : _fileno(stdout);
    std::size_t written = 0;
    while (written < text.size()) {
        const int n = _write(fd, text.data() + written, static_cast<unsigned>(text.size() - written));
        if (n <= 0) {
            error = "the standard output cannot be written";
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}
