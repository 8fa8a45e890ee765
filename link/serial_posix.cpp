// SPDX-License-Identifier: MIT
// The serial port to the flash unit on Linux and other POSIX systems: a tty device opened
// for exclusive use, set to raw 8N1 without flow control through termios, with DTR off and
// RTS on, read and written through ppoll() under fixed time limits. Waits end at absolute
// CLOCK_MONOTONIC deadlines on a thread with a small timer slack, and a read lets the line
// wake it once, when every byte it waits for is there, not once per byte.
#include "link/serial.h"
#include "link/port_observer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <algorithm>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kDevicePrefix = "/dev/";
constexpr const char* kPortByNumberPathFormat = "/dev/ttyUSB%d";
constexpr int kFirstFreeDescriptor = 3;   // 0, 1 and 2 are the standard streams

// The kernel lets a sleeping thread's timer fire up to its timer slack late (50 us by
// default) to bunch wake-ups together. Each frame waits its pause and then its reply, so
// that lateness would be paid twice per frame over a thousand frames; the thread that talks
// to the port asks for far less.
constexpr unsigned long kPortThreadTimerSlackNs = 1000;

// The most a tty will wait for before it wakes a reader (VMIN is one byte wide).
constexpr std::size_t kMaxLineMinimumBytes = 255;

// Owns one file descriptor; closing happens in one place.
class FileDescriptor {
public:
    FileDescriptor() = default;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// The one port of the process and the description of its last failure.
FileDescriptor port;
std::string lastErrorText;
// The VMIN the port's line has now: how many bytes must have come before poll reports it
// readable. Set to 1 with the other line settings, changed only when a read needs another.
cc_t lineMinimumBytes = 1;

void noteFailure(int error) {
    lastErrorText = std::strerror(error);
}

// Forms the device path for the selector in a buffer of kDevicePathBufferSize characters
// including the terminating zero. False when it does not fit.
bool formDevicePath(std::int16_t portNumber, std::string_view portName, int selector,
                    std::string& path) {
    char buffer[kDevicePathBufferSize];
    int length = 0;
    if (selector == kPortByNumber) {
        length = std::snprintf(buffer, sizeof buffer, kPortByNumberPathFormat, static_cast<int>(portNumber));
    } else {
        if (portName.empty()) return false;
        const bool bare = portName.front() != '/';
        const std::size_t needed = (bare ? kDevicePrefix.size() : 0) + portName.size();
        if (needed >= sizeof buffer) return false;
        // A name with an embedded zero would open some other path than the one given.
        if (portName.find('\0') != std::string_view::npos) return false;
        length = std::snprintf(buffer, sizeof buffer, "%s%.*s", bare ? kDevicePrefix.data() : "",
                               static_cast<int>(portName.size()), portName.data());
    }
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer) return false;
    path.assign(buffer, static_cast<std::size_t>(length));
    return true;
}

speed_t speedConstant(std::uint32_t baud, bool& known) {
    known = true;
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: known = false; return B0;
    }
}

// Raw 8-bit data, 8N1, receiver on, modem status lines ignored, no flow control of either
// kind, no translation of received or sent bytes. Only these fields change; every other
// one keeps what the driver reported. Failures are not fatal.
void applyLineSettings(int fd) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) return;

    // XON/XOFF must stay off both ways: the boot loader's data contain 0x11 and 0x13.
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                               ICRNL | IXON | IXOFF | IXANY | INPCK);
#ifdef IUCLC
    settings.c_iflag &= ~static_cast<tcflag_t>(IUCLC);
#endif
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | HUPCL);
#ifdef CRTSCTS
    settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    // CLOCAL: the converter's modem status lines neither block the open nor hang up the line.
    // HUPCL off: closing the port leaves DTR and RTS as they are.
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    lineMinimumBytes = 1;
    ::cfsetispeed(&settings, B9600);
    ::cfsetospeed(&settings, B9600);
    ::tcsetattr(fd, TCSANOW, &settings);
}

// DTR held off, RTS held on. Drivers without modem lines refuse; that is not fatal.
void applyModemLines(int fd) {
    int dtr = TIOCM_DTR;
    ::ioctl(fd, TIOCMBIC, &dtr);
    int rts = TIOCM_RTS;
    ::ioctl(fd, TIOCMBIS, &rts);
}

