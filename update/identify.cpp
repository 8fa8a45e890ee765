// SPDX-License-Identifier: MIT
// Identification of the connected flash unit: reload the device list, find the listed
// converters' ports, and try the entries in file order until one unit answers on its port.
#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "files/data_paths.h"
#include "files/device_list.h"
#include "files/firmware_image.h"
#include "link/commands.h"
#include "link/discovery.h"
#include "link/frames.h"
#include "link/serial.h"
#include "update/result_codes.h"
#include "update/update.h"
#include "update/worker.h"

const DeviceListEntry* selectedEntry = nullptr;

namespace {

std::string onlyConverterSerial;   // empty: no restriction

// Drops every port whose converter is not the one asked for.
void keepOnlyConverter(PortList& ports, const std::string& serial)
{
    PortList kept;
    for (int i = 0; i < ports.count(); ++i) {
        if (ports.entry(i).serial == serial) kept.add(ports.entry(i).portName, ports.entry(i).serial);
    }
    ports = std::move(kept);
}

constexpr std::int16_t kUnusedPortNumber = 0;   // the port is opened by name
// The information reply carries the end address in its data bytes 4 to 6; a shorter reply
// says nothing about the unit's memory and is not taken as an answer.
constexpr std::uint8_t kInfoReplyMinDataBytes = 7;

// Connect at 9600 baud, switch both sides to 115200 baud, read the information and the
// second reply. The port stays open only when the unit answered everything.
bool unitAnswers()
{
    if (!cmdConnect()) {
        return false;
    }
    cmdSetSpeed();   // at 9600 baud; the unit answers with one byte that is not looked at
    std::array<std::uint8_t, 1> strayByte{};
    portRead(strayByte);
    portSetSpeed(kFastBaud);
    waitMs(kSpeedSwitchSettleMs);

    if (!cmdSetSpeed() || !readAck()) {
        return false;
    }
    if (!cmdReadInfo()) {
        return false;
    }
    ReplyFrame info;
    if (!readReplyFrame(info) || info.length < kInfoReplyMinDataBytes) {
        return false;
    }
    // The range stays in the protocol state even when a later step of this attempt fails.
    applyInfoReply(info);
    // A range larger than the firmware image would make the update read past the image; a
    // range without a whole block would have the unit erased and nothing written to it.
    if (protocolState.blockCount > kImageBlockCount || protocolState.blockCount <= 0) {
        return false;
    }
    if (!cmdReadExtra()) {
        return false;
    }
    ReplyFrame extra;
    if (!readReplyFrame(extra)) {
        return false;
    }
    applyExtraReply(extra);
    return true;
}

// One attempt for one device list entry; true leaves the port open at 115200 baud.
bool attemptEntry(const DeviceListEntry& entry)
{
    int portIndex = 0;
    if (!portList.find(entry.converterSerial, portIndex)) {
        return false;
    }
    if (!portOpen(kUnusedPortNumber, portList.entry(portIndex).portName, kPortByName)) {
        return false;
    }
    if (!unitAnswers()) {
        portClose();
        return false;
    }
    return true;
}

}  // namespace

std::uint8_t connectDevice()
{
    portClose();

    selectedEntry = nullptr;   // the entries it could point at are about to go
    deviceList.clear();
    if (!loadDeviceList(deviceList, dataPaths.deviceListPath)) {
        return ERROR_OPEN_FILE_LIST;
    }

    portList.clear();
    if (!findFtdiPorts(deviceList, portList)) {
        return ERROR_NO_FTDI_DRIVER;
    }
    if (!onlyConverterSerial.empty()) {
        keepOnlyConverter(portList, onlyConverterSerial);
    }
    if (portList.count() == 0) {
        return ERROR_NO_DRIVER_ENTRY;
    }

    beginIdentification();
    for (int index = 0; index < deviceList.entryCount(); ++index) {
        const DeviceListEntry& entry = deviceList.entry(index);
        if (!onlyConverterSerial.empty() && entry.converterSerial != onlyConverterSerial) {
            continue;
        }
        if (attemptEntry(entry)) {
            selectedEntry = &entry;
            composeDeviceLines(entry);
            return RESULT_NONE;
        }
    }
    portClose();
    return NO_DEVICE_DETECTED;
}

void restrictToConverter(std::string_view serial)
{
    onlyConverterSerial.assign(serial);
}
