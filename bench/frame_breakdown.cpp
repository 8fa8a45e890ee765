// SPDX-License-Identifier: MIT
#include "bench/frame_breakdown.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string_view>
#include <numeric>

#include "link/frames.h"

namespace bench {

namespace {

constexpr double kFastByteMicros = 10.0 * 1e6 / 115200.0;   // ten bits at the block line rate
constexpr double kPauseMicros = kFramePauseMs * 1000.0;

struct HostEvent {
    std::string kind;
    long long count = 0;
    long long ns = 0;
};

struct UnitFrame {
    long long bytes = 0, start = 0, takenUp = 0, replyBytes = 0, replyStart = 0, replyLast = 0;
};

double micros(long long from, long long to) { return static_cast<double>(to - from) / 1000.0; }

}  // namespace

double FrameBreakdown::seconds(const char* whose) const
{
    double sum = 0;
    for (const Share& share : shares) {
        if (!share.part && std::string_view(share.whose) == whose) sum += std::accumulate(share.micros.begin(), share.micros.end(), 0.0);
    }
    return sum / 1e6;
}

bool readFrameBreakdown(const std::filesystem::path& hostFile, const std::filesystem::path& unitFile,
                        FrameBreakdown& breakdown, std::string& error)
{
    std::vector<HostEvent> host;
    std::ifstream hostIn(hostFile);
    for (HostEvent event; hostIn >> event.kind >> event.count >> event.ns;) {
        host.push_back(event);
    }
    std::vector<UnitFrame> unit;
    std::ifstream unitIn(unitFile);
    std::string word;
    for (UnitFrame f; unitIn >> word >> f.bytes >> f.start >> f.takenUp >> f.replyBytes >> f.replyStart >> f.replyLast;) {
        if (f.bytes == static_cast<long long>(kDataBlockFrameSize)) unit.push_back(f);
    }
    if (host.empty() || unit.empty()) {
        error = "no times in " + hostFile.string() + " or " + unitFile.string();
        return false;
    }
    // The host's block frame writes, as indices into its events.
    std::vector<std::size_t> writes;
    for (std::size_t i = 0; i < host.size(); ++i) {
        if (host[i].kind == "write" && host[i].count == static_cast<long long>(kDataBlockFrameSize)) writes.push_back(i);
    }
    if (writes.size() != unit.size()) {
        error = "the host wrote " + std::to_string(writes.size()) + " block frames, the unit took up " +
                std::to_string(unit.size());
        return false;
    }

    breakdown = FrameBreakdown{};
    enum Index { kHandOverOut, kTakenLate, kReplyLate, kHandOverIn, kHostTurn, kPauseOver, kCount };
    breakdown.shares = {
        {"host's write to the unit's first read of it", "pty", {}},
        {"unit: frame taken up after its last bit (part of the next)", "unit", {}, true},
        {"unit: reply's last byte handed over after its wire time", "unit", {}},
        {"reply's last byte handed over to the host's read returned", "pty", {}},
        {"host: read returned to the pause begun", "host", {}},
        {"host: pause ended beyond 5 ms, next frame built and written", "host", {}},
    };
    for (std::size_t k = 0; k < writes.size(); ++k) {
        const HostEvent& write = host[writes[k]];
        const UnitFrame& frame = unit[k];
        // The read of the reply, the pause after it and the write after that, in the host's order.
        std::size_t read = writes[k] + 1;
        while (read < host.size() && host[read].kind != "read") ++read;
        std::size_t pause = read + 1;
        while (pause < host.size() && host[pause].kind != "wait") ++pause;
        const std::size_t next = pause + 1;
        if (read >= host.size() || frame.replyBytes == 0) continue;   // unanswered: no figures for it
        ++breakdown.frames;
        const double frameWire = kFastByteMicros * static_cast<double>(frame.bytes);
        const double replyWire = kFastByteMicros * static_cast<double>(frame.replyBytes);
        auto& shares = breakdown.shares;
        shares[kHandOverOut].micros.push_back(micros(write.ns, frame.start));
        shares[kTakenLate].micros.push_back(micros(frame.start, frame.takenUp) - frameWire);
        shares[kReplyLate].micros.push_back(micros(frame.replyStart, frame.replyLast) - replyWire);
        shares[kHandOverIn].micros.push_back(micros(frame.replyLast, host[read].ns));
        // The pause shares only where the next block frame follows (not after the last one).
        if (next < host.size() && host[pause].count == kFramePauseMs && host[next].kind == "write" &&
            host[next].count == static_cast<long long>(kDataBlockFrameSize)) {
            shares[kHostTurn].micros.push_back(micros(host[read].ns, host[pause].ns));
            shares[kPauseOver].micros.push_back(micros(host[pause].ns, host[next].ns) - kPauseMicros);
        }
    }
    static_assert(kCount == 6);
    if (breakdown.frames == 0) {
        error = "no block frame was answered";
        return false;
    }
    return true;
}

void printFrameBreakdown(const FrameBreakdown& breakdown)
{
    std::printf("  where each block frame's time beyond its floor went (%d frames; us a frame):\n", breakdown.frames);
    std::printf("    %-60s %8s %8s %8s %9s\n", "", "mean", "median", "90th", "sum (s)");
    double all = 0;
    for (const Share& share : breakdown.shares) {
        if (share.micros.empty()) continue;
        std::vector<double> sorted = share.micros;
        std::sort(sorted.begin(), sorted.end());
        const double sum = std::accumulate(sorted.begin(), sorted.end(), 0.0);
        const double mean = sum / static_cast<double>(sorted.size());
        std::printf("    %-60s %8.1f %8.1f %8.1f %9.4f\n", share.what, mean, sorted[sorted.size() / 2],
                    sorted[sorted.size() * 9 / 10], sum / 1e6);
        if (!share.part) all += sum / 1e6;
    }
    std::printf("    in all %.4f s: host %.4f s, pty's hand-overs %.4f s, unit %.4f s\n", all, breakdown.seconds("host"),
                breakdown.seconds("pty"), breakdown.seconds("unit"));
}

}  // namespace bench
