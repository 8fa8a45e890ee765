// SPDX-License-Identifier: MIT
#include "link/udev_ftdi.h"

#include <memory>

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

}  // namespace

std::string_view udevSysattr(udev_device* device, const char* name)
{
    const char* value = udev_device_get_sysattr_value(device, name);
    return value != nullptr ? std::string_view(value) : std::string_view();
}

bool forEachFtdiDevice(const char* subsystem, const std::function<bool(udev_device*, udev_device*)>& found)
{
    UdevPtr context(udev_new());
    if (!context) return false;
    UdevEnumeratePtr enumeration(udev_enumerate_new(context.get()));
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), subsystem) < 0 ||
        udev_enumerate_scan_devices(enumeration.get()) < 0) {
        return false;
    }
    udev_list_entry* item = nullptr;
    udev_list_entry_foreach(item, udev_enumerate_get_list_entry(enumeration.get()))
    {
        UdevDevicePtr device(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(item)));
        if (!device) continue;
        // Owned by device; not released separately.
        udev_device* usbDevice = udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device");
        if (usbDevice == nullptr || udevSysattr(usbDevice, "idVendor") != kFtdiVendorId ||
            udevSysattr(usbDevice, "idProduct") != kFtdiProductId) {
            continue;
        }
        if (!found(device.get(), usbDevice)) break;
    }
    return true;
}
