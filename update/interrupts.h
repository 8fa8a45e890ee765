// SPDX-License-Identifier: MIT
// Ctrl-C, SIGTERM and SIGHUP (on Windows: the console's Ctrl-C, Ctrl-Break and close events)
// around an update, for the command-line and the windowed program. Outside an update they
// end the program at once, as they always do. While an update is guarded they are only
// counted, and the program's main thread decides what to do (update/stop_decision.h): an
// update ended halfway leaves the unit without working firmware.
// interrupts_posix.cpp and interrupts_win32.cpp are the two platform forms.
#pragma once

#include <cstdint>

struct InterruptCounts {
    int interrupts = 0;     // Ctrl-C (SIGINT, CTRL_C_EVENT)
    int terminations = 0;   // SIGTERM; Ctrl-Break, console close, log-off, shutdown; a stop request
    int hangUps = 0;        // SIGHUP: the terminal went away
    int closes = 0;         // of the terminations: console close, log-off, shutdown (Windows),
                            // after which the system ends the process within seconds
};

// Installs the handlers once, at start-up. Also makes a reader that goes away (SIGPIPE)
// cost no more than the failed write.
void installInterruptHandlers();

// true: count instead of ending; false: back to ending at once. On Windows a console close
// waits (within the few seconds the system gives) until the guard is lifted, so that the
// port is closed and the report written before the process ends.
void setUpdateGuarded(bool guarded);

// Everything counted since the handlers were installed.
InterruptCounts interruptCounts();

// Windows: an inherited event that, once set, counts as one termination (the --all parent's
// stop request to a child; a console control event needs a console the two share, which a
// process started without one lacks). False when the number names no event. Elsewhere the
// parent sends SIGTERM and this returns false.
bool watchStopEvent(std::uint64_t handleNumber);
