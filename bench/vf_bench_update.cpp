// SPDX-License-Identifier: MIT
// vf-bench-update: times one complete firmware update (identification, write pass and verify
// pass over all 512 blocks) against the simulated unit, which paces every byte at its wire
// time, and sets it against the protocol's floor: the wire time of every byte exchanged plus
// every pause the protocol prescribes. Also reports the CPU time the updating process used.
//
//   vf-bench-update [--testbed PATH] [--sim PATH] [--direct PATH] [--sample DIR] [--runs N]
//                   [--no-pace] [--only ROW[,ROW...]]
//
// Each run gives five rows, one after the other (ROW names them for --only):
//   "through the emulated FTDI converter (umockdev)": this program runs itself under
//     vf-testbed ("--update-once RESULTFILE" is that inner run), so discovery goes through
//     udev and every read and write on the port through umockdev's preload;
//   "direct pty (no emulation)": vf-bench-update-direct starts vf-sim on a plain pty and
//     updates over it, with the same update code and the discovery replaced by that pty;
//   three rows through the modelled FT232R of the converter (vf-sim --ft232r, see
//   sim/ft232r_model.h), which hands the unit's replies to the host as a real cable does:
//     "ft232r": direct pty, the chip's latency timer at 1 ms, what the program's low-latency
//       request gives on Linux (a plain pty cannot carry the request: the row gives the unit
//       the timer that the "ft232r-emulated" row shows the request setting);
//     "ft232r-16ms": direct pty, the timer at the converter's own 16 ms, as without the
//       request: what the request is worth;
//     "ft232r-emulated": through the emulated converter, the timer as the program's request
//       seen through the emulated tty (TIOCSSERIAL) sets it.
// All read the unit's record of every byte that crossed the line for the floor; the
// modelled rows also give how long the converter held the replies back, as a share of the
// wall time (the model's own share: what a user's cable costs beyond the pty).
// --no-pace lets the unit answer at once: the floor is then the pauses alone, and what is
// left over is the host's and the line's own overhead (sleeps that run long, wake-ups).
// A paced unit also reports how late it was against its own pacing (each answered frame's
// last reply byte handed to the line after its wire time, counted from the frame's end, so
// that taking the frame up late and handling it count too); the host waited for
// that too, so each row also gives the host's figure with the unit's lateness taken out.
// The direct row also sets the host's times of every block frame against the unit's (both
// note them on the steady clock) and prints where each frame's time beyond its floor went:
// the host's own part, the pty's hand-overs between the two processes, and the unit's; the
// host alone is then the figure without the unit's lateness and without the hand-overs.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bench_update_common.h"
#include "bench/frame_breakdown.h"
#include "update/result_codes.h"

namespace {

namespace fs = std::filesystem;

#ifndef VF_DEFAULT_TESTBED
#define VF_DEFAULT_TESTBED "vf-testbed"
#endif
#ifndef VF_DEFAULT_SIM
#define VF_DEFAULT_SIM "vf-sim"
#endif
#ifndef VF_DEFAULT_SAMPLE_DIR
#define VF_DEFAULT_SAMPLE_DIR "sample"
#endif
constexpr const char* kDirectProgramName = "vf-bench-update-direct";   // beside this program

// One kind of row: where the update runs and what stands between the unit and the host.
struct RowKind {
    const char* name;
    const char* label;
    bool emulated;     // through vf-testbed (udev, umockdev's preload), else a plain pty
    bool ft232r;       // the modelled FT232R in the line
    int latencyMs;     // the modelled chip's timer on a plain pty (0: the converter's default)
};

constexpr RowKind kRowKinds[] = {
    {"direct", "direct pty (no emulation)", false, false, 0},
    {"emulated", "through the emulated FTDI converter (umockdev)", true, false, 0},
    {"ft232r", "modelled FT232R, timer 1 ms (the low-latency request), direct pty", false, true, 1},
    {"ft232r-16ms", "modelled FT232R, timer 16 ms (no low-latency request), direct pty", false, true, 16},
    {"ft232r-emulated", "modelled FT232R behind the emulated converter, timer as the program sets it", true, true, 0},
};
constexpr std::size_t kRowKindCount = std::size(kRowKinds);

struct Settings {
    std::string testbed = VF_DEFAULT_TESTBED;
    std::string sim = VF_DEFAULT_SIM;
    std::string direct;
    fs::path sample = VF_DEFAULT_SAMPLE_DIR;
    std::string self;
    int runs = 1;
    bool paced = true;
    bool wanted[kRowKindCount] = {true, true, true, true, true};
};

// "direct,ft232r" and the like; false for an unknown name.
bool chooseRows(const std::string& list, Settings& settings)
{
    std::fill(std::begin(settings.wanted), std::end(settings.wanted), false);
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string name = list.substr(start, comma - start);
        const auto* kind = std::find_if(std::begin(kRowKinds), std::end(kRowKinds),
                                        [&](const RowKind& k) { return name == k.name; });
        if (kind == std::end(kRowKinds)) {
            return false;
        }
        settings.wanted[kind - std::begin(kRowKinds)] = true;
        start = comma + 1;
    }
    return true;
}

