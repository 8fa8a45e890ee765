// SPDX-License-Identifier: MIT
// The simulated flash unit: the device side of every frame of the boot-loader protocol,
// flash-like memory, the faults, line pacing, and a strict record of everything the host
// did wrong (frame layout, order of commands, line settings).
//
// Besides the update the unit answers a check, as the boot loaders of this protocol family
// do: the checksum over its memory and a verify pass compared with its memory, asked for
// outside an update. A connection that asks for the checksum before anything was erased or
// programmed is a check session; the memory must stay as it is, so an erase, program mode or
// a write block in it is a violation.
#include "sim/simulated_unit.h"
#include "sim/ft232r_model.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "link/commands.h"
#include "link/frames.h"
#include "link/serial.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kBlockSizeBytes = 256;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kWakeByte = 0x00;          // the host's two single bytes before connecting
constexpr int kWakeByteCount = 2;
constexpr std::uint8_t kBlankStatus = kAck;
constexpr std::uint8_t kNotBlankStatus = 0x1B;    // any other status byte means "not blank"
constexpr std::uint8_t kFirstSpeedReply = 0x06;   // the one byte answering the speed command at 9600
constexpr std::size_t kCommandOverheadBytes = 4;  // 01, length, checksum, 03 around code and payload
constexpr std::size_t kRangeLengthByte = 7;
constexpr std::size_t kInfoFixedBytes = 9;        // d0..d6 and the two trailing bytes
constexpr std::size_t kLongInfoLength = 120;
constexpr int kBitsPerByte = 10;                  // start bit, 8 data bits, stop bit
constexpr int kPollSliceMs = 50;                  // how often serve looks at its stop flag
// The serving thread's timer slack: the kernel may fire its timers this late (50 us by
// default), which would make every paced byte and frame end late by as much.
constexpr unsigned long kServeTimerSlackNs = 1000;
// ppoll may end a timeout up to 1/1000 of it late (1/200 for a thread with a positive nice
// value); a paced wake-up asks for this much less and waits out the rest in a second, short
// ppoll whose own lateness is then negligible.
constexpr long long kPollLatenessDivisor = 200;
constexpr int kClosedLineRetryMs = 20;            // pause while no one holds the line open
constexpr auto kIncompleteFrameTimeout = std::chrono::milliseconds(1000);
constexpr std::array<std::uint8_t, 4> kSpeedParameter = {0x02, 0x00, 0x00, 0x05};
constexpr std::array<std::uint8_t, 3> kGarbageBytes = {0x55, 0xAA, 0x0D};
// The "extra" reply: ten bytes the host reads whole and does not interpret.
constexpr std::array<std::uint8_t, 10> kExtraReplyData = {0x10, 0x05, 0x01, 0x00, 0x56,
                                                          0x46, 0x31, 0x2E, 0x30, 0x00};
// The info reply's d0..d3 and its two trailing bytes; the host does not interpret them.
constexpr std::array<std::uint8_t, 4> kInfoHeadData = {0x10, 0x00, 0x00, 0x00};
constexpr std::array<std::uint8_t, 2> kInfoTrailData = {0x00, 0x00};

enum class Phase {
    WaitConnect,    // a new connection: two wake bytes, then CMD_CONNECT at 9600
    WaitSpeed1,     // CMD_SET_SPEED at 9600
    WaitSpeed2,     // CMD_SET_SPEED at 115200
    WaitInfo,       // CMD_READ_INFO
    WaitExtra,      // CMD_READ_EXTRA
    Ready,          // range commands
    WriteBlocks,    // data blocks after CMD_PROGRAM_MODE
    VerifyBlocks,   // data blocks after CMD_VERIFY
};

const char* phaseName(Phase phase) {
    switch (phase) {
    case Phase::WaitConnect: return "waiting for the connection";
    case Phase::WaitSpeed1: return "waiting for the speed command at 9600";
    case Phase::WaitSpeed2: return "waiting for the speed command at 115200";
    case Phase::WaitInfo: return "waiting for CMD_READ_INFO";
    case Phase::WaitExtra: return "waiting for CMD_READ_EXTRA";
    case Phase::Ready: return "ready for range commands";
    case Phase::WriteBlocks: return "in the write pass";
    case Phase::VerifyBlocks: return "in the verify pass";
    }
    return "?";
}

const char* commandName(std::uint8_t code) {
    switch (code) {
    case CMD_CONNECT: return "CMD_CONNECT";
    case CMD_SET_SPEED: return "CMD_SET_SPEED";
    case CMD_READ_INFO: return "CMD_READ_INFO";
    case CMD_READ_EXTRA: return "CMD_READ_EXTRA";
    case CMD_BLANK_CHECK: return "CMD_BLANK_CHECK";
    case CMD_ERASE: return "CMD_ERASE";
    case CMD_PROGRAM_MODE: return "CMD_PROGRAM_MODE";
    case CMD_READ_CHECKSUM: return "CMD_READ_CHECKSUM";
    case CMD_VERIFY: return "CMD_VERIFY";
    }
    return nullptr;
}

std::uint8_t checksumOf(std::span<const std::uint8_t> bytes) {
    unsigned sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    char buffer[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, i ? " %02X" : "%02X", bytes[i]);
        text += buffer;
    }
    return text;
}

// A reply frame 02 L data checksum 03.
std::vector<std::uint8_t> replyFrame(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> frame;
    frame.reserve(data.size() + kCommandOverheadBytes);
    frame.push_back(kStx);
    frame.push_back(static_cast<std::uint8_t>(data.size()));
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(checksumOf(std::span<const std::uint8_t>(frame).subspan(1)));
    frame.push_back(kEtx);
    return frame;
}

std::vector<std::uint8_t> statusReply(std::uint8_t status) {
    const std::array<std::uint8_t, 1> data{status};
    return replyFrame(data);
}

std::vector<std::uint8_t> blockReply(bool accepted) {
    const std::array<std::uint8_t, 2> data{kAck, accepted ? kAck : kNak};
    return replyFrame(data);
}

std::uint32_t baudOf(speed_t speed) {
    switch (speed) {
    case B0: return 0;
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    }
    return 1;   // some other rate; never one the host should use
}

