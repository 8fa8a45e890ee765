// SPDX-License-Identifier: MIT
// The serial port to the flash unit on Windows: the COM port of the FTDI converter, opened
// for exclusive, synchronous use through the Win32 comm API, set to 8N1 without flow
// control with DTR off and RTS on, and read and written under COMMTIMEOUTS limits.
#include "link/serial.h"
#include "link/port_observer.h"
#include "link/serial_win32.h"

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr const char* kPortByNumberPathFormat = "\\\\.\\COM%d";   // \\.\COM5
constexpr const char* kPortByNamePathFormat = "\\\\.\\%.*s";      // \\.\ and the name
constexpr DWORD kSettingsRecordSize = 28;

static_assert(sizeof(DCB) == kSettingsRecordSize, "DCB must be the 28-byte settings record");

// Read: no limit between bytes; the whole read ends after kReadTotalTimeoutMs at the latest.
// Write: a write of N bytes may take N times kWriteTimeoutPerByteMs.
constexpr DWORD kReadIntervalTimeoutMs = 0;
constexpr DWORD kReadTotalTimeoutMultiplierMs = 0;
constexpr DWORD kWriteTotalTimeoutConstantMs = 0;

// Windows 10 1803 and later: a waitable timer that ends its wait within a fraction of a
// millisecond, whatever the system timer's tick.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif
constexpr LONGLONG kTimerUnitsPerMs = 10000;   // waitable timers count in 100 ns
constexpr UINT kFallbackTimerResolutionMs = 1;
constexpr LONGLONG kMsPerSecond = 1000;

// The timer a thread's waits use, closed when the thread ends; none where the system has no
// high-resolution timers.
class WaitTimer {
public:
    WaitTimer()
        : handle_(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                         TIMER_ALL_ACCESS)) {}
    WaitTimer(const WaitTimer&) = delete;
    WaitTimer& operator=(const WaitTimer&) = delete;
    ~WaitTimer()
    {
        if (handle_ != nullptr) CloseHandle(handle_);
    }

    // Waits milliseconds; false when the timer could not do it.
    bool wait(int milliseconds)
    {
        if (handle_ == nullptr) return false;
        LARGE_INTEGER due{};
        due.QuadPart = -kTimerUnitsPerMs * milliseconds;   // negative: relative to now
        return SetWaitableTimer(handle_, &due, 0, nullptr, nullptr, FALSE) &&
               WaitForSingleObject(handle_, INFINITE) == WAIT_OBJECT_0;
    }

private:
    HANDLE handle_;
};

// The one port of the process; INVALID_HANDLE_VALUE while it is closed.
HANDLE portHandle = INVALID_HANDLE_VALUE;
// The Win32 error of the last failed open, read or write; 0 when there was none.
DWORD lastError = 0;

// Forms the device path for selector; false when the selector is unknown, the name holds a
// zero byte or the path does not fit the buffer.
bool formDevicePath(std::int16_t portNumber, std::string_view portName, int selector,
                    char (&devicePath)[kDevicePathBufferSize])
{
    int formedLength = -1;
    if (selector == kPortByNumber) {
        formedLength = std::snprintf(devicePath, sizeof devicePath, kPortByNumberPathFormat,
                                     static_cast<int>(portNumber));
    } else {
        if (portName.find('\0') != std::string_view::npos) return false;
        formedLength = std::snprintf(devicePath, sizeof devicePath, kPortByNamePathFormat,
                                     static_cast<int>(portName.size()), portName.data());
    }
    return formedLength >= 0 && static_cast<std::size_t>(formedLength) < sizeof devicePath;
}

