// SPDX-License-Identifier: MIT
// The scripted far end of the link tests (see pty_peer.h).
#include "pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {
constexpr int kPollTickMs = 10;
constexpr int kExpectTimeoutMs = 5000;
}  // namespace

PtyPeer::PtyPeer() {
    char name[128] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        master_ = slave_ = -1;
        return;
    }
    slavePath_ = name;
    // The master's settings are the slave's (a pty has one set): the line stays as
    // openpty made it, so what the port sees is what portOpen sets.
}

PtyPeer::~PtyPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
}

void PtyPeer::run(std::vector<Exchange> script) {
    {
        std::lock_guard lock(mutex_);
        received_.clear();
    }
    stop_ = false;
    scriptDone_ = false;
    thread_ = std::thread([this, s = std::move(script)]() mutable { serve(std::move(s)); });
}

void PtyPeer::send(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

bool PtyPeer::receive(std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kExpectTimeoutMs);
    std::size_t got = 0;
    std::uint8_t buffer[512];
    while (got < count) {
        if (stop_ || std::chrono::steady_clock::now() > deadline) return false;
        pollfd pfd{master_, POLLIN, 0};
        if (::poll(&pfd, 1, kPollTickMs) <= 0 || (pfd.revents & POLLIN) == 0) continue;
        const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - got));
        if (n <= 0) continue;
        std::lock_guard lock(mutex_);
        received_.insert(received_.end(), buffer, buffer + n);
        got += static_cast<std::size_t>(n);
    }
    return true;
}

void PtyPeer::recordUntilStopped() {
    std::uint8_t buffer[512];
    while (!stop_) {
        pollfd pfd{master_, POLLIN, 0};
        if (::poll(&pfd, 1, kPollTickMs) <= 0 || (pfd.revents & POLLIN) == 0) continue;
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) continue;
        std::lock_guard lock(mutex_);
        received_.insert(received_.end(), buffer, buffer + n);
    }
}

void PtyPeer::serve(std::vector<Exchange> script) {
    for (const Exchange& step : script) {
        if (!receive(step.expect)) return;
        if (step.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMs));
        send(step.reply);
        if (step.hangUp) {
            hangUp();
            scriptDone_ = true;
            return;
        }
    }
    scriptDone_ = true;
    recordUntilStopped();
}

Bytes PtyPeer::finish(int quietMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(quietMs));
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    return received_;
}

void PtyPeer::hangUp() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

std::string hex(const Bytes& bytes) {
    std::string text;
    char cell[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(cell, sizeof cell, text.empty() ? "%02X" : " %02X", b);
        text += cell;
    }
    return text;
}
