// SPDX-License-Identifier: MIT
// Result codes, their English and German messages, and the language switch for the texts
// that the update control owns (the messages and the device line's connecting word).
// All texts are Windows-1252; front ends convert them for display.
#pragma once

#include <cstdint>
#include <string>

struct FirmwareProblem;

enum ResultCodeValue : std::uint8_t {
    RESULT_NONE = 0,
    ERROR_OPEN_RS232 = 1,
    ERROR_OPEN_FILE = 2,
    ERROR_READ_FILE = 3,
    ERROR_OPEN_FILE_LIST = 4,
    ERROR_ALLOC_MEMORY = 5,
    ERROR_NO_FTDI_DRIVER = 6,
    ERROR_NO_DRIVER_ENTRY = 7,
    NO_DEVICE_DETECTED = 8,
    ERROR_ERASE_ALREADY_BLANK = 9,
    ERROR_ERASE_BEFORE_PROGRAM = 10,
    ERROR_SET_MODE = 11,
    ERROR_WRITE_BLOCK = 12,
    ERROR_INTERNAL_VERIFY = 13,
    ERROR_CHECKSUM = 14,
    ERROR_VERIFY_COMMAND = 15,
    ERROR_VERIFY = 16,
    ERROR_UPDATE_EXCEPTION = 17,
    INFO_DRIVER_HINT = 19,
    INFO_ERASED_BEFORE_UPDATE = 20,
    OK_CANCELED = 21,
    OK_DOWNLOADED = 22,
    OK_UPDATE_FINISHED = 23,
};

inline constexpr int kLanguageEnglish = 0;
inline constexpr int kLanguageGerman = 1;

// Points the current message of every code (1-17, 19-23) and the connecting word at the
// texts of lang (kLanguageGerman or kLanguageEnglish).
void setMessageLanguage(int lang);

// The current message of code: the text of the language switched to last; the fixed
// ERROR_UNDEFINED text for 18 and 24-255; nullptr for a code with a row before the first
// switch, and for 0.
const char* currentMessage(std::uint8_t code);

// The message of code in lang, whatever the current language (nullptr for 0).
const char* messageText(std::uint8_t code, int lang);

// The code's name, e.g. "ERROR_WRITE_BLOCK"; "RESULT_UNDEFINED" for codes without a row.
const char* resultName(std::uint8_t code);

// True when code is shown with the OK picture (19-23), false for the error picture.
bool usesOkPicture(std::uint8_t code);

// "for   " or "für   " (Windows-1252) after the switch; nullptr before the first switch.
const char* connectWord();

// One line naming a firmware file's problem and where it is, in lang (Windows-1252), e.g.
// "line 6, record 6, address 0x000A0: the record's checksum does not match its bytes".
std::string firmwareProblemText(const FirmwareProblem& problem, int lang);
