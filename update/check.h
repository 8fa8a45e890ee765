// SPDX-License-Identifier: MIT
// The check: does the connected unit already hold the firmware that its device list entry
// names? It asks the boot loader itself and writes nothing: the identification and the
// firmware load of the update, then the unit's checksum over its range against the image's
// check value, and only when they are equal the verify pass, in which the unit compares every
// block with its memory. No blank check, no erase, no program mode, no block of a write pass.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum class CheckVerdict : std::uint8_t {
    Holds,     // equal checksums and every block of the verify pass acknowledged
    Differs,   // the unit's checksum differs from the image's, or it refused a block
    Failed,    // the unit stopped answering before the comparison was complete
};

// Where a check that failed stopped.
enum class CheckFailure : std::uint8_t {
    None,
    ChecksumUnanswered,     // no whole answer to the checksum command
    VerifyNotAcknowledged,  // the verify command was refused or not answered
    BlockUnanswered,        // a block of the verify pass got no answer (silent, unplugged)
};

struct CheckResult {
    CheckVerdict verdict = CheckVerdict::Failed;
    CheckFailure failure = CheckFailure::None;
    std::string firmwareVersion;   // the entry's, Windows-1252
    std::string firmwareFile;
    int blockCount = 0;            // the unit's
    std::uint16_t imageChecksum = 0;                // the image's check value over blockCount blocks
    std::optional<std::uint16_t> deviceChecksum;    // none: the unit did not give it
    int blocksVerified = 0;        // acknowledged in the verify pass, from block 0 on
    int refusedBlock = -1;         // Differs in the verify pass: the block the unit refused
    int unansweredBlock = -1;      // BlockUnanswered: the block that got no answer

    bool operator==(const CheckResult&) const = default;
};

// The check, on the worker thread. When the unit could not be identified or its firmware
// file not used, the update's result code is stored (4, 6, 7, 8, 2, 3, a refused file told
// to the display as by the update) and nothing is returned. Otherwise the display is told
// checkStarted before the checksum command and checkEnded with the result, which is also
// returned; no result code is stored for the comparison itself. The port is closed at every
// end. The progress bar counts the blocks of the verify pass.
std::optional<CheckResult> runCheck();

// The update where it is needed: the check, and only when the unit differs the whole update
// (from a new identification, as every update begins). A unit that holds its firmware, a
// check that failed and a check that never compared are left as they are.
void runUpdateUnlessCurrent();

// What a start request makes the worker do. The window always updates; the command-line
// updater may ask for the check alone (--check) or the update where needed (--skip-current).
enum class StartAction : std::uint8_t { Update, Check, UpdateUnlessCurrent };

// Set before the worker starts.
void setStartAction(StartAction action);
StartAction startAction();
