// SPDX-License-Identifier: MIT
// The command-line updater's own words in English and German, and the language taken from
// the environment.
#include "cli/cli_texts.h"

#include "update/result_codes.h"

#include <cstdlib>
#include <string_view>

namespace {

const CliTexts kEnglish = {
    .acceptQuestion = "Accept ?",
    .yesWord = "yes",
    .noWord = "no",
    .notAccepted = "Safety instructions not accepted: no update.",
    .noTerminal = "the safety instructions must be accepted, but standard input is not a "
                  "terminal; give -y (--accept-safety) to accept them",
    .safetyUnreadable = "the safety instructions cannot be read from",
    .dataDirUnusable = "cannot use the data directory",
    .writePass = "Writing",
    .verifyPass = "Verifying",
    .checkPass = "Comparing",
    .noResult = "the update ended without a result",
    .listConverter = "Converter ",
    .listAt = " at ",
    .listNoPort = "(no port name registered)",
    .listEntry = "  device list entry ",
    .listFor = " for ",
    .listFirmware = ", firmware ",
    .listNotInList = "  not in the device list",
    .listNotConnected = " (not connected)",
    .listNone = "No FTDI converter 0403:6001 found.",
    .listNoDriver = "The FTDI converters cannot be listed (is the FTDI driver installed?).",
    .listNoDeviceList = "The device list cannot be read:",
    .checkStopped = "check stopped; nothing was written to the unit",
    .portProblem = "last error of the serial port:",
    .serialNotListed = "no device list entry names the converter",
    .allWaiting = "identifying",
    .allFinished = "finished",
    .allFailed = "failed:",
    .allUnfinished = "unfinished",
    .allInterruptedWriting = "update interrupted; the unit's memory is partly written. "
                             "Start download again !",
    .allInterruptedNotWriting = "update interrupted before writing; the unit's memory is unchanged.",
    .allCannotStart = "cannot start the update process for converter",
    .allNotConnected = "not connected",
    .allDuplicate = "not updated: serial not unique",
    .allDuplicateNote = "More than one converter carries the serial %s; they cannot be told apart, "
                        "so none of them is updated.",
    .allStatusUnknown = "ended, exit status unknown",
    .allStopWarning = "Stopping now leaves the units being written without working firmware until "
                      "the next update. Press Ctrl-C again within 5 seconds to stop them all.",
    .allNoneConnected = "No converter named in the device list is connected.",
    .memoryUnchanged = "unchanged",
    .memoryPartlyWritten = "partly written",
    .memoryWrittenAndVerified = "written and verified",
    .headSerial = "Serial",
    .headPort = "Port",
    .headModel = "Model",
    .headVersion = "Version",
    .headResult = "Result",
    .headMemory = "Memory",
    .checkHolds = "holds firmware",
    .checkDiffers = "differs from firmware",
    .checkChecksums = "checksum %1 in the unit, %2 of the file",
    .checkRefusedBlock = "the unit refused block %1 (checksums equal, %2)",
    .checkFailed = "check failed",
    .checkNoChecksum = "no answer to the checksum command",
    .checkNoVerify = "the verify command was not acknowledged",
    .checkNoBlockAnswer = "no answer to block %1 of the verify pass",
    .skipLeftAlone = "current, left alone",
    .skipUpdating = "updating",
    .skipNotUpdated = "not updated",
};

const CliTexts kGerman = {
    .acceptQuestion = "Akzeptiert ?",
    .yesWord = "ja",
    .noWord = "nein",
    .notAccepted = "Sicherheitshinweise nicht akzeptiert: keine Aktualisierung.",
    .noTerminal = "die Sicherheitshinweise müssen akzeptiert werden, aber die Standardeingabe "
                  "ist kein Terminal; mit -y (--accept-safety) werden sie akzeptiert",
    .safetyUnreadable = "die Sicherheitshinweise können nicht gelesen werden aus",
    .dataDirUnusable = "das Datenverzeichnis ist nicht benutzbar",
    .writePass = "Schreiben",
    .verifyPass = "Prüfen",
    .checkPass = "Vergleichen",
    .noResult = "die Aktualisierung endete ohne Ergebnis",
    .listConverter = "Wandler ",
    .listAt = " an ",
    .listNoPort = "(kein Schnittstellenname eingetragen)",
    .listEntry = "  Eintrag der Geräteliste ",
    .listFor = " für ",
    .listFirmware = ", Firmware ",
    .listNotInList = "  nicht in der Geräteliste",
    .listNotConnected = " (nicht angeschlossen)",
    .listNone = "Kein FTDI-Wandler 0403:6001 gefunden.",
    .listNoDriver = "Die FTDI-Wandler können nicht aufgelistet werden (ist der FTDI-Treiber "
                    "installiert?).",
    .listNoDeviceList = "Die Geräteliste kann nicht gelesen werden:",
    .checkStopped = "Prüfung abgebrochen; in das Gerät wurde nichts geschrieben",
    .portProblem = "letzter Fehler der seriellen Schnittstelle:",
    .serialNotListed = "kein Eintrag der Geräteliste nennt den Wandler",
    .allWaiting = "Erkennung",
    .allFinished = "fertig",
    .allFailed = "Fehler:",
    .allUnfinished = "nicht beendet",
    .allInterruptedWriting = "Aktualisierung unterbrochen; der Speicher des Geräts ist teilweise "
                             "beschrieben. Starten Sie den Vorgang erneut !",
    .allInterruptedNotWriting = "Aktualisierung vor dem Schreiben unterbrochen; der Speicher des "
                                "Geräts ist unverändert.",
    .allCannotStart = "der Aktualisierungsprozess kann nicht gestartet werden für Wandler",
    .allNotConnected = "nicht angeschlossen",
    .allDuplicate = "nicht aktualisiert: Seriennummer mehrfach",
    .allDuplicateNote = "Mehr als ein Wandler trägt die Seriennummer %s; sie sind nicht zu "
                        "unterscheiden, daher wird keiner von ihnen aktualisiert.",
    .allStatusUnknown = "beendet, Rückgabewert unbekannt",
    .allStopWarning = "Ein Abbruch jetzt lässt die Geräte, die gerade beschrieben werden, bis zur "
                      "nächsten Aktualisierung ohne funktionierende Firmware. Zum Abbrechen aller "
                      "innerhalb von 5 Sekunden erneut Strg-C drücken.",
    .allNoneConnected = "Kein Wandler, den die Geräteliste nennt, ist angeschlossen.",
    .memoryUnchanged = "unverändert",
    .memoryPartlyWritten = "teilweise beschrieben",
    .memoryWrittenAndVerified = "beschrieben und geprüft",
    .headSerial = "Seriennummer",
    .headPort = "Schnittstelle",
    .headModel = "Modell",
    .headVersion = "Version",
    .headResult = "Ergebnis",
    .headMemory = "Speicher",
    .checkHolds = "enthält Firmware",
    .checkDiffers = "weicht ab von Firmware",
    .checkChecksums = "Prüfsumme %1 im Gerät, %2 der Datei",
    .checkRefusedBlock = "das Gerät hat Block %1 zurückgewiesen (Prüfsummen gleich, %2)",
    .checkFailed = "Prüfung fehlgeschlagen",
    .checkNoChecksum = "keine Antwort auf das Prüfsummenkommando",
    .checkNoVerify = "das Vergleichskommando wurde nicht bestätigt",
    .checkNoBlockAnswer = "keine Antwort auf Block %1 des Vergleichs",
    .skipLeftAlone = "aktuell, nicht verändert",
    .skipUpdating = "wird aktualisiert",
    .skipNotUpdated = "nicht aktualisiert",
};

}  // namespace

const CliTexts& cliTexts(int lang)
{
    return lang == kLanguageGerman ? kGerman : kEnglish;
}

int languageFromEnvironment()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        return std::string_view(value).starts_with("de") ? kLanguageGerman : kLanguageEnglish;
    }
    return kLanguageEnglish;
}
