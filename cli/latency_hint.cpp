// SPDX-License-Identifier: MIT
// The command line's part of the converter's latency timer (see latency_hint.h).
#include "cli/latency_hint.h"

#include "cli/cli_texts.h"
#include "files/data_paths.h"
#include "files/device_list.h"
#include "link/discovery.h"
#include "update/result_codes.h"

#include <algorithm>
#include <cmath>

namespace {

// The words of the hint and of --set-latency-timer; %s and %d are filled in order.
struct LatencyTexts {
    const char* hint;               // serial, timer, seconds, the command
    const char* set;                // serial, timer
    const char* needsAdministrator; // the command
    const char* failed;             // serial, the system's words
    const char* noneKnown;
    const char* noDriver;
    const char* deviceList;         // the path
    const char* notHere;
    const char* stayed;             // serial, timer, seconds, the sysfs file
};

constexpr LatencyTexts kEnglish = {
    "Converter %s: its latency timer is %d ms, which makes an update wait about %.0f s longer than at 1 ms; "
    "to lower it, an administrator runs \"%s\" and plugs the converter in again.",
    "Converter %s: latency timer set to %d ms. Plug the converter in again: the FTDI driver takes the new value "
    "then.",
    "Setting the latency timer needs administrator rights: run \"%s\" as administrator.",
    "Converter %s: the latency timer cannot be set: %s.",
    "The FTDI driver knows no converter of the device list.",
    "The FTDI converters cannot be listed (is the FTDI driver installed?).",
    "The device list cannot be read: %s",
    "--set-latency-timer is for Windows; on Linux the program asks the driver for a 1 ms latency timer itself.",
    "Converter %s: its latency timer is %d ms although the program asked the driver for low latency, which makes an "
    "update wait about %.0f s longer than at 1 ms; to lower it, root writes 1 into %s.",
};

constexpr LatencyTexts kGerman = {
    "Wandler %s: sein Latenz-Timer steht auf %d ms, dadurch wartet eine Aktualisierung etwa %.0f s länger als "
    "bei 1 ms; zum Senken führt ein Administrator \"%s\" aus und steckt den Wandler neu ein.",
    "Wandler %s: Latenz-Timer auf %d ms gesetzt. Stecken Sie den Wandler neu ein: dann übernimmt der FTDI-Treiber "
    "den neuen Wert.",
    "Den Latenz-Timer setzen darf nur ein Administrator: führen Sie \"%s\" als Administrator aus.",
    "Wandler %s: der Latenz-Timer kann nicht gesetzt werden: %s.",
    "Der FTDI-Treiber kennt keinen Wandler der Geräteliste.",
    "Die FTDI-Wandler können nicht aufgelistet werden (ist der FTDI-Treiber installiert?).",
    "Die Geräteliste kann nicht gelesen werden: %s",
    "--set-latency-timer ist für Windows; unter Linux bittet das Programm den Treiber selbst um 1 ms.",
    "Wandler %s: sein Latenz-Timer steht auf %d ms, obwohl das Programm den Treiber um geringe Latenz gebeten hat; "
    "dadurch wartet eine Aktualisierung etwa %.0f s länger als bei 1 ms; zum Senken schreibt root 1 in %s.",
};

const LatencyTexts& textsFor(int lang)
{
    return lang == kLanguageGerman ? kGerman : kEnglish;
}

std::string commandFor(int milliseconds)
{
    return "varnoflex-cli --set-latency-timer " + std::to_string(milliseconds);
}

template <typename... Values>
std::string formatted(const char* format, Values... values)
{
    const int length = std::snprintf(nullptr, 0, format, values...);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, values...);
    text.pop_back();
    return text;
}

}  // namespace

// The estimate takes the exchange's period as exact; a timer that happens to fit it would
// cost nothing on paper, but the host's own jitter breaks such a lock: at least 1 s is said.
double costToSay(int latencyMs)
{
    return std::max(latencyTimerCostSeconds(latencyMs, kLatencyTimerCostBlocks), 1.0);
}

std::string latencyHintLine(int lang, std::string_view serial, int latencyMs)
{
    return formatted(textsFor(lang).hint, std::string(serial).c_str(), latencyMs, costToSay(latencyMs),
                     commandFor(kLatencyTimerMinMs).c_str());
}

