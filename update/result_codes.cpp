// SPDX-License-Identifier: MIT
// The result codes' English and German messages (Windows-1252), the choice of picture, and
// the switch that makes one language's messages and connecting word current.
#include "update/result_codes.h"

#include "files/firmware_image.h"

#include <atomic>
#include <cstdio>

namespace {

struct MessageRow {
    std::uint8_t code;
    const char* name;
    const char* english;
    const char* german;
};

// Codes 1 to 17 and 19 to 23. Non-ASCII letters are Windows-1252 bytes; a string is split
// after each hexadecimal escape so that the letters after it stay letters.
constexpr MessageRow kMessageRows[] = {
    {1, "ERROR_OPEN_RS232",
     "Errorcode: ERROR_OPEN_RS232 !\nThere was a problem by opening\nthe update port.\nProbably this port is not available ?",
     "Fehler: ERROR_OPEN_RS232 !\nEs ist ein Fehler beim \xD6" "ffnen der\nSchnittstelle zum Ger\xE4" "t aufgetreten.\nM\xF6" "glicherweise ist die Schnittstelle\nnicht verf\xFC" "gbar."},
    {2, "ERROR_OPEN_FILE",
     "Errorcode: ERROR_OPEN_FILE !\nA file was not found !\nAre there all files in the directory ?",
     "Fehler: ERROR_OPEN_FILE !\nEine Datei wurde nicht gefunden !\nSind alle Dateien im Verzeichnis ?"},
    {3, "ERROR_READ_FILE",
     "Errorcode: ERROR_READ_FILE !\nCan NOT read the updatefile !\n",
     "Fehler: ERROR_READ_FILE !\nDie Datei f\xFC" "r das Update konnte nicht gelesen werden !\nEventuell ist diese Datei besch\xE4" "digt.\n"},
    {4, "ERROR_OPEN_FILE_LIST",
     "Errorcode: ERROR_OPEN_FILE_LIST !\nThe information file for the\nupdatefiles was not found !\nDownload not possible.",
     "Fehler: ERROR_OPEN_FILE_LIST !\nDie Datei f\xFC" "r Informationen zum Update wurde\nnicht gefunden. Update nicht m\xF6" "glich."},
    {5, "ERROR_ALLOC_MEMORY",
     "Errorcode: ERROR_ALLOC_MEMORY !\nCan not allocate memory !\n",
     "Fehler: ERROR_ALLOC_MEMORY !\nDas System konnte keinen Speicher\nzur Verf\xFC" "gung stellen !\n"},
    {6, "ERROR_NO_FTDI_DRIVER",
     "Errorcode: ERROR_NO_FTDI_DRIVER !\nNo FDTI-drivers installed !\nPlease install first this driver.",
     "Fehler: ERROR_NO_FTDI_DRIVER !\nKein FDTI-Treiber installiert !\nBitte installieren Sie zuerst diesen Treiber."},
    {7, "ERROR_NO_DRIVER_ENTRY",
     "Errorcode: ERROR_NO_DRIVER_ENTRY !\nNo device entry found in driver !\n",
     "Fehler: ERROR_NO_DRIVER_ENTRY !\nKein Ger\xE4" "teeintrag im Treiber gefunden !\n"},
    {8, "NO_DEVICE_DETECTED",
     "No device detected !",
     "Kein Ger\xE4" "t erkannt !"},
    {9, "ERROR_ERASE_ALREADY_BLANK",
     "Errorcode: ERROR_ERASE_ALREADY_BLANK !\nNo erase performd. Device is blank !\n",
     "Fehler: ERROR_ERASE_ALREADY_BLANK !\nKein L\xF6" "schen durchgef\xFC" "hrt ! Ger\xE4" "t war gel\xF6" "scht !\n"},
    {10, "ERROR_ERASE_BEFORE_PROGRAM",
     "Errorcode: ERROR_ERASE_BEFORE_PROGRAM !\nDevice was not blank!\nError during erasing before program.",
     "Fehler: ERROR_ERASE_BEFORE_PROGRAM !\nDas Ger\xE4" "t war nicht gel\xF6" "scht.\nBeim L\xF6" "schen ist ein Fehler aufgetreten !"},
    {11, "ERROR_SET_MODE",
     "Errorcode: ERROR_SET_MODE !\nCan't set device to program mode. Download\ncanceled. Start download again!",
     "Fehler: ERROR_SET_MODE !\nDas Ger\xE4" "t konnte nicht in den Programmiermodus\ngeschaltet werden. Download abgebrochen.\nStarten Sie den Vorgang erneut!"},
    {12, "ERROR_WRITE_BLOCK",
     "Errorcode: ERROR_WRITE_BLOCK !\nError by writing block to device. Download\ncanceled. Start download again !",
     "Fehler: ERROR_WRITE_BLOCK !\nBeim Schreiben eines Datenblockes zum Ger\xE4" "t\nist ein Fehler aufgetreten. Download abgebrochen.\nStarten Sie den Vorgang erneut !"},
    {13, "ERROR_INTERNAL_VERIFY",
     "Errorcode: ERROR_INTERNAL_VERIFY !\nAll updateblocks are written, but an\nerror encountered during internal verifying.\nDownload canceled. Start download again !",
     "Fehler: ERROR_VERIFY !\nAlle Daten wurden zum Ger\xE4" "t gesendet.\nBei der anschlie\xDF" "enden internen Pr\xFC" "fung der Daten\nist ein Fehler aufgetreten. Download abgebrochen.\nStarten Sie den Vorgang erneut"},
    {14, "ERROR_CHECKSUM",
     "Errorcode: ERROR_CHECKSUM !\nAll updateblocks are written, but the checksum\ndoes not match. Download canceled.\nStart download again !",
     "Fehler: ERROR_CHECKSUM !\nAlle Daten wurden zum Ger\xE4" "t gesendet. Bei der\n\xDC" "berpr\xFC" "fung der Pr\xFC" "fsumme ist ein Fehler\naufgetreten. Download abgebrochen. Starten Sie\nden Vorgang erneut !"},
    {15, "ERROR_VERIFY_COMMAND",
     "Errorcode: ERROR_VERIFY_COMMAND !\nAn error encountered during sending the\nverify command. Download canceled.\nStart download again !",
     "Fehler: ERROR_VERIFY_COMMAND !\nBei der Sendung des Kommandos zur Datenkontrolle\nist ein Fehler aufgetreten. Download abgebrochen.\nStarten Sie den Vorgang erneut !"},
    {16, "ERROR_VERIFY",
     "Errorcode: ERROR_VERIFY !\nThe downloaded data doesn't match to the\nverified one. Download canceled\nStart download again !",
     "Fehler: ERROR_VERIFY !\nDie \xDC" "berpr\xFC" "fung der aktualisierten Daten\nergab einen Fehler. Download abgebrochen.\nStarten Sie den Vorgang erneut !"},
    {17, "ERROR_UPDATE_EXCEPTION",
     "Errorcode: ERROR_UPDATE_EXCEPTION !\nThere was an exception during update.\nClose the downloader and start again.",
     "Fehler: ERROR_UPDATE_EXCEPTION !\nEin Ausnahmefehler ist w\xE4" "hrend der\nAktualisierung aufgetreten. Schlie\xDF" "en Sie\ndas Programm und starten Sie es erneut !"},
    {19, "INFO_DRIVER_HINT",
     "If you are first using the updater, there is still\nno FTDI-driver on your machine. This driver is responsible\nfor the communication with your device. In that case\nread hints for driver installation under menu help.\n",
     "Wenn Sie die Aktualisierung das erste Mal durchf\xFC" "hren,\nbefindet sich noch kein FTDI-Ger\xE4" "tetreiber auf Ihrem PC.\nDieser erm\xF6" "glicht die Kommunikation mit Ihrem Ger\xE4" "t. In\ndiesem Fall lesen Sie die diesbez\xFC" "glichen Hinweise zur\nTreiberinstallation unter dem Men\xFC" "punkt Hilfe."},
    {20, "INFO_ERASED_BEFORE_UPDATE",
     "Info\nErase before update was executed.\nDevice was not blank.",
     "Info\nEine L\xF6" "schung vor der Aktualisierung\nwurde durchgef\xFC" "hrt ! Das Ger\xE4" "t war nicht gel\xF6" "scht."},
    {21, "OK_CANCELED",
     "OK\nProgram canceled !\n",
     "OK\nAktualisierung abgebrochen !\n"},
    {22, "OK_DOWNLOADED",
     "OK\nAll datas are downloaded.\nNow starting the verify.",
     "OK\nDie Aktualisierung wurde geladen.\nEs wird jetzt die Kontrolle der Daten durchgef\xFC" "hrt."},
    {23, "OK_UPDATE_FINISHED",
     "OK\nUpdate successful finished !",
     "OK\nDie Aktualisierung wurde erfolgreich beendet !"},
};

constexpr const char* kUndefinedName = "RESULT_UNDEFINED";
constexpr const char* kUndefinedText = "Errorcode: ERROR_UNDEFINED !\nAn undefined error encountered\n";

constexpr const char* kConnectWordEnglish = "for   ";
constexpr const char* kConnectWordGerman = "f\xFC" "r   ";

constexpr int kNoLanguageYet = -1;
// The language switched to last; read by the GUI thread (messages) and the worker
// (connecting word), written by the GUI thread.
std::atomic<int> currentLanguage{kNoLanguageYet};

// What each kind of firmware problem is, in English and German (Windows-1252).
struct FirmwareProblemWords {
    FirmwareProblemKind kind;
    const char* english;
    const char* german;
};

constexpr FirmwareProblemWords kFirmwareProblemWords[] = {
    {FirmwareProblemKind::InvalidCharacter, "a character that is not an upper-case hexadecimal digit",
     "ein Zeichen, das keine Hexadezimalziffer in Gro\xDF" "buchstaben ist"},
    {FirmwareProblemKind::RecordCutShort, "the record is cut short", "der Datensatz bricht ab"},
    {FirmwareProblemKind::ChecksumMismatch, "the record's checksum does not match its bytes",
     "die Pr\xFC" "fsumme des Datensatzes passt nicht zu seinen Bytes"},
    {FirmwareProblemKind::TextOutsideRecord, "text that is not a record", "Text, der kein Datensatz ist"},
    {FirmwareProblemKind::UnknownRecordType, "a record of unknown type", "ein Datensatz unbekannter Art"},
    {FirmwareProblemKind::RecordLength, "an address record without its 2 data bytes",
     "ein Adressdatensatz ohne seine 2 Datenbytes"},
    {FirmwareProblemKind::LinearAddress, "an extended linear address record (not supported)",
     "ein Datensatz mit erweiterter linearer Adresse (nicht unterst\xFC" "tzt)"},
    {FirmwareProblemKind::NoDataRecord, "the file holds no data", "die Datei enth\xE4" "lt keine Daten"},
    {FirmwareProblemKind::NoEndOfFileRecord, "no end-of-file record: the file is cut short",
     "kein Dateiende-Datensatz: die Datei ist unvollst\xE4" "ndig"},
    {FirmwareProblemKind::DataBeyondRange, "data beyond the end of the unit's memory",
     "Daten hinter dem Ende des Speichers des Ger\xE4" "ts"},
};

const MessageRow* findRow(std::uint8_t code)
{
    for (const MessageRow& row : kMessageRows) {
        if (row.code == code) {
            return &row;
        }
    }
    return nullptr;
}

}  // namespace

