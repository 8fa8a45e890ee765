// SPDX-License-Identifier: MIT
// Discovery of the FTDI converters on Windows. The FTDI driver registers every converter
// it has seen as a sub-key "VID_0403+PID_6001+<serial><port index>" of its FTDIBUS
// enumerator key, with the COM port name in "\0000\Device Parameters" value "PortName".
// The walk only reads the registry; it never opens a port.
#include "link/discovery_win32.h"

#include "files/device_list.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr const char* kVendorId = "VID_0403";
constexpr const char* kProductId = "PID_6001";
constexpr std::size_t kIdLength = 8;
constexpr std::size_t kVendorIdOffset = 0;
constexpr std::size_t kProductIdOffset = 9;    // after the separator at 8
constexpr std::size_t kSerialOffset = 18;      // after the separator at 17
constexpr std::size_t kMatchingNameMinLength = kSerialOffset + kConverterSerialLength;
constexpr const char* kDeviceParametersSuffix = "\\0000\\Device Parameters";
constexpr const char* kPortNameValue = "PortName";

// An open registry key, closed when it goes out of scope.
class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() { if (open_) RegCloseKey(handle_); }

    bool open(HKEY rootKey, const char* path) {
        open_ = RegOpenKeyExA(rootKey, path, 0, KEY_READ, &handle_) == ERROR_SUCCESS;
        return open_;
    }
    HKEY handle() const { return handle_; }

private:
    HKEY handle_ = nullptr;
    bool open_ = false;
};

