// SPDX-License-Identifier: MIT
// The child processes of "varnoflex-cli --all": each runs the same program for one converter,
// its standard input the null device, its standard output and error into one pipe that the
// parent reads. child_process_posix.cpp and child_process_win32.cpp are the platform files;
// the build picks one.
#pragma once

#include <span>
#include <string>
#include <vector>

struct ChildProcess {
    long id = -1;                // the process id while it runs
    int outputFd = -1;           // the read end of its output pipe; -1 once it has ended
    std::string output;          // what came and has not been taken yet
    bool exited = false;
    int exitStatus = -1;         // the exit status, or 128 + signal number
};

// Lets a terminal on standard output take the cursor movements that redraw the progress
// lines in place (a Windows console has to be told; elsewhere nothing to do).
void enableCursorMovements();

// The path to start this same program again (argv0 when nothing better is known).
std::string ownProgramPath(const char* argv0);

// Starts program with arguments (not including the program). False when it cannot be
// started on this platform or at this moment.
bool startChild(const std::string& program, const std::vector<std::string>& arguments, ChildProcess& child);

// Waits up to timeoutMs for output or an exit of any child; appends output to each child's
// output, notes exits. Returns at once when nothing is left to wait for.
void serviceChildren(std::span<ChildProcess* const> children, int timeoutMs);

// Asks a running child to stop (POSIX: SIGTERM; Windows: the process is terminated).
void stopChild(const ChildProcess& child);

// Ctrl-C (POSIX: SIGINT and SIGTERM; Windows: the console's Ctrl-C, Ctrl-Break and close)
// sets a flag instead of ending the program, from here on; on POSIX a hang-up is ignored.
void catchInterrupt();
bool interruptRequested();
