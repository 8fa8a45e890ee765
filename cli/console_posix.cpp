// SPDX-License-Identifier: MIT
// The command-line updater's dealings with its own process on POSIX systems: arguments and
// system texts are taken as they are, there is no console code page.
#include "cli/console.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

std::vector<std::string> commandLineArguments(int argc, char** argv)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
    return arguments;
}

void setUpConsole() {}

void restoreConsole() {}

std::string systemTextToUtf8(std::string_view text)
{
    return std::string(text);
}

std::filesystem::path pathFromUtf8(const std::string& utf8)
{
    return std::filesystem::path(utf8);
}

std::string pathToUtf8(const std::filesystem::path& path)
{
    return path.string();
}

std::optional<std::string> pathForDataFiles(const std::filesystem::path& path)
{
    return path.string();
}

bool isTerminal(std::FILE* stream)
{
    return ::isatty(::fileno(stream)) != 0;
}

namespace {

int savedStandardOutput = -1;   // the real standard output under "--json -"

}  // namespace

bool keepStandardOutputForReport()
{
    std::fflush(stdout);
    savedStandardOutput = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (savedStandardOutput < 0) return false;
    return ::dup2(STDERR_FILENO, STDOUT_FILENO) >= 0;
}

bool writeReportToStandardOutput(const std::string& text, std::string& error)
{
    const int fd = savedStandardOutput >= 0 ? savedStandardOutput : STDOUT_FILENO;
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? std::strerror(errno) : "nothing written";
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}
