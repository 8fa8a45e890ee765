// SPDX-License-Identifier: MIT
// Console control events around an update on Windows: counted while an update is guarded,
// the default action (the process ends) otherwise. A console close, log-off or shutdown
// cannot be refused; the handler holds the process for the few seconds Windows allows,
// until the main thread has stopped the update, closed the port and written its report.
// An inherited stop event (watchStopEvent) counts as Ctrl-Break once it is set.
#include "update/interrupts.h"

#include <windows.h>

#include <atomic>

namespace {

constexpr DWORD kCloseWaitStepMs = 50;
constexpr DWORD kCloseWaitLimitMs = 4500;   // Windows ends the process after 5 s

std::atomic<bool> guarded{false};
std::atomic<int> interruptCount{0};
std::atomic<int> terminationCount{0};
std::atomic<int> closeCount{0};
std::atomic<HANDLE> stopEvent{nullptr};
std::atomic<bool> stopEventSeen{false};

BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (!guarded.load()) return FALSE;   // the next handler, in the end ExitProcess
    switch (event) {
    case CTRL_C_EVENT:
        interruptCount.fetch_add(1);
        return TRUE;
    case CTRL_BREAK_EVENT:
        terminationCount.fetch_add(1);
        return TRUE;
    default:
        // Close, log-off, shutdown: the process ends when this returns.
        closeCount.fetch_add(1);
        terminationCount.fetch_add(1);
        for (DWORD waitedMs = 0; guarded.load() && waitedMs < kCloseWaitLimitMs; waitedMs += kCloseWaitStepMs)
            Sleep(kCloseWaitStepMs);
        return TRUE;
    }
}

}  // namespace

void installInterruptHandlers()
{
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void setUpdateGuarded(bool guard)
{
    guarded.store(guard);
}

InterruptCounts interruptCounts()
{
    const HANDLE event = stopEvent.load();
    if (event != nullptr && !stopEventSeen.load() && WaitForSingleObject(event, 0) == WAIT_OBJECT_0) {
        stopEventSeen.store(true);
        terminationCount.fetch_add(1);
    }
    return InterruptCounts{interruptCount.load(), terminationCount.load(), 0, closeCount.load()};
}

bool watchStopEvent(std::uint64_t handleNumber)
{
    const HANDLE event = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handleNumber));
    DWORD flags = 0;
    if (handleNumber == 0 || !GetHandleInformation(event, &flags)) return false;
    if (WaitForSingleObject(event, 0) == WAIT_FAILED) return false;   // not something to wait for
    SetHandleInformation(event, HANDLE_FLAG_INHERIT, 0);
    stopEvent.store(event);
    return true;
}
