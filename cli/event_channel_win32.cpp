// SPDX-License-Identifier: MIT
// The event channel's handle on Windows (the write end of an anonymous pipe).
#include "cli/event_channel.h"

#include <windows.h>

bool takeInheritedHandle(std::uint64_t number, std::intptr_t& handle, std::string& error)
{
    const HANDLE given = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(number));
    DWORD flags = 0;
    if (number == 0 || number > 0xFFFFFFFFu || !GetHandleInformation(given, &flags) ||
        given == GetStdHandle(STD_INPUT_HANDLE) || given == GetStdHandle(STD_OUTPUT_HANDLE) ||
        given == GetStdHandle(STD_ERROR_HANDLE)) {
        error = "names no handle of this process other than the standard streams";
        return false;
    }
    // Nothing this program starts needs it.
    SetHandleInformation(given, HANDLE_FLAG_INHERIT, 0);
    handle = static_cast<std::intptr_t>(number);
    return true;
}

std::size_t writeToHandle(std::intptr_t handle, const char* data, std::size_t size)
{
    DWORD written = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(handle), data, static_cast<DWORD>(size), &written, nullptr)) return 0;
    return written;   // 0 after a failure: the reader has gone
}