void applyPortSettings(HANDLE handle)
{
    DCB settings{};
    settings.DCBlength = kSettingsRecordSize;
    // Every field not set below keeps what the driver reports (XON/XOFF limits and
    // characters, error, end-of-file and event characters).
    GetCommState(handle, &settings);
    settings.BaudRate = kInitialBaud;
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fBinary = TRUE;
    settings.fParity = FALSE;
    settings.fOutxCtsFlow = FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fDtrControl = DTR_CONTROL_DISABLE;
    settings.fDsrSensitivity = FALSE;
    settings.fTXContinueOnXoff = TRUE;
    settings.fOutX = FALSE;
    settings.fInX = FALSE;
    settings.fErrorChar = FALSE;
    settings.fNull = FALSE;
    settings.fRtsControl = RTS_CONTROL_ENABLE;
    settings.fAbortOnError = FALSE;
    SetCommState(handle, &settings);
}

// False when the driver does not take the limits: its earlier ones, possibly none at all,
// would then stay in force.
bool applyTimeLimits(HANDLE handle)
{
    COMMTIMEOUTS timeLimits{};
    timeLimits.ReadIntervalTimeout = kReadIntervalTimeoutMs;
    timeLimits.ReadTotalTimeoutMultiplier = kReadTotalTimeoutMultiplierMs;
    timeLimits.ReadTotalTimeoutConstant = static_cast<DWORD>(kReadTotalTimeoutMs);
    timeLimits.WriteTotalTimeoutMultiplier = static_cast<DWORD>(kWriteTimeoutPerByteMs);
    timeLimits.WriteTotalTimeoutConstant = kWriteTotalTimeoutConstantMs;
    return SetCommTimeouts(handle, &timeLimits) != FALSE;
}

}  // namespace

bool portOpen(std::int16_t portNumber, std::string_view portName, int selector)
{
    if (selector != kPortByNumber && selector != kPortByName) return false;

    // The port must be closed; a handle left open would otherwise be lost.
    portClose();
    char devicePath[kDevicePathBufferSize];
    if (!formDevicePath(portNumber, portName, selector, devicePath)) {
        lastError = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    if (portTransfersStopped()) {
        lastError = ERROR_OPERATION_ABORTED;
        return false;
    }

    // A successful CreateFileA need not clear the thread's last error; clearing it first
    // keeps an earlier failure from failing this open.
    SetLastError(ERROR_SUCCESS);
    portHandle = CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             0, nullptr);
    const DWORD openError = GetLastError();
    if (openError != ERROR_SUCCESS) {
        lastError = openError;
        portClose();
        notePortOpenFailed(devicePath);
        return false;
    }
    if (portHandle == INVALID_HANDLE_VALUE) return false;

    applyPortSettings(portHandle);
    // Without the time limits a read could wait for ever, with the update's buttons off and
    // the window refusing to close: such a port is not used, as if it had not opened.
    if (!applyTimeLimits(portHandle)) {
        lastError = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_GEN_FAILURE;
        CloseHandle(portHandle);
        portHandle = INVALID_HANDLE_VALUE;
        notePortOpenFailed(devicePath);
        return false;
    }
    lastError = ERROR_SUCCESS;
    notePortOpened(devicePath);
    waitMs(kPortOpenSettleMs);
    return true;
}

void portSetSpeed(std::uint32_t baud)
{
    if (portHandle == INVALID_HANDLE_VALUE) return;
    DCB settings{};
    settings.DCBlength = kSettingsRecordSize;
    GetCommState(portHandle, &settings);
    settings.BaudRate = baud;
    SetCommState(portHandle, &settings);
    noteSpeedChanged(baud);
}

void portClose()
{
    notePortClosed(portHandle != INVALID_HANDLE_VALUE);
    if (portHandle != INVALID_HANDLE_VALUE) CloseHandle(portHandle);
    portHandle = INVALID_HANDLE_VALUE;
}

bool portIsOpen()
{
    return portHandle != INVALID_HANDLE_VALUE;
}

