// SPDX-License-Identifier: MIT
// The command-line updater's own words in English and German (UTF-8), its exit codes, and
// the choice of language. The messages of the result codes come from update/result_codes.h.
#pragma once

#include "update/stop_decision.h"   // kExitInterrupted 130, kExitTerminated 143

#include <string_view>

// Exit statuses of varnoflex-cli besides the final result code of the update (1 to 22).
inline constexpr int kExitSuccess = 0;           // the update ended with OK_UPDATE_FINISHED
inline constexpr int kExitUsage = 64;            // unknown option or bad argument
inline constexpr int kExitNotAccepted = 65;      // safety instructions declined or not asked
inline constexpr int kExitNoSafetyText = 66;     // data directory or safety text not readable
inline constexpr int kExitDiffers = 24;          // --check: the unit does not hold its firmware
inline constexpr int kExitCheckFailed = 25;      // the unit stopped answering during the check
inline constexpr int kExitInternal = 70;         // the worker thread could not be started
inline constexpr int kExitReportNotWritten = 73; // --json or --trace cannot be made or written
inline constexpr int kExitDuplicateSerial = 75;  // --all: converters sharing a serial, not updated

struct CliTexts {
    std::string_view acceptQuestion;   // the safety window's question
    std::string_view yesWord;
    std::string_view noWord;
    std::string_view notAccepted;
    std::string_view noTerminal;
    std::string_view safetyUnreadable;
    std::string_view dataDirUnusable;
    std::string_view writePass;
    std::string_view verifyPass;
    std::string_view checkPass;        // the progress of the check's verify pass
    std::string_view noResult;
    std::string_view listConverter;    // followed by the serial, then listAt and the port
    std::string_view listAt;
    std::string_view listNoPort;
    std::string_view listEntry;        // followed by the entry number
    std::string_view listFor;
    std::string_view listFirmware;
    std::string_view listNotInList;
    std::string_view listNotConnected;   // after the port of a converter that is not plugged in
    std::string_view listNone;
    std::string_view listNoDriver;
    std::string_view listNoDeviceList;
    std::string_view checkStopped;     // after a check (or --skip-current before its update) was stopped
    std::string_view portProblem;      // followed by the port's last error, after "no unit"
    std::string_view serialNotListed;     // followed by the serial
    std::string_view allWaiting;          // a unit whose child has not reported progress yet
    std::string_view allFinished;
    std::string_view allFailed;           // followed by the code and its name
    std::string_view allUnfinished;       // result cell of a unit stopped by Ctrl-C
    std::string_view allInterruptedWriting;     // after "SERIAL at PORT: "
    std::string_view allInterruptedNotWriting;
    std::string_view allCannotStart;      // a child process cannot be started
    std::string_view allNotConnected;     // result cell of a remembered converter not plugged in
    std::string_view allDuplicate;        // result cell of a converter whose serial another has
    std::string_view allDuplicateNote;    // followed by the serial
    std::string_view allStatusUnknown;    // result cell: the child ended unseen
    std::string_view allStopWarning;      // after the first Ctrl-C of --all
    std::string_view allNoneConnected;    // no listed converter is plugged in
    std::string_view memoryUnchanged;
    std::string_view memoryPartlyWritten;
    std::string_view memoryWrittenAndVerified;
    std::string_view headSerial;
    std::string_view headPort;
    std::string_view headModel;
    std::string_view headVersion;
    std::string_view headResult;
    std::string_view headMemory;
    // The check's verdict (see checkVerdictText): "holds firmware", "differs from firmware",
    // each followed by the version and (file); the rest follows after ": ". %1 and %2 stand
    // for the numbers given.
    std::string_view checkHolds;
    std::string_view checkDiffers;
    std::string_view checkChecksums;      // %1 the unit's checksum, %2 the file's
    std::string_view checkRefusedBlock;   // %1 the block, %2 the checksum both share
    std::string_view checkFailed;
    std::string_view checkNoChecksum;
    std::string_view checkNoVerify;
    std::string_view checkNoBlockAnswer;  // %1 the block
    std::string_view skipLeftAlone;       // after the verdict, --skip-current
    std::string_view skipUpdating;
    std::string_view skipNotUpdated;
};

// lang: kLanguageEnglish or kLanguageGerman.
const CliTexts& cliTexts(int lang);

// German when the first set one of LC_ALL, LC_MESSAGES, LANG starts with "de", else English.
int languageFromEnvironment();