// Turns a finished inner run into a row; false (with the reason on stderr) when it failed.
bool collectRow(const char* label, int run, int status, const fs::path& work, bool paced, bench::Row& row)
{
    bench::InnerFigures figures;
    bench::LineTraffic traffic;
    const bool complete = status == 0 && bench::readInnerFigures(work / "figures.txt", figures) &&
                          bench::readTraffic(work / "record.txt", traffic);
    if (!complete) {
        std::fprintf(stderr, "vf-bench-update: run %d, %s: failed (status %d)\n", run, label, status);
        return false;
    }
    if (figures.code != OK_UPDATE_FINISHED) {
        std::fprintf(stderr, "vf-bench-update: run %d, %s: ended with result code %d\n", run, label, figures.code);
        return false;
    }
    row = bench::makeRow(figures, traffic, paced);
    return true;
}

bool emulatedRun(const Settings& settings, const RowKind& kind, int run, bench::Row& row)
{
    const bench::WorkCopy work(settings.sample);
    if (!work.valid()) {
        return false;
    }
    std::vector<std::string> command{settings.testbed, "--record", (work.path() / "record.txt").string()};
    if (settings.paced) {
        command.emplace_back("--pace");
    }
    if (kind.ft232r) {
        command.emplace_back("--ft232r");
    }
    for (const char* argument : {"--", settings.self.c_str(), "--update-once", "figures.txt"}) {
        command.emplace_back(argument);
    }
    const int status = bench::runChild(command, work.path());
    return collectRow(kind.label, run, status, work.path(), settings.paced, row);
}

bool directRun(const Settings& settings, const RowKind& kind, int run, bench::Row& row, bench::FrameBreakdown& breakdown)
{
    const bench::WorkCopy work(settings.sample);
    if (!work.valid()) {
        return false;
    }
    std::vector<std::string> command{settings.direct, "--sim", settings.sim, "--record",
                                     (work.path() / "record.txt").string(), "--update-once", "figures.txt"};
    // The frame breakdown sets the host's times against the unit's over a plain pty; with
    // the modelled converter in between, its hold would count as the unit's.
    const bool breakdownWanted = settings.paced && !kind.ft232r;
    if (breakdownWanted) {
        command.insert(command.end(), {"--host-timing", "host-timing.txt", "--unit-timing", "unit-timing.txt"});
    }
    if (settings.paced) {
        command.emplace_back("--pace");
    }
    if (kind.ft232r) {
        command.insert(command.end(), {"--ft232r", "--latency-timer", std::to_string(kind.latencyMs)});
    }
    const int status = bench::runChild(command, work.path());
    if (!collectRow(kind.label, run, status, work.path(), settings.paced, row)) {
        return false;
    }
    std::string error;
    if (breakdownWanted &&
        !bench::readFrameBreakdown(work.path() / "host-timing.txt", work.path() / "unit-timing.txt", breakdown, error)) {
        std::fprintf(stderr, "vf-bench-update: run %d, %s: no breakdown of the frames: %s\n", run, kind.label,
                     error.c_str());
        breakdown = bench::FrameBreakdown{};
    }
    if (breakdown.frames > 0) {
        row.ptySeconds = breakdown.seconds("pty");
    }
    return true;
}

