// SPDX-License-Identifier: MIT
// The device lines, the message table with its two languages, the choice of picture, and
// the check value of the write pass.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "files/device_list.h"
#include "files/firmware_image.h"
#include "recording_display.h"
#include "update/result_codes.h"
#include "update/update.h"
#include "update/worker.h"

namespace {

DeviceListEntry sampleEntry()
{
    return DeviceListEntry{"VX-58 Pro", "Lumetra LX", "FTVF2Q7K", "2.14", "VX58PRO_V214.hex"};
}

// Runs first in this file on purpose; under ctest every test runs in a process of its own.
TEST(DeviceLines, BeforeAnyLanguageSwitchTheWordIsLeftOut)
{
    if (connectWord() != nullptr) {
        GTEST_SKIP() << "a language was switched to earlier in this process";
    }
    EXPECT_EQ(currentMessage(NO_DEVICE_DETECTED), nullptr);
    RecordingDisplay display;
    InstalledDisplay installed(display);
    composeDeviceLines(sampleEntry());
    EXPECT_EQ(deviceLineText, "varnoflex   VX-58 Pro   Lumetra LX");
    EXPECT_EQ(versionLineText, "Version   2.14");
}

TEST(DeviceLines, EnglishAndGermanLinesByteForByte)
{
    RecordingDisplay display;
    InstalledDisplay installed(display);

    setMessageLanguage(kLanguageEnglish);
    composeDeviceLines(sampleEntry());
    setMessageLanguage(kLanguageGerman);
    composeDeviceLines(sampleEntry());
    setMessageLanguage(kLanguageEnglish);

    const auto lines = display.eventsOf(DisplayEvent::Kind::Lines);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].deviceLine, "varnoflex   VX-58 Pro   for   Lumetra LX");
    EXPECT_EQ(lines[0].versionLine, "Version   2.14");
    EXPECT_EQ(lines[1].deviceLine, "varnoflex   VX-58 Pro   f\xFC" "r   Lumetra LX");
    EXPECT_EQ(lines[1].versionLine, "Version   2.14");
    // The lines stay as composed: the switch back to English does not rebuild them.
    EXPECT_EQ(deviceLineText, lines[1].deviceLine);
}

TEST(DeviceLines, EmptyFieldsLeaveOnlyTheFixedParts)
{
    setMessageLanguage(kLanguageEnglish);
    composeDeviceLines(DeviceListEntry{});
    EXPECT_EQ(deviceLineText, "varnoflex      for   ");
    EXPECT_EQ(versionLineText, "Version   ");
}

TEST(DeviceLines, LinesAreCutToTheirBuffers)
{
    RecordingDisplay display;
    InstalledDisplay installed(display);
    setMessageLanguage(kLanguageEnglish);

    DeviceListEntry entry = sampleEntry();
    // 12 + 237 + 3 bytes leave room for only "for" of the connecting word, none for the target.
    entry.modelName = std::string(237, 'M');
    entry.targetName = "TARGET";
    entry.firmwareVersion = std::string(300, '9');
    composeDeviceLines(entry);
    EXPECT_EQ(deviceLineText.size(), 255u);
    EXPECT_EQ(deviceLineText, "varnoflex   " + std::string(237, 'M') + "   for");
    EXPECT_EQ(versionLineText, "Version   " + std::string(245, '9'));

    // Exactly 255 bytes is not cut.
    entry.modelName = std::string(228, 'M');
    composeDeviceLines(entry);
    EXPECT_EQ(deviceLineText, "varnoflex   " + std::string(228, 'M') + "   for   TARGET");
    EXPECT_EQ(deviceLineText.size(), 255u);

    entry.modelName = std::string(229, 'M');
    composeDeviceLines(entry);
    EXPECT_EQ(deviceLineText, "varnoflex   " + std::string(229, 'M') + "   for   TARGE");

    const auto lines = display.eventsOf(DisplayEvent::Kind::Lines);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].deviceLine, deviceLineText);
    EXPECT_EQ(lines[2].versionLine.size(), 255u);
}

TEST(Messages, NoDeviceDetectedHasNoHeadingLine)
{
    EXPECT_STREQ(messageText(NO_DEVICE_DETECTED, kLanguageEnglish), "No device detected !");
    EXPECT_STREQ(messageText(NO_DEVICE_DETECTED, kLanguageGerman), "Kein Ger\xE4" "t erkannt !");
}

TEST(Messages, InternalVerifyDiffersBetweenLanguages)
{
    const std::string english = messageText(ERROR_INTERNAL_VERIFY, kLanguageEnglish);
    const std::string german = messageText(ERROR_INTERNAL_VERIFY, kLanguageGerman);
    EXPECT_EQ(english,
              "Errorcode: ERROR_INTERNAL_VERIFY !\nAll updateblocks are written, but an\n"
              "error encountered during internal verifying.\nDownload canceled. Start download again !");
    EXPECT_EQ(german,
              "Fehler: ERROR_VERIFY !\nAlle Daten wurden zum Ger\xE4" "t gesendet.\n"
              "Bei der anschlie\xDF" "enden internen Pr\xFC" "fung der Daten\n"
              "ist ein Fehler aufgetreten. Download abgebrochen.\nStarten Sie den Vorgang erneut");
}

