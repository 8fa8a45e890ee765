// SPDX-License-Identifier: MIT
// The serial layer's side of PortObserver: the installed observer and the calls the platform
// files make at each operation. Each call is one pointer check when no observer is set.
#pragma once

#include "link/serial.h"

#include <cstddef>
#include <span>
#include <string_view>

extern PortObserver* installedPortObserver;

inline void notePortOpened(std::string_view path) {
    if (installedPortObserver != nullptr) installedPortObserver->portOpened(path);
}

inline void notePortOpenFailed(std::string_view path) {
    if (installedPortObserver != nullptr) installedPortObserver->portOpenFailed(path, portLastErrorText());
}

inline void notePortClosed(bool wasOpen) {
    if (installedPortObserver != nullptr && wasOpen) installedPortObserver->portClosed();
}

inline void noteSpeedChanged(std::uint32_t baud) {
    if (installedPortObserver != nullptr) installedPortObserver->speedChanged(baud);
}

inline void noteWrite(std::span<const std::uint8_t> data, bool accepted) {
    if (installedPortObserver != nullptr) installedPortObserver->bytesWritten(data, accepted);
}

inline void noteWait(int milliseconds) {
    if (installedPortObserver != nullptr) installedPortObserver->waited(milliseconds);
}

// Reports one read when it ends, by whichever return: the bytes counted in received so far,
// and the failure text when fewer than wanted came.
class ReadReport {
public:
    ReadReport(std::span<const std::uint8_t> buffer, const std::size_t& received)
        : buffer_(buffer), received_(received) {}
    ReadReport(const ReadReport&) = delete;
    ReadReport& operator=(const ReadReport&) = delete;
    ~ReadReport() {
        if (installedPortObserver == nullptr) return;
        const bool complete = received_ >= buffer_.size();
        installedPortObserver->bytesRead(buffer_.first(complete ? buffer_.size() : received_), buffer_.size(),
                                         complete ? std::string() : portLastErrorText());
    }

private:
    std::span<const std::uint8_t> buffer_;
    const std::size_t& received_;
};

// Reports one write when it ends: the data, and whether all of it was taken.
class WriteReport {
public:
    WriteReport(std::span<const std::uint8_t> data, const std::size_t& written) : data_(data), written_(written) {}
    WriteReport(const WriteReport&) = delete;
    WriteReport& operator=(const WriteReport&) = delete;
    ~WriteReport() {
        if (installedPortObserver != nullptr) installedPortObserver->bytesWritten(data_, written_ >= data_.size());
    }

private:
    std::span<const std::uint8_t> data_;
    const std::size_t& written_;
};
