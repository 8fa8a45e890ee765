// SPDX-License-Identifier: MIT
// A scripted far end for link tests: a pseudo-terminal pair whose slave path the code under
// test opens with portOpen, while a thread on the master plays the device from a script of
// exchanges (read so many bytes, then answer) and records every byte it received.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct Exchange {
    std::size_t expect = 0;   // bytes to receive before answering (0: answer at once)
    Bytes reply;              // sent once they have come
    bool hangUp = false;      // close the master after the reply (a pulled cable)
    int delayMs = 0;          // pause before the reply
};

// Script steps: receive count bytes and answer; answer after a pause without receiving;
// receive count bytes and answer nothing; hang up after a pause.
inline Exchange receiveThen(std::size_t count, Bytes reply) { return Exchange{count, std::move(reply), false, 0}; }
inline Exchange answerAfter(int delayMs, Bytes reply) { return Exchange{0, std::move(reply), false, delayMs}; }
inline Exchange receiveOnly(std::size_t count) { return Exchange{count, {}, false, 0}; }
inline Exchange hangUpAfter(int delayMs) { return Exchange{0, {}, true, delayMs}; }

class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool ok() const { return master_ >= 0; }
    const std::string& slavePath() const { return slavePath_; }
    // A descriptor of the slave that the peer keeps open, for reading the line settings.
    int slaveFd() const { return slave_; }

    // Plays the exchanges in order on a thread, then goes on recording what comes.
    void run(std::vector<Exchange> script);
    // Sends bytes at once from the calling thread.
    void send(const Bytes& bytes);
    // Stops the thread (after a short quiet time so late bytes are still recorded) and
    // returns everything received since run().
    Bytes finish(int quietMs = 30);
    // Closes the master now (the slave side sees a hang-up). Only while no script runs;
    // a script hangs up through Exchange::hangUp.
    void hangUp();
    // True when the whole script was played.
    bool scriptDone() const { return scriptDone_; }

private:
    void serve(std::vector<Exchange> script);
    bool receive(std::size_t count);
    void recordUntilStopped();

    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> scriptDone_{false};
    std::mutex mutex_;
    Bytes received_;
};

std::string hex(const Bytes& bytes);
