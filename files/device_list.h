// SPDX-License-Identifier: MIT
// The device list "devicelist.ovk": which device models the program can update, the serial
// of each model's USB-serial converter, and the firmware version and file on offer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t kDeviceListFieldBuffer = 100;  // bytes per field buffer

struct DeviceListEntry {
    std::string modelName;
    std::string targetName;
    std::string converterSerial;
    std::string firmwareVersion;
    std::string firmwareFile;
};

class DeviceList {
public:
    // Appends one entry holding copies of the five fields, in field order.
    bool add(std::string_view modelName, std::string_view targetName,
             std::string_view converterSerial, std::string_view firmwareVersion,
             std::string_view firmwareFile);
    void clear();
    // First entry whose converterSerial equals key exactly (byte for byte, case matters).
    // Leaves index untouched when there is none.
    bool findBySerial(std::string_view key, int& index) const;
    int entryCount() const { return static_cast<int>(entries_.size()); }
    const DeviceListEntry& entry(int index) const { return entries_[static_cast<std::size_t>(index)]; }

private:
    std::vector<DeviceListEntry> entries_;
};

// The program's one device list, loaded by the worker.
extern DeviceList deviceList;

// Clears list and fills it from decoded device list text. False when a record breaks the
// format; the records before it stay in the list.
bool parseDeviceList(DeviceList& list, std::span<const std::uint8_t> text);

// Clears list, loads the file at path (storage-encoded) and parses it.
bool loadDeviceList(DeviceList& list, const std::string& path);

// Where and why a device list could not be read, for tools that check device lists.
struct DeviceListProblem {
    enum class Kind { None, FileUnreadable, FieldTooLong, EndsInsideRecord };
    Kind kind = Kind::None;
    int record = 0;            // 1-based number of the failing record
    int field = 0;             // 1-based field number (1 to 5)
    std::size_t offset = 0;    // position in the decoded text where the record failed
};

// As parseDeviceList and loadDeviceList, and on failure says where and why.
bool parseDeviceList(DeviceList& list, std::span<const std::uint8_t> text, DeviceListProblem& problem);
bool loadDeviceList(DeviceList& list, const std::string& path, DeviceListProblem& problem);

// A one-line English description of problem, e.g. "record 2, field 5: field too long".
std::string describeDeviceListProblem(const DeviceListProblem& problem);
