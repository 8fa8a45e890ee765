// SPDX-License-Identifier: MIT
// Fuzz target: the device list parser on arbitrary decoded text. Besides the sanitizers'
// checks it asserts the format's limits on every entry it accepts.
#include "files/device_list.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

bool hasNul(const std::string& field)
{
    return field.find('\0') != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> text(data, size);
    DeviceList list;
    DeviceListProblem problem;
    const bool parsed = parseDeviceList(list, text, problem);

    require(parsed == (problem.kind == DeviceListProblem::Kind::None));
    const auto markers = static_cast<int>(std::count(text.begin(), text.end(), std::uint8_t{'#'}));
    require(list.entryCount() <= markers);
    if (!parsed) {
        require(problem.record == list.entryCount() + 1);
        require(problem.field >= 1 && problem.field <= 5);
    }
    for (int i = 0; i < list.entryCount(); ++i) {
        const DeviceListEntry& entry = list.entry(i);
        for (const std::string* field : {&entry.modelName, &entry.targetName, &entry.converterSerial,
                                         &entry.firmwareVersion}) {
            require(field->size() <= 98 && !hasNul(*field) && field->find(',') == std::string::npos);
        }
        require(entry.firmwareFile.size() <= 99 && !hasNul(entry.firmwareFile));
        require(entry.firmwareFile.find_first_of("\r\n ,") == std::string::npos);
    }
    // The one-argument form gives the same result.
    DeviceList again;
    require(parseDeviceList(again, text) == parsed && again.entryCount() == list.entryCount());
    return 0;
}
