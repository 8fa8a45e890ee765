// SPDX-License-Identifier: MIT
// Ctrl-C, SIGTERM and SIGHUP while the window program updates a unit, as in the command-line
// updater: ending an update halfway leaves the unit without working firmware, so during an
// update the first Ctrl-C only warns (on the terminal the program was started from), a second
// one within 5 seconds stops, SIGTERM stops at once, and a hang-up changes nothing. A stop
// halts all traffic with the unit; the worker ends the update between frames and closes the
// port, and the program then ends with 130 or 143. Outside an update the signals end the
// program at once, as they always did.
#include "app/app.h"

#include "update/interrupts.h"
#include "update/shared_state.h"
#include "update/stop_decision.h"

#include <FL/Fl.H>

#include <cstdio>

namespace {

constexpr double kWatchPeriodS = 0.1;

UpdateStop updateStop;
bool guarding = false;

}  // namespace

void guardUpdate()
{
    setUpdateGuarded(true);
    guarding = true;
}

void watchUpdateSignals(void*)
{
    if (watchInterrupts(updateStop) == UpdateStop::Action::Warn) {
        std::fprintf(stderr, "\n%s\n", stopWarningText(language));
        std::fflush(stderr);
    }
    // The worker sets busy before it clears startRequested: when both are 0 after a request,
    // the update has ended and the worker has closed the port.
    if (guarding && startRequested.load() == 0 && busy.load() == 0) {
        if (updateStop.stopped()) {
            std::fprintf(stderr, "%s\n", stoppedText(language));
            std::fflush(stderr);
            endProgram(updateStop.exitStatus());
        }
        guarding = false;
        setUpdateGuarded(false);
    }
    Fl::repeat_timeout(kWatchPeriodS, watchUpdateSignals);
}