bool portRead(std::span<std::uint8_t> buffer)
{
    if (portHandle == INVALID_HANDLE_VALUE) return false;
    if (portTransfersStopped()) {
        lastError = ERROR_OPERATION_ABORTED;
        return false;
    }
    DWORD receivedCount = 0;
    const BOOL readDone = ReadFile(portHandle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                   &receivedCount, nullptr);
    if (!readDone) lastError = GetLastError();
    if (installedPortObserver != nullptr) {
        // A time-out is a short read that succeeded: it has no error text of its own.
        const std::size_t received = std::min<std::size_t>(receivedCount, buffer.size());
        const bool complete = readDone && received == buffer.size();
        installedPortObserver->bytesRead(buffer.first(received), buffer.size(),
                                         complete || readDone ? std::string() : portLastErrorText());
    }
    return readDone && receivedCount == buffer.size();
}

bool portWrite(std::span<const std::uint8_t> data)
{
    if (portHandle == INVALID_HANDLE_VALUE) return false;
    if (portTransfersStopped()) {
        lastError = ERROR_OPERATION_ABORTED;
        return false;
    }
    DWORD writtenCount = 0;
    const BOOL writeDone = WriteFile(portHandle, data.data(), static_cast<DWORD>(data.size()),
                                     &writtenCount, nullptr);
    const bool whole = wholeWriteDone(writeDone, writtenCount, data.size());
    if (!writeDone) {
        lastError = GetLastError();
    } else if (!whole) {
        lastError = ERROR_TIMEOUT;   // the write time limit ran out
    }
    noteWrite(data, whole);
    return whole;
}

bool wholeWriteDone(BOOL writeDone, DWORD writtenCount, std::size_t wantedCount)
{
    return writeDone != FALSE && writtenCount == wantedCount;
}

// Sleep ends at a tick of the system timer, 15.6 ms apart unless some program asked for
// less, which would turn every 5 ms pause before a frame into as much as 15.6 ms, and it
// may end before its time. The high-resolution timer avoids both; without one, the process
// asks for 1 ms ticks once, and the pause keeps to its deadline by the performance counter
// whether it got them or not.
void waitMs(int milliseconds)
{
    noteWait(milliseconds);
    if (milliseconds <= 0) {
        Sleep(0);
        return;
    }
    thread_local WaitTimer timer;
    if (timer.wait(milliseconds)) return;
    static const bool finerTicks = timeBeginPeriod(kFallbackTimerResolutionMs) == TIMERR_NOERROR;
    (void)finerTicks;
    pauseByCounter(milliseconds);
}

void pauseByCounter(int milliseconds, SleepFunction sleep)
{
    if (milliseconds <= 0) return;
    LARGE_INTEGER frequency{};
    LARGE_INTEGER now{};
    QueryPerformanceFrequency(&frequency);   // counts per second, fixed at boot
    QueryPerformanceCounter(&now);
    const LONGLONG countsPerSecond = frequency.QuadPart;
    // Whole seconds and the rest apart, so that no product overflows; the rest rounded up,
    // so that the deadline never lies before the time asked for.
    const LONGLONG deadline = now.QuadPart + milliseconds / kMsPerSecond * countsPerSecond +
                              (milliseconds % kMsPerSecond * countsPerSecond + kMsPerSecond - 1) / kMsPerSecond;
    for (;;) {
        QueryPerformanceCounter(&now);
        const LONGLONG remaining = deadline - now.QuadPart;
        if (remaining <= 0) return;
        const LONGLONG remainingMs = remaining / countsPerSecond * kMsPerSecond +
                                     remaining % countsPerSecond * kMsPerSecond / countsPerSecond;
        sleep(static_cast<DWORD>(remainingMs));
    }
}

std::string portLastErrorText()
{
    if (lastError == ERROR_SUCCESS) return {};
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, lastError, 0, text, sizeof text, nullptr);
    std::string description(text, length);
    while (!description.empty() && (description.back() == '\n' || description.back() == '\r' ||
                                    description.back() == ' ' || description.back() == '.')) {
        description.pop_back();
    }
    if (description.empty()) description = "Windows error " + std::to_string(lastError);
    return description;
}