// Deterministic "older firmware": the lower half of memory holds a pattern, the rest is blank.
std::uint8_t oldFirmwareByte(std::size_t address) {
    return static_cast<std::uint8_t>((address * 7 + (address >> 8) * 13 + 0x21) & 0x7F);
}

}  // namespace

Clock::duration simWireTime(std::size_t bytes, std::uint32_t baud) {
    if (baud == 0) return Clock::duration::zero();
    const auto bits = static_cast<long long>(bytes) * kBitsPerByte;
    return std::chrono::nanoseconds((bits * 1'000'000'000LL + baud / 2) / baud);
}

struct SimulatedUnit::Impl {
    SimOptions options;
    std::uint32_t endAddress = 0;
    int blockCount = 0;
    std::vector<std::uint8_t> memory;
    std::string setupError;

    mutable std::mutex recordMutex;   // events and violations: the transport adds from its thread
    std::vector<SimEvent> events;
    std::vector<std::string> violations;
    std::set<std::string> violationSet;
    std::atomic<bool> hungUp{false};
    std::atomic<int> completedUpdates{0};
    std::atomic<int> completedChecks{0};
    int framesSeen = 0;
    int blocksWritten = 0;

    // Faults that show once per run, and the updates counted for the block faults.
    bool connectRefusalUsed = false;
    bool speed2RefusalUsed = false;
    bool longInfoUsed = false;
    bool shortInfoUsed = false;
    bool eraseFaultUsed = false;
    bool garbageUsed = false;
    bool blankFaultUsed = false;
    bool programRefusalUsed = false;
    bool finalAckFaultUsed = false;
    bool checksumFaultUsed = false;
    bool verifyRefusalUsed = false;
    bool muted = false;                 // muteAfterBlock has struck: no answer any more
    int writePassesStarted = 0;
    int verifyPassesStarted = 0;

    // The connection (session) state.
    Phase phase = Phase::WaitConnect;
    int wakeBytes = 0;
    std::uint32_t unitBaud = kInitialBaud;
    int blankChecks = 0;
    int notBlankStreak = 0;
    bool memoryKnownBlank = false;
    bool writePassDone = false;
    bool checksumRead = false;
    bool updateBegun = false;    // an erase or program-mode frame came in this connection
    bool checkSession = false;   // the checksum was asked for before anything was written
    int blockIndex = 0;
    bool passMatches = true;

    // The line.
    int fd = -1;
    int peekFd = -1;
    const std::atomic<bool>* stop = nullptr;
    std::vector<std::uint8_t> received;
    Clock::time_point frameStart{};    // when the first byte of received[0] was on the wire
    Clock::time_point lastByteAt{};
    Clock::time_point lineFreeAt{};    // when the unit's last sent byte has left the wire
    Clock::time_point replyDueAt{};    // when the frame being answered had crossed the line
    std::uint32_t lastSeenBaud = 0;
    // The unit's own lateness against its pacing. What the host waits for is each answered
    // frame's last reply byte: due the reply's wire time after the frame has crossed the line
    // (or after the unit's previous reply), handed over later when the unit was slow to take
    // the frame up, to handle it or to send. That is added up once per frame (a frame with two
    // replies counts the second's); a benchmark takes it out of the host's time. How late the
    // frames were taken up is kept beside it, as a part of it, not added to it.
    struct PacingLateness {
        int frames = 0;
        Clock::duration replies{};      // in all, per answered frame its last reply's lateness
        Clock::duration thisFrame{};    // the lateness of the current frame's replies so far
        Clock::duration frameEnds{};
        Clock::duration longest{};
    } pacing;
    // When each frame came and when its reply went (--timing): the benchmarks set these
    // against the host's own times of the same frames to find where each frame's time went.
    struct FrameTiming {
        std::size_t bytes = 0;
        Clock::time_point start{};     // its first byte on the wire, as the unit reckons it
        Clock::time_point takenUp{};   // when the unit took it up
        std::size_t replyBytes = 0;
        Clock::time_point replyStart{};  // the reply's first bit on the wire
        Clock::time_point replyLast{};   // its last byte handed to the line
    };
    std::vector<FrameTiming> timings;
    // Modem lines reported by the transport: bit 0 known, bit 1 DTR, bit 2 RTS.
    std::atomic<int> modemLines{0};

    // The converter's FT232R (--ft232r): the replies go into its model and reach the line
    // when the model hands them to the host. Every reply waits in pendingReplies until its
    // last byte has been handed over, which is then set against that byte's wire time (what
    // the converter held it back) and against the model's time (the unit's own lateness).
    std::optional<Ft232rModel> converter;
    struct PendingReply {
        std::size_t endByte = 0;            // the count of bytes given to the model up to its last
        Clock::time_point lastByteOnWire{};  // when that last byte had crossed the line
        std::size_t timingIndex = 0;        // timings.size() when sent: its frame is the last one
    };
    std::deque<PendingReply> pendingReplies;
    std::size_t bytesToConverter = 0;
    std::size_t bytesFromConverter = 0;
    struct ConverterHold {
        int packets = 0;
        int frames = 0;                // answered frames
        Clock::duration replies{};     // per answered frame, its last reply byte's hold
        Clock::duration thisFrame{};
        bool thisFrameCounted = false;
        Clock::duration longest{};
    } converterHold;
    // The host's low-latency request as the transport saw it: -1 none, 0 cleared, 1 set.
    std::atomic<int> lowLatencyRequest{-1};
    int lowLatencyApplied = -1;

    explicit Impl(SimOptions opts) : options(std::move(opts)) {
        endAddress = simReportedEndAddress(options);
        blockCount = static_cast<int>((endAddress + 1) / kBlockSizeBytes);
        memory.assign(static_cast<std::size_t>(endAddress) + 1, 0xFF);
        if (options.memoryInFile) {
            std::ifstream in(*options.memoryInFile, std::ios::binary);
            if (!in) {
                setupError = "cannot read the memory file " + *options.memoryInFile;
            } else {
                in.read(reinterpret_cast<char*>(memory.data()), static_cast<std::streamsize>(memory.size()));
            }
        } else if (options.oldFirmware) {
            fillOldFirmware();
        }
        // A refused erase needs memory that is not blank in the first place.
        if (options.faults.eraseRefused && isBlank()) fillOldFirmware();
    }

    void fillOldFirmware() {
        for (std::size_t i = 0; i < memory.size() / 2; ++i) memory[i] = oldFirmwareByte(i);
    }

    bool isBlank() const {
        return std::all_of(memory.begin(), memory.end(), [](std::uint8_t b) { return b == 0xFF; });
    }

    // ---- recording ----

    void note(std::string text) {
        std::lock_guard lock(recordMutex);
        events.push_back({std::move(text)});
    }

    // Every violation goes into the events; the list of violations holds each text once.
    void violation(const std::string& text) {
        std::lock_guard lock(recordMutex);
        events.push_back({"VIOLATION " + text});
        if (violationSet.insert(text).second) violations.push_back(text);
    }

    // ---- line settings seen through the pty's other side ----

    void checkLine(std::uint32_t expectedBaud, const char* what) {
        if (peekFd < 0) return;
        termios settings{};
        if (tcgetattr(peekFd, &settings) != 0) return;
        const std::uint32_t outBaud = baudOf(cfgetospeed(&settings));
        const std::uint32_t inBaud = baudOf(cfgetispeed(&settings));
        if (outBaud != lastSeenBaud) {
            note("speed " + std::to_string(outBaud));
            lastSeenBaud = outBaud;
        }
        if (outBaud != expectedBaud || (inBaud != expectedBaud && inBaud != 0)) {
            violation(std::string(what) + " sent with the line at " + std::to_string(outBaud) +
                      " baud, expected " + std::to_string(expectedBaud));
        }
        if ((settings.c_cflag & CSIZE) != CS8 || (settings.c_cflag & PARENB) || (settings.c_cflag & CSTOPB)) {
            violation("line not set to 8 data bits, no parity, 1 stop bit");
        }
        if (settings.c_cflag & CRTSCTS) violation("RTS/CTS flow control switched on");
        if (settings.c_iflag & (IXON | IXOFF)) violation("XON/XOFF flow control switched on");
        // IGNBRK is not looked at: it drops break conditions, never data bytes, and Wine's
        // serial layer sets it whatever a Windows program asks for.
        if ((settings.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN)) ||
            (settings.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | PARMRK | BRKINT)) ||
            (settings.c_oflag & OPOST)) {
            violation("line not raw (canonical mode, echo, signals or byte translation on)");
        }
        if (!(settings.c_cflag & CREAD)) violation("receiver of the line not enabled (CREAD off)");
    }

    // ---- sending ----

    Clock::duration wireTime(std::size_t bytes) const { return simWireTime(bytes, unitBaud); }

    // Sleeps until the absolute CLOCK_MONOTONIC time when (steady_clock's clock on Linux).
    static void sleepUntil(Clock::time_point when) {
        const auto sinceEpoch = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch());
        const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
        const timespec until{static_cast<time_t>(seconds.count()), static_cast<long>((sinceEpoch - seconds).count())};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
    }

    // Writes bytes to the line, waiting while the line's buffer is full; gives up when the
    // unit is told to stop or the line is gone.
    void writeRaw(std::span<const std::uint8_t> bytes) {
        std::size_t offset = 0;
        while (offset < bytes.size()) {
            const ssize_t written = ::write(fd, bytes.data() + offset, bytes.size() - offset);
            if (written > 0) {
                offset += static_cast<std::size_t>(written);
                continue;
            }
            if (written < 0 && errno == EINTR) continue;
            if (written < 0 && errno == EAGAIN) {
                if (stop && stop->load()) return;
                pollfd out{fd, POLLOUT, 0};
                poll(&out, 1, kPollSliceMs);
                continue;
            }
            note("line write failed: " + std::string(std::strerror(errno)));
            return;
        }
    }

    void send(std::span<const std::uint8_t> bytes) {
        if (bytes.empty() || options.faults.silent || muted) return;
        note("sent " + hexBytes(bytes));
        if (converter) return sendThroughConverter(bytes);
        if (!options.pace) {
            const auto start = Clock::now();
            writeRaw(bytes);
            noteReplyTiming(bytes.size(), start, Clock::now());
            return;
        }
        // Each byte reaches the host when its ten bits have crossed the line: byte k (from 1)
        // of the reply is due wireTime(k) after the reply's start. A reply starts as soon as
        // the frame it answers has crossed the line (or the unit's previous reply has): the
        // time the unit takes to handle the frame is its own lateness, not the host's.
        const Clock::time_point start = std::max(replyDueAt, lineFreeAt);
        std::size_t offset = 0;
        Clock::time_point lastWriteAt = start;
        while (offset < bytes.size()) {
            const auto now = Clock::now();
            std::size_t due = offset;
            while (due < bytes.size() && start + wireTime(due + 1) <= now) ++due;
            if (due > offset) {
                writeRaw(bytes.subspan(offset, due - offset));
                offset = due;
                lastWriteAt = now;
                continue;
            }
            sleepUntil(start + wireTime(offset + 1));
        }
        lineFreeAt = start + wireTime(bytes.size());
        // How much later than its wire time the reply's last byte was handed to the line; a
        // further reply to the same frame replaces the earlier one's lateness.
        const Clock::duration late = lastWriteAt - lineFreeAt;
        pacing.replies += late - pacing.thisFrame;
        pacing.thisFrame = late;
        noteReplyTiming(bytes.size(), start, lastWriteAt);
    }

    // Gives the reply's bytes to the converter's model as they come off the line (paced: byte
    // k when its ten bits have crossed it; unpaced: all at once); the serve loop hands them to
    // the host when the model says.
    void sendThroughConverter(std::span<const std::uint8_t> bytes) {
        followLatencyRequest();
        const Clock::time_point start = options.pace ? std::max(replyDueAt, lineFreeAt) : Clock::now();
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            converter->receive(options.pace ? start + wireTime(i + 1) : start, bytes[i]);
        }
        const Clock::time_point lastByteOnWire = options.pace ? start + wireTime(bytes.size()) : start;
        if (options.pace) lineFreeAt = lastByteOnWire;
        bytesToConverter += bytes.size();
        pendingReplies.push_back({bytesToConverter, lastByteOnWire, timings.size()});
        if (options.timingFile && !timings.empty() && timings.back().replyBytes == 0) timings.back().replyStart = start;
        if (options.timingFile && !timings.empty()) timings.back().replyBytes += bytes.size();
    }

    // Writes what the converter has handed to the host by now, and accounts for every reply
    // whose last byte went.
    void flushConverter() {
        if (!converter) return;
        followLatencyRequest();
        for (const Ft232rModel::Packet& packet : converter->takeDelivered(Clock::now())) {
            writeRaw(packet.bytes);
            const Clock::time_point written = Clock::now();
            ++converterHold.packets;
            bytesFromConverter += packet.bytes.size();
            while (!pendingReplies.empty() && pendingReplies.front().endByte <= bytesFromConverter) {
                const PendingReply& reply = pendingReplies.front();
                // As for the paced line: a further reply to the same frame replaces the earlier
                // one's figures, so each answered frame counts once, by its last reply byte.
                const Clock::duration held = packet.deliveredAt - reply.lastByteOnWire;
                converterHold.replies += held - converterHold.thisFrame;
                converterHold.thisFrame = held;
                converterHold.longest = std::max(converterHold.longest, held);
                if (!converterHold.thisFrameCounted) ++converterHold.frames;
                converterHold.thisFrameCounted = true;
                if (options.pace) {
                    const Clock::duration late = written - packet.deliveredAt;
                    pacing.replies += late - pacing.thisFrame;
                    pacing.thisFrame = late;
                }
                if (options.timingFile && reply.timingIndex > 0 && reply.timingIndex <= timings.size()) {
                    timings[reply.timingIndex - 1].replyLast = written;
                }
                pendingReplies.pop_front();
            }
        }
    }

    // Hands over whatever the converter still holds, at the model's times (the line is going
    // away, but what the chip had is still delivered).
    void drainConverter() {
        while (converter) {
            const auto next = converter->nextDelivery();
            if (!next) return;
            sleepUntil(*next);
            flushConverter();
        }
    }

    // The driver sets the chip's timer to 1 ms on the host's low-latency request, and back to
    // the converter's own setting when the host clears it.
    void followLatencyRequest() {
        const int request = lowLatencyRequest.load();
        if (request == lowLatencyApplied || request < 0) return;
        lowLatencyApplied = request;
        const int latencyMs = request == 1 ? Ft232rModel::kMinLatencyMs : converterLatencyMs();
        if (converter) converter->setLatency(latencyMs);
        note("converter latency timer " + std::to_string(latencyMs) + " ms (low-latency request " +
             (request == 1 ? "set" : "cleared") + " by the host)");
    }

    int converterLatencyMs() const { return options.latencyTimerMs.value_or(Ft232rModel::kDefaultLatencyMs); }

    // Adds a reply to the timing of the frame it answers (the last one taken up).
    void noteReplyTiming(std::size_t count, Clock::time_point start, Clock::time_point last) {
        if (!options.timingFile || timings.empty()) return;
        FrameTiming& timing = timings.back();
        if (timing.replyBytes == 0) timing.replyStart = start;
        timing.replyBytes += count;
        timing.replyLast = last;
    }

    void sendAck() { send(statusReply(kAck)); }
    void sendNak() { send(statusReply(kNak)); }

    // ---- the session ----

    void newConnection() {
        if (phase != Phase::WaitConnect || wakeBytes > 0) {
            note(std::string("connection begins again (unit was ") + phaseName(phase) + ")");
        } else {
            note("connection");
        }
        phase = Phase::WaitConnect;
        wakeBytes = 0;
        unitBaud = kInitialBaud;
        blankChecks = 0;
        notBlankStreak = 0;
        memoryKnownBlank = false;
        writePassDone = false;
        checksumRead = false;
        updateBegun = false;
        checkSession = false;
        blockIndex = 0;
        passMatches = true;
        // A real line drops whatever the host left unread before it closed the port.
        if (peekFd >= 0) tcflush(peekFd, TCIFLUSH);
    }

    bool rangeIsFull(std::span<const std::uint8_t> payload) const {
        const std::array<std::uint8_t, 6> expected = {
            0x00, 0x00, 0x00, static_cast<std::uint8_t>(endAddress >> 16),
            static_cast<std::uint8_t>(endAddress >> 8), static_cast<std::uint8_t>(endAddress)};
        return std::equal(payload.begin(), payload.end(), expected.begin(), expected.end());
    }

    std::vector<std::uint8_t> infoReply() {
        std::vector<std::uint8_t> data(kInfoHeadData.begin(), kInfoHeadData.end());
        if (options.faults.shortInfoReply && !shortInfoUsed) {
            shortInfoUsed = true;
            note("fault: information reply without the end address");
            return replyFrame(data);
        }
        data.push_back(static_cast<std::uint8_t>(endAddress & 0x7F));
        data.push_back(static_cast<std::uint8_t>((endAddress >> 7) & 0x7F));
        data.push_back(static_cast<std::uint8_t>((endAddress >> 14) & 0x7F));
        for (char c : options.deviceName) data.push_back(static_cast<std::uint8_t>(c) & 0x7F);
        if (options.faults.longInfoReply && !longInfoUsed) {
            longInfoUsed = true;
            while (data.size() < kLongInfoLength - kInfoTrailData.size()) data.push_back('.');
        }
        data.insert(data.end(), kInfoTrailData.begin(), kInfoTrailData.end());
        return replyFrame(data);
    }

    void readChecksumReply() {
        unsigned sum = 0;
        for (std::uint8_t b : memory) sum += b;
        std::uint16_t value = static_cast<std::uint16_t>(0x10000 - (sum & 0xFFFF));
        if (options.faults.wrongChecksum && !checksumFaultUsed) {
            checksumFaultUsed = true;
            value = static_cast<std::uint16_t>(value + 1);
            note("fault: checksum reply off by one");
        }
        const std::array<std::uint8_t, 2> data{static_cast<std::uint8_t>(value >> 8),
                                               static_cast<std::uint8_t>(value)};
        sendAck();
        send(replyFrame(data));
    }

    // Expected length byte for each command: 1 for the plain ones, 5 for the speed, 7 for ranges.
    static std::size_t expectedLength(std::uint8_t code) {
        switch (code) {
        case CMD_SET_SPEED: return 1 + kSpeedParameter.size();
        case CMD_BLANK_CHECK:
        case CMD_ERASE:
        case CMD_PROGRAM_MODE:
        case CMD_READ_CHECKSUM:
        case CMD_VERIFY: return kRangeLengthByte;
        default: return 1;
        }
    }

    void handleCommand(std::span<const std::uint8_t> frame) {
        ++framesSeen;
        const std::size_t length = frame[1];
        const std::uint8_t code = frame[2];
        const auto payload = frame.subspan(3, length - 1);
        const bool fastLine = phase != Phase::WaitConnect && phase != Phase::WaitSpeed1;
        note("frame " + hexBytes(frame) + " at " + std::to_string(fastLine ? kFastBaud : kInitialBaud));
        const char* name = commandName(code);
        const std::string label = name ? name : "unknown command";
        checkLine(fastLine ? kFastBaud : kInitialBaud, label.c_str());

        if (frame[length + 2] != checksumOf(frame.subspan(1, length + 1))) {
            violation(label + " frame with a wrong checksum: " + hexBytes(frame));
            sendNak();
            return;
        }
        if (frame[length + 3] != kEtx) {
            violation(label + " frame with the end byte " + hexBytes(frame.subspan(length + 3, 1)) +
                      " instead of 03");
            sendNak();
            return;
        }
        if (!name) {
            violation("unknown command code " + hexBytes(frame.subspan(2, 1)));
            sendNak();
            return;
        }
        if (length != expectedLength(code)) {
            violation(label + " with the length byte " + std::to_string(length) + ", expected " +
                      std::to_string(expectedLength(code)));
            sendNak();
            return;
        }
        if (expectedLength(code) == kRangeLengthByte && !rangeIsFull(payload)) {
            char expected[32];
            std::snprintf(expected, sizeof expected, "00 00 00 %02X %02X %02X", (endAddress >> 16) & 0xFF,
                          (endAddress >> 8) & 0xFF, endAddress & 0xFF);
            violation(label + " with the range " + hexBytes(payload) + ", expected " + expected);
            sendNak();
            return;
        }

        switch (phase) {
        case Phase::WaitConnect:
            if (code != CMD_CONNECT) return unexpected(label);
            if (wakeBytes != kWakeByteCount) {
                violation("CMD_CONNECT after " + std::to_string(wakeBytes) + " wake bytes, expected 2");
            }
            wakeBytes = 0;
            checkModemLines();
            if (options.faults.refuseConnect && !connectRefusalUsed) {
                connectRefusalUsed = true;
                note("fault: connect refused");
                return;
            }
            phase = Phase::WaitSpeed1;
            sendAck();
            return;
        case Phase::WaitSpeed1:
            if (code != CMD_SET_SPEED) return unexpected(label);
            if (!std::equal(payload.begin(), payload.end(), kSpeedParameter.begin(), kSpeedParameter.end())) {
                violation("CMD_SET_SPEED with the parameter " + hexBytes(payload) + ", expected 02 00 00 05");
            }
            {
                const std::array<std::uint8_t, 1> reply{kFirstSpeedReply};
                send(reply);
            }
            unitBaud = kFastBaud;
            phase = Phase::WaitSpeed2;
            return;
        case Phase::WaitSpeed2:
            if (code != CMD_SET_SPEED) return unexpected(label);
            if (!std::equal(payload.begin(), payload.end(), kSpeedParameter.begin(), kSpeedParameter.end())) {
                violation("CMD_SET_SPEED with the parameter " + hexBytes(payload) + ", expected 02 00 00 05");
            }
            if (options.faults.refuseSecondSpeed && !speed2RefusalUsed) {
                speed2RefusalUsed = true;
                note("fault: second speed command not acknowledged");
                return;
            }
            phase = Phase::WaitInfo;
            sendAck();
            return;
        case Phase::WaitInfo:
            if (code != CMD_READ_INFO) return unexpected(label);
            sendAck();
            if (options.faults.garbageBeforeReply && !garbageUsed) {
                garbageUsed = true;
                note("fault: stray bytes before the information reply");
                send(kGarbageBytes);
            }
            send(infoReply());
            phase = Phase::WaitExtra;
            return;
        case Phase::WaitExtra:
            if (code != CMD_READ_EXTRA) return unexpected(label);
            sendAck();
            send(replyFrame(kExtraReplyData));
            phase = Phase::Ready;
            return;
        case Phase::Ready:
            return rangeCommand(code, label);
        case Phase::WriteBlocks:
        case Phase::VerifyBlocks:
            violation(label + " in the middle of " + phaseName(phase) + " (block " + std::to_string(blockIndex) +
                      " of " + std::to_string(blockCount) + " expected)");
            sendNak();
            return;
        }
    }

    static constexpr int kModemKnown = 1, kModemDtr = 2, kModemRts = 4;

    void checkModemLines() {
        const int lines = modemLines.load();
        if (!(lines & kModemKnown)) return;
        if (lines & kModemDtr) violation("CMD_CONNECT with DTR on (the line wants DTR off)");
        if (!(lines & kModemRts)) violation("CMD_CONNECT with RTS off (the line wants RTS on)");
    }

    void unexpected(const std::string& label) {
        violation(label + " while the unit was " + phaseName(phase));
        sendNak();
    }

    void rangeCommand(std::uint8_t code, const std::string& label) {
        switch (code) {
        case CMD_BLANK_CHECK: {
            ++blankChecks;
            bool blank = isBlank();
            if (options.faults.blankAtSecondCheck && !blankFaultUsed) {
                blankFaultUsed = true;
                blank = false;
                note("fault: first blank check reports not blank");
            }
            memoryKnownBlank = blank;
            notBlankStreak = blank ? 0 : notBlankStreak + 1;
            send(statusReply(blank ? kBlankStatus : kNotBlankStatus));
            return;
        }
        case CMD_ERASE:
            noteUpdateStep(label);
            if (notBlankStreak < 2) {
                violation("CMD_ERASE without two blank checks that reported not blank");
            }
            notBlankStreak = 0;
            if (options.faults.eraseRefused && !eraseFaultUsed) {
                eraseFaultUsed = true;
                note("fault: erase refused");
                sendNak();
                return;
            }
            std::fill(memory.begin(), memory.end(), 0xFF);
            memoryKnownBlank = true;
            sendAck();
            return;
        case CMD_PROGRAM_MODE:
            noteUpdateStep(label);
            if (!memoryKnownBlank) {
                violation("CMD_PROGRAM_MODE before the memory was found blank or erased");
            }
            if (options.faults.programModeRefused && !programRefusalUsed) {
                programRefusalUsed = true;
                note("fault: program mode refused");
                sendNak();
                return;
            }
            ++writePassesStarted;
            memoryKnownBlank = false;
            writePassDone = false;
            checksumRead = false;
            sendAck();
            startPass(Phase::WriteBlocks);
            return;
        case CMD_READ_CHECKSUM:
            if (!writePassDone && updateBegun) {
                violation("CMD_READ_CHECKSUM before a complete write pass");
            } else if (!writePassDone && !checkSession) {
                checkSession = true;
                note("check session: checksum asked for outside an update; the memory must stay as it is");
            }
            checksumRead = true;
            readChecksumReply();
            return;
        case CMD_VERIFY:
            if (!checksumRead || (!writePassDone && !checkSession)) {
                violation("CMD_VERIFY before a complete write pass and the checksum read");
            }
            if (options.faults.verifyRefused && !verifyRefusalUsed) {
                verifyRefusalUsed = true;
                note("fault: verify command refused");
                sendNak();
                return;
            }
            ++verifyPassesStarted;
            sendAck();
            startPass(Phase::VerifyBlocks);
            return;
        default:
            unexpected(label);
            return;
        }
    }

    // An erase or program-mode frame: the memory is about to change, which a check session
    // must never see. The unit does what it is asked, as a real one would.
    void noteUpdateStep(const std::string& label) {
        updateBegun = true;
        if (checkSession) violation(label + " in a check session (the memory must stay as it is)");
    }

    void startPass(Phase pass) {
        phase = pass;
        blockIndex = 0;
        passMatches = true;
        if (blockCount == 0) endPass();
    }

    // The last block of a pass has been answered.
    void endPass() {
        if (phase == Phase::WriteBlocks) {
            writePassDone = true;
            if (!passMatches) {
                note("write pass ended; memory differs from the data received: no acknowledgement");
            } else if (options.faults.noFinalAck && !finalAckFaultUsed) {
                finalAckFaultUsed = true;
                note("fault: no acknowledgement after the write pass");
            } else {
                note("write pass ended; memory holds the data received");
                sendAck();
            }
        } else if (checkSession && !writePassDone) {
            if (passMatches) {
                completedChecks.fetch_add(1);
                note("check: verify pass ended; every block equal to the memory");
            } else {
                note("check: verify pass ended with differences");
            }
        } else {
            if (passMatches) {
                completedUpdates.fetch_add(1);
                note("verify pass ended; every block equal");
            } else {
                note("verify pass ended with differences");
            }
        }
        phase = Phase::Ready;
    }

    void handleBlock(std::span<const std::uint8_t> frame) {
        ++framesSeen;
        const bool writing = phase == Phase::WriteBlocks;
        const int n = blockIndex;
        const auto data = frame.subspan(2, kBlockSizeBytes);
        const std::string label = std::string(writing ? "write" : "verify") + " block " + std::to_string(n);
        note("block " + label.substr(0, label.find(' ')) + " " + std::to_string(n) + ": " +
             hexBytes(frame.first(10)) + " ... " + hexBytes(frame.last(2)));
        checkLine(kFastBaud, "data block");

        bool frameOk = true;
        if (frame[1] != kDataBlockLengthByte) {
            violation(label + " with the length byte " + hexBytes(frame.subspan(1, 1)) + " instead of 00");
            frameOk = false;
        }
        if (frame[258] != checksumOf(frame.subspan(1, 257))) {
            violation(label + " with a wrong checksum");
            frameOk = false;
        }
        const bool last = n == blockCount - 1;
        const std::uint8_t expectedEnd = last ? kEtx : kEtb;
        if (frame[259] != expectedEnd) {
            char text[96];
            std::snprintf(text, sizeof text, " ends in %02X, expected %02X (%s block of the pass)", frame[259],
                          expectedEnd, last ? "last" : "not the last");
            violation(label + text);
            frameOk = false;
        }
        if (!frameOk) {
            passMatches = false;
            send(blockReply(false));
            phase = Phase::Ready;   // the pass is broken; the host has to start over
            return;
        }

        const std::size_t offset = static_cast<std::size_t>(n) * kBlockSizeBytes;
        bool accepted = true;
        if (writing && checkSession) violation("write block in a check session (the memory must stay as it is)");
        if (writing) {
            if (options.faults.refuseWriteBlock == n && writePassesStarted == 1) {
                note("fault: write block " + std::to_string(n) + " refused");
                accepted = false;
            } else {
                // Flash: programming can only clear bits.
                for (std::size_t i = 0; i < kBlockSizeBytes; ++i) memory[offset + i] &= data[i];
                ++blocksWritten;
                if (!std::equal(data.begin(), data.end(), memory.begin() + static_cast<std::ptrdiff_t>(offset))) {
                    passMatches = false;
                    note("write block " + std::to_string(n) + " landed on memory that was not erased");
                }
            }
        } else {
            if (options.faults.refuseVerifyBlock == n && verifyPassesStarted == 1) {
                note("fault: verify block " + std::to_string(n) + " refused");
                accepted = false;
            } else if (!std::equal(data.begin(), data.end(), memory.begin() + static_cast<std::ptrdiff_t>(offset))) {
                note("verify block " + std::to_string(n) + " differs from memory");
                accepted = false;
            }
        }
        if (!accepted) {
            passMatches = false;
            send(blockReply(false));
            phase = Phase::Ready;
            return;
        }
        send(blockReply(true));
        // The block faults hit the first pass to reach the block: an update's write pass, or
        // the verify pass of a check that nothing was written before.
        const bool firstPass = writing ? writePassesStarted == 1 : writePassesStarted == 0 && verifyPassesStarted == 1;
        if (firstPass && options.faults.hangUpAfterBlock == n) {
            note("fault: line hangs up after " + label);
            hungUp = true;
            return;
        }
        if (firstPass && options.faults.muteAfterBlock == n && !muted) {
            note("fault: no answer any more after " + label);
            muted = true;
        }
        ++blockIndex;
        if (blockIndex == blockCount) endPass();
    }

    // ---- receiving ----

    // Takes complete frames off the front of received. Returns the time at which it wants to
    // be called again (pacing, or an incomplete frame's time limit), or nullopt to wait for bytes.
    std::optional<Clock::time_point> processReceived() {
        while (!received.empty() && !hungUp) {
            const std::uint8_t first = received[0];
            if (first == kWakeByte) {
                if (wakeBytes == 0) newConnection();
                ++wakeBytes;
                if (wakeBytes == 1) checkLine(kInitialBaud, "wake byte");
                note("wake byte 00");
                if (wakeBytes > kWakeByteCount) violation("more than two wake bytes before CMD_CONNECT");
                consume(1);
                continue;
            }
            std::size_t frameSize = 0;
            const bool blockPhase = phase == Phase::WriteBlocks || phase == Phase::VerifyBlocks;
            if (first == kSoh) {
                if (received.size() < 2) return incompleteDeadline();
                if (received[1] == 0) {
                    violation("command frame with the length byte 00");
                    consume(2);
                    continue;
                }
                frameSize = received[1] + kCommandOverheadBytes;
            } else if (first == kStx) {
                frameSize = kDataBlockFrameSize;
            } else {
                violation("stray byte " + hexBytes(std::span<const std::uint8_t>(received).first(1)) + " while the unit was " +
                          phaseName(phase));
                consume(1);
                continue;
            }
            if (received.size() < frameSize) return incompleteDeadline();
            const auto wireEnd = frameStart + wireTime(frameSize);
            if (options.pace) {
                const auto now = Clock::now();
                if (now < wireEnd) return wireEnd;
                // How much later than the frame's last bit the unit takes it up.
                pacing.frameEnds += now - wireEnd;
                pacing.longest = std::max(pacing.longest, now - wireEnd);
                pacing.thisFrame = Clock::duration::zero();
                ++pacing.frames;
            }
            converterHold.thisFrame = Clock::duration::zero();
            converterHold.thisFrameCounted = false;
            replyDueAt = options.pace ? wireEnd : Clock::now();
            if (options.timingFile) timings.push_back({frameSize, frameStart, Clock::now()});
            std::vector<std::uint8_t> frame(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(frameSize));
            consume(frameSize);
            if (!received.empty()) frameStart = std::max(frameStart, wireEnd);
            if (first == kSoh) {
                handleCommand(frame);
            } else if (blockPhase) {
                handleBlock(frame);
            } else {
                ++framesSeen;
                violation(std::string("data block frame while the unit was ") + phaseName(phase));
            }
        }
        return std::nullopt;
    }

    std::optional<Clock::time_point> incompleteDeadline() {
        const auto deadline = lastByteAt + kIncompleteFrameTimeout;
        if (Clock::now() >= deadline) {
            violation("incomplete frame: " + std::to_string(received.size()) + " bytes and then nothing (" +
                      hexBytes(std::span<const std::uint8_t>(received).first(std::min<std::size_t>(received.size(), 8))) +
                      " ...)");
            received.clear();
            return std::nullopt;
        }
        return deadline;
    }

    void consume(std::size_t count) {
        received.erase(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(count));
    }

    void serve(int masterFd, const std::string& slavePath, const std::atomic<bool>& stopFlag) {
        fd = masterFd;
        stop = &stopFlag;
        const int previousSlackNs = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
        prctl(PR_SET_TIMERSLACK, kServeTimerSlackNs, 0, 0, 0);
        const int flags = fcntl(fd, F_GETFL);
        if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        // The master's own settings are left alone: on a pty, setting them would set the
        // terminal side's, which is the host's business and exactly what is checked here.
        // Holding the other side open keeps the line settings readable and means the master
        // never sees a hang-up between the host's connections.
        if (!slavePath.empty()) {
            peekFd = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (peekFd < 0) note("line settings cannot be checked: " + std::string(std::strerror(errno)));
        } else {
            note("line settings cannot be checked: no path to the other side");
        }
        if (!setupError.empty()) violation(setupError);
        if (options.ft232r) {
            // USB frames start at whole milliseconds of the steady clock.
            converter.emplace(converterLatencyMs(), Clock::time_point{});
            note("converter: FT232R model, latency timer " + std::to_string(converterLatencyMs()) + " ms");
        }

        std::optional<Clock::time_point> wakeAt;
        bool lineClosedNoted = false;
        while (!stopFlag.load() && !hungUp) {
            // Wake exactly when the next paced step is due (to the nanosecond, so the pacing
            // adds no rounding of its own to every frame), or after a slice to look at stop.
            auto waitNs = std::chrono::nanoseconds(std::chrono::milliseconds(kPollSliceMs)).count();
            if (wakeAt) {
                const auto due = std::chrono::duration_cast<std::chrono::nanoseconds>(*wakeAt - Clock::now()).count();
                waitNs = std::clamp<long long>(due - due / kPollLatenessDivisor, 0, waitNs);
            }
            const timespec timeout{static_cast<time_t>(waitNs / 1000000000), static_cast<long>(waitNs % 1000000000)};
            pollfd in{fd, POLLIN, 0};
            const int ready = ppoll(&in, 1, &timeout, nullptr);
            if (ready < 0 && errno != EINTR) break;
            if (ready > 0 && (in.revents & POLLNVAL)) break;
            if (ready > 0 && (in.revents & POLLIN)) {
                std::uint8_t buffer[4096];
                const ssize_t got = ::read(fd, buffer, sizeof buffer);
                if (got > 0) {
                    const auto now = Clock::now();
                    if (received.empty()) frameStart = std::max(now, lineFreeAt);
                    lastByteAt = now;
                    received.insert(received.end(), buffer, buffer + got);
                    lineClosedNoted = false;
                } else if (got < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
                    break;
                } else if (got == 0 || (got < 0 && errno == EIO)) {
                    closedLine(lineClosedNoted);
                }
            } else if (ready > 0 && (in.revents & (POLLHUP | POLLERR))) {
                closedLine(lineClosedNoted);
            }
            flushConverter();
            wakeAt = processReceived();
            if (const auto delivery = converter ? converter->nextDelivery() : std::nullopt) {
                wakeAt = wakeAt ? std::min(*wakeAt, *delivery) : *delivery;
            }
        }
        // The acknowledgement sent before a hang-up still reaches the host.
        if (hungUp) drainConverter();
        if (peekFd >= 0) {
            ::close(peekFd);
            peekFd = -1;
        }
        if (hungUp) note("hang-up");
        if (previousSlackNs > 0) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previousSlackNs), 0, 0, 0);
        fd = -1;
        stop = nullptr;
    }

    // Nobody holds the other side open: wait a little instead of spinning on POLLHUP.
    void closedLine(bool& noted) {
        if (!noted) note("line closed by the host");
        noted = true;
        sleepUntil(Clock::now() + std::chrono::milliseconds(kClosedLineRetryMs));
    }

    std::string summaryText() const {
        std::lock_guard lock(recordMutex);
        return "frames " + std::to_string(framesSeen) + ", blocks written " + std::to_string(blocksWritten) +
               ", completed updates " + std::to_string(completedUpdates.load()) + ", violations " +
               std::to_string(violations.size()) + ", completed checks " + std::to_string(completedChecks.load()) +
               (hungUp ? ", hung up" : "");
    }

    // "pacing: F frames, unit late by T ms in all (last reply bytes after their wire time);
    // frames taken up E ms late in all, at most M ms" (the update benchmarks read F and T)
    std::string pacingSummary() const {
        const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
        char text[200];
        std::snprintf(text, sizeof text,
                      "pacing: %d frames, unit late by %.3f ms in all (last reply bytes after their wire time); "
                      "frames taken up %.3f ms late in all, at most %.3f ms",
                      pacing.frames, ms(pacing.replies), ms(pacing.frameEnds), ms(pacing.longest));
        return text;
    }

    // "converter: FT232R, latency timer L ms; F answered frames, replies held H ms in all after
    // their last byte had crossed the line, at most M ms; P packets" (the benchmarks read F
    // and H; L is the timer at the end).
    std::string converterSummary() const {
        const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
        char text[240];
        std::snprintf(text, sizeof text,
                      "converter: FT232R, latency timer %d ms; %d answered frames, replies held %.3f ms in all after "
                      "their last byte had crossed the line, at most %.3f ms; %d packets",
                      converter ? converter->latencyMs() : converterLatencyMs(), converterHold.frames, ms(converterHold.replies),
                      ms(converterHold.longest), converterHold.packets);
        return text;
    }

    void finish() {
        if (options.memoryOutFile) {
            std::ofstream out(*options.memoryOutFile, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(memory.data()), static_cast<std::streamsize>(memory.size()));
        }
        if (options.recordFile) {
            std::ofstream out(*options.recordFile, std::ios::trunc);
            std::lock_guard lock(recordMutex);
            for (const SimEvent& event : events) out << event.text << '\n';
            if (options.pace) out << pacingSummary() << '\n';
            if (options.ft232r) out << converterSummary() << '\n';
        }
        if (options.timingFile) {
            std::ofstream out(*options.timingFile, std::ios::trunc);
            const auto ns = [](Clock::time_point t) {
                return static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
            };
            for (const FrameTiming& t : timings) {
                const bool replied = t.replyBytes > 0;
                out << "frame " << t.bytes << ' ' << ns(t.start) << ' ' << ns(t.takenUp) << ' ' << t.replyBytes << ' '
                    << (replied ? ns(t.replyStart) : 0) << ' ' << (replied ? ns(t.replyLast) : 0) << '\n';
            }
        }
    }
};

