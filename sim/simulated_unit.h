// SPDX-License-Identifier: MIT
// A simulated varnoflex flash unit: it plays the microcontroller's serial boot loader on
// the other side of a pseudo-terminal (or any file descriptor), strictly, so that it catches
// the host when the host is wrong. Used by the tests, the benchmarks and the demo.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Faults the unit can be asked to show. Block numbers count from 0.
struct SimFaults {
    bool silent = false;                 // answers nothing at all
    bool refuseConnect = false;          // no acknowledgement of the connect frame
    bool refuseSecondSpeed = false;      // no acknowledgement of the speed command at 115200
    bool longInfoReply = false;          // information reply announcing 120 data bytes
    bool shortInfoReply = false;         // information reply of 4 data bytes (no end address)
    bool bigRange = false;               // reports end address 03 FF FF (1024 blocks)
    bool eraseRefused = false;           // memory not blank and the erase is refused
    bool blankAtSecondCheck = false;     // first blank check says "not blank", the second "blank"
    bool programModeRefused = false;
    int refuseWriteBlock = -1;           // refuses this block in the write pass
    bool noFinalAck = false;             // no acknowledgement after the last block
    bool wrongChecksum = false;          // checksum reply off by one
    bool verifyRefused = false;          // no acknowledgement of CMD_VERIFY
    int refuseVerifyBlock = -1;          // refuses this block in the verify pass
    // The two below hit the first write pass, or the first verify pass of a check (the first
    // pass to reach the block).
    int hangUpAfterBlock = -1;           // hangs up the line after acknowledging this block (pulled cable)
    int muteAfterBlock = -1;             // answers nothing more after acknowledging this block
    bool garbageBeforeReply = false;     // sends stray bytes before the information reply
    bool keepLatencyTimer = false;       // vf-testbed: the converter's driver takes the host's
                                         // low-latency request but keeps its latency timer
};

struct SimOptions {
    std::uint32_t endAddress = 0x01FFFF;           // reported in the information reply
    std::string deviceName = "VF-SIM FLASH";       // reported in the information reply
    std::optional<std::string> memoryInFile;       // initial memory (raw bytes); default blank (FF)
    bool oldFirmware = false;                      // start filled with "older firmware" instead of blank
    std::optional<std::string> memoryOutFile;      // memory written here when serving ends
    std::optional<std::string> recordFile;         // what the unit saw, one line per event
    std::optional<std::string> timingFile;         // when each frame came and each reply went
                                                   // (steady clock, ns), for the benchmarks
    bool pace = false;                             // delay every byte by its wire time (10 bits);
                                                   // the record then ends with the unit's own
                                                   // lateness ("pacing: ...")
    bool ft232r = false;                           // replies reach the host through the model of
                                                   // the converter's FT232R (sim/ft232r_model.h);
                                                   // the record then ends with what it held back
                                                   // ("converter: ...")
    std::optional<int> latencyTimerMs;             // the converter's own latency timer (default
                                                   // 16 ms); the host's low-latency request
                                                   // makes it 1 ms
    SimFaults faults;
};

// Parses one command-line option of the simulated unit at argv[i] (advancing i past its
// value). Returns false, with a message in error, for an unknown option or a bad value.
// Shared by vf-sim and vf-testbed so both take the same options.
bool parseSimOption(int argc, char** argv, int& i, SimOptions& options, std::string& error);
// The option list for --help.
const char* simOptionsHelp();

// Checks what the single options cannot: that the memory file fits the address range, that
// block numbers of the faults lie inside it. False, with a message in error, when not.
bool checkSimOptions(const SimOptions& options, std::string& error);

// The end address the unit reports with these options (03 FF FF under the big-range fault).
std::uint32_t simReportedEndAddress(const SimOptions& options);

// The time bytes take on the line at baud: ten bits each (start, eight data, stop), to the
// nanosecond. A paced unit hands byte k of a reply to the line this long after the reply began.
std::chrono::steady_clock::duration simWireTime(std::size_t bytes, std::uint32_t baud);

struct SimEvent {
    std::string text;   // e.g. "frame 01 01 00 FF 03 at 9600", "speed 115200", "VIOLATION ..."
};

class SimulatedUnit {
public:
    explicit SimulatedUnit(SimOptions options);

    // Serves the boot loader on masterFd until stop becomes true, the fault hangUpAfterBlock
    // hangs up (the function then returns true with hungUp() set), or the fd fails.
    // slavePath names the pty's other side, opened to read the line settings the host
    // applied (speed, 8N1, raw, flow control).
    void serve(int masterFd, const std::string& slavePath, const std::atomic<bool>& stop);

    bool hungUp() const;
    // The events and the memory are meant to be read once serve has returned.
    const std::vector<SimEvent>& events() const;
    std::vector<std::string> violations() const;     // every protocol violation seen
    const std::vector<std::uint8_t>& memory() const; // the unit's flash, endAddress + 1 bytes
    int completedUpdates() const;                    // verify passes that ended with every block equal
    int completedChecks() const;                     // the same, of check sessions
    // Writes memory and the record file as the options ask; called by serve on its way out.
    // Calling it again rewrites both files with what has been seen since.
    void finish();

    // Adds an event seen by the transport rather than on the line (modem lines set through
    // the converter, the line going away). Safe to call from another thread while serving.
    void noteTransportEvent(const std::string& text);
    // The converter's modem lines as the transport sees them (vf-testbed's ioctl handler).
    // Once told, the unit requires DTR off and RTS on whenever the host connects. Safe to call
    // from another thread while serving.
    void noteModemLines(bool dtr, bool rts);
    // The host set or cleared the low-latency flag of the converter's tty (TIOCSSERIAL with
    // ASYNC_LOW_LATENCY, as vf-testbed's ioctl handler sees it). The FTDI driver then sets the
    // chip's latency timer to 1 ms, or back to the converter's own setting; the FT232R model
    // follows. Safe to call from another thread while serving.
    void noteLowLatencyRequest(bool lowLatency);
    // One line: frames, blocks, completed updates, violations, completed checks.
    std::string summary() const;
    // Why the unit could not start as asked (memory file unreadable); empty when it could.
    std::string setupError() const;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};