// Lowest, mean and highest ratio and CPU share over the runs of one row.
void printSummary(const char* label, const std::vector<bench::Row>& rows)
{
    if (rows.size() < 2) {
        return;
    }
    // Lowest, mean and highest of one figure over the rows.
    struct Spread {
        double low = 0, sum = 0, high = 0;
        void add(double value, bool first) {
            low = first ? value : std::min(low, value);
            high = first ? value : std::max(high, value);
            sum += value;
        }
    };
    Spread ratio, host, hostAlone, unitLate, converterShare, converterHeld;
    bool converterReported = true;
    double cpuSum = 0;
    bool unitReported = true;
    bool ptyReported = true;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const bench::Row& row = rows[i];
        ratio.add(row.ratio(), i == 0);
        host.add(row.hostRatio(), i == 0);
        hostAlone.add(row.hostAloneRatio(), i == 0);
        ptyReported = ptyReported && row.ptySeconds >= 0;
        unitLate.add(row.traffic.unitLateSeconds, i == 0);
        cpuSum += row.cpuPercent();
        converterReported = converterReported && row.traffic.converterHeldSeconds >= 0;
        converterHeld.add(row.traffic.converterHeldSeconds, i == 0);
        converterShare.add(row.converterPercent(), i == 0);
        unitReported = unitReported && row.traffic.unitLateSeconds >= 0;
    }
    const double count = static_cast<double>(rows.size());
    std::printf("%s, %zu runs: wall / floor %.4f lowest, %.4f mean, %.4f highest; CPU %.2f %% of wall (mean)\n",
                label, rows.size(), ratio.low, ratio.sum / count, ratio.high, cpuSum / count);
    if (converterReported) {
        std::printf("%s, %zu runs: modelled FT232R held the replies %.4f s lowest, %.4f s mean, %.4f s highest "
                    "(%.2f %% of wall mean)\n",
                    label, rows.size(), converterHeld.low, converterHeld.sum / count, converterHeld.high,
                    converterShare.sum / count);
    }
    if (unitReported) {
        std::printf("%s, %zu runs: unit's own lateness %.4f s lowest, %.4f s mean, %.4f s highest\n", label,
                    rows.size(), unitLate.low, unitLate.sum / count, unitLate.high);
        std::printf("%s, %zu runs: host and pty (wall - unit's lateness) / floor %.4f lowest, %.4f mean, %.4f highest\n",
                    label, rows.size(), host.low, host.sum / count, host.high);
    }
    if (unitReported && ptyReported) {
        std::printf("%s, %zu runs: host alone (wall - unit's lateness - pty's hand-overs) / floor %.4f lowest, %.4f mean, "
                    "%.4f highest\n",
                    label, rows.size(), hostAlone.low, hostAlone.sum / count, hostAlone.high);
    }
}

void usage()
{
    std::fprintf(stderr,
                 "usage: vf-bench-update [--testbed PATH] [--sim PATH] [--direct PATH] [--sample DIR] [--runs N]\n"
                 "                       [--no-pace] [--only ROW[,ROW...]]\n"
                 "rows: direct, emulated, ft232r, ft232r-16ms, ft232r-emulated (default: all, in this order)\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--update-once") == 0) {
        return bench::updateOnce(argv[2]);
    }
    Settings settings;
    std::error_code error;
    settings.self = fs::canonical("/proc/self/exe", error).string();
    settings.direct = (fs::path(settings.self).parent_path() / kDirectProgramName).string();
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--testbed" && i + 1 < argc) {
            settings.testbed = argv[++i];
        } else if (argument == "--sim" && i + 1 < argc) {
            settings.sim = argv[++i];
        } else if (argument == "--direct" && i + 1 < argc) {
            settings.direct = argv[++i];
        } else if (argument == "--sample" && i + 1 < argc) {
            settings.sample = argv[++i];
        } else if (argument == "--runs" && i + 1 < argc) {
            settings.runs = std::max(1, std::atoi(argv[++i]));
        } else if (argument == "--no-pace") {
            settings.paced = false;
        } else if (argument == "--only" && i + 1 < argc && chooseRows(argv[i + 1], settings)) {
            ++i;
        } else {
            usage();
            return 2;
        }
    }
    // The inner runs work in copies elsewhere: paths given relative to here must not move.
    settings.sample = fs::absolute(settings.sample, error);
    for (std::string* path : {&settings.testbed, &settings.sim, &settings.direct}) {
        if (path->find('/') != std::string::npos) {
            *path = fs::absolute(*path, error).string();
        }
    }

    // The kinds of row take turns within every run, so that a change in the machine's load
    // falls on all of them alike.
    std::vector<bench::Row> rows[kRowKindCount];
    int failures = 0;
    for (int run = 1; run <= settings.runs; ++run) {
        for (std::size_t k = 0; k < kRowKindCount; ++k) {
            if (!settings.wanted[k]) {
                continue;
            }
            const RowKind& kind = kRowKinds[k];
            bench::Row row;
            bench::FrameBreakdown breakdown;
            const bool done = kind.emulated ? emulatedRun(settings, kind, run, row)
                                            : directRun(settings, kind, run, row, breakdown);
            if (!done) {
                ++failures;
                continue;
            }
            bench::printRow(kind.label, run, row, settings.paced);
            if (breakdown.frames > 0) {
                bench::printFrameBreakdown(breakdown);
            }
            if (kind.ft232r && kind.emulated && !row.traffic.lowLatencyRequested) {
                std::printf("  (the program did not ask the converter for low latency)\n");
            }
            rows[k].push_back(row);
        }
    }
    for (std::size_t k = 0; k < kRowKindCount; ++k) {
        printSummary(kRowKinds[k].label, rows[k]);
    }
    return failures == 0 ? 0 : 1;
}