TEST(Messages, CodesWithoutRowShowTheUndefinedText)
{
    const char* undefined = "Errorcode: ERROR_UNDEFINED !\nAn undefined error encountered\n";
    for (int code : {18, 24, 200, 255}) {
        SCOPED_TRACE(code);
        EXPECT_STREQ(messageText(static_cast<std::uint8_t>(code), kLanguageEnglish), undefined);
        EXPECT_STREQ(messageText(static_cast<std::uint8_t>(code), kLanguageGerman), undefined);
        EXPECT_STREQ(currentMessage(static_cast<std::uint8_t>(code)), undefined);
        EXPECT_STREQ(resultName(static_cast<std::uint8_t>(code)), "RESULT_UNDEFINED");
        EXPECT_FALSE(usesOkPicture(static_cast<std::uint8_t>(code)));
    }
    EXPECT_EQ(messageText(RESULT_NONE, kLanguageEnglish), nullptr);
    EXPECT_EQ(currentMessage(RESULT_NONE), nullptr);
}

TEST(Messages, MisspellingsAreKept)
{
    EXPECT_STREQ(messageText(ERROR_ERASE_ALREADY_BLANK, kLanguageEnglish),
                 "Errorcode: ERROR_ERASE_ALREADY_BLANK !\nNo erase performd. Device is blank !\n");
    EXPECT_STREQ(messageText(ERROR_NO_FTDI_DRIVER, kLanguageEnglish),
                 "Errorcode: ERROR_NO_FTDI_DRIVER !\nNo FDTI-drivers installed !\nPlease install first this driver.");
    EXPECT_STREQ(messageText(ERROR_NO_FTDI_DRIVER, kLanguageGerman),
                 "Fehler: ERROR_NO_FTDI_DRIVER !\nKein FDTI-Treiber installiert !\n"
                 "Bitte installieren Sie zuerst diesen Treiber.");
    EXPECT_STREQ(messageText(OK_DOWNLOADED, kLanguageEnglish),
                 "OK\nAll datas are downloaded.\nNow starting the verify.");
    EXPECT_STREQ(messageText(OK_UPDATE_FINISHED, kLanguageEnglish), "OK\nUpdate successful finished !");
}

TEST(Messages, GermanLettersAreWindows1252Bytes)
{
    // Ö, ä, ö, ü in one text: a swallowed escape would change the letters after it.
    EXPECT_STREQ(messageText(ERROR_OPEN_RS232, kLanguageGerman),
                 "Fehler: ERROR_OPEN_RS232 !\nEs ist ein Fehler beim \xD6" "ffnen der\n"
                 "Schnittstelle zum Ger\xE4" "t aufgetreten.\nM\xF6" "glicherweise ist die Schnittstelle\n"
                 "nicht verf\xFC" "gbar.");
    EXPECT_STREQ(messageText(ERROR_UPDATE_EXCEPTION, kLanguageGerman),
                 "Fehler: ERROR_UPDATE_EXCEPTION !\nEin Ausnahmefehler ist w\xE4" "hrend der\n"
                 "Aktualisierung aufgetreten. Schlie\xDF" "en Sie\ndas Programm und starten Sie es erneut !");
    EXPECT_STREQ(messageText(ERROR_CHECKSUM, kLanguageGerman),
                 "Fehler: ERROR_CHECKSUM !\nAlle Daten wurden zum Ger\xE4" "t gesendet. Bei der\n"
                 "\xDC" "berpr\xFC" "fung der Pr\xFC" "fsumme ist ein Fehler\naufgetreten. Download abgebrochen. "
                 "Starten Sie\nden Vorgang erneut !");
}

TEST(Messages, EveryRowHasAHeadingThatNamesItsCode)
{
    for (int code = 1; code <= 23; ++code) {
        if (code == 18) {
            continue;
        }
        SCOPED_TRACE(code);
        const auto value = static_cast<std::uint8_t>(code);
        const std::string name = resultName(value);
        ASSERT_NE(name, "RESULT_UNDEFINED");
        const std::string english = messageText(value, kLanguageEnglish);
        const std::string german = messageText(value, kLanguageGerman);
        EXPECT_NE(english, german);
        if (code <= 17 && code != NO_DEVICE_DETECTED) {
            EXPECT_EQ(english.rfind("Errorcode: " + name + " !\n", 0), 0u);
            const std::string germanName = code == ERROR_INTERNAL_VERIFY ? "ERROR_VERIFY" : name;
            EXPECT_EQ(german.rfind("Fehler: " + germanName + " !\n", 0), 0u);
        }
        if (code >= OK_CANCELED) {
            EXPECT_EQ(english.rfind("OK\n", 0), 0u);
            EXPECT_EQ(german.rfind("OK\n", 0), 0u);
        }
    }
    EXPECT_STREQ(resultName(ERROR_WRITE_BLOCK), "ERROR_WRITE_BLOCK");
    EXPECT_STREQ(resultName(INFO_ERASED_BEFORE_UPDATE), "INFO_ERASED_BEFORE_UPDATE");
}

