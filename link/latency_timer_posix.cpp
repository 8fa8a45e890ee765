// SPDX-License-Identifier: MIT
// The latency timer on Linux: nothing to set here, the port asks the driver for low latency
// when it opens (serial_posix.cpp), which ftdi_sio answers by setting the chip's timer to
// 1 ms. The driver shows the timer it gave the chip in the sysfs file latency_timer of the
// converter's usb-serial port (readable by everyone, writable by root), which is read here.
#include "link/latency_timer.h"

#include <charconv>

#include "link/udev_ftdi.h"

namespace {

struct PortTimer {
    std::optional<int> milliseconds;   // nothing when the file is missing or unreadable
    std::string file;                  // /sys/bus/usb-serial/devices/ttyUSBn/latency_timer
};

// The timer of the usb-serial port whose FTDI converter's serial is serial, matched whole as
// the discovery matches it: a converter whose serial only begins with it is another one.
std::optional<PortTimer> findPortTimer(std::string_view serial)
{
    std::optional<PortTimer> timer;
    if (serial.empty()) return timer;   // a converter without a serial is nobody's
    forEachFtdiDevice("usb-serial", [&](udev_device* port, udev_device* usbDevice) {
        if (udevSysattr(usbDevice, "serial") != serial) return true;
        timer.emplace();
        timer->file = std::string("/sys/bus/usb-serial/devices/") + udev_device_get_sysname(port) + "/latency_timer";
        std::string_view text = udevSysattr(port, "latency_timer");
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
        int value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (!text.empty() && error == std::errc() && end == text.data() + text.size() &&
            value >= kLatencyTimerMinMs && value <= kLatencyTimerMaxMs) {
            timer->milliseconds = value;
        }
        return false;
    });
    return timer;
}

}  // namespace

bool latencyTimerInRegistry()
{
    return false;
}

std::optional<int> readLatencyTimer(std::string_view serial)
{
    const std::optional<PortTimer> timer = findPortTimer(serial);
    return timer ? timer->milliseconds : std::nullopt;
}

std::string latencyTimerFile(std::string_view serial)
{
    const std::optional<PortTimer> timer = findPortTimer(serial);
    return timer ? timer->file : std::string();
}

bool setLatencyTimers(const DeviceList&, int, std::vector<LatencyTimerChange>& changes)
{
    changes.clear();
    return false;
}
