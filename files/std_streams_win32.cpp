// SPDX-License-Identifier: MIT
// Standard streams on Windows: C runtime descriptors 0, 1 and 2 filled with NUL when the
// process was started without standard handles (a scheduled task, a service, a closed
// console handle), so that no file opened later takes their numbers and printing goes
// nowhere instead of into that file.
#include "files/std_streams.h"

#include <fcntl.h>
#include <io.h>

#include <cstdint>

namespace {

constexpr const char* kNullDevice = "NUL";
constexpr int kStandardStreamCount = 3;

bool isOpen(int fd)
{
    // -1: no handle; -2: the runtime's mark for a stream without a console or handle.
    const intptr_t handle = _get_osfhandle(fd);
    return handle != -1 && handle != -2;
}

}  // namespace

bool ensureStandardStreamsOpen()
{
    bool allOpen = true;
    for (int fd = 0; fd < kStandardStreamCount; ++fd) {
        if (isOpen(fd)) continue;
        const int opened = _open(kNullDevice, (fd == 0 ? _O_RDONLY : _O_WRONLY) | _O_BINARY);
        if (opened < 0) {
            allOpen = false;
            continue;
        }
        if (opened != fd) {
            allOpen = _dup2(opened, fd) == 0 && allOpen;
            _close(opened);
        }
    }
    return allOpen;
}

void ignoreBrokenPipes()
{
}
