// SPDX-License-Identifier: MIT
// Tests of the vf-testbed and vf-sim programs from outside: what libudev shows of the
// converters, a scripted host updating the unit through umockdev's preload, the pulled cable,
// the exit statuses, and vf-sim serving on a pty.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct RunResult {
    int status = -1;
    std::string output;   // stdout and stderr
};

// Runs a shell command line with a time limit so a hanging program fails the test instead
// of blocking it.
RunResult run(const std::string& commandLine) {
    RunResult result;
    const std::string full = "timeout -k 5 40 " + commandLine + " 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    if (!pipe) return result;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) result.output += buffer;
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class TestbedTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vf-testbed-test-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_F(TestbedTest, ConvertersAppearInUdevWithTheirIdsAndADeadNodeDoesNotOpen) {
    const RunResult r = run(std::string(VF_TESTBED) + " --converter FTVF2Q7K --converter AB12CD34:0403:6015 --dead DEAD0001 -- " +
                      UDEV_PROBE);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("/dev/ttyUSB0 0403:6001 FTVF2Q7K open ok modem ok termios ok"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("/dev/ttyUSB1 0403:6015 AB12CD34 open ok modem ok termios ok"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("/dev/ttyUSB2 0403:6001 DEAD0001 open failed"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("converters 3"), std::string::npos) << r.output;
}

TEST_F(TestbedTest, PassesTheProgramsStatusAndRefusesBadOptions) {
    RunResult r = run(std::string(VF_TESTBED) + " -- sh -c 'exit 3'");
    EXPECT_EQ(r.status, 3) << r.output;
    r = run(std::string(VF_TESTBED) + " --fault nonsense -- true");
    EXPECT_EQ(r.status, 70) << r.output;
    r = run(std::string(VF_TESTBED) + " --converter 'bad serial' -- true");
    EXPECT_EQ(r.status, 70) << r.output;
    r = run(std::string(VF_TESTBED) + " --fault silent");
    EXPECT_EQ(r.status, 70) << r.output;
}

TEST_F(TestbedTest, ScriptedHostUpdatesTheUnitThroughThePreload) {
    const fs::path memory = dir_ / "memory.bin";
    const fs::path report = dir_ / "report.txt";
    const RunResult r = run(std::string(VF_TESTBED) + " --end-address 0FFF --old-firmware --memory-out " + memory.string() +
                      " --report " + report.string() + " -- " + SCRIPT_HOST + " update");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("update ok"), std::string::npos) << r.output;
    const std::string bytes = readFile(memory);
    ASSERT_EQ(bytes.size(), 0x1000u);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto expected = i < bytes.size() / 3 ? static_cast<std::uint8_t>(i * 13 + (i >> 8)) : 0xFF;
        ASSERT_EQ(static_cast<std::uint8_t>(bytes[i]), expected) << i;
    }
    const std::string seen = readFile(report);
    EXPECT_NE(seen.find("completed updates 1"), std::string::npos) << seen;
    EXPECT_NE(seen.find("modem lines DTR=0 RTS=1"), std::string::npos) << seen;
    EXPECT_NE(seen.find("speed 115200"), std::string::npos) << seen;
}

TEST_F(TestbedTest, PulledCableHangsUpTheLineAndRemovesTheConverter) {
    const RunResult r = run(std::string(VF_TESTBED) + " --end-address 0FFF --fault hang-up-after-block=2 -- " + SCRIPT_HOST +
                      " hangup");
    EXPECT_EQ(r.status, 0) << r.output;
    // The host's next read or write meets the hang-up (EIO or end of file) at once.
    EXPECT_TRUE(r.output.find("update failed (read failed: Input/output error") != std::string::npos ||
                r.output.find("update failed (write failed: Input/output error") != std::string::npos ||
                r.output.find("update failed (line hung up") != std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("converters listed 0"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("tty remove events 1"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("reopen failed"), std::string::npos) << r.output;

}

// The modelled FT232R behind the emulated converter: the update goes through it, and a host
// that does not ask for low latency gets the converter's own timer.
TEST_F(TestbedTest, ModelledFt232rKeepsTheConvertersTimerWithoutALowLatencyRequest) {
    const fs::path record = dir_ / "record.txt";
    const RunResult r = run(std::string(VF_TESTBED) + " --end-address 0FFF --ft232r --latency-timer 4 --record " +
                            record.string() + " -- " + SCRIPT_HOST + " update");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("update ok"), std::string::npos) << r.output;
    const std::string seen = readFile(record);
    EXPECT_NE(seen.find("\nconverter: FT232R, latency timer 4 ms; "), std::string::npos) << seen;
    EXPECT_EQ(seen.find("low-latency request"), std::string::npos) << seen;
    EXPECT_EQ(run(std::string(VF_TESTBED) + " --latency-timer 4 -- true").status, 70);   // without --ft232r
    EXPECT_EQ(run(std::string(VF_TESTBED) + " --ft232r --latency-timer 0 -- true").status, 70);
}

// Every converter has a unit; a --unit has its own options, the first --converter's unit the
// options outside any --unit.
TEST_F(TestbedTest, EachUnitServesItsOwnOptionsBehindItsConverter) {
    const fs::path first = dir_ / "first.bin";
    const fs::path second = dir_ / "second.bin";
    const RunResult r = run(std::string(VF_TESTBED) + " --end-address 07FF --memory-out " + first.string() +
                            " --converter AAAA0001 --unit BBBB0002 --end-address 0FFF --old-firmware --memory-out " +
                            second.string() + " -- sh -c '" + SCRIPT_HOST + " update /dev/ttyUSB1 && " + SCRIPT_HOST +
                            " update /dev/ttyUSB0'");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(readFile(first).size(), 0x800u);
    const std::string bytes = readFile(second);
    ASSERT_EQ(bytes.size(), 0x1000u);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[1]), 13u);   // the script's image, written over old firmware
    EXPECT_NE(r.output.find("[vf-testbed] AAAA0001: frames"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("[vf-testbed] BBBB0002: frames"), std::string::npos) << r.output;
    // Options outside --unit with no --converter to take them: refused.
    EXPECT_EQ(run(std::string(VF_TESTBED) + " --unit BBBB0002 --end-address 0FFF -- true").status, 0);
    EXPECT_EQ(run(std::string(VF_TESTBED) + " --end-address 0FFF --unit BBBB0002 -- true").status, 70);
    EXPECT_EQ(run(std::string(VF_TESTBED) + " --unit BBBB0002 --fault refuse-write-block=99 -- true").status, 0);
    EXPECT_EQ(run(std::string(VF_TESTBED) + " --unit BBBB0002 --end-address 0FFF --fault refuse-write-block=99 -- true")
                  .status,
              70);   // block 99 lies beyond that unit's 16 blocks
}

TEST_F(TestbedTest, ProtocolViolationGivesStatus99) {
    // A host that writes a frame with a wrong checksum on a line it never configured.
    const RunResult r = run(std::string(VF_TESTBED) +
                      " -- sh -c \"printf '\\\\000\\\\000\\\\001\\\\001\\\\000\\\\000\\\\003' > /dev/ttyUSB0; sleep 0.5\"");
    EXPECT_EQ(r.status, 99) << r.output;
    EXPECT_NE(r.output.find("[vf-testbed] VIOLATION CMD_CONNECT frame with a wrong checksum"), std::string::npos)
        << r.output;
}

TEST_F(TestbedTest, VfSimServesOnAPtyUntilTerminated) {
    const fs::path pathFile = dir_ / "pty-path";
    const fs::path memory = dir_ / "memory.bin";
    const pid_t sim = fork();
    if (sim == 0) {
        execl(VF_SIM, VF_SIM, "--end-address", "07FF", "--memory-out", memory.c_str(), "--pty", pathFile.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(sim, 0);
    for (int i = 0; i < 200 && !fs::exists(pathFile); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string slave = readFile(pathFile);
    while (!slave.empty() && slave.back() == '\n') slave.pop_back();
    const RunResult r = run(std::string(SCRIPT_HOST) + " update " + slave);
    EXPECT_EQ(r.status, 0) << r.output;
    kill(sim, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(sim, &status, 0), sim);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(memory).size(), 0x800u);
}

}  // namespace