std::string latencyStayedLine(int lang, std::string_view serial, int latencyMs, std::string_view file)
{
    return formatted(textsFor(lang).stayed, std::string(serial).c_str(), latencyMs, costToSay(latencyMs),
                     std::string(file).c_str());
}

std::optional<int> checkLatencyTimerAfterUpdate(const std::string& serial, int lang, std::FILE* out)
{
    if (latencyTimerInRegistry() || serial.empty()) return std::nullopt;
    const std::optional<int> latencyMs = readLatencyTimer(serial);
    if (latencyMs && *latencyMs > kLatencyTimerHintAboveMs) {
        std::fprintf(out, "%s\n", latencyStayedLine(lang, serial, *latencyMs, latencyTimerFile(serial)).c_str());
        std::fflush(out);
    }
    return latencyMs;
}

std::vector<std::string> convertersToTry(const std::optional<std::string>& serial)
{
    std::vector<std::string> serials;
    DeviceList devices;
    PortList ports;
    if (!loadDeviceList(devices, dataPaths.deviceListPath) || !findFtdiPorts(devices, ports)) return serials;
    for (int i = 0; i < ports.count(); ++i) {
        const std::string& found = ports.entry(i).serial;
        if (serial && found != *serial) continue;
        if (std::find(serials.begin(), serials.end(), found) == serials.end()) serials.push_back(found);
    }
    return serials;
}

std::map<std::string, int> checkLatencyTimers(const std::vector<std::string>& serials, int lang, std::FILE* out)
{
    std::map<std::string, int> timers;
    if (!latencyTimerInRegistry()) return timers;
    for (const std::string& serial : serials) {
        const std::optional<int> latencyMs = readLatencyTimer(serial);
        if (!latencyMs) continue;
        timers[serial] = *latencyMs;
        if (*latencyMs > kLatencyTimerHintAboveMs) {
            std::fprintf(out, "%s\n", latencyHintLine(lang, serial, *latencyMs).c_str());
        }
    }
    std::fflush(out);
    return timers;
}

int describeLatencyTimerChanges(bool listed, const std::vector<LatencyTimerChange>& changes, int milliseconds,
                                int lang, std::vector<std::string>& lines)
{
    const LatencyTexts& texts = textsFor(lang);
    lines.clear();
    if (!listed) {
        lines.push_back(texts.noDriver);
        return ERROR_NO_FTDI_DRIVER;
    }
    if (changes.empty()) {
        lines.push_back(texts.noneKnown);
        return ERROR_NO_DRIVER_ENTRY;
    }
    bool needsAdministrator = false;
    bool failed = false;
    for (const LatencyTimerChange& change : changes) {
        switch (change.outcome) {
        case LatencyTimerOutcome::Set:
            lines.push_back(formatted(texts.set, change.serial.c_str(), milliseconds));
            break;
        case LatencyTimerOutcome::NeedsAdministrator:
            needsAdministrator = true;
            break;
        case LatencyTimerOutcome::Failed:
            failed = true;
            lines.push_back(formatted(texts.failed, change.serial.c_str(), change.error.c_str()));
            break;
        }
    }
    // The rights are the same for every converter: said once, with the command to run.
    if (needsAdministrator) lines.push_back(formatted(texts.needsAdministrator, commandFor(milliseconds).c_str()));
    if (needsAdministrator) return kExitNeedsAdministrator;
    return failed ? kExitRegistryWriteFailed : kExitSuccess;
}

int setLatencyTimerCommand(int milliseconds, int lang)
{
    const LatencyTexts& texts = textsFor(lang);
    if (!latencyTimerInRegistry()) {
        std::fprintf(stderr, "varnoflex-cli: %s\n", texts.notHere);
        return kExitUsage;
    }
    DeviceList devices;
    if (!loadDeviceList(devices, dataPaths.deviceListPath)) {
        std::fprintf(stderr, "varnoflex-cli: %s\n", formatted(texts.deviceList, dataPaths.deviceListPath.c_str()).c_str());
        return ERROR_OPEN_FILE_LIST;
    }
    std::vector<LatencyTimerChange> changes;
    const bool listed = setLatencyTimers(devices, milliseconds, changes);
    std::vector<std::string> lines;
    const int status = describeLatencyTimerChanges(listed, changes, milliseconds, lang, lines);
    for (const std::string& line : lines) std::fprintf(status == kExitSuccess ? stdout : stderr, "%s\n", line.c_str());
    return status;
}
