// SPDX-License-Identifier: MIT
// The device list: its entries, the lookup by converter serial, and the reading of the
// device list file. A record is "#" followed by five fields; fields 1 to 4 end at a comma,
// field 5 at a carriage return, line feed, space or comma. Everything outside records is
// remark text.
#include "files/device_list.h"

#include "files/data_file.h"

#include <array>
#include <new>

DeviceList deviceList;

namespace {

constexpr std::uint8_t kRecordMarker = '#';
constexpr std::uint8_t kFieldSeparator = ',';
constexpr int kFieldCount = 5;

bool endsLastField(std::uint8_t byte)
{
    return byte == '\r' || byte == '\n' || byte == ' ' || byte == kFieldSeparator;
}

// The field's string as stored in a NUL-terminated buffer: a zero byte ends it.
std::string_view fieldString(std::span<const std::uint8_t> text, std::size_t start, std::size_t length)
{
    std::string_view field(reinterpret_cast<const char*>(text.data()) + start, length);
    return field.substr(0, field.find('\0'));
}

// Reads one field starting at position; on success position is one past its terminator.
// Every field buffer takes kDeviceListFieldBuffer bytes including the terminator, so fields
// 1 to 4 (whose terminating comma is stored and then replaced) hold at most 98 bytes and
// field 5 (whose terminator is not stored) at most 99.
bool readField(std::span<const std::uint8_t> text, int fieldNumber, std::size_t& position,
               std::string_view& field, DeviceListProblem& problem)
{
    const bool lastField = fieldNumber == kFieldCount;
    const std::size_t start = position;
    std::size_t stored = 0;
    while (true) {
        if (position >= text.size()) {
            problem.kind = DeviceListProblem::Kind::EndsInsideRecord;
            return false;
        }
        const std::uint8_t byte = text[position];
        ++stored;
        const bool terminator = lastField ? endsLastField(byte) : byte == kFieldSeparator;
        if (lastField && terminator) {
            field = fieldString(text, start, stored - 1);
            ++position;
            return true;
        }
        if (stored >= kDeviceListFieldBuffer) {
            problem.kind = DeviceListProblem::Kind::FieldTooLong;
            return false;
        }
        if (position + 1 >= text.size()) {
            problem.kind = DeviceListProblem::Kind::EndsInsideRecord;
            return false;
        }
        ++position;
        if (terminator) {
            field = fieldString(text, start, stored - 1);
            return true;
        }
    }
}

}  // namespace

bool DeviceList::add(std::string_view modelName, std::string_view targetName,
                     std::string_view converterSerial, std::string_view firmwareVersion,
                     std::string_view firmwareFile)
{
    try {
        entries_.push_back(DeviceListEntry{std::string(modelName), std::string(targetName),
                                           std::string(converterSerial), std::string(firmwareVersion),
                                           std::string(firmwareFile)});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void DeviceList::clear()
{
    entries_.clear();
}

bool DeviceList::findBySerial(std::string_view key, int& index) const
{
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].converterSerial == key) {
            index = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

bool parseDeviceList(DeviceList& list, std::span<const std::uint8_t> text, DeviceListProblem& problem)
{
    list.clear();
    problem = DeviceListProblem{};

    std::size_t position = 0;
    int recordNumber = 0;
    while (position < text.size()) {
        if (text[position] != kRecordMarker) {
            ++position;
            continue;
        }
        ++recordNumber;
        const std::size_t recordStart = position;
        ++position;
        std::array<std::string_view, kFieldCount> fields;
        for (int field = 1; field <= kFieldCount; ++field) {
            if (!readField(text, field, position, fields[static_cast<std::size_t>(field - 1)], problem)) {
                problem.record = recordNumber;
                problem.field = field;
                problem.offset = recordStart;
                return false;
            }
        }
        // A record that cannot be stored for lack of memory is left out; reading goes on.
        list.add(fields[0], fields[1], fields[2], fields[3], fields[4]);
    }
    return true;
}

bool parseDeviceList(DeviceList& list, std::span<const std::uint8_t> text)
{
    DeviceListProblem problem;
    return parseDeviceList(list, text, problem);
}

bool loadDeviceList(DeviceList& list, const std::string& path, DeviceListProblem& problem)
{
    list.clear();
    problem = DeviceListProblem{};
    const std::optional<DataBuffer> text = loadDataFile(path);
    if (!text) {
        problem.kind = DeviceListProblem::Kind::FileUnreadable;
        return false;
    }
    return parseDeviceList(list, *text, problem);
}

bool loadDeviceList(DeviceList& list, const std::string& path)
{
    DeviceListProblem problem;
    return loadDeviceList(list, path, problem);
}

std::string describeDeviceListProblem(const DeviceListProblem& problem)
{
    const std::string where = "record " + std::to_string(problem.record) + " (at byte " +
                              std::to_string(problem.offset) + "), field " + std::to_string(problem.field) + ": ";
    switch (problem.kind) {
    case DeviceListProblem::Kind::None:
        return "no problem";
    case DeviceListProblem::Kind::FileUnreadable:
        return "the file cannot be read";
    case DeviceListProblem::Kind::FieldTooLong:
        return where + (problem.field == kFieldCount
                            ? "field too long (at most 99 bytes before its line end, space or comma)"
                            : "field too long (at most 98 bytes before its comma)");
    case DeviceListProblem::Kind::EndsInsideRecord:
        return where + (problem.field == kFieldCount
                            ? "the file ends inside the record (the last field needs a line end, space or comma)"
                            : "the file ends inside the record (missing comma or further fields)");
    }
    return "unknown problem";
}
