// SPDX-License-Identifier: MIT
// The event channel's descriptor on POSIX systems.
#include "cli/event_channel.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

bool takeInheritedHandle(std::uint64_t number, std::intptr_t& handle, std::string& error)
{
    if (number <= STDERR_FILENO || number > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
        error = "not a descriptor other than the standard streams";
        return false;
    }
    const int descriptor = static_cast<int>(number);
    const int flags = ::fcntl(descriptor, F_GETFD);
    if (flags < 0) {
        error = std::strerror(errno);
        return false;
    }
    // Nothing this program starts needs it.
    ::fcntl(descriptor, F_SETFD, flags | FD_CLOEXEC);
    handle = descriptor;
    return true;
}

std::size_t writeToHandle(std::intptr_t handle, const char* data, std::size_t size)
{
    for (;;) {
        const ssize_t n = ::write(static_cast<int>(handle), data, size);
        if (n < 0 && errno == EINTR) continue;
        return n > 0 ? static_cast<std::size_t>(n) : 0;   // EPIPE: the reader has gone
    }
}
