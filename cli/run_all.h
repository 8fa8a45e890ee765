// SPDX-License-Identifier: MIT
// varnoflex-cli --all: every unit behind a listed converter, updated at the same time by one
// child process per converter (the same program with --serial), with one progress line per
// unit, a summary table, and one report for all.
#pragma once

#include "cli/cli_options.h"

#include <string>

// The safety instructions have been accepted. Returns the exit status: 0 when every unit
// finished; otherwise the status of the first unit in converter order that did not; 130
// when interrupted; 4, 6 or 7 when there is nothing to start.
int runAllUnits(const CliOptions& options, int lang, const std::string& dataDir, const char* argv0);
