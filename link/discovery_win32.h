// SPDX-License-Identifier: MIT
// The FTDI driver's registry entries on Windows: the walk over its FTDIBUS enumerator key
// (findFtdiPorts, listFtdiConverters in link/discovery.h) and the reading of one converter's
// "PortName" value, declared here for the tests.
#pragma once

#include "link/discovery.h"

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kFtdiBusKeyPath = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";
inline constexpr DWORD kRegistryNameBufferSize = 260;   // sub-key and value names, with the zero
inline constexpr DWORD kRegistryDataBufferSize = 256;   // value data

// Opens subKeyPath under rootKey and appends (data, serial) to ports for every value whose
// name is "PortName" in any letter case. False when the key cannot be opened or its values
// cannot be counted; a value that cannot be read is skipped.
bool readPortName(HKEY rootKey, const std::string& subKeyPath, std::string_view serial, PortList& ports);

// One FTDIBUS entry of an FTDI 0403:6001 converter whose name holds a whole serial.
struct ConverterKey {
    std::string serial;                 // the 8 characters after the ids
    std::string deviceParametersPath;   // its "\0000\Device Parameters" key under HKEY_LOCAL_MACHINE
};

// Every such entry in enumeration order (names too long for the key path are left out).
// False when the FTDIBUS key cannot be opened or walked; an empty key gives an empty list.
bool listConverterKeys(std::vector<ConverterKey>& keys);