void setMessageLanguage(int lang)
{
    currentLanguage.store(lang == kLanguageGerman ? kLanguageGerman : kLanguageEnglish);
}

const char* messageText(std::uint8_t code, int lang)
{
    if (code == RESULT_NONE) {
        return nullptr;
    }
    const MessageRow* row = findRow(code);
    if (row == nullptr) {
        return kUndefinedText;
    }
    return lang == kLanguageGerman ? row->german : row->english;
}

const char* currentMessage(std::uint8_t code)
{
    if (code == RESULT_NONE) {
        return nullptr;
    }
    const MessageRow* row = findRow(code);
    if (row == nullptr) {
        return kUndefinedText;
    }
    const int lang = currentLanguage.load();
    if (lang == kNoLanguageYet) {
        return nullptr;
    }
    return lang == kLanguageGerman ? row->german : row->english;
}

const char* resultName(std::uint8_t code)
{
    if (code == RESULT_NONE) {
        return "RESULT_NONE";
    }
    const MessageRow* row = findRow(code);
    return row != nullptr ? row->name : kUndefinedName;
}

bool usesOkPicture(std::uint8_t code)
{
    return code >= INFO_DRIVER_HINT && code <= OK_UPDATE_FINISHED;
}

const char* connectWord()
{
    switch (currentLanguage.load()) {
    case kLanguageGerman:
        return kConnectWordGerman;
    case kLanguageEnglish:
        return kConnectWordEnglish;
    default:
        return nullptr;
    }
}

std::string firmwareProblemText(const FirmwareProblem& problem, int lang)
{
    const bool german = lang == kLanguageGerman;
    std::string text;
    const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
    if (problem.line > 0) {
        const bool afterLine = problem.kind == FirmwareProblemKind::NoEndOfFileRecord;
        add((afterLine ? (german ? "nach Zeile " : "after line ") : (german ? "Zeile " : "line ")) +
            std::to_string(problem.line));
    }
    if (problem.record > 0) add((german ? "Datensatz " : "record ") + std::to_string(problem.record));
    if (problem.address >= 0) {
        char address[32];
        std::snprintf(address, sizeof address, "0x%05llX", static_cast<unsigned long long>(problem.address));
        add((german ? "Adresse " : "address ") + std::string(address));
    }
    const char* what = german ? "unbekanntes Problem" : "unknown problem";
    for (const FirmwareProblemWords& words : kFirmwareProblemWords) {
        if (words.kind == problem.kind) what = german ? words.german : words.english;
    }
    return text.empty() ? std::string(what) : text + ": " + what;
}
