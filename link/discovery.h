// SPDX-License-Identifier: MIT
// Discovery of the FTDI USB-serial converters (vendor 0403, product 6001) whose serial
// numbers the device list names, and the list of their serial ports. discovery_udev.cpp
// (Linux, libudev) and discovery_win32.cpp (the FTDI driver's registry entries) are the
// platform files behind these operations; the build picks one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class DeviceList;

inline constexpr std::size_t kConverterSerialLength = 8;

struct PortEntry {
    std::string portName;   // Linux: the tty's device node; Windows: e.g. "COM5"
    std::string serial;     // the converter's 8-character serial
};

class PortList {
public:
    bool add(std::string_view portName, std::string_view serial);
    void clear();
    // First entry whose serial equals serial byte for byte.
    bool find(std::string_view serial, int& index) const;
    int count() const { return static_cast<int>(entries_.size()); }
    const PortEntry& entry(int index) const { return entries_[static_cast<std::size_t>(index)]; }

private:
    std::vector<PortEntry> entries_;
};

extern PortList portList;

// Appends a PortEntry for every FTDI 0403:6001 converter whose 8-character serial equals the
// converterSerial of some entry of devices, in the platform's enumeration order (duplicates
// kept). Linux: the USB serial must be exactly those 8 characters; Windows: the first 8
// characters after the driver's key prefix (the driver appends a channel letter). False when
// the converters cannot be enumerated at all.
bool findFtdiPorts(const DeviceList& devices, PortList& ports);

// Every FTDI 0403:6001 converter the platform knows of, whatever the device list says
// (serial as the platform reports it, possibly longer or shorter than 8 characters).
// For listing what is attached; it opens no port. False when enumeration cannot be done.
struct ConverterInfo {
    std::string serial;
    std::string portName;
};
bool listFtdiConverters(std::vector<ConverterInfo>& converters);

// Whether the converter behind portName is plugged in now. On Windows the FTDI driver keeps
// the registry entry of every converter it has ever seen, so a remembered converter's port
// may not exist; a port that exists has a DOS device name (QueryDosDevice). On Linux udev
// lists only the converters that are there, so every listed port is.
bool converterPortPresent(std::string_view portName);