// Asks the FTDI driver to hand received bytes on at once instead of after its latency timer
// (16 ms by default), which would otherwise slow every acknowledgement down.
void requestLowLatency(int fd) {
#if defined(__linux__) && defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    serial.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
#else
    (void)fd;
#endif
}

// Gives the calling thread the small timer slack above, once per thread.
void useFineTimerSlack() {
    thread_local bool done = false;
    if (done) return;
    ::prctl(PR_SET_TIMERSLACK, kPortThreadTimerSlackNs, 0, 0, 0);
    done = true;
}

timespec toTimespec(std::chrono::nanoseconds duration) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(duration);
    return timespec{static_cast<time_t>(seconds.count()), static_cast<long>((duration - seconds).count())};
}

// Time left until deadline for ppoll, to the nanosecond (none left: zero).
timespec remainingTime(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
    return toTimespec(std::max(left, std::chrono::nanoseconds::zero()));
}

// Sleeps until the absolute CLOCK_MONOTONIC time deadline (steady_clock's clock on Linux);
// a signal does not shorten the wait.
void sleepUntil(Clock::time_point deadline) {
    const timespec until = toTimespec(deadline.time_since_epoch());
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

// Lets the tty report the port readable only once count bytes have come (VMIN; VTIME stays
// 0), so that a reply arriving byte by byte wakes its reader once. Reads stay non-blocking
// and return whatever has come, so a shortfall is still seen at the deadline. On a line
// that refuses the change, poll reports every byte as before.
void wakeReaderAfter(std::size_t count) {
    const cc_t wanted = static_cast<cc_t>(std::clamp<std::size_t>(count, 1, kMaxLineMinimumBytes));
    if (wanted == lineMinimumBytes) return;
    termios settings{};
    if (::tcgetattr(port.get(), &settings) != 0) return;
    settings.c_cc[VMIN] = wanted;
    if (::tcsetattr(port.get(), TCSANOW, &settings) == 0) lineMinimumBytes = wanted;
}

// Takes what has come without waiting: the bytes before a shortfall or a hang-up.
void readWhatHasCome(std::span<std::uint8_t> buffer, std::size_t& received) {
    while (received < buffer.size()) {
        const ssize_t n = ::read(port.get(), buffer.data() + received, buffer.size() - received);
        if (n > 0) {
            received += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return;
        }
    }
}

}  // namespace

bool portOpen(std::int16_t portNumber, std::string_view portName, int selector) {
    if (selector != kPortByNumber && selector != kPortByName) return false;

    // The port is meant to be closed here; an open one is closed rather than leaked.
    portClose();

    std::string path;
    if (!formDevicePath(portNumber, portName, selector, path)) {
        noteFailure(ENAMETOOLONG);
        return false;
    }

    if (portTransfersStopped()) {
        noteFailure(ECANCELED);
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        noteFailure(errno);
        notePortOpenFailed(path);
        return false;
    }
    FileDescriptor opened;
    opened.reset(fd);
    // On a standard stream's number (one that was closed), everything printed would go to
    // the unit: move the port above them, or do not use it.
    if (fd < kFirstFreeDescriptor) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, kFirstFreeDescriptor);
        if (moved < 0) {
            noteFailure(errno);
            return false;
        }
        opened.reset(moved);
    }

    // Exclusive use: an advisory lock that every cooperating opener honours (root
    // included), and the tty's own exclusive mode against any other opener.
    if (::flock(opened.get(), LOCK_EX | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EAGAIN)) {
        noteFailure(EBUSY);
        notePortOpenFailed(path);
        return false;
    }
    ::ioctl(opened.get(), TIOCEXCL);

    applyLineSettings(opened.get());
    applyModemLines(opened.get());
    requestLowLatency(opened.get());

    port.reset(opened.release());
    notePortOpened(path);

    waitMs(kPortOpenSettleMs);
    return true;
}

void portSetSpeed(std::uint32_t baud) {
    if (!port.valid()) return;
    bool known = false;
    const speed_t speed = speedConstant(baud, known);
    if (!known) return;
    termios settings{};
    if (::tcgetattr(port.get(), &settings) != 0) return;
    ::cfsetispeed(&settings, speed);
    ::cfsetospeed(&settings, speed);
    // At once: the caller has already read the device's reply to the speed command, and
    // nothing of ours is waiting to be sent.
    ::tcsetattr(port.get(), TCSANOW, &settings);
    noteSpeedChanged(baud);
}

