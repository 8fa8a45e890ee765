// SPDX-License-Identifier: MIT
// The decision between warning and stopping on Ctrl-C and SIGTERM during an update, and its
// texts.
#include "update/stop_decision.h"

#include "link/serial.h"
#include "update/result_codes.h"

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

UpdateStop::Action watchInterrupts(UpdateStop& stop)
{
    const UpdateStop::Action action = stop.decide(interruptCounts(), UpdateStop::Clock::now());
    if (action == UpdateStop::Action::Stop) portStopTransfers();
    return action;
}

const char* stopWarningText(int lang)
{
    return lang == kLanguageGerman
               ? "Ein Abbruch jetzt lässt das Gerät bis zur nächsten Aktualisierung ohne funktionierende "
                 "Firmware. Zum Abbrechen innerhalb von 5 Sekunden erneut Strg-C drücken."
               : "Stopping now leaves the unit without working firmware until the next update. Press "
                 "Ctrl-C again within 5 seconds to stop.";
}

const char* stoppedText(int lang)
{
    return lang == kLanguageGerman
               ? "Aktualisierung abgebrochen: das Gerät hat bis zur nächsten Aktualisierung keine "
                 "funktionierende Firmware"
               : "update stopped: the unit has no working firmware until the next update";
}
