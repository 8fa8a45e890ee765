// SPDX-License-Identifier: MIT
// The data file paths, formed once at start-up from the working directory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Every path must fit the program's 256-byte path buffers: at most 255 characters.
inline constexpr std::size_t kPathBufferSize = 256;

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

inline constexpr const char* kDeviceListFileName = "devicelist.ovk";
inline constexpr const char* kHelpFileNameDe = "HelpD.ovk";
inline constexpr const char* kHelpFileNameEn = "HelpGB.ovk";
inline constexpr const char* kSafetyFileNameDe = "SecurityD.ovk";
inline constexpr const char* kSafetyFileNameEn = "SecurityGB.ovk";

struct DataPaths {
    std::string workDir;          // ends in kPathSeparator
    std::string deviceListPath;
    std::string helpPathDe;
    std::string helpPathEn;
    std::string safetyPathDe;
    std::string safetyPathEn;
};

extern DataPaths dataPaths;

// Forms dataPaths from directory (a separator is appended). False, with every path empty,
// when any of the paths would not fit the 256-byte buffers.
bool initDataPaths(std::string_view directory);

// workDir followed by fileName; false when the result would not fit 255 characters.
bool formDataPath(std::string_view fileName, std::string& path);

// The path of the firmware file that the device list names (Windows-1252): workDir followed
// by the name as this system stores it (localFileName: UTF-8 outside Windows). False when
// the path would not fit 255 characters, which the conversion may make it exceed.
bool formFirmwarePath(std::string_view listFileName, std::string& path);