void portClose() {
    // The tty's exclusive mode outlives our descriptor while anyone else holds the tty
    // open; give it up so that the next opener (our own next portOpen included) is not
    // refused.
    if (port.valid()) ::ioctl(port.get(), TIOCNXCL);
    notePortClosed(port.valid());
    port.reset();
}

bool portIsOpen() {
    return port.valid();
}

bool portRead(std::span<std::uint8_t> buffer) {
    if (!port.valid()) {
        noteFailure(EBADF);
        return false;
    }
    if (portTransfersStopped()) {
        noteFailure(ECANCELED);
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(kReadTotalTimeoutMs);
    std::size_t received = 0;
    const ReadReport report(buffer, received);
    useFineTimerSlack();
    while (received < buffer.size()) {
        wakeReaderAfter(buffer.size() - received);
        pollfd pfd{port.get(), POLLIN, 0};
        const timespec timeout = remainingTime(deadline);
        const int ready = ::ppoll(&pfd, 1, &timeout, nullptr);
        if (ready < 0) {
            if (errno == EINTR) continue;
            noteFailure(errno);
            return false;
        }
        if (ready == 0) {
            if (Clock::now() >= deadline) {
                // Too few bytes came in time; those that did stay in the buffer.
                readWhatHasCome(buffer, received);
                if (received == buffer.size()) return true;
                noteFailure(ETIMEDOUT);
                return false;
            }
            continue;
        }
        if ((pfd.revents & POLLIN) == 0) {
            // Hung up or failed (a pulled cable): no further byte will come. Whatever the line
            // still holds is taken; a hang-up has usually discarded it already.
            readWhatHasCome(buffer, received);
            if (received == buffer.size()) return true;
            noteFailure((pfd.revents & POLLNVAL) != 0 ? EBADF : EIO);
            return false;
        }
        const ssize_t n = ::read(port.get(), buffer.data() + received, buffer.size() - received);
        if (n > 0) {
            received += static_cast<std::size_t>(n);
        } else if (n == 0) {
            // End of file on a tty that reported input: the line has hung up.
            noteFailure(EIO);
            return false;
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            noteFailure(errno);   // EIO when the other side is gone
            return false;
        } else if (Clock::now() >= deadline) {
            // Reported ready but gave nothing, past the limit: stop here, not loop.
            noteFailure(ETIMEDOUT);
            return false;
        }
    }
    return true;
}

bool portWrite(std::span<const std::uint8_t> data) {
    if (!port.valid()) {
        noteFailure(EBADF);
        return false;
    }
    if (portTransfersStopped()) {
        noteFailure(ECANCELED);
        return false;
    }
    const auto limit = std::chrono::milliseconds(static_cast<std::int64_t>(kWriteTimeoutPerByteMs) *
                                                 static_cast<std::int64_t>(data.size()));
    const auto deadline = Clock::now() + limit;
    std::size_t written = 0;
    const WriteReport report(data, written);
    while (written < data.size()) {
        const ssize_t n = ::write(port.get(), data.data() + written, data.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) {
            noteFailure(EIO);
            return false;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            noteFailure(errno);   // EIO when the line has hung up
            return false;
        }
        // The output queue is full: wait until it takes more, within the limit.
        if (Clock::now() >= deadline) {
            noteFailure(ETIMEDOUT);
            return false;
        }
        pollfd pfd{port.get(), POLLOUT, 0};
        const timespec timeout = remainingTime(deadline);
        const int ready = ::ppoll(&pfd, 1, &timeout, nullptr);
        if (ready < 0 && errno != EINTR) {
            noteFailure(errno);
            return false;
        }
        if (ready > 0 && (pfd.revents & POLLOUT) == 0) {
            noteFailure((pfd.revents & POLLNVAL) != 0 ? EBADF : EIO);
            return false;
        }
    }
    return true;
}

void waitMs(int milliseconds) {
    noteWait(milliseconds);
    if (milliseconds <= 0) return;
    useFineTimerSlack();
    sleepUntil(Clock::now() + std::chrono::milliseconds(milliseconds));
}

std::string portLastErrorText() {
    return lastErrorText;
}