SimulatedUnit::SimulatedUnit(SimOptions options) : impl_(std::make_shared<Impl>(std::move(options))) {}

void SimulatedUnit::serve(int masterFd, const std::string& slavePath, const std::atomic<bool>& stop) {
    impl_->serve(masterFd, slavePath, stop);
    impl_->finish();
}

bool SimulatedUnit::hungUp() const { return impl_->hungUp.load(); }

const std::vector<SimEvent>& SimulatedUnit::events() const { return impl_->events; }

std::vector<std::string> SimulatedUnit::violations() const {
    std::lock_guard lock(impl_->recordMutex);
    return impl_->violations;
}

const std::vector<std::uint8_t>& SimulatedUnit::memory() const { return impl_->memory; }

int SimulatedUnit::completedUpdates() const { return impl_->completedUpdates.load(); }

int SimulatedUnit::completedChecks() const { return impl_->completedChecks.load(); }

void SimulatedUnit::finish() { impl_->finish(); }

void SimulatedUnit::noteTransportEvent(const std::string& text) { impl_->note(text); }

void SimulatedUnit::noteLowLatencyRequest(bool lowLatency) { impl_->lowLatencyRequest = lowLatency ? 1 : 0; }

void SimulatedUnit::noteModemLines(bool dtr, bool rts) {
    impl_->modemLines = Impl::kModemKnown | (dtr ? Impl::kModemDtr : 0) | (rts ? Impl::kModemRts : 0);
    impl_->note(std::string("modem lines DTR=") + (dtr ? "1" : "0") + " RTS=" + (rts ? "1" : "0"));
}

std::string SimulatedUnit::summary() const { return impl_->summaryText(); }

std::string SimulatedUnit::setupError() const { return impl_->setupError; }
