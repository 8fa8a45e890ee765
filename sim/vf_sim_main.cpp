// SPDX-License-Identifier: MIT
// vf-sim: the simulated flash unit on a pseudo-terminal (or an inherited file descriptor),
// serving until SIGTERM or SIGINT.
//   vf-sim [simulated-unit options] --pty PATHFILE   writes the pty's path to PATHFILE
//   vf-sim [simulated-unit options] --fd N           serves on the inherited descriptor N
// Exit status: 0 without protocol violations, 1 with violations, 2 on usage errors.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "sim/simulated_unit.h"

namespace {

constexpr int kExitClean = 0;
constexpr int kExitViolations = 1;
constexpr int kExitUsage = 2;
constexpr int kStopCheckMs = 50;

std::atomic<bool> stopRequested{false};

void onStopSignal(int) { stopRequested = true; }

void usage(const char* message) {
    if (message) std::fprintf(stderr, "vf-sim: %s\n", message);
    std::fprintf(stderr,
                 "usage: vf-sim [options] --pty PATHFILE | --fd N\n"
                 "  --pty PATHFILE        make a pty pair and write the path of its terminal side to PATHFILE\n"
                 "  --fd N                serve on the inherited file descriptor N\n"
                 "%s",
                 simOptionsHelp());
}

// Writes text to path through a temporary file and a rename, so a reader never sees half of it.
bool writeAtomically(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << text << '\n';
        if (!out) return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    std::string pathFile;
    int inheritedFd = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-h" || argument == "--help") {
            usage(nullptr);
            return kExitClean;
        }
        if (argument == "--pty" || argument == "--fd") {
            if (i + 1 >= argc) {
                usage((argument + " needs a value").c_str());
                return kExitUsage;
            }
            const std::string value = argv[++i];
            if (argument == "--pty") {
                pathFile = value;
            } else {
                char* end = nullptr;
                const long number = std::strtol(value.c_str(), &end, 10);
                if (value.empty() || *end != '\0' || number < 0 || number > 65535) {
                    usage("--fd needs a descriptor number");
                    return kExitUsage;
                }
                inheritedFd = static_cast<int>(number);
            }
            continue;
        }
        std::string error;
        if (!parseSimOption(argc, argv, i, options, error)) {
            usage(error.c_str());
            return kExitUsage;
        }
    }
    if (pathFile.empty() == (inheritedFd < 0)) {
        usage("give exactly one of --pty and --fd");
        return kExitUsage;
    }
    std::string error;
    if (!checkSimOptions(options, error)) {
        usage(error.c_str());
        return kExitUsage;
    }

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    int fd = inheritedFd;
    std::string slavePath;
    if (!pathFile.empty()) {
        fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) {
            std::fprintf(stderr, "vf-sim: cannot make a pty: %s\n", std::strerror(errno));
            return kExitUsage;
        }
        slavePath = ptsname(fd);
        if (!writeAtomically(pathFile, slavePath)) {
            std::fprintf(stderr, "vf-sim: cannot write %s\n", pathFile.c_str());
            return kExitUsage;
        }
    } else {
        if (fcntl(fd, F_GETFD) < 0) {
            usage("--fd names no open descriptor");
            return kExitUsage;
        }
        if (const char* name = isatty(fd) ? ptsname(fd) : nullptr) slavePath = name;
    }

    SimulatedUnit unit(options);
    unit.serve(fd, slavePath, stopRequested);
    // A pulled cable: the line is gone for good; stay until told to stop like any other run.
    ::close(fd);
    if (unit.hungUp()) {
        while (!stopRequested) usleep(kStopCheckMs * 1000);
        unit.finish();
    }

    const auto violations = unit.violations();
    for (const std::string& text : violations) std::fprintf(stderr, "[vf-sim] VIOLATION %s\n", text.c_str());
    std::fprintf(stderr, "[vf-sim] %s\n", unit.summary().c_str());
    return violations.empty() ? kExitClean : kExitViolations;
}
