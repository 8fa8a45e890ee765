// SPDX-License-Identifier: MIT
// What the update benchmarks share: the timed update itself (run in the current directory,
// figures written to a file), the reading of the simulated unit's record of every byte that
// crossed the line, the protocol's floor computed from it, and the printing of one row.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace bench {

// One update in the current directory (which holds the data set), timed; writes "code",
// "blocks", "wall" (seconds) and "cpu" (user+system seconds of this process) to resultFile.
// 0 when the figures were written, 2 otherwise.
int updateOnce(const char* resultFile);

struct InnerFigures {
    int code = -1;
    int blocks = 0;
    double wallSeconds = 0;
    double cpuSeconds = 0;
};
bool readInnerFigures(const std::filesystem::path& file, InnerFigures& figures);

// Bytes that crossed the line, by direction and line speed, from the unit's record.
struct LineTraffic {
    long hostToUnitSlow = 0, hostToUnitFast = 0;
    long unitToHostSlow = 0, unitToHostFast = 0;
    int commandFrames = 0, blockFrames = 0;
    int blankChecks = 0, erases = 0;
    // The paced unit's own lateness against its pacing (its "pacing:" line), which the host
    // had to wait for; negative when the record has no such line.
    double unitLateSeconds = -1;
    // The modelled FT232R (the unit's "converter:" line): how long it held the replies back
    // after their last byte had crossed the line, in all, and its latency timer at the end;
    // negative when the unit had no converter model.
    double converterHeldSeconds = -1;
    int converterLatencyMs = -1;
    // The unit saw the host ask for low latency (TIOCSSERIAL through the emulated converter).
    bool lowLatencyRequested = false;
};
bool readTraffic(const std::filesystem::path& record, LineTraffic& traffic);

// The figures of one timed update set against its floor.
struct Row {
    InnerFigures figures;
    LineTraffic traffic;
    double slowWireSeconds = 0;
    double fastWireSeconds = 0;
    double pauseSeconds = 0;
    double floorSeconds = 0;   // wire time (when paced) plus pauses
    double ratio() const { return figures.wallSeconds / floorSeconds; }
    // The host's figure with the line in it: the wall time less the unit's lateness, against
    // the floor.
    // The plain ratio when the unit reported none.
    double hostRatio() const {
        const double unitLate = traffic.unitLateSeconds > 0 ? traffic.unitLateSeconds : 0.0;
        return (figures.wallSeconds - unitLate) / floorSeconds;
    }
    // The pty's hand-overs of the block frames (host's write to the unit's read, the unit's
    // last reply byte to the host's read returning), from the frame breakdown; negative when
    // there is none. Neither the host's code nor the unit's, so the host alone is without them.
    double ptySeconds = -1;
    double hostAloneRatio() const {
        return ptySeconds >= 0 ? hostRatio() - ptySeconds / floorSeconds : hostRatio();
    }
    double cpuPercent() const { return 100.0 * figures.cpuSeconds / figures.wallSeconds; }
    // The modelled converter's share of the wall time (0 without a model).
    double converterPercent() const {
        return traffic.converterHeldSeconds > 0 ? 100.0 * traffic.converterHeldSeconds / figures.wallSeconds : 0.0;
    }
};
Row makeRow(const InnerFigures& figures, const LineTraffic& traffic, bool paced);
void printRow(const char* label, int run, const Row& row, bool paced);

// Runs arguments[0] (searched in PATH) with the rest as its arguments in directory and
// waits for it. Its exit status, 128 + signal when killed, -1 when it could not be run.
int runChild(const std::vector<std::string>& arguments, const std::filesystem::path& directory);
// Starts arguments in directory (the current one when empty) without waiting; the child's
// pid, or -1.
pid_t startChild(const std::vector<std::string>& arguments, const std::filesystem::path& directory);

// A fresh temporary directory holding a copy of every regular file of sample; removed
// when the object goes.
class WorkCopy {
public:
    explicit WorkCopy(const std::filesystem::path& sample);
    WorkCopy(const WorkCopy&) = delete;
    WorkCopy& operator=(const WorkCopy&) = delete;
    ~WorkCopy();
    bool valid() const { return !path_.empty(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace bench
