// The command-line updater's side of a stop during an update (update/stop_decision.h): the
// warning printed for a person, and the halt of all traffic with the unit.
#pragma once

#include "update/stop_decision.h"

// Reads the counts, prints the warning on the error stream, and on a stop halts all port
// traffic. Called by the main thread on every turn while it follows the update.
void watchInterrupts(UpdateStop& stop, int lang);
