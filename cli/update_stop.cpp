// The command-line updater's effects of the stop decision: the warning for a person, and the
// halt of all traffic with the unit.
#include "cli/update_stop.h"

#include "link/serial.h"

#include <cstdio>

void watchInterrupts(UpdateStop& stop, int lang)
{
    switch (stop.decide(interruptCounts(), UpdateStop::Clock::now())) {
    case UpdateStop::Action::None:
        break;
    case UpdateStop::Action::Warn:
        std::fprintf(stderr, "\n%s\n", stopWarningText(lang));
        std::fflush(stderr);
        break;
    case UpdateStop::Action::Stop:
        portStopTransfers();
        break;
    }
}
