// SPDX-License-Identifier: MIT
// What Ctrl-C, SIGTERM and SIGHUP (counted by update/interrupts.h) ask of a running update,
// for both programs. Ending an update halfway leaves the unit without working firmware, so
// the first Ctrl-C only warns; a second one within kSecondInterruptWindow stops. SIGTERM
// (and on Windows Ctrl-Break and the console's close) stops at once. SIGHUP (the terminal
// went away) changes nothing: the update finishes. A stop halts all traffic with the unit
// (portStopTransfers): the worker ends the update between frames through its usual failure
// path and closes the port, and the program exits with kExitInterrupted or kExitTerminated.
#pragma once

#include "update/interrupts.h"

#include <chrono>

inline constexpr std::chrono::seconds kSecondInterruptWindow{5};
inline constexpr int kExitInterrupted = 130;   // stopped by Ctrl-C (128 + SIGINT)
inline constexpr int kExitTerminated = 143;    // stopped by SIGTERM (128 + SIGTERM)

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

// Takes the counts now and what they ask for; on a stop halts all traffic with the unit.
// The front end tells a person on a warning. Called by the thread that follows the update.
UpdateStop::Action watchInterrupts(UpdateStop& stop);

// The warning after the first Ctrl-C, and the note after a stop, in lang (UTF-8).
const char* stopWarningText(int lang);
const char* stoppedText(int lang);
