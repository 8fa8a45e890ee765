// SPDX-License-Identifier: MIT
// vf-bench-update-direct: the inner run of vf-bench-update's second row. It times one
// complete update (runUpdate, unmodified) over a plain pty to a vf-sim it starts itself,
// with no USB emulation in the path, so the row shows what the update code and the pty
// cost without umockdev's per-call socket round trips.
//
//   vf-bench-update-direct --sim PATH --record FILE [--pace] [--ft232r --latency-timer MS]
//                          [--host-timing FILE --unit-timing FILE] --update-once FIGURES
//
// Runs in a directory holding the data set; starts `vf-sim [--pace] [--ft232r --latency-timer
// MS] --record FILE --pty PATHFILE`, updates, stops the unit (which then writes its record) and writes the figures.
// --host-timing writes when each of the host's port operations ended ("write N NS",
// "read N NS", "wait MS NS" where wait is the start of a pause; steady clock in ns) and
// --unit-timing has the unit write its own times of the same frames (vf-sim --timing).
// Exit status: 0 done; 1 the unit recorded protocol violations or the update did not reach
// the unit; 2 the run could not be set up.
//
// Converter discovery is replaced here, not in the library. findFtdiPorts and
// listFtdiConverters below are the program's own definitions of the two functions of
// link/discovery.h. varnoflex is a static archive, and the linker takes a member out of an
// archive only to satisfy a symbol still undefined at that point; this file's object comes
// before the archive on the link line, so both symbols are already defined and
// link/discovery_udev.o (which defines nothing else anybody uses) is never pulled in. Had
// anything pulled it in, the link would fail with duplicate definitions rather than quietly
// use udev; `nm vf-bench-update-direct | grep udev_` shows no udev function in the program.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_update_common.h"
#include "files/data_paths.h"
#include "files/device_list.h"
#include "link/discovery.h"
#include "link/serial.h"

namespace {

namespace fs = std::filesystem;

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitSetup = 2;
constexpr int kSimStartLimitMs = 5000;   // how long vf-sim may take to name its pty
constexpr int kSimStartPollMs = 5;
constexpr const char* kPtyPathFile = "vf-sim-pty.txt";

// The one converter this program presents: the pty's terminal side.
std::string directPortPath;
std::string directSerial;                 // for listFtdiConverters, which gets no device list
std::atomic<int> discoveryCalls{0};

// A vf-sim child: stopped with SIGTERM and waited for when the object goes, unless
// stop() has already done so.
class SimProcess {
public:
    SimProcess() = default;
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    ~SimProcess() { stop(); }

    bool start(const std::vector<std::string>& arguments)
    {
        const pid_t pid = bench::startChild(arguments, {});
        if (pid < 0) {
            return false;
        }
        pid_ = pid;
        return true;
    }

    // True while the child has not ended.
    bool running()
    {
        if (pid_ <= 0) {
            return false;
        }
        int status = 0;
        const pid_t ended = waitpid(pid_, &status, WNOHANG);
        if (ended == pid_) {
            pid_ = -1;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return false;
        }
        return true;
    }

    // Asks the unit to stop, waits for it and returns its exit status (-1 when there is none).
    int stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid_ = -1;
        }
        return status_;
    }

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// Waits for vf-sim to write its pty's path; empty when it does not within the limit.
std::string awaitPtyPath(SimProcess& sim)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSimStartLimitMs);
    while (std::chrono::steady_clock::now() < deadline && sim.running()) {
        std::ifstream in(kPtyPathFile);
        std::string path;
        if (in && std::getline(in, path) && !path.empty()) {
            return path;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kSimStartPollMs));
    }
    return {};
}

// The serial of the data set's first device list entry, as the unit's converter reports it.
std::string firstListedSerial()
{
    if (!initDataPaths(fs::current_path().string())) {
        return {};
    }
    DeviceList devices;
    if (!loadDeviceList(devices, dataPaths.deviceListPath) || devices.entryCount() == 0) {
        return {};
    }
    return devices.entry(0).converterSerial;
}

// Notes the steady-clock time of every port operation in memory (a few nanoseconds each,
// so that taking the times does not change them) and writes them out after the update.
class TimingObserver final : public PortObserver {
public:
    TimingObserver() { events_.reserve(kExpectedEvents); }
    void portOpened(std::string_view) override {}
    void portOpenFailed(std::string_view, std::string_view) override {}
    void portClosed() override {}
    void speedChanged(std::uint32_t) override {}
    void bytesWritten(std::span<const std::uint8_t> data, bool) override { note("write", data.size()); }
    void bytesRead(std::span<const std::uint8_t> received, std::size_t, std::string_view) override
    {
        note("read", received.size());
    }
    void waited(int milliseconds) override { note("wait", static_cast<std::size_t>(std::max(milliseconds, 0))); }

