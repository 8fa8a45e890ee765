// SPDX-License-Identifier: MIT
// The child processes of "varnoflex-cli --all": each runs the same program for one converter
// in a process group of its own (so that the terminal's Ctrl-C and hang-up reach only the
// parent, which decides for all), its standard streams on the null device, and its events
// on a pipe of its own (--event-fd). child_process_posix.cpp and child_process_win32.cpp are
// the platform files; the build picks one.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct ChildProcess {
    long id = -1;                     // the process id while it runs
    std::intptr_t events = -1;        // the read end of its event pipe; -1 once it has ended
    std::string pending;              // event bytes that came and are not taken yet
    bool exited = false;
    std::optional<int> exitStatus;    // the exit status, or 128 + signal number; nothing when
                                      // it ended unseen (the status is unknown)
    bool ended() const { return exited && events < 0; }
};

// Lets a terminal on standard output take the cursor movements that redraw the progress
// lines in place (a Windows console has to be told; elsewhere nothing to do).
void enableCursorMovements();

// The path to start this same program again (argv0 when nothing better is known), UTF-8.
std::string ownProgramPath(const char* argv0);

// Before the first child: a SIGCHLD that the caller ignored (which survives exec) would make
// the system reap the children unseen; it gets its default action back (POSIX).
void prepareForChildren();

// Starts program with arguments (UTF-8, not including the program) and the options that
// give it its event pipe (and on Windows its stop event). False when it cannot be started.
bool startChild(const std::string& program, const std::vector<std::string>& arguments, ChildProcess& child);

// Waits up to timeoutMs for events or an exit of any child; appends the events that came to
// each child's pending bytes, notes exits. Returns at once when nothing is left to wait for.
void serviceChildren(std::span<ChildProcess* const> children, int timeoutMs);

// Asks a running child to stop between frames as on SIGTERM (POSIX: SIGTERM to its process
// group; Windows: its stop event, which it counts as Ctrl-Break).
void stopChild(const ChildProcess& child);
