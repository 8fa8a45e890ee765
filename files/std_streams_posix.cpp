// SPDX-License-Identifier: MIT
// Standard streams on POSIX systems: descriptors 0, 1 and 2 filled with /dev/null when closed.
#include "files/std_streams.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* kNullDevice = "/dev/null";
constexpr int kStandardStreamCount = 3;   // stdin, stdout, stderr

bool isOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

}  // namespace

bool ensureStandardStreamsOpen()
{
    bool allOpen = true;
    for (int fd = 0; fd < kStandardStreamCount; ++fd) {
        if (isOpen(fd)) continue;
        // Not O_CLOEXEC: the stream stays filled for anything the program starts.
        const int opened = ::open(kNullDevice, fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened < 0) {
            allOpen = false;
            continue;
        }
        // The lowest free number is fd itself, as the streams below it are open already;
        // move it there should anything have come between.
        if (opened != fd) {
            const bool moved = ::dup2(opened, fd) == fd;
            ::close(opened);
            allOpen = allOpen && moved;
        }
    }
    return allOpen;
}

void ignoreBrokenPipes()
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}
