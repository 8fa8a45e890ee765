// The latency timer on Linux and other POSIX systems: nothing to read or set here. The port
// asks the driver for low latency when it opens (serial_posix.cpp), which ftdi_sio answers
// by setting the chip's timer to 1 ms.
#include "link/latency_timer.h"

bool latencyTimerInRegistry()
{
    return false;
}

std::optional<int> readLatencyTimer(std::string_view)
{
    return std::nullopt;
}

bool setLatencyTimers(const DeviceList&, int, std::vector<LatencyTimerChange>& changes)
{
    changes.clear();
    return false;
}