bool countSubKeys(HKEY key, DWORD& subKeyCount)
{
    return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeyCount, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool countValues(HKEY key, DWORD& valueCount)
{
    return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount,
                            nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// Reads the name of sub-key index; the in/out size is set afresh for every call.
bool readSubKeyName(HKEY key, DWORD index, std::string& name)
{
    char nameBuffer[kRegistryNameBufferSize];
    DWORD nameSize = kRegistryNameBufferSize;
    if (RegEnumKeyExA(key, index, nameBuffer, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    name.assign(nameBuffer, nameSize < kRegistryNameBufferSize ? nameSize : 0);
    return true;
}

bool equalsIgnoringCase(const char* text, const char* expected)
{
    for (; *text != '\0' && *expected != '\0'; ++text, ++expected) {
        char a = *text;
        char b = *expected;
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return *text == *expected;
}

// True when name has the vendor and product ids at their places, exactly and with case.
// The separators at 8 and 17 are not examined.
bool namesFtdiConverter(std::string_view name)
{
    return name.size() >= kProductIdOffset + kIdLength
           && name.substr(kVendorIdOffset, kIdLength) == kVendorId
           && name.substr(kProductIdOffset, kIdLength) == kProductId;
}

// SYSTEM\CurrentControlSet\Enum\FTDIBUS\<sub-key>\0000\Device Parameters, in a buffer of
// kRegistryNameBufferSize characters; false when it would not fit.
bool formDeviceParametersPath(const std::string& subKeyName, std::string& path)
{
    char pathBuffer[kRegistryNameBufferSize];
    const int formedLength = std::snprintf(pathBuffer, sizeof pathBuffer, "%s\\%s%s", kFtdiBusKeyPath,
                                           subKeyName.c_str(), kDeviceParametersSuffix);
    if (formedLength < 0 || static_cast<std::size_t>(formedLength) >= sizeof pathBuffer) return false;
    path.assign(pathBuffer, static_cast<std::size_t>(formedLength));
    return true;
}

// Walks the FTDIBUS key's sub-keys in enumeration order and calls visit(name) for each.
// False when the key cannot be opened or counted, has no sub-keys, or a name cannot be read.
template <typename Visit>
bool walkFtdiBus(Visit visit, bool emptyKeyIsFailure)
{
    RegistryKey ftdiBus;
    if (!ftdiBus.open(HKEY_LOCAL_MACHINE, kFtdiBusKeyPath)) return false;
    DWORD subKeyCount = 0;
    if (!countSubKeys(ftdiBus.handle(), subKeyCount)) return false;
    if (subKeyCount == 0) return !emptyKeyIsFailure;
    for (DWORD index = 0; index < subKeyCount; ++index) {
        std::string name;
        // A name that cannot be read fails the whole walk, even after entries were added.
        if (!readSubKeyName(ftdiBus.handle(), index, name)) return false;
        visit(name);
    }
    return true;
}

}  // namespace

bool readPortName(HKEY rootKey, const std::string& subKeyPath, std::string_view serial, PortList& ports)
{
    RegistryKey key;
    if (!key.open(rootKey, subKeyPath.c_str())) return false;
    DWORD valueCount = 0;
    if (!countValues(key.handle(), valueCount)) return false;

    for (DWORD index = 0; index < valueCount; ++index) {
        char valueName[kRegistryNameBufferSize];
        DWORD valueNameSize = kRegistryNameBufferSize;
        BYTE data[kRegistryDataBufferSize];
        DWORD dataSize = kRegistryDataBufferSize;
        DWORD valueType = 0;
        if (RegEnumValueA(key.handle(), index, valueName, &valueNameSize, nullptr, &valueType, data,
                          &dataSize) != ERROR_SUCCESS) {
            continue;
        }
        if (!equalsIgnoringCase(valueName, kPortNameValue)) continue;
        // The data is text up to its zero; data without one ends at its stored size.
        const auto* text = reinterpret_cast<const char*>(data);
        const std::size_t available = dataSize < kRegistryDataBufferSize ? dataSize : kRegistryDataBufferSize;
        ports.add(std::string_view(text, strnlen(text, available)), serial);
    }
    return true;
}

bool findFtdiPorts(const DeviceList& devices, PortList& ports)
{
    return walkFtdiBus(
        [&](const std::string& name) {
            // A name too short to hold a serial does not match.
            if (name.size() < kMatchingNameMinLength || !namesFtdiConverter(name)) return;
            const std::string serial = name.substr(kSerialOffset, kConverterSerialLength);
            int entryIndex = 0;
            if (!devices.findBySerial(serial, entryIndex)) return;
            std::string path;
            if (!formDeviceParametersPath(name, path)) return;   // too long: skipped
            readPortName(HKEY_LOCAL_MACHINE, path, serial, ports);
        },
        /*emptyKeyIsFailure=*/true);
}

bool listFtdiConverters(std::vector<ConverterInfo>& converters)
{
    return walkFtdiBus(
        [&](const std::string& name) {
            if (!namesFtdiConverter(name)) return;
            const std::string serial =
                name.size() > kSerialOffset ? name.substr(kSerialOffset, kConverterSerialLength) : std::string();
            PortList ports;
            std::string path;
            if (formDeviceParametersPath(name, path)) readPortName(HKEY_LOCAL_MACHINE, path, serial, ports);
            if (ports.count() == 0) converters.push_back({serial, std::string()});
            for (int i = 0; i < ports.count(); ++i) converters.push_back({serial, ports.entry(i).portName});
        },
        /*emptyKeyIsFailure=*/false);
}

bool converterPortPresent(std::string_view portName)
{
    // A name, not a path: "COM5" (the \\.\ prefix of the device path is not part of it).
    if (portName.empty() || portName.size() >= kRegistryDataBufferSize ||
        portName.find_first_of("\\/:") != std::string_view::npos) {
        return false;
    }
    const std::string name(portName);
    char target[kRegistryNameBufferSize];
    return QueryDosDeviceA(name.c_str(), target, sizeof target) != 0 || GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

bool listConverterKeys(std::vector<ConverterKey>& keys)
{
    return walkFtdiBus(
        [&](const std::string& name) {
            if (name.size() < kMatchingNameMinLength || !namesFtdiConverter(name)) return;
            ConverterKey key;
            key.serial = name.substr(kSerialOffset, kConverterSerialLength);
            if (formDeviceParametersPath(name, key.deviceParametersPath)) keys.push_back(std::move(key));
        },
        /*emptyKeyIsFailure=*/false);
}
