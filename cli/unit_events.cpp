// SPDX-License-Identifier: MIT
// The unit's events taken into its state, and the state given as the report's unit object.
#include "cli/unit_events.h"

#include "cli/check_report.h"
#include "cli/json_members.h"
#include "cli/json_syntax.h"
#include "files/texts.h"
#include "link/latency_timer.h"
#include "update/result_codes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

constexpr std::int64_t kMaxBlockCount = 1 << 16;   // far above any unit's 512
constexpr std::int64_t kMaxExitStatus = 255;
constexpr std::int64_t kMaxBytes = std::int64_t{1} << 53;   // exact in every JSON reader

// Text from an event for a terminal and the report: control bytes shown as marks, the C1
// controls of UTF-8 (U+0080 to U+009F, which some terminals obey) replaced.
std::string safeText(std::string_view text)
{
    const std::string marked = markControlCharactersInLine(text);
    std::string safe;
    safe.reserve(marked.size());
    for (std::size_t i = 0; i < marked.size(); ++i) {
        const auto byte = static_cast<unsigned char>(marked[i]);
        const auto next = i + 1 < marked.size() ? static_cast<unsigned char>(marked[i + 1]) : 0u;
        if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            safe += "\xEF\xBF\xBD";   // U+FFFD
            ++i;
            continue;
        }
        safe += marked[i];
    }
    return safe;
}

// The member name of object when it is a string: its safe text; nothing otherwise.
template <typename Object>
std::optional<std::string> textMember(const Object& object, const char* name)
{
    const auto found = object.find(name);
    if (found == object.end() || !found->is_string()) return std::nullopt;
    return safeText(found->template get_ref<const std::string&>());
}

template <typename Object>
bool boolMember(const Object& object, const char* name)
{
    const auto found = object.find(name);
    return found != object.end() && found->is_boolean() && found->template get<bool>();
}

// An empty object with room for members. The ordered object keeps its members in a vector;
// without the room each growth would copy every member it holds, nested objects and arrays
// whole.
Json objectWithRoom(std::size_t members)
{
    Json object = Json::object();
    object.get_ref<Json::object_t&>().reserve(members);
    return object;
}

Json textOrNull(const std::string& text)
{
    return text.empty() ? Json() : Json(text);
}

}  // namespace

const char* memoryStateName(MemoryState state)
{
    switch (state) {
    case MemoryState::Unchanged: return "unchanged";
    case MemoryState::PartlyWritten: return "partly written";
    case MemoryState::WrittenAndVerified: return "written and verified";
    }
    return "partly written";
}

bool UnitState::takeLine(std::string_view line)
{
    // An event is one object on its line, as the writer puts it: anything else is turned away
    // before the parser (which words a message for every error it meets) is asked.
    if (line.size() > kMaxEventLineBytes || line.size() < 2 || line.front() != '{' || line.back() != '}') return false;
    if (!isOneJsonObject(line)) return false;
    const EventJson event = EventJson::parse(line, nullptr, /*allow_exceptions=*/false);
    return take(event);
}

bool UnitState::take(const Json& event)
{
    return takeEvent(event);
}

bool UnitState::take(const EventJson& event)
{
    return takeEvent(event);
}

template <typename Object>
bool UnitState::takeEvent(const Object& event)
{
    if (!event.is_object()) return false;
    const auto name = event.find("event");
    if (name == event.end() || !name->is_string()) return false;
    const std::string& kind = name->template get_ref<const std::string&>();

    if (kind == event::kIdentified) return takeIdentified(event);
    if (kind == event::kBlankCheck) return true;
    if (kind == event::kEraseSent || kind == event::kProgramMode) {
        memoryTouched_ = true;
        return true;
    }
    if (kind == event::kBlockWritten) return takeBlock(event, false);
    if (kind == event::kChecksum) return true;
    if (kind == event::kVerifyMode) {
        verifyPass_ = true;
        return true;
    }
    if (kind == event::kBlockVerified) return takeBlock(event, true);
    if (kind == event::kCode) {
        const auto code = integerMember(event, "code", 1, 255);
        if (!code) return false;
        storedCodes_.push_back(static_cast<std::uint8_t>(*code));
        return true;
    }
    if (kind == event::kPortError) {
        const auto error = textMember(event, "error");
        if (!error) return false;
        lastError_ = *error;
        return true;
    }
    if (kind == event::kFirmwareRefused) return takeFirmwareRefused(event);
    if (kind == event::kLatencyTimer) {
        const auto milliseconds = integerMember(event, "milliseconds", kLatencyTimerMinMs, kLatencyTimerMaxMs);
        if (!milliseconds) return false;
        latencyTimerMs_ = static_cast<int>(*milliseconds);
        return true;
    }
    if (kind == event::kResult) return takeResult(event);
    if (kind == event::kCheckStarted) {
        checking_ = true;
        return true;
    }
    if (kind == event::kCheck) return takeCheck(event);
    return false;
}

