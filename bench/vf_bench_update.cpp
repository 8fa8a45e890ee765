// vf-bench-update: times one complete firmware update (identification, write pass and verify
// pass over all 512 blocks) against the simulated unit, which paces every byte at its wire
// time, and sets it against the protocol's floor: the wire time of every byte exchanged plus
// every pause the protocol prescribes. Also reports the CPU time the updating process used.
//
//   vf-bench-update [--testbed PATH] [--sample DIR] [--runs N] [--no-pace]
//
// --no-pace lets the unit answer at once: the floor is then the pauses alone, and what is
// left over is the host's and the line's own overhead (sleeps that run long, wake-ups).
// It runs itself under vf-testbed in a copy of the sample data ("--update-once RESULTFILE"
// is that inner run), then reads the unit's record of every byte that crossed the line.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "files/data_paths.h"
#include "link/commands.h"
#include "link/frames.h"
#include "link/serial.h"
#include "update/result_codes.h"
#include "update/shared_state.h"
#include "update/update.h"

namespace {

namespace fs = std::filesystem;

constexpr double kBitsPerByte = 10.0;   // start bit, 8 data bits, stop bit
constexpr int kConnectPausesMs = 3 * kFramePauseMs;   // before each wake byte and the frame

#ifndef VF_DEFAULT_TESTBED
#define VF_DEFAULT_TESTBED "vf-testbed"
#endif
#ifndef VF_DEFAULT_SAMPLE_DIR
#define VF_DEFAULT_SAMPLE_DIR "sample"
#endif

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The inner run: one update in the current directory, timed; the figures go to resultFile.
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

struct InnerFigures {
    int code = -1;
    int blocks = 0;
    double wallSeconds = 0;
    double cpuSeconds = 0;
};

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

// Bytes that crossed the line, by direction and line speed, from the unit's record.
struct LineTraffic {
    long hostToUnitSlow = 0, hostToUnitFast = 0;
    long unitToHostSlow = 0, unitToHostFast = 0;
    int commandFrames = 0, blockFrames = 0;
    int blankChecks = 0, erases = 0;
};

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
        }
    }
    return true;
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

int runChild(const std::vector<std::string>& arguments, const fs::path& directory)
{
    const pid_t pid = fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        if (chdir(directory.c_str()) != 0) {
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
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int benchOnce(const std::string& testbed, const fs::path& sample, const std::string& self, int run, bool paced)
{
    char pattern[] = "/tmp/vf-bench-update-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("vf-bench-update: mkdtemp");
        return 1;
    }
    const fs::path work = pattern;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(sample, error)) {
        if (entry.is_regular_file()) {
            fs::copy_file(entry.path(), work / entry.path().filename(), error);
        }
    }
    const fs::path record = work / "record.txt";
    const fs::path figuresFile = work / "figures.txt";
    std::vector<std::string> command{testbed, "--record", record.string()};
    if (paced) {
        command.push_back("--pace");
    }
    for (const char* argument : {"--", self.c_str(), "--update-once", figuresFile.c_str()}) {
        command.emplace_back(argument);
    }
    const int status = runChild(command, work);

    InnerFigures figures;
    LineTraffic traffic;
    const bool complete = status == 0 && readInnerFigures(figuresFile, figures) && readTraffic(record, traffic);
    fs::remove_all(work, error);
    if (!complete) {
        std::fprintf(stderr, "vf-bench-update: run %d failed (testbed status %d)\n", run, status);
        return 1;
    }
    if (figures.code != OK_UPDATE_FINISHED) {
        std::fprintf(stderr, "vf-bench-update: run %d ended with result code %d\n", run, figures.code);
        return 1;
    }

    const double slowWire = wireSeconds(traffic.hostToUnitSlow + traffic.unitToHostSlow, kInitialBaud);
    const double fastWire = wireSeconds(traffic.hostToUnitFast + traffic.unitToHostFast, kFastBaud);
    const double pauses = prescribedPauseSeconds(traffic);
    const double floor = (paced ? slowWire + fastWire : 0.0) + pauses;

    std::fflush(stderr);
    std::printf("run %d: %d blocks, %d command frames, %d block frames\n", run, figures.blocks,
                traffic.commandFrames, traffic.blockFrames);
    std::printf("  bytes at %u baud: host->unit %ld, unit->host %ld (%.4f s on the wire)\n", kInitialBaud,
                traffic.hostToUnitSlow, traffic.unitToHostSlow, slowWire);
    std::printf("  bytes at %u baud: host->unit %ld, unit->host %ld (%.4f s on the wire)\n", kFastBaud,
                traffic.hostToUnitFast, traffic.unitToHostFast, fastWire);
    std::printf("  prescribed pauses: %.4f s\n", pauses);
    std::printf("  protocol floor:    %.4f s%s\n", floor, paced ? "" : " (pauses only: the unit is not paced)");
    std::printf("  measured wall:     %.4f s\n", figures.wallSeconds);
    std::printf("  wall / floor:      %.4f\n", figures.wallSeconds / floor);
    std::printf("  CPU (user+sys):    %.4f s = %.2f %% of wall\n", figures.cpuSeconds,
                100.0 * figures.cpuSeconds / figures.wallSeconds);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--update-once") == 0) {
        return updateOnce(argv[2]);
    }
    std::string testbed = VF_DEFAULT_TESTBED;
    fs::path sample = VF_DEFAULT_SAMPLE_DIR;
    int runs = 1;
    bool paced = true;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--testbed" && i + 1 < argc) {
            testbed = argv[++i];
        } else if (argument == "--sample" && i + 1 < argc) {
            sample = argv[++i];
        } else if (argument == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (argument == "--no-pace") {
            paced = false;
        } else {
            std::fprintf(stderr, "usage: vf-bench-update [--testbed PATH] [--sample DIR] [--runs N] [--no-pace]\n");
            return 2;
        }
    }
    std::error_code error;
    const std::string self = fs::canonical("/proc/self/exe", error).string();
    int failures = 0;
    for (int run = 1; run <= runs; ++run) {
        failures += benchOnce(testbed, sample, self, run, paced);
    }
    return failures == 0 ? 0 : 1;
}
