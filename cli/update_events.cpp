// SPDX-License-Identifier: MIT
// The events of an update, taken from the frames on the port and from the worker's reports.
#include "cli/update_events.h"

#include "cli/check_report.h"
#include "cli/console.h"
#include "files/device_list.h"
#include "files/firmware_image.h"
#include "files/texts.h"
#include "link/commands.h"
#include "link/discovery.h"
#include "link/frames.h"
#include "update/result_codes.h"
#include "update/shared_state.h"
#include "update/check.h"
#include "update/update.h"

#include <algorithm>

namespace {

constexpr std::size_t kCommandCodeOffset = 2;

bool isDataBlockFrame(std::span<const std::uint8_t> bytes)
{
    return bytes.size() == kDataBlockFrameSize && bytes[0] == kStx && bytes[1] == kDataBlockLengthByte;
}

// The command code of a command frame; nothing for other bytes.
std::optional<std::uint8_t> commandCode(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() <= kCommandCodeOffset || bytes[0] != kSoh) return std::nullopt;
    return bytes[kCommandCodeOffset];
}

Json named(const char* name)
{
    return Json{{"event", name}};
}

}  // namespace

std::string shownField(std::string_view cp1252)
{
    return cp1252ToUtf8(markControlCharactersInLine(cp1252));
}

void UnitEventLog::send(const Json& event)
{
    std::lock_guard lock(mutex_);
    state_.take(event);
    if (channel_ != nullptr) channel_->send(jsonLine(event));
}

void UnitEventLog::record(const Json& event)
{
    std::lock_guard lock(mutex_);
    state_.take(event);
}

void UnitEventLog::sendToChannel(const Json& event)
{
    std::lock_guard lock(mutex_);
    if (channel_ != nullptr) channel_->send(jsonLine(event));
}

UnitState UnitEventLog::state() const
{
    std::lock_guard lock(mutex_);
    return state_;
}

std::string portNameOf(const std::string& openedPath)
{
    for (int i = 0; i < portList.count(); ++i) {
        const std::string& name = portList.entry(i).portName;
        if (!name.empty() && (openedPath == name || openedPath.ends_with("\\" + name))) return name;
    }
    return openedPath;
}

void UpdateEventObserver::portError(std::string_view path, std::string_view reason)
{
    if (reason.empty()) return;   // a time-out: the unit did not answer, the port is fine
    log_.send(Json{{"event", event::kPortError},
                   {"port", shownField(portNameOf(std::string(path)))},
                   {"error", systemTextToUtf8(reason)}});
}

void UpdateEventObserver::portOpened(std::string_view path)
{
    openedPath_.assign(path);
    awaiting_ = Awaiting::Nothing;
    if (next_ != nullptr) next_->portOpened(path);
}

void UpdateEventObserver::portOpenFailed(std::string_view path, std::string_view reason)
{
    portError(path, reason);
    if (next_ != nullptr) next_->portOpenFailed(path, reason);
}

void UpdateEventObserver::portClosed()
{
    awaiting_ = Awaiting::Nothing;
    if (next_ != nullptr) next_->portClosed();
}

void UpdateEventObserver::speedChanged(std::uint32_t baud)
{
    if (next_ != nullptr) next_->speedChanged(baud);
}

void UpdateEventObserver::bytesWritten(std::span<const std::uint8_t> data, bool accepted)
{
    if (next_ != nullptr) next_->bytesWritten(data, accepted);
    awaiting_ = Awaiting::Nothing;
    if (!accepted) portError(openedPath_, portLastErrorText());
    // A frame the platform did not take completely may still have reached the unit in part:
    // what touches the memory counts as sent.
    if (isDataBlockFrame(data)) {
        blockIndex_ = nextBlock_++;
        awaiting_ = Awaiting::BlockAcknowledgement;
        return;
    }
    const std::optional<std::uint8_t> code = commandCode(data);
    if (!code) return;
    switch (*code) {
    case CMD_BLANK_CHECK:
        awaiting_ = Awaiting::BlankCheckAnswer;
        break;
    case CMD_ERASE:
        log_.send(named(event::kEraseSent));
        break;
    case CMD_PROGRAM_MODE:
        verifyPass_ = false;
        nextBlock_ = 0;
        log_.send(named(event::kProgramMode));
        break;
    case CMD_READ_CHECKSUM:
        log_.send(named(event::kChecksum));
        break;
    case CMD_VERIFY:
        verifyPass_ = true;
        nextBlock_ = 0;
        log_.send(named(event::kVerifyMode));
        break;
    default:
        break;
    }
}

