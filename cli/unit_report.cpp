// The port trace of a run and the JSON report of its unit.
#include "cli/unit_report.h"

#include "cli/terminal_display.h"
#include "files/device_list.h"
#include "files/texts.h"
#include "link/discovery.h"
#include "update/result_codes.h"
#include "update/update.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <unistd.h>

#ifndef VF_VERSION
#define VF_VERSION "unknown"
#endif

namespace {

int savedStandardOutput = -1;   // the real standard output under "--json -"

JsonValue codeObject(std::uint8_t code)
{
    JsonValue object = JsonValue::object();
    object.set("code", JsonValue::number(code));
    object.set("name", JsonValue::string(resultName(code)));
    return object;
}

JsonValue stringOrNull(const std::string& text)
{
    return text.empty() ? JsonValue() : JsonValue::string(text);
}

bool writeAll(int fd, const std::string& text)
{
    std::size_t written = 0;
    while (written < text.size()) {
        const auto n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// The port as the converter list names it ("COM5" for the opened "\\.\COM5"; on Linux the
// opened path is the name).
std::string portNameOf(const std::string& openedPath)
{
    for (int i = 0; i < portList.count(); ++i) {
        const std::string& name = portList.entry(i).portName;
        if (!name.empty() && (openedPath == name || openedPath.ends_with("\\" + name))) return name;
    }
    return openedPath;
}

}  // namespace

std::string isoTime(std::chrono::system_clock::time_point time)
{
    const auto sinceEpoch = time.time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count();
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &whole);
#else
    gmtime_r(&whole, &utc);
#endif
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(milliseconds));
    return text;
}

JsonValue unitReport(const UnitRecord& record)
{
    JsonValue unit = JsonValue::object();
    unit.set("serial", stringOrNull(record.serial));
    unit.set("port", stringOrNull(record.port));
    if (record.entry) {
        JsonValue entry = JsonValue::object();
        entry.set("model", JsonValue::string(record.entry->model));
        entry.set("target", JsonValue::string(record.entry->target));
        entry.set("version", JsonValue::string(record.entry->version));
        entry.set("firmwareFile", JsonValue::string(record.entry->firmwareFile));
        unit.set("entry", std::move(entry));
    } else {
        unit.set("entry", JsonValue());
    }
    JsonValue stored = JsonValue::array();
    for (std::uint8_t code : record.storedCodes) stored.push(codeObject(code));
    unit.set("stored", std::move(stored));
    unit.set("result", record.finalCode != 0 ? codeObject(record.finalCode) : JsonValue());
    unit.set("firmwareProblem", firmwareProblemReport(record.firmwareProblem));
    unit.set("exitStatus", JsonValue::number(record.exitStatus));
    unit.set("start", JsonValue::string(isoTime(record.start)));
    unit.set("end", JsonValue::string(isoTime(record.end)));
    const std::chrono::duration<double> duration = record.end - record.start;
    unit.set("durationSeconds", JsonValue::number(std::round(duration.count() * 1000.0) / 1000.0));
    unit.set("blocksWritten", JsonValue::number(record.blocksWritten));
    unit.set("blocksVerified", JsonValue::number(record.blocksVerified));
    unit.set("bytesSent", JsonValue::number(static_cast<double>(record.bytesSent)));
    unit.set("bytesReceived", JsonValue::number(static_cast<double>(record.bytesReceived)));
    unit.set("latencyTimerMs", record.latencyTimerMs ? JsonValue::number(*record.latencyTimerMs) : JsonValue());
    return unit;
}

JsonValue firmwareProblemReport(const std::optional<FirmwareProblem>& problem)
{
    if (!problem) return JsonValue();
    const auto positiveOrNull = [](std::int64_t value) {
        return value > 0 ? JsonValue::number(static_cast<double>(value)) : JsonValue();
    };
    JsonValue object = JsonValue::object();
    object.set("kind", JsonValue::string(firmwareProblemName(problem->kind)));
    object.set("record", positiveOrNull(problem->record));
    object.set("line", positiveOrNull(problem->line));
    object.set("address", problem->address >= 0 ? JsonValue::number(static_cast<double>(problem->address)) : JsonValue());
    return object;
}

