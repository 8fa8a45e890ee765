// SPDX-License-Identifier: MIT
// What the data files need of the file system, one implementation per platform
// (file_system_posix.cpp, file_system_win32.cpp): the data folder's path, reading a whole
// regular file, and the name under which this system stores a file that the device list
// names. Paths are what the system's narrow file functions take: on Windows bytes in the
// ANSI code page, as _getcwd gives them.
#pragma once

#include "files/data_file.h"

#include <optional>
#include <string>
#include <string_view>

// The absolute path of the data folder: requested made absolute, or the working directory
// when nothing is requested. False when it cannot be formed or is no folder; folder then
// holds what was tried, for the message.
bool dataFolderPath(const std::optional<std::string>& requested, std::string& folder);

// The bytes of the regular file at path, as stored (no decoding). The file is opened first
// and then checked on the open file, so that the file checked is the file read: nothing
// when it cannot be opened, is not a regular file (a directory, a FIFO, a device), cannot
// be sized or reads short. Opening never waits (a FIFO in a data file's place does not
// block).
std::optional<DataBuffer> readRegularFile(const std::string& path);

// A file name from the device list (Windows-1252) as this system names the file: unchanged
// on Windows, where the ANSI code page reads it; UTF-8 elsewhere.
std::string localFileName(std::string_view listFileName);
