// SPDX-License-Identifier: MIT
// The latency timer on Linux: nothing to set here, the port asks the driver for low latency
// when it opens (serial_posix.cpp), which ftdi_sio answers by setting the chip's timer to
// 1 ms. The driver shows the timer it gave the chip in the sysfs file latency_timer of the
// converter's usb-serial port (readable by everyone, writable by root), which is read here.
#include "link/latency_timer.h"

#include "link/discovery.h"

#include <libudev.h>

#include <charconv>
#include <memory>

namespace {

constexpr std::string_view kFtdiVendorId = "0403";
constexpr std::string_view kFtdiProductId = "6001";

struct UdevDeleter {
    void operator()(udev* handle) const { udev_unref(handle); }
    void operator()(udev_enumerate* handle) const { udev_enumerate_unref(handle); }
    void operator()(udev_device* handle) const { udev_device_unref(handle); }
};

std::string_view sysattr(udev_device* device, const char* name)
{
    const char* value = udev_device_get_sysattr_value(device, name);
    return value ? std::string_view(value) : std::string_view();
}

struct PortTimer {
    std::optional<int> milliseconds;   // nothing when the file is missing or unreadable
    std::string file;                  // /sys/bus/usb-serial/devices/ttyUSBn/latency_timer
};

// The timer of the first usb-serial port whose FTDI converter's serial begins with serial,
// as the discovery matches serials.
std::optional<PortTimer> findPortTimer(std::string_view serial)
{
    std::unique_ptr<udev, UdevDeleter> context(udev_new());
    if (!context) return std::nullopt;
    std::unique_ptr<udev_enumerate, UdevDeleter> enumeration(udev_enumerate_new(context.get()));
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), "usb-serial") < 0 ||
        udev_enumerate_scan_devices(enumeration.get()) < 0) {
        return std::nullopt;
    }
    udev_list_entry* item = nullptr;
    udev_list_entry_foreach(item, udev_enumerate_get_list_entry(enumeration.get()))
    {
        std::unique_ptr<udev_device, UdevDeleter> port(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(item)));
        if (!port) continue;
        udev_device* usbDevice = udev_device_get_parent_with_subsystem_devtype(port.get(), "usb", "usb_device");
        if (usbDevice == nullptr || sysattr(usbDevice, "idVendor") != kFtdiVendorId ||
            sysattr(usbDevice, "idProduct") != kFtdiProductId) {
            continue;
        }
        const std::string_view portSerial = sysattr(usbDevice, "serial");
        if (portSerial.size() < kConverterSerialLength || portSerial.substr(0, kConverterSerialLength) != serial) {
            continue;
        }
        PortTimer timer;
        timer.file = std::string("/sys/bus/usb-serial/devices/") + udev_device_get_sysname(port.get()) +
                     "/latency_timer";
        std::string_view text = sysattr(port.get(), "latency_timer");
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
        int value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (!text.empty() && error == std::errc() && end == text.data() + text.size() &&
            value >= kLatencyTimerMinMs && value <= kLatencyTimerMaxMs) {
            timer.milliseconds = value;
        }
        return timer;
    }
    return std::nullopt;
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