void UpdateEventObserver::bytesRead(std::span<const std::uint8_t> received, std::size_t wanted,
                                    std::string_view failure)
{
    if (next_ != nullptr) next_->bytesRead(received, wanted, failure);
    const bool complete = received.size() == wanted;
    if (!complete) portError(openedPath_, failure);
    switch (awaiting_) {
    case Awaiting::Nothing:
        return;
    case Awaiting::BlankCheckAnswer:
        log_.send(Json{{"event", event::kBlankCheck},
                       {"blank", complete && std::ranges::equal(received, kAckFrame)}});
        break;
    case Awaiting::BlockAcknowledgement: {
        const bool acknowledged = complete && wanted == kBlockAckSize &&
                                  std::equal(kBlockAckHead.begin(), kBlockAckHead.end(), received.begin());
        log_.send(Json{{"event", verifyPass_ ? event::kBlockVerified : event::kBlockWritten},
                       {"block", blockIndex_},
                       {"acknowledged", acknowledged}});
        break;
    }
    }
    awaiting_ = Awaiting::Nothing;
}

void UpdateEventObserver::waited(int milliseconds)
{
    if (next_ != nullptr) next_->waited(milliseconds);
}

void ReportingDisplay::setDeviceLines(std::string_view deviceLine, std::string_view versionLine)
{
    inner_.setDeviceLines(deviceLine, versionLine);
    // During an update the lines are composed when a unit has answered (on the worker, the
    // only writer of busy and selectedEntry); before it, for the list's first entry.
    if (busy.load() == 0 || selectedEntry == nullptr) return;
    const DeviceListEntry& entry = *selectedEntry;
    log_.send(Json{{"event", event::kIdentified},
                   {"serial", shownField(entry.converterSerial)},
                   {"port", shownField(observer_.openedPortName())},
                   {"entry",
                    {{"model", shownField(entry.modelName)},
                     {"target", shownField(entry.targetName)},
                     {"version", shownField(entry.firmwareVersion)},
                     {"firmwareFile", shownField(entry.firmwareFile)}}},
                   {"blocks", protocolState.blockCount}});
}

void ReportingDisplay::firmwareFileRefused(std::string_view firmwareFile, const FirmwareProblem& problem)
{
    inner_.firmwareFileRefused(firmwareFile, problem);
    const auto positionOrNull = [](std::int64_t value, std::int64_t least) {
        return value >= least ? Json(value) : Json();
    };
    log_.send(Json{{"event", event::kFirmwareRefused},
                   {"file", shownField(firmwareFile)},
                   {"kind", std::string(firmwareProblemName(problem.kind))},
                   {"record", positionOrNull(problem.record, 1)},
                   {"line", positionOrNull(problem.line, 1)},
                   {"address", positionOrNull(problem.address, 0)},
                   {"text", shownField(firmwareProblemText(problem, lang_))}});
}

void ReportingDisplay::resultStored(std::uint8_t code)
{
    inner_.resultStored(code);
    // Codes stored outside an update (the first display's) are not the update's.
    if (busy.load() == 0 || code == RESULT_NONE) return;
    log_.send(Json{{"event", event::kCode}, {"code", code}, {"name", resultName(code)}});
}

void ReportingDisplay::checkStarted()
{
    inner_.checkStarted();
    log_.send(named(event::kCheckStarted));
}

void ReportingDisplay::checkEnded(const CheckResult& result)
{
    inner_.checkEnded(result);
    Json check = Json{{"event", event::kCheck}};
    check.update(checkReport(result));
    check["skipCurrent"] = startAction() == StartAction::UpdateUnlessCurrent;
    log_.send(check);
}
