// The decision between warning and stopping on Ctrl-C and SIGTERM during an update, and its
// effects: the warning for a person, and the halt of all traffic with the unit.
#include "cli/update_stop.h"

#include "cli/cli_texts.h"
#include "link/serial.h"

#include <cstdio>

UpdateStop::Action UpdateStop::decide(const InterruptCounts& counts, Clock::time_point now)
{
    Action action = Action::None;
    if (!stopped()) {
        if (counts.terminations > seen_.terminations) {
            exitStatus_ = kExitTerminated;
            action = Action::Stop;
        }
        // Two Ctrl-C between two calls count as the warning and the confirmation.
        for (int n = seen_.interrupts; n < counts.interrupts && !stopped(); ++n) {
            if (!memoryAtStake_ || (warned_ && now - warnedAt_ <= kSecondInterruptWindow)) {
                exitStatus_ = kExitInterrupted;
                action = Action::Stop;
            } else {
                warned_ = true;
                warnedAt_ = now;
                action = Action::Warn;
            }
        }
    }
    seen_ = counts;
    return action;
}

void watchInterrupts(UpdateStop& stop, int lang)
{
    switch (stop.decide(interruptCounts(), UpdateStop::Clock::now())) {
    case UpdateStop::Action::None:
        break;
    case UpdateStop::Action::Warn: {
        const std::string_view warning = cliTexts(lang).stopWarning;
        std::fprintf(stderr, "\n%.*s\n", static_cast<int>(warning.size()), warning.data());
        std::fflush(stderr);
        break;
    }
    case UpdateStop::Action::Stop:
        portStopTransfers();
        break;
    }
}
