// SPDX-License-Identifier: MIT
// The latency timer on Windows: the value "LatencyTimer" (REG_DWORD, milliseconds) in the
// "Device Parameters" key of each converter's FTDIBUS entry, which the FTDI driver reads
// when the converter is plugged in.
#include "link/latency_timer.h"

#include "files/device_list.h"
#include "link/discovery_win32.h"

#include <windows.h>

namespace {

constexpr const char* kLatencyTimerValue = "LatencyTimer";

std::string systemErrorText(LONG error)
{
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    std::string description(text, length);
    while (!description.empty() && (description.back() == '\n' || description.back() == '\r' ||
                                    description.back() == ' ' || description.back() == '.')) {
        description.pop_back();
    }
    return description.empty() ? "Windows error " + std::to_string(error) : description;
}

std::optional<int> readValue(const std::string& keyPath)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG result =
        RegQueryValueExA(key, kLatencyTimerValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return std::nullopt;
    return static_cast<int>(value);
}

LatencyTimerChange writeValue(const ConverterKey& converter, DWORD milliseconds)
{
    LatencyTimerChange change;
    change.serial = converter.serial;
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, converter.deviceParametersPath.c_str(), 0, KEY_SET_VALUE, &key);
    if (result == ERROR_SUCCESS) {
        result = RegSetValueExA(key, kLatencyTimerValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&milliseconds),
                                sizeof milliseconds);
        RegCloseKey(key);
    }
    if (result == ERROR_SUCCESS) {
        change.outcome = LatencyTimerOutcome::Set;
    } else {
        change.outcome = result == ERROR_ACCESS_DENIED ? LatencyTimerOutcome::NeedsAdministrator
                                                       : LatencyTimerOutcome::Failed;
        change.error = systemErrorText(result);
    }
    return change;
}

}  // namespace

bool latencyTimerInRegistry()
{
    return true;
}

std::optional<int> readLatencyTimer(std::string_view serial)
{
    std::vector<ConverterKey> converters;
    if (!listConverterKeys(converters)) return std::nullopt;
    for (const ConverterKey& converter : converters) {
        if (converter.serial != serial) continue;
        if (const std::optional<int> value = readValue(converter.deviceParametersPath)) return value;
    }
    return std::nullopt;
}

std::string latencyTimerFile(std::string_view)
{
    return {};
}

bool setLatencyTimers(const DeviceList& devices, int milliseconds, std::vector<LatencyTimerChange>& changes)
{
    changes.clear();
    std::vector<ConverterKey> converters;
    if (!listConverterKeys(converters)) return false;
    for (const ConverterKey& converter : converters) {
        int entryIndex = 0;
        if (!devices.findBySerial(converter.serial, entryIndex)) continue;
        changes.push_back(writeValue(converter, static_cast<DWORD>(milliseconds)));
    }
    return true;
}
