// What the command-line updater does with Ctrl-C, SIGTERM and SIGHUP while an update runs.
// Ending an update halfway leaves the unit without working firmware, so the first Ctrl-C
// only warns; a second one within kSecondInterruptWindow stops. SIGTERM stops at once.
// SIGHUP (the terminal went away) changes nothing: the update finishes. Stopping is done
// between frames: the port takes no further traffic, the worker ends the update through its
// usual failure path and closes the port, and the program exits with kExitInterrupted or
// kExitTerminated.
#pragma once

#include "cli/interrupts.h"

#include <chrono>

inline constexpr std::chrono::seconds kSecondInterruptWindow{5};

class UpdateStop {
public:
    using Clock = std::chrono::steady_clock;
    enum class Action { None, Warn, Stop };

    // Takes the counts seen so far; what the new ones since the last call ask for.
    Action decide(const InterruptCounts& counts, Clock::time_point now);

    // false while stopping cannot cost the unit anything (a check, which writes nothing):
    // Ctrl-C then stops at once, without the warning. true until told otherwise.
    void setMemoryAtStake(bool atStake) { memoryAtStake_ = atStake; }

    bool stopped() const { return exitStatus_ != 0; }
    // kExitInterrupted or kExitTerminated once stopped; 0 before.
    int exitStatus() const { return exitStatus_; }

private:
    InterruptCounts seen_;
    bool warned_ = false;
    Clock::time_point warnedAt_{};
    int exitStatus_ = 0;
    bool memoryAtStake_ = true;
};

// Reads the counts, prints the warning on the error stream, and on a stop halts all port
// traffic. Called by the main thread on every turn while it follows the update.
void watchInterrupts(UpdateStop& stop, int lang);
