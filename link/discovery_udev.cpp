// SPDX-License-Identifier: MIT
// Discovery of the FTDI converters on Linux through libudev: every tty whose USB device is
// 0403:6001, with the USB device's serial number and the tty's device node.
#include "link/discovery.h"

#include <libudev.h>

#include <memory>
#include <string_view>

#include "files/device_list.h"

namespace {

constexpr std::string_view kFtdiVendorId = "0403";
constexpr std::string_view kFtdiProductId = "6001";

struct UdevDeleter {
    void operator()(udev* handle) const { udev_unref(handle); }
    void operator()(udev_enumerate* handle) const { udev_enumerate_unref(handle); }
    void operator()(udev_device* handle) const { udev_device_unref(handle); }
};
using UdevPtr = std::unique_ptr<udev, UdevDeleter>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, UdevDeleter>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevDeleter>;

std::string_view sysattr(udev_device* device, const char* name)
{
    const char* value = udev_device_get_sysattr_value(device, name);
    return value != nullptr ? std::string_view(value) : std::string_view();
}

// Calls found(serial, deviceNode) for every 0403:6001 converter's tty, in udev's order.
// False when udev cannot be reached or the ttys cannot be enumerated.
template <typename Found>
bool forEachFtdiTty(Found found)
{
    UdevPtr context(udev_new());
    if (!context) {
        return false;
    }
    UdevEnumeratePtr enumeration(udev_enumerate_new(context.get()));
    if (!enumeration) {
        return false;
    }
    if (udev_enumerate_add_match_subsystem(enumeration.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(enumeration.get()) < 0) {
        return false;
    }
    udev_list_entry* item = nullptr;
    udev_list_entry_foreach(item, udev_enumerate_get_list_entry(enumeration.get()))
    {
        UdevDevicePtr tty(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(item)));
        if (!tty) {
            continue;
        }
        // Owned by tty; not released separately.
        udev_device* usbDevice =
            udev_device_get_parent_with_subsystem_devtype(tty.get(), "usb", "usb_device");
        if (usbDevice == nullptr) {
            continue;
        }
        if (sysattr(usbDevice, "idVendor") != kFtdiVendorId ||
            sysattr(usbDevice, "idProduct") != kFtdiProductId) {
            continue;
        }
        const char* deviceNode = udev_device_get_devnode(tty.get());
        if (deviceNode == nullptr) {
            continue;
        }
        found(sysattr(usbDevice, "serial"), std::string_view(deviceNode));
    }
    return true;
}

}  // namespace

bool findFtdiPorts(const DeviceList& devices, PortList& ports)
{
    return forEachFtdiTty([&](std::string_view serial, std::string_view deviceNode) {
        // udev gives the converter's USB serial as it is (the Windows driver's key names append
        // a channel letter, which is why Windows compares 8 characters): a longer serial is
        // another converter, and its unit must not be taken for the entry's.
        if (serial.size() != kConverterSerialLength) {
            return;
        }
        int index = 0;
        if (devices.findBySerial(serial, index)) {
            ports.add(deviceNode, serial);
        }
    });
}

bool listFtdiConverters(std::vector<ConverterInfo>& converters)
{
    return forEachFtdiTty([&](std::string_view serial, std::string_view deviceNode) {
        converters.push_back(ConverterInfo{std::string(serial), std::string(deviceNode)});
    });
}

bool converterPortPresent(std::string_view portName)
{
    // udev enumerates the devices that are there: a port it listed is present.
    return !portName.empty();
}