TEST(Messages, LanguageSwitchSelectsMessagesAndConnectingWord)
{
    setMessageLanguage(kLanguageGerman);
    EXPECT_STREQ(currentMessage(NO_DEVICE_DETECTED), "Kein Ger\xE4" "t erkannt !");
    EXPECT_STREQ(currentMessage(OK_CANCELED), "OK\nAktualisierung abgebrochen !\n");
    EXPECT_STREQ(connectWord(), "f\xFC" "r   ");
    setMessageLanguage(kLanguageEnglish);
    EXPECT_STREQ(currentMessage(NO_DEVICE_DETECTED), "No device detected !");
    EXPECT_STREQ(currentMessage(OK_CANCELED), "OK\nProgram canceled !\n");
    EXPECT_STREQ(connectWord(), "for   ");
}

// The line that names a refused firmware file's problem: where first (only what applies),
// then what, in the language asked for; German letters as Windows-1252 bytes.
TEST(Messages, FirmwareProblemLine)
{
    const FirmwareProblem checksum{FirmwareProblemKind::ChecksumMismatch, 12, 14, 0x10020};
    EXPECT_EQ(firmwareProblemText(checksum, kLanguageEnglish),
              "line 14, record 12, address 0x10020: the record's checksum does not match its bytes");
    EXPECT_EQ(firmwareProblemText(checksum, kLanguageGerman),
              "Zeile 14, Datensatz 12, Adresse 0x10020: die Pr\xFC" "fsumme des Datensatzes passt nicht zu seinen Bytes");
    EXPECT_EQ(firmwareProblemText(FirmwareProblem{FirmwareProblemKind::NoEndOfFileRecord, 0, 1985, -1}, kLanguageEnglish),
              "after line 1985: no end-of-file record: the file is cut short");
    EXPECT_EQ(firmwareProblemText(FirmwareProblem{FirmwareProblemKind::NoDataRecord, 0, 0, -1}, kLanguageGerman),
              "die Datei enth\xE4" "lt keine Daten");
    EXPECT_EQ(firmwareProblemText(FirmwareProblem{FirmwareProblemKind::TextOutsideRecord, 0, 3, -1}, kLanguageEnglish),
              "line 3: text that is not a record");
    EXPECT_EQ(firmwareProblemText(FirmwareProblem{FirmwareProblemKind::DataBeyondRange, 2, 2, 0x20}, kLanguageEnglish),
              "line 2, record 2, address 0x00020: data beyond the end of the unit's memory");
    // Every kind has words of its own in both languages.
    for (int kind = 1; kind <= static_cast<int>(FirmwareProblemKind::DataBeyondRange); ++kind) {
        const FirmwareProblem problem{static_cast<FirmwareProblemKind>(kind), 0, 0, -1};
        EXPECT_NE(firmwareProblemText(problem, kLanguageEnglish), "unknown problem") << kind;
        EXPECT_NE(firmwareProblemText(problem, kLanguageGerman), "unbekanntes Problem") << kind;
        EXPECT_NE(firmwareProblemName(problem.kind), "unknown") << kind;
    }
}

TEST(Messages, PictureChoice)
{
    for (int code = 1; code <= 18; ++code) {
        EXPECT_FALSE(usesOkPicture(static_cast<std::uint8_t>(code))) << code;
    }
    for (int code = 19; code <= 23; ++code) {
        EXPECT_TRUE(usesOkPicture(static_cast<std::uint8_t>(code))) << code;
    }
    EXPECT_FALSE(usesOkPicture(24));
    EXPECT_FALSE(usesOkPicture(255));
}

std::uint16_t checkValueOfBlocks(const std::vector<std::uint8_t>& bytes)
{
    std::uint16_t checkValue = 0;
    for (std::size_t offset = 0; offset < bytes.size(); offset += kBlockSizeBytes) {
        checkValue = addToCheckValue(checkValue, std::span(bytes).subspan(offset, kBlockSizeBytes));
    }
    return checkValue;
}

TEST(CheckValue, ExamplesOfErasedMemory)
{
    std::vector<std::uint8_t> image(kImageBlockCount * kBlockSizeBytes, 0xFF);
    EXPECT_EQ(checkValueOfBlocks(image), 0x0000);
    EXPECT_EQ(checkValueOfBlocks(std::vector<std::uint8_t>(kBlockSizeBytes, 0xFF)), 0x0100);
    image[70000] = 0x00;
    EXPECT_EQ(checkValueOfBlocks(image), 0x00FF);
}

TEST(CheckValue, IsZeroMinusTheSumOfTheBytesSent)
{
    std::vector<std::uint8_t> bytes(3 * kBlockSizeBytes);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
        sum += bytes[i];
    }
    EXPECT_EQ(checkValueOfBlocks(bytes), static_cast<std::uint16_t>(0u - sum));
    EXPECT_EQ(addToCheckValue(0x1234, {}), 0x1234);
}

}  // namespace