    bool save(const std::string& file) const
    {
        std::ofstream out(file, std::ios::trunc);
        for (const Event& event : events_) {
            out << event.kind << ' ' << event.count << ' ' << event.ns << '\n';
        }
        return static_cast<bool>(out);
    }

private:
    struct Event {
        const char* kind;
        std::size_t count;
        long long ns;
    };
    void note(const char* kind, std::size_t count)
    {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        events_.push_back({kind, count, std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()});
    }
    static constexpr std::size_t kExpectedEvents = 8192;   // an update of 512 blocks notes about 3100
    std::vector<Event> events_;
};

void usage()
{
    std::fprintf(stderr, "usage: vf-bench-update-direct --sim PATH --record FILE [--pace] [--ft232r --latency-timer MS]\n"
                         "                              [--host-timing FILE --unit-timing FILE] --update-once FIGURES\n");
}

}  // namespace

// The pty stands for the converter of the first device list entry.
bool findFtdiPorts(const DeviceList& devices, PortList& ports)
{
    ++discoveryCalls;
    if (devices.entryCount() == 0) {
        return true;
    }
    return ports.add(directPortPath, devices.entry(0).converterSerial);
}

bool listFtdiConverters(std::vector<ConverterInfo>& converters)
{
    converters.push_back(ConverterInfo{directSerial, directPortPath});
    return true;
}

int main(int argc, char** argv)
{
    std::string sim;
    std::string record;
    std::string figures;
    std::string hostTiming;
    std::string unitTiming;
    bool paced = false;
    std::string latencyTimer;   // the modelled FT232R's timer; empty: no model
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--sim" && i + 1 < argc) {
            sim = argv[++i];
        } else if (argument == "--record" && i + 1 < argc) {
            record = argv[++i];
        } else if (argument == "--update-once" && i + 1 < argc) {
            figures = argv[++i];
        } else if (argument == "--host-timing" && i + 1 < argc) {
            hostTiming = argv[++i];
        } else if (argument == "--unit-timing" && i + 1 < argc) {
            unitTiming = argv[++i];
        } else if (argument == "--pace") {
            paced = true;
        } else if (argument == "--ft232r" && i + 2 < argc && std::strcmp(argv[i + 1], "--latency-timer") == 0) {
            latencyTimer = argv[i + 2];
            i += 2;
        } else {
            usage();
            return kExitSetup;
        }
    }
    if (sim.empty() || record.empty() || figures.empty() || hostTiming.empty() != unitTiming.empty()) {
        usage();
        return kExitSetup;
    }
    directSerial = firstListedSerial();
    if (directSerial.empty()) {
        std::fprintf(stderr, "vf-bench-update-direct: no device list entry in %s\n", fs::current_path().c_str());
        return kExitSetup;
    }

    std::vector<std::string> command{sim, "--record", record, "--pty", kPtyPathFile};
    if (paced) {
        command.emplace_back("--pace");
    }
    if (!latencyTimer.empty()) {
        command.insert(command.end(), {"--ft232r", "--latency-timer", latencyTimer});
    }
    if (!unitTiming.empty()) {
        command.insert(command.end(), {"--timing", unitTiming});
    }
    SimProcess unit;
    if (!unit.start(command)) {
        std::perror("vf-bench-update-direct: fork");
        return kExitSetup;
    }
    directPortPath = awaitPtyPath(unit);
    if (directPortPath.empty()) {
        std::fprintf(stderr, "vf-bench-update-direct: %s named no pty\n", sim.c_str());
        return kExitSetup;
    }

    TimingObserver timing;
    if (!hostTiming.empty()) {
        setPortObserver(&timing);
    }
    const int updateStatus = bench::updateOnce(figures.c_str());
    setPortObserver(nullptr);
    const int unitStatus = unit.stop();
    if (!hostTiming.empty() && !timing.save(hostTiming)) {
        std::fprintf(stderr, "vf-bench-update-direct: cannot write %s\n", hostTiming.c_str());
        return kExitSetup;
    }
    if (updateStatus != 0) {
        return kExitSetup;
    }
    if (discoveryCalls.load() == 0) {
        std::fprintf(stderr, "vf-bench-update-direct: the update never asked for the converters\n");
        return kExitFailed;
    }
    if (unitStatus != 0) {
        std::fprintf(stderr, "vf-bench-update-direct: %s ended with status %d\n", sim.c_str(), unitStatus);
        return kExitFailed;
    }
    return kExitDone;
}
