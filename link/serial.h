// SPDX-License-Identifier: MIT
// The one serial port through which the program talks to the flash unit's boot loader.
// The operations are the same on every platform; serial_posix.cpp (termios) and
// serial_win32.cpp (Win32 comm API) are the only files that know the platform, and the
// build picks one. Every call comes from the worker thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

inline constexpr std::uint32_t kInitialBaud = 9600;
inline constexpr std::uint32_t kFastBaud = 115200;
inline constexpr int kReadTotalTimeoutMs = 2000;      // a read of N bytes ends after this at the latest
inline constexpr int kWriteTimeoutPerByteMs = 3000;   // a write of N bytes may take N times this
inline constexpr int kPortOpenSettleMs = 200;         // wait at the end of portOpen
inline constexpr std::size_t kDevicePathBufferSize = 100;

// Selectors of portOpen.
inline constexpr int kPortByNumber = 0;   // Windows "\\.\COM%d"; POSIX "/dev/ttyUSB%d"
inline constexpr int kPortByName = 1;     // Windows "\\.\%s"; POSIX the name as a path
                                          // ("/dev/" is put in front of a bare name)

// Opens and configures the port at 9600 baud, 8N1, raw, no flow control, DTR off, RTS on,
// with the read and write limits above, then waits kPortOpenSettleMs. The port must be
// closed. False (port closed) when it cannot be opened, its read and write limits cannot be
// set, or the path does not fit 99 characters; an unknown selector returns false and leaves
// the port as it was. Other settings that fail to apply are not reported.
bool portOpen(std::int16_t portNumber, std::string_view portName, int selector);

// Changes only the line speed; failures are not reported.
void portSetSpeed(std::uint32_t baud);

// Closes the port if it is open; afterwards it is closed in every case.
void portClose();

bool portIsOpen();

// One read of exactly buffer.size() bytes, ending after kReadTotalTimeoutMs at the latest.
// True only when every byte came; bytes that came before a shortfall stay in the buffer.
// False at once on a closed port.
bool portRead(std::span<std::uint8_t> buffer);

// One write of data; true when the platform took all of it (a write that the time limit
// cuts short is a failed write). False at once on a closed port.
bool portWrite(std::span<const std::uint8_t> data);

// Blocks the calling thread.
void waitMs(int milliseconds);

// The platform's description of the last failed open, read or write (for a front end that
// wants to say why, e.g. "Permission denied"); empty when there was none.
std::string portLastErrorText();

// Stops all traffic with the unit, from any thread (a front end ending an update early):
// from then on portOpen, portRead and portWrite fail at once, while a read or write already
// under way ends as usual. An update thus ends between frames, through its usual failure
// path, and its worker closes the port. It is not undone: the process is about to end.
void portStopTransfers();
bool portTransfersStopped();
// Watches what happens on the port: opens and closes, speed changes, every read and write
// with its bytes, and every wait. A front end sets one to keep a trace or count the traffic;
// without one each operation costs a single pointer check. Called on the thread that uses
// the port.
class PortObserver {
public:
    virtual ~PortObserver() = default;
    virtual void portOpened(std::string_view path) = 0;
    virtual void portOpenFailed(std::string_view path, std::string_view reason) = 0;
    virtual void portClosed() = 0;
    virtual void speedChanged(std::uint32_t baud) = 0;
    // data: what was handed to the platform; accepted: whether it took all of it.
    virtual void bytesWritten(std::span<const std::uint8_t> data, bool accepted) = 0;
    // received: the bytes that came of the wanted count; failure: why fewer came (empty when
    // all came; may be empty on a platform that reports a time-out as a short read).
    virtual void bytesRead(std::span<const std::uint8_t> received, std::size_t wanted,
                           std::string_view failure) = 0;
    virtual void waited(int milliseconds) = 0;
};

// Installs observer (nullptr: none). Set it before the worker starts and keep it alive
// until the worker has stopped; the windowed program never sets one.
void setPortObserver(PortObserver* observer);