JsonValue reportDocument(std::vector<JsonValue> units, bool interrupted)
{
    JsonValue document = JsonValue::object();
    document.set("program", JsonValue::string("varnoflex-cli"));
    document.set("version", JsonValue::string(VF_VERSION));
    document.set("interrupted", JsonValue::boolean(interrupted));
    JsonValue list = JsonValue::array();
    for (JsonValue& unit : units) list.push(std::move(unit));
    document.set("units", std::move(list));
    return document;
}

bool writeReportFile(const std::string& path, const JsonValue& document, std::string& error)
{
    const std::string text = document.write() + "\n";
    if (path == "-") {
        const int fd = savedStandardOutput >= 0 ? savedStandardOutput : STDOUT_FILENO;
        if (!writeAll(fd, text)) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    }
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    const bool closed = std::fclose(out) == 0;
    if (!written || !closed) {
        error = "write failed";
        return false;
    }
    return true;
}

bool keepStandardOutputForReport()
{
    std::fflush(stdout);
    savedStandardOutput = ::dup(STDOUT_FILENO);
    if (savedStandardOutput < 0) return false;
    return ::dup2(STDERR_FILENO, STDOUT_FILENO) >= 0;
}

std::string traceFileForUnit(const std::string& traceFile, const std::string& serial)
{
    const auto slash = traceFile.find_last_of("/\\");
    const auto dot = traceFile.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0 &&
                              (slash == std::string::npos || dot > slash + 1);
    if (!hasExtension) return traceFile + "-" + serial;
    return traceFile.substr(0, dot) + "-" + serial + traceFile.substr(dot);
}

UnitRun::~UnitRun()
{
    setPortObserver(nullptr);
    if (traceFile_ != nullptr) std::fclose(traceFile_);
}

bool UnitRun::openTrace(const std::string& path, std::string& error)
{
    traceFile_ = std::fopen(path.c_str(), "w");
    if (traceFile_ == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

void UnitRun::start()
{
    if (traceFile_ != nullptr) trace_.emplace(traceFile_);
    counter_.emplace(trace_ ? &*trace_ : nullptr);
    start_ = std::chrono::system_clock::now();
    setPortObserver(&*counter_);
}

UnitRecord UnitRun::finish(const TerminalOutput& output, int exitStatus, const std::string& askedSerial)
{
    setPortObserver(nullptr);
    if (traceFile_ != nullptr) std::fflush(traceFile_);

    UnitRecord record;
    record.start = start_;
    record.end = std::chrono::system_clock::now();
    record.storedCodes = output.storedCodes();
    record.finalCode = output.finalCode();
    if (output.refusedFirmware()) record.firmwareProblem = output.refusedFirmware()->problem;
    record.exitStatus = exitStatus;
    if (counter_) {
        record.blocksWritten = counter_->blocksWritten();
        record.blocksVerified = counter_->blocksVerified();
        record.bytesSent = counter_->bytesSent();
        record.bytesReceived = counter_->bytesReceived();
    }
    // The worker has stopped: the entry that answered and the port list stay as it left them.
    if (selectedEntry != nullptr) {
        record.serial = cp1252ToUtf8(selectedEntry->converterSerial);
        record.entry = ReportEntry{cp1252ToUtf8(selectedEntry->modelName), cp1252ToUtf8(selectedEntry->targetName),
                                   cp1252ToUtf8(selectedEntry->firmwareVersion),
                                   cp1252ToUtf8(selectedEntry->firmwareFile)};
        if (counter_) record.port = cp1252ToUtf8(portNameOf(counter_->lastOpenedPort()));
    } else if (!askedSerial.empty()) {
        record.serial = askedSerial;
        int index = 0;
        if (portList.find(askedSerial, index)) record.port = cp1252ToUtf8(portList.entry(index).portName);
    }
    return record;
}