template <typename Object>
bool UnitState::takeFirmwareRefused(const Object& event)
{
    const auto file = textMember(event, "file");
    const auto kind = textMember(event, "kind");
    if (!file || !kind) return false;
    constexpr std::int64_t kMaxPosition = std::int64_t{1} << 32;
    firmwareRefusal_ = FirmwareRefusal{*file,
                                       *kind,
                                       integerMember(event, "record", 1, kMaxPosition),
                                       integerMember(event, "line", 1, kMaxPosition),
                                       integerMember(event, "address", 0, kMaxPosition),
                                       textMember(event, "text").value_or("")};
    return true;
}

template <typename Object>
bool UnitState::takeIdentified(const Object& event)
{
    const auto serial = textMember(event, "serial");
    const auto port = textMember(event, "port");
    const auto blocks = integerMember(event, "blocks", 0, kMaxBlockCount);
    if (!serial || !port || !blocks) return false;
    identified_ = true;
    serial_ = *serial;
    port_ = *port;
    blockCount_ = static_cast<int>(*blocks);
    const auto entry = event.find("entry");
    if (entry != event.end() && entry->is_object()) {
        entry_ = ReportEntry{textMember(*entry, "model").value_or(""), textMember(*entry, "target").value_or(""),
                             textMember(*entry, "version").value_or(""),
                             textMember(*entry, "firmwareFile").value_or("")};
    }
    return true;
}

template <typename Object>
bool UnitState::takeBlock(const Object& event, bool verify)
{
    const auto block = integerMember(event, "block", 0, kMaxBlockCount);
    if (!block) return false;
    // A data block frame went to the unit, acknowledged or not; in a check's verify pass the
    // unit only compares it with its memory.
    if (!checking_) memoryTouched_ = true;
    if (verify) verifyPass_ = true;
    if (boolMember(event, "acknowledged")) {
        int& seen = verify ? blocksVerifiedSeen_ : blocksWrittenSeen_;
        seen = std::max(seen, static_cast<int>(*block) + 1);
    }
    return true;
}

template <typename Object>
bool UnitState::takeResult(const Object& event)
{
    const auto status = integerMember(event, "exitStatus", 0, kMaxExitStatus);
    if (!status) return false;
    resultKnown_ = true;
    exitStatus_ = static_cast<int>(*status);
    if (const auto code = integerMember(event, "code", 1, 255)) resultCode_ = static_cast<std::uint8_t>(*code);
    stopped_ = boolMember(event, "stopped");
    detail_ = textMember(event, "detail").value_or("");
    if (auto error = textMember(event, "lastError"); error && !error->empty()) lastError_ = *error;
    reportProblem_ = textMember(event, "reportProblem").value_or("");
    if (const auto written = integerMember(event, "blocksWritten", 0, kMaxBlockCount)) {
        blocksWrittenReported_ = static_cast<int>(*written);
    }
    if (const auto verified = integerMember(event, "blocksVerified", 0, kMaxBlockCount)) {
        blocksVerifiedReported_ = static_cast<int>(*verified);
    }
    if (const auto sent = integerMember(event, "bytesSent", 0, kMaxBytes)) bytesSent_ = static_cast<std::uint64_t>(*sent);
    if (const auto received = integerMember(event, "bytesReceived", 0, kMaxBytes)) {
        bytesReceived_ = static_cast<std::uint64_t>(*received);
    }
    return true;
}

template <typename Object>
bool UnitState::takeCheck(const Object& event)
{
    std::optional<CheckResult> result = checkResultFrom(event);
    if (!result) return false;
    check_ = std::move(result);
    checkBeforeUpdate_ = boolMember(event, "skipCurrent");
    checking_ = false;
    // The check's verify pass is not the update's: an update that follows counts its own.
    verifyPass_ = false;
    blocksVerifiedSeen_ = 0;
    return true;
}

bool UnitState::checkIsOutcome() const
{
    return check_ && !(checkBeforeUpdate_ && check_->verdict == CheckVerdict::Differs);
}

bool UnitState::leftAlone() const
{
    return check_ && checkBeforeUpdate_ && check_->verdict == CheckVerdict::Holds;
}

MemoryState UnitState::memory() const
{
    if (finalCode() == OK_UPDATE_FINISHED) return MemoryState::WrittenAndVerified;
    if (memoryTouched_) return MemoryState::PartlyWritten;
    // Identified, and then nothing more was heard: frames may have gone that no event told.
    if (identified_ && !resultKnown_) return MemoryState::PartlyWritten;
    return MemoryState::Unchanged;
}

