// SPDX-License-Identifier: MIT
// Where each data block frame's time went: the host's times of its port operations and the
// simulated unit's times of the same frames (both on the steady clock, so one time line),
// set against the protocol's floor for a frame (its wire time, the reply's, the pause).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace bench {

// One share of a frame's time beyond its floor, in microseconds per frame.
struct Share {
    const char* what;
    const char* whose;   // "host", "unit" or "pty"
    std::vector<double> micros;
    bool part = false;   // a part of the next share, shown but not added up
};

struct FrameBreakdown {
    int frames = 0;            // block frames with a host write and a unit record
    std::vector<Share> shares;
    // The shares of one kind ("host", "unit" or "pty") added up, in seconds.
    double seconds(const char* whose) const;
};

// Reads "write|read|wait N NS" lines (the host) and "frame BYTES START TAKEN REPLYBYTES
// REPLYSTART REPLYLAST" lines (the unit) and pairs their data block frames in order. False,
// with the reason in error, when a file is unreadable or the two do not pair up.
bool readFrameBreakdown(const std::filesystem::path& hostFile, const std::filesystem::path& unitFile,
                        FrameBreakdown& breakdown, std::string& error);

// Prints the shares (mean, median, 90th percentile, sum) and the sums by whose they are.
void printFrameBreakdown(const FrameBreakdown& breakdown);

}  // namespace bench
