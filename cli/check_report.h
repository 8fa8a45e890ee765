// SPDX-License-Identifier: MIT
// What the command-line updater says about a check (update/check.h): the verdict as one line
// for a person, and as data for the event channel and the JSON report.
#pragma once

#include "cli/unit_events.h"
#include "update/check.h"

#include <optional>
#include <string>

// "holds firmware 2.14 (VX58PRO_V214.hex)", "differs from firmware 2.14 (VX58PRO_V214.hex):
// checksum 0x1A2B in the unit, 0x3C4D of the file", "check failed: no answer to block 12 of
// the verify pass", in lang (UTF-8; the device list's fields with their control bytes shown
// as marks). skipCurrent adds what --skip-current does next ("; current, left alone").
std::string checkVerdictText(const CheckResult& result, int lang, bool skipCurrent);

// The same with the version and file already shown as UTF-8 (as the events carry them).
std::string checkVerdictTextShown(const CheckResult& result, const std::string& shownVersion,
                                  const std::string& shownFile, int lang, bool skipCurrent);

// "holds", "differs", "failed": the report's words.
const char* checkVerdictName(CheckVerdict verdict);

// The report's "check" member: null when no check compared; else the verdict, where a
// failed check stopped, the unit's block count, both checksums, the blocks verified, the
// block the unit refused or left unanswered (see the man page). The check event carries the
// same members.
Json checkReport(const std::optional<CheckResult>& result);

// The check's figures back from the members checkReport gives (as an event or a report
// brought them); nothing when they are not a check's (a member missing, of the wrong kind,
// or out of range). The firmware version and file are left empty.
std::optional<CheckResult> checkResultFrom(const Json& members);
std::optional<CheckResult> checkResultFrom(const EventJson& members);
