// SPDX-License-Identifier: MIT
// The flag that stops all traffic with the unit; set by a front end on any thread, read by
// the worker in every port operation.
#include "link/serial.h"

#include <atomic>

namespace {

std::atomic<bool> transfersStopped{false};

}  // namespace

void portStopTransfers()
{
    transfersStopped.store(true);
}

bool portTransfersStopped()
{
    return transfersStopped.load();
}