int UnitState::blocksWritten() const
{
    return blocksWrittenReported_.value_or(blocksWrittenSeen_);
}

int UnitState::blocksVerified() const
{
    return blocksVerifiedReported_.value_or(blocksVerifiedSeen_);
}

std::uint8_t UnitState::finalCode() const
{
    if (resultCode_) return *resultCode_;
    if (resultKnown_ || storedCodes_.empty()) return RESULT_NONE;
    return storedCodes_.back();
}

RunClock::RunClock() : startWall_(std::chrono::system_clock::now()), startSteady_(std::chrono::steady_clock::now()) {}

RunTimes RunClock::times() const
{
    const auto length = std::chrono::steady_clock::now() - startSteady_;
    return RunTimes{startWall_, startWall_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(length),
                    length};
}

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

Json codeObject(std::uint8_t code)
{
    Json object = objectWithRoom(2);
    object["code"] = code;
    object["name"] = resultName(code);
    return object;
}

Json unitReportObject(const UnitState& state, const UnitReportExtras& extras)
{
    constexpr std::size_t kUnitMembers = 24;   // every member below
    Json unit = objectWithRoom(kUnitMembers);
    const std::string& serial = state.identified() ? state.serial() : extras.serial;
    const std::string& port = state.identified() ? state.port() : extras.port;
    unit["serial"] = textOrNull(serial);
    unit["port"] = textOrNull(port);
    if (state.entry()) {
        const ReportEntry& entry = *state.entry();
        Json object = objectWithRoom(4);
        object["model"] = entry.model;
        object["target"] = entry.target;
        object["version"] = entry.version;
        object["firmwareFile"] = entry.firmwareFile;
        unit["entry"] = std::move(object);
    } else {
        unit["entry"] = nullptr;
    }
    Json stored = Json::array();
    stored.get_ref<Json::array_t&>().reserve(state.storedCodes().size());
    for (std::uint8_t code : state.storedCodes()) stored.push_back(codeObject(code));
    unit["stored"] = std::move(stored);
    const std::uint8_t finalCode = state.finalCode();
    unit["result"] = finalCode != RESULT_NONE ? codeObject(finalCode) : Json();
    if (const auto& refusal = state.firmwareRefusal()) {
        const auto positionOrNull = [](const std::optional<std::int64_t>& value) {
            return value ? Json(*value) : Json();
        };
        Json problem = objectWithRoom(4);
        problem["kind"] = refusal->kind;
        problem["record"] = positionOrNull(refusal->record);
        problem["line"] = positionOrNull(refusal->line);
        problem["address"] = positionOrNull(refusal->address);
        unit["firmwareProblem"] = std::move(problem);
    } else {
        unit["firmwareProblem"] = nullptr;
    }
    const std::optional<int> exitStatus = extras.exitStatus ? extras.exitStatus : state.exitStatus();
    unit["check"] = checkReport(state.check());
    unit["leftAlone"] = state.leftAlone();
    unit["exitStatus"] = exitStatus ? Json(*exitStatus) : Json();
    if (extras.times) {
        const double seconds = std::chrono::duration<double>(extras.times->length).count();
        unit["start"] = isoTime(extras.times->start);
        unit["end"] = isoTime(extras.times->end);
        unit["durationSeconds"] = std::round(seconds * 1000.0) / 1000.0;
    } else {
        unit["start"] = nullptr;
        unit["end"] = nullptr;
        unit["durationSeconds"] = nullptr;
    }
    unit["blocksWritten"] = state.blocksWritten();
    unit["blocksVerified"] = state.blocksVerified();
    unit["bytesSent"] = state.bytesSent() ? Json(*state.bytesSent()) : Json();
    unit["bytesReceived"] = state.bytesReceived() ? Json(*state.bytesReceived()) : Json();
    unit["latencyTimerMs"] = state.latencyTimerMs() ? Json(*state.latencyTimerMs()) : Json();
    const MemoryState memory = state.memory();
    unit["memory"] = memoryStateName(memory);
    unit["memoryPartlyWritten"] = memory == MemoryState::PartlyWritten;
    unit["unfinished"] = extras.unfinished || state.stopped();
    unit["duplicateSerial"] = extras.duplicateSerial;
    unit["lastError"] = textOrNull(state.lastError());
    unit["detail"] = textOrNull(state.detail());
    unit["reportProblem"] = textOrNull(state.reportProblem());
    return unit;
}

std::string jsonLine(const Json& value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string jsonDocumentText(const Json& document)
{
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}
