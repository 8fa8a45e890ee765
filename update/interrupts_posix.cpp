// SPDX-License-Identifier: MIT
// Signals around an update on POSIX systems: counted by the handler while an update is
// guarded, the default action (the program ends) otherwise. SIGPIPE is ignored for good:
// a write to a pipe whose reader has gone then fails with EPIPE instead of ending the program.
#include "update/interrupts.h"
#include "files/std_streams.h"

#include <atomic>
#include <cerrno>
#include <csignal>

namespace {

std::atomic<bool> guarded{false};
std::atomic<int> interruptCount{0};
std::atomic<int> terminationCount{0};
std::atomic<int> hangUpCount{0};

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

void onSignal(int signalNumber)
{
    const int savedErrno = errno;   // the interrupted code may be about to read it
    if (!guarded.load()) {
        // Unguarded: end as without a handler, with the status the shell expects. The
        // signal stays blocked until the handler returns, and is then taken by default.
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
    } else if (signalNumber == SIGINT) {
        interruptCount.fetch_add(1);
    } else if (signalNumber == SIGTERM) {
        terminationCount.fetch_add(1);
    } else if (signalNumber == SIGHUP) {
        hangUpCount.fetch_add(1);
    }
    errno = savedErrno;
}

void handle(int signalNumber)
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

}  // namespace

void installInterruptHandlers()
{
    ignoreBrokenPipes();
    handle(SIGINT);
    handle(SIGTERM);
    handle(SIGHUP);
}

void setUpdateGuarded(bool guard)
{
    guarded.store(guard);
}

InterruptCounts interruptCounts()
{
    return InterruptCounts{interruptCount.load(), terminationCount.load(), hangUpCount.load(), 0};
}

bool watchStopEvent(std::uint64_t)
{
    return false;
}
