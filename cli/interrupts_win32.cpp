// SPDX-License-Identifier: MIT
// Console control events around an update on Windows: counted while an update is guarded,
// the default action (the process ends) otherwise. A console close, log-off or shutdown
// cannot be refused; the handler holds the process for the few seconds Windows allows,
// until the main thread has stopped the update and closed the port.
#include "cli/interrupts.h"

#include <windows.h>

#include <atomic>

namespace {

constexpr DWORD kCloseWaitStepMs = 50;
constexpr DWORD kCloseWaitLimitMs = 4500;   // Windows ends the process after 5 s

std::atomic<bool> guarded{false};
std::atomic<int> interruptCount{0};
std::atomic<int> terminationCount{0};

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
    return InterruptCounts{interruptCount.load(), terminationCount.load(), 0};
}
