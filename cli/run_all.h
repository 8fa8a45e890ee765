// SPDX-License-Identifier: MIT
// varnoflex-cli --all: every unit behind a listed converter that is connected, updated at the
// same time by one child process per converter (the same program with --serial), each
// followed through the events it sends, with one progress line per unit, a summary table,
// and one report for all.
#pragma once

#include "cli/cli_options.h"

class ReportTarget;

// The safety instructions have been accepted; report (nullptr: none) has been prepared.
// Returns the exit status: 0 when every unit finished; otherwise the status of the first unit
// in converter order that did not (75 for converters sharing a serial); 130 or 143 when
// stopped; 4, 6 or 7 when there is nothing to start; 73 when a trace or the report cannot
// be written.
int runAllUnits(const CliOptions& options, int lang, ReportTarget* report, const char* argv0);
