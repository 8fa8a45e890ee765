// SPDX-License-Identifier: MIT
// Two decisions of the Windows serial port, open to the Windows tests, which call them
// directly: whether a write went through, and the pause used where the system has no
// high-resolution waitable timer.
#pragma once

#include <windows.h>

#include <cstddef>

// A write went through only when WriteFile succeeded and wrote every byte: with the write
// time limit, WriteFile succeeds with fewer bytes written when the limit runs out.
bool wholeWriteDone(BOOL writeDone, DWORD writtenCount, std::size_t wantedCount);

// How the pause sleeps between its looks at the clock; Sleep, or a stand-in in the tests.
using SleepFunction = VOID(WINAPI*)(DWORD milliseconds);

// Blocks for milliseconds, measured by the performance counter: sleeps the whole
// milliseconds still to go and looks again, and gives up the processor (a sleep of 0) for
// the last fraction of one, so that it never ends before its deadline, however early a
// sleep returns (Sleep ends at a tick of the system timer, which may come before the time
// asked for).
void pauseByCounter(int milliseconds, SleepFunction sleep = &Sleep);
