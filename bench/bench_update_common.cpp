// SPDX-License-Identifier: MIT
// The update benchmarks' shared part: the timed update, the simulated unit's record read
// back into bytes per direction and line speed, the protocol's floor (the wire time of every
// byte at 10 bits per byte plus every pause the host must make) and the printed row.
#include "bench/bench_update_common.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "files/data_paths.h"
#include "link/commands.h"
#include "link/frames.h"
#include "link/serial.h"
#include "update/result_codes.h"
#include "update/shared_state.h"
#include "update/update.h"

namespace bench {

namespace {

namespace fs = std::filesystem;

constexpr double kBitsPerByte = 10.0;                   // start bit, 8 data bits, stop bit
constexpr int kConnectPausesMs = 3 * kFramePauseMs;     // before each wake byte and the frame
constexpr const char* kWorkDirPattern = "/tmp/vf-bench-update-XXXXXX";

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long countHexBytes(const std::string& text)
{
    std::istringstream in(text);
    std::string token;
    long count = 0;
    while (in >> token && token != "at") {
        ++count;
    }
    return count;
}

double wireSeconds(long bytes, std::uint32_t baud)
{
    return bytes * kBitsPerByte / baud;
}

// Every pause the host makes on the path of a successful update of a blank unit (a unit
// that is not blank adds the erase's pauses, counted from the record).
double prescribedPauseSeconds(const LineTraffic& traffic)
{
    int pausesMs = kPortOpenSettleMs + kConnectPausesMs;
    pausesMs += 2 * kFramePauseMs + kSpeedSwitchSettleMs;        // the two speed commands
    pausesMs += 2 * kFramePauseMs;                                 // information, second reply
    pausesMs += traffic.blankChecks * kFramePauseMs;               // each blank check
    pausesMs += traffic.blankChecks > 1 ? kFramePauseMs : 0;       // before the second check
    pausesMs += traffic.erases * kErasePauseMs;
    pausesMs += kFramePauseMs;                                     // program mode
    pausesMs += traffic.blockFrames * kFramePauseMs;               // every block of both passes
    pausesMs += kFramePauseMs;                                     // checksum
    pausesMs += kFramePauseMs + kVerifyPauseMs;                    // verify
    return pausesMs / 1000.0;
}

}  // namespace

int updateOnce(const char* resultFile)
{
    if (!initDataPaths(fs::current_path().string())) {
        return 2;
    }
    initSharedState();
    resetProtocolState();
    setMessageLanguage(kLanguageEnglish);

    const double cpuBefore = cpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    runUpdate();
    const auto wallAfter = std::chrono::steady_clock::now();
    const double cpuAfter = cpuSeconds();

    std::ofstream out(resultFile, std::ios::trunc);
    out << "code " << static_cast<int>(resultCode.load()) << '\n'
        << "blocks " << protocolState.blockCount << '\n'
        << "wall " << std::chrono::duration<double>(wallAfter - wallBefore).count() << '\n'
        << "cpu " << (cpuAfter - cpuBefore) << '\n';
    return out ? 0 : 2;
}

bool readInnerFigures(const fs::path& file, InnerFigures& figures)
{
    std::ifstream in(file);
    std::string key;
    int found = 0;
    while (in >> key) {
        if (key == "code") { in >> figures.code; ++found; }
        else if (key == "blocks") { in >> figures.blocks; ++found; }
        else if (key == "wall") { in >> figures.wallSeconds; ++found; }
        else if (key == "cpu") { in >> figures.cpuSeconds; ++found; }
    }
    return found == 4;
}

bool readTraffic(const fs::path& record, LineTraffic& traffic)
{
    std::ifstream in(record);
    if (!in) {
        return false;
    }
    bool fastLine = false;   // the speed of the host's last frame; a reply goes at that speed
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("wake byte", 0) == 0) {
            traffic.hostToUnitSlow += 1;
        } else if (line.rfind("frame ", 0) == 0) {
            const std::string bytes = line.substr(6);
            fastLine = line.find(" at " + std::to_string(kFastBaud)) != std::string::npos;
            (fastLine ? traffic.hostToUnitFast : traffic.hostToUnitSlow) += countHexBytes(bytes);
            ++traffic.commandFrames;
            if (bytes.rfind("01 07 32", 0) == 0) ++traffic.blankChecks;
            if (bytes.rfind("01 07 20", 0) == 0) ++traffic.erases;
        } else if (line.rfind("block ", 0) == 0) {
            traffic.hostToUnitFast += static_cast<long>(kDataBlockFrameSize);
            ++traffic.blockFrames;
            fastLine = true;
        } else if (line.rfind("sent ", 0) == 0) {
            (fastLine ? traffic.unitToHostFast : traffic.unitToHostSlow) += countHexBytes(line.substr(5));
        } else if (line.rfind("converter: FT232R, ", 0) == 0) {
            int latencyMs = 0, frames = 0;
            double heldMs = 0;
            if (std::sscanf(line.c_str(), "converter: FT232R, latency timer %d ms; %d answered frames, replies held %lf ms",
                            &latencyMs, &frames, &heldMs) == 3) {
                traffic.converterLatencyMs = latencyMs;
                traffic.converterHeldSeconds = heldMs / 1000.0;
            }
        } else if (line.rfind("converter latency timer 1 ms (low-latency request set by the host)", 0) == 0) {
            traffic.lowLatencyRequested = true;
        } else if (line.rfind("pacing: ", 0) == 0) {
            int frames = 0;
            double lateMs = 0;
            if (std::sscanf(line.c_str(), "pacing: %d frames, unit late by %lf ms", &frames, &lateMs) == 2) {
                traffic.unitLateSeconds = lateMs / 1000.0;
            }
        }
    }
    return traffic.commandFrames > 0;
}

