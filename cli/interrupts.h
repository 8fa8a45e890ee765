// SPDX-License-Identifier: MIT
// Ctrl-C, SIGTERM and SIGHUP (on Windows: the console's Ctrl-C, Ctrl-Break and close events)
// around an update. Outside an update they end the program at once, as they always do.
// While an update is guarded they are only counted, and the main thread decides what to do
// (UpdateStop): an update ended halfway leaves the unit without working firmware.
// interrupts_posix.cpp and interrupts_win32.cpp are the two platform forms.
#pragma once

struct InterruptCounts {
    int interrupts = 0;     // Ctrl-C (SIGINT, CTRL_C_EVENT)
    int terminations = 0;   // SIGTERM; Ctrl-Break, console close, log-off, shutdown
    int hangUps = 0;        // SIGHUP: the terminal went away
};

// Installs the handlers once, at start-up. Also makes a reader that goes away (SIGPIPE)
// cost no more than the failed write.
void installInterruptHandlers();

// true: count instead of ending; false: back to ending at once. On Windows a console close
// waits (within the few seconds the system gives) until the guard is lifted, so that the
// port is closed before the process ends.
void setUpdateGuarded(bool guarded);

// Everything counted since the handlers were installed.
InterruptCounts interruptCounts();
