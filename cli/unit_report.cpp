// SPDX-License-Identifier: MIT
// The report's target and document, the trace file names of --all, and the observers of a run.
#include "cli/unit_report.h"

#include "cli/console.h"
#include "update/result_codes.h"

#ifndef VF_VERSION
#define VF_VERSION "unknown"
#endif

bool ReportTarget::prepare(const std::string& path, std::string& error)
{
    path_ = path;
    if (path == "-") {
        toStandardOutput_ = true;
        return true;
    }
    return file_.create(path, error);
}

bool ReportTarget::deliver(const Json& document, std::string& error)
{
    const std::string text = jsonDocumentText(document);
    if (toStandardOutput_) return writeReportToStandardOutput(text, error);
    if (!file_.isOpen()) {
        error = "not prepared";
        return false;
    }
    file_.write(text);
    return file_.commit(error);
}

Json reportDocument(Json units, bool interrupted, Json notConnected)
{
    Json document = Json::object();
    document["program"] = "varnoflex-cli";
    document["version"] = VF_VERSION;
    document["interrupted"] = interrupted;
    document["units"] = std::move(units);
    document["notConnected"] = std::move(notConnected);
    return document;
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

UnitRun::UnitRun(UpdateDisplay& terminal, EventChannel* channel, std::FILE* trace, int lang)
    : events_(channel),
      trace_(trace != nullptr ? std::optional<PortTrace>(std::in_place, trace) : std::nullopt),
      eventObserver_(events_, trace_ ? &*trace_ : nullptr),
      counter_(&eventObserver_),
      display_(terminal, events_, eventObserver_, lang)
{
}

UnitRun::~UnitRun()
{
    stop();
}

void UnitRun::start()
{
    clock_.emplace();
    setPortObserver(&counter_);
    setUpdateDisplay(&display_);
}

void UnitRun::stop()
{
    setPortObserver(nullptr);
    setUpdateDisplay(nullptr);
}

Json UnitRun::resultEvent(const Outcome& outcome) const
{
    Json event = Json::object();
    event["event"] = event::kResult;
    event["code"] = outcome.finalCode != RESULT_NONE ? Json(outcome.finalCode) : Json();
    event["name"] = outcome.finalCode != RESULT_NONE ? Json(resultName(outcome.finalCode)) : Json();
    event["exitStatus"] = outcome.exitStatus;
    event["stopped"] = outcome.stopped;
    event["detail"] = outcome.detail.empty() ? Json() : Json(outcome.detail);
    event["lastError"] = outcome.lastError.empty() ? Json() : Json(outcome.lastError);
    event["reportProblem"] = outcome.reportProblem.empty() ? Json() : Json(outcome.reportProblem);
    event["blocksWritten"] = counter_.blocksWritten();
    event["blocksVerified"] = counter_.blocksVerified();
    event["bytesSent"] = counter_.bytesSent();
    event["bytesReceived"] = counter_.bytesReceived();
    return event;
}