Row makeRow(const InnerFigures& figures, const LineTraffic& traffic, bool paced)
{
    Row row;
    row.figures = figures;
    row.traffic = traffic;
    row.slowWireSeconds = wireSeconds(traffic.hostToUnitSlow + traffic.unitToHostSlow, kInitialBaud);
    row.fastWireSeconds = wireSeconds(traffic.hostToUnitFast + traffic.unitToHostFast, kFastBaud);
    row.pauseSeconds = prescribedPauseSeconds(traffic);
    row.floorSeconds = (paced ? row.slowWireSeconds + row.fastWireSeconds : 0.0) + row.pauseSeconds;
    return row;
}

void printRow(const char* label, int run, const Row& row, bool paced)
{
    const LineTraffic& traffic = row.traffic;
    std::printf("run %d, %s:\n", run, label);
    std::printf("  %d blocks, %d command frames, %d block frames\n", row.figures.blocks, traffic.commandFrames,
                traffic.blockFrames);
    std::printf("  bytes at %u baud: host->unit %ld, unit->host %ld (%.4f s on the wire)\n", kInitialBaud,
                traffic.hostToUnitSlow, traffic.unitToHostSlow, row.slowWireSeconds);
    std::printf("  bytes at %u baud: host->unit %ld, unit->host %ld (%.4f s on the wire)\n", kFastBaud,
                traffic.hostToUnitFast, traffic.unitToHostFast, row.fastWireSeconds);
    std::printf("  prescribed pauses: %.4f s\n", row.pauseSeconds);
    std::printf("  protocol floor:    %.4f s%s\n", row.floorSeconds,
                paced ? "" : " (pauses only: the unit is not paced)");
    std::printf("  measured wall:     %.4f s\n", row.figures.wallSeconds);
    std::printf("  wall / floor:      %.4f\n", row.ratio());
    if (traffic.unitLateSeconds >= 0) {
        std::printf("  unit's own lateness against its pacing: %.4f s\n", traffic.unitLateSeconds);
        std::printf("  host and pty: (wall - unit's lateness) / floor: %.4f\n", row.hostRatio());
    }
    if (traffic.unitLateSeconds >= 0 && row.ptySeconds >= 0) {
        std::printf("  pty's hand-overs of the block frames: %.4f s\n", row.ptySeconds);
        std::printf("  host alone: (wall - unit's lateness - pty's hand-overs) / floor: %.4f\n", row.hostAloneRatio());
    }
    if (traffic.converterHeldSeconds >= 0) {
        std::printf("  modelled FT232R: latency timer %d ms%s; held the replies %.4f s = %.2f %% of wall\n",
                    traffic.converterLatencyMs,
                    traffic.lowLatencyRequested ? " (set by the program's low-latency request)" : "",
                    traffic.converterHeldSeconds, row.converterPercent());
    }
    std::printf("  CPU (user+sys):    %.4f s = %.2f %% of wall\n", row.figures.cpuSeconds, row.cpuPercent());
    // The machine is shared: the load beside the figures says how quiet the run was.
    std::ifstream loadFile("/proc/loadavg");
    std::string load;
    if (loadFile >> load) {
        std::printf("  load average (1 min) after the run: %s\n", load.c_str());
    }
    std::fflush(stdout);
}

pid_t startChild(const std::vector<std::string>& arguments, const fs::path& directory)
{
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid != 0) {
        return pid;   // the child's pid, or -1
    }
    if (!directory.empty() && chdir(directory.c_str()) != 0) {
        _exit(127);
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

int runChild(const std::vector<std::string>& arguments, const fs::path& directory)
{
    const pid_t pid = startChild(arguments, directory);
    if (pid < 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

WorkCopy::WorkCopy(const fs::path& sample)
{
    std::string pattern = kWorkDirPattern;
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("vf-bench-update: mkdtemp");
        return;
    }
    path_ = pattern;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(sample, error)) {
        if (entry.is_regular_file()) {
            fs::copy_file(entry.path(), path_ / entry.path().filename(), error);
        }
    }
}

WorkCopy::~WorkCopy()
{
    if (!path_.empty()) {
        std::error_code error;
        fs::remove_all(path_, error);
    }
}

}  // namespace bench
