// SPDX-License-Identifier: MIT
// The Windows serial port and registry reading, run under Wine (or on Windows): opening
// failures and the closed port, the short-write decision and the fallback pause, and
// readPortName over keys the test writes under HKEY_CURRENT_USER. The FTDIBUS walk itself
// is tested with .reg files by wine-tests.sh.
#include "link/discovery_win32.h"
#include "link/serial.h"
#include "link/serial_win32.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace {

TEST(SerialWin32, UnknownSelectorLeavesThePortClosed) {
    portClose();
    EXPECT_FALSE(portOpen(1, "COM1", 2));
    EXPECT_FALSE(portIsOpen());
}

TEST(SerialWin32, MissingPortFailsAndSaysWhy) {
    EXPECT_FALSE(portOpen(0, "VFNOSUCHPORT", kPortByName));
    EXPECT_FALSE(portIsOpen());
    EXPECT_FALSE(portLastErrorText().empty());
    EXPECT_FALSE(portOpen(250, "", kPortByNumber));
    EXPECT_FALSE(portIsOpen());
}

TEST(SerialWin32, NameThatDoesNotFitThePathBufferIsAnOpenFailure) {
    // "\\.\" takes 4 of the 99 characters: 95 fit, 96 do not.
    const std::string longest(kDevicePathBufferSize - 5, 'C');
    const std::string tooLong(kDevicePathBufferSize - 4, 'C');
    EXPECT_FALSE(portOpen(0, tooLong, kPortByName));
    EXPECT_FALSE(portIsOpen());
    EXPECT_NE(portLastErrorText().find("too long"), std::string::npos) << portLastErrorText();
    // The longest name that fits gets as far as the system, which does not know it.
    EXPECT_FALSE(portOpen(0, longest, kPortByName));
    EXPECT_EQ(portLastErrorText().find("too long"), std::string::npos) << portLastErrorText();
}

TEST(SerialWin32, NameWithZeroByteIsRefused) {
    using namespace std::string_view_literals;
    EXPECT_FALSE(portOpen(0, "NUL\0COM1"sv, kPortByName));
    EXPECT_FALSE(portIsOpen());
}

// The null device opens like a port but takes no serial time limits: without them a read
// could wait for ever, so it is not used, and the attempt ends as a failed open does.
TEST(SerialWin32, PortWithoutTimeLimitsIsNotUsed) {
    HANDLE device = CreateFileA("\\\\.\\NUL", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
    COMMTIMEOUTS limits{};
    limits.ReadTotalTimeoutConstant = static_cast<DWORD>(kReadTotalTimeoutMs);
    const bool limitsTaken = SetCommTimeouts(device, &limits) != FALSE;
    CloseHandle(device);
    ASSERT_FALSE(limitsTaken) << "the null device took time limits: this test needs another device";

    EXPECT_FALSE(portOpen(0, "NUL", kPortByName));
    EXPECT_FALSE(portIsOpen());
    EXPECT_FALSE(portLastErrorText().empty());
    // A later open is not hindered by it.
    EXPECT_FALSE(portOpen(0, "VFNOSUCHPORT", kPortByName));
    EXPECT_FALSE(portIsOpen());
}

TEST(SerialWin32, ClosedPortRefusesReadAndWrite) {
    portClose();
    std::array<std::uint8_t, 5> buffer{1, 2, 3, 4, 5};
    EXPECT_FALSE(portRead(buffer));
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 5>{1, 2, 3, 4, 5}));
    EXPECT_FALSE(portWrite(buffer));
    portClose();
    EXPECT_FALSE(portIsOpen());
}

TEST(SerialWin32, WriteCutShortByTheTimeLimitIsAFailedWrite) {
    EXPECT_TRUE(wholeWriteDone(TRUE, 260, 260));
    EXPECT_TRUE(wholeWriteDone(TRUE, 0, 0));
    EXPECT_FALSE(wholeWriteDone(TRUE, 259, 260));   // WriteFile succeeds when the limit runs out
    EXPECT_FALSE(wholeWriteDone(TRUE, 0, 5));
    EXPECT_FALSE(wholeWriteDone(FALSE, 260, 260));
    EXPECT_FALSE(wholeWriteDone(FALSE, 0, 5));
}

// Stand-ins for Sleep: one that returns at once and one that ends halfway, as Sleep may
// end at a tick of the system timer before its time.
int sleepCalls = 0;
VOID WINAPI sleepNotAtAll(DWORD) { ++sleepCalls; }
VOID WINAPI sleepHalf(DWORD milliseconds) {
    ++sleepCalls;
    Sleep(milliseconds / 2);
}

double secondsOf(LONGLONG counts) {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counts) / static_cast<double>(frequency.QuadPart);
}

TEST(PauseByCounter, NeverEndsBeforeItsTimeHoweverEarlySleepReturns) {
    const std::pair<const char*, SleepFunction> sleeps[] = {
        {"Sleep", &Sleep}, {"no sleep", &sleepNotAtAll}, {"half sleep", &sleepHalf}};
    for (const auto& [name, sleep] : sleeps) {
        for (int milliseconds : {1, 5, 16, 40}) {
            sleepCalls = 0;
            LARGE_INTEGER start{};
            LARGE_INTEGER end{};
            QueryPerformanceCounter(&start);
            pauseByCounter(milliseconds, sleep);
            QueryPerformanceCounter(&end);
            EXPECT_GE(secondsOf(end.QuadPart - start.QuadPart), milliseconds / 1000.0)
                << name << ", " << milliseconds << " ms";
            if (sleep != &Sleep) {
                EXPECT_GT(sleepCalls, 0) << name << ": the pause must sleep, not only spin";
            }
        }
    }
}

TEST(PauseByCounter, NothingToWaitReturnsAtOnce) {
    sleepCalls = 0;
    pauseByCounter(0, &sleepNotAtAll);
    pauseByCounter(-5, &sleepNotAtAll);
    EXPECT_EQ(sleepCalls, 0);
}

// A key under HKEY_CURRENT_USER\Software that the test owns and deletes at the end.
class TestKey {
public:
    TestKey() {
        RegDeleteTreeA(HKEY_CURRENT_USER, kPath);
        created_ = RegCreateKeyExA(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                   &key_, nullptr) == ERROR_SUCCESS;
    }
    ~TestKey() {
        if (created_) RegCloseKey(key_);
        RegDeleteTreeA(HKEY_CURRENT_USER, kPath);
    }
    bool created() const { return created_; }
    void setText(const char* name, const std::string& text) {
        ASSERT_EQ(RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1)), ERROR_SUCCESS);
    }
    void setBytes(const char* name, DWORD type, const std::string& bytes) {
        ASSERT_EQ(RegSetValueExA(key_, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())), ERROR_SUCCESS);
    }
    static constexpr const char* kPath = "Software\\VarnoflexTest\\Device Parameters";

private:
    HKEY key_ = nullptr;
    bool created_ = false;
};

std::vector<std::string> portNames(const PortList& ports, const std::string& serial) {
    std::vector<std::string> names;
    for (int i = 0; i < ports.count(); ++i) {
        EXPECT_EQ(ports.entry(i).serial, serial);
        names.push_back(ports.entry(i).portName);
    }
    return names;
}

// Value names are unique in a key whatever their letter case, so each spelling gets a key
// of its own.
TEST(ReadPortName, TakesPortNameInAnyLetterCase) {
    for (const char* spelling : {"PortName", "portname", "PORTNAME", "pORTnAME"}) {
        TestKey key;
        ASSERT_TRUE(key.created());
        key.setText(spelling, "COM5");
        key.setBytes("LatencyTimer", REG_DWORD, std::string("\x10\0\0\0", 4));
        PortList ports;
        ASSERT_TRUE(readPortName(HKEY_CURRENT_USER, TestKey::kPath, "FTVF2Q7K", ports)) << spelling;
        EXPECT_EQ(portNames(ports, "FTVF2Q7K"), std::vector<std::string>{"COM5"}) << spelling;
    }
}

TEST(ReadPortName, OtherValueNamesAreNotTaken) {
    TestKey key;
    ASSERT_TRUE(key.created());
    key.setText("PortNameX", "COM8");
    key.setText("Port", "COM9");
    key.setText("PortNam", "COM10");
    PortList ports;
    ASSERT_TRUE(readPortName(HKEY_CURRENT_USER, TestKey::kPath, "FTVF2Q7K", ports));
    EXPECT_EQ(ports.count(), 0);
}

TEST(ReadPortName, AppendsToWhatTheListHolds) {
    TestKey key;
    ASSERT_TRUE(key.created());
    key.setText("PortName", "COM3");
    PortList ports;
    ports.add("COM1", "AAAAAAAA");
    ASSERT_TRUE(readPortName(HKEY_CURRENT_USER, TestKey::kPath, "BBBBBBBB", ports));
    ASSERT_EQ(ports.count(), 2);
    EXPECT_EQ(ports.entry(0).portName, "COM1");
    EXPECT_EQ(ports.entry(1).portName, "COM3");
    EXPECT_EQ(ports.entry(1).serial, "BBBBBBBB");
}

TEST(ReadPortName, BinaryDataWithoutZeroEndsAtItsSize) {
    TestKey key;
    ASSERT_TRUE(key.created());
    key.setBytes("PortName", REG_BINARY, "COM12");
    PortList ports;
    ASSERT_TRUE(readPortName(HKEY_CURRENT_USER, TestKey::kPath, "FTVF2Q7K", ports));
    EXPECT_EQ(portNames(ports, "FTVF2Q7K"), std::vector<std::string>{"COM12"});
}

TEST(ReadPortName, TextEndsAtItsFirstZero) {
    TestKey key;
    ASSERT_TRUE(key.created());
    key.setBytes("PortName", REG_SZ, std::string("COM4\0junk", 9));
    PortList ports;
    ASSERT_TRUE(readPortName(HKEY_CURRENT_USER, TestKey::kPath, "FTVF2Q7K", ports));
    EXPECT_EQ(portNames(ports, "FTVF2Q7K"), std::vector<std::string>{"COM4"});
}

TEST(ReadPortName, DataThatFitsTheBufferExactlyIsTaken) {
    TestKey key;
    ASSERT_TRUE(key.created());
    const std::string longest(kRegistryDataBufferSize - 1, 'Y');   // 256 bytes with the zero
    key.setText("PortName", longest);
    PortList ports;
    ASSERT_TRUE(readPortName(HKEY_CURRENT_USER, TestKey::kPath, "FTVF2Q7K", ports));
    EXPECT_EQ(portNames(ports, "FTVF2Q7K"), std::vector<std::string>{longest});
}

TEST(ReadPortName, DataLongerThanTheBufferSkipsOnlyThatValue) {
    TestKey key;
    ASSERT_TRUE(key.created());
    // Over-long values on both sides of PortName in any enumeration order.
    key.setBytes("AAConfigData", REG_BINARY, std::string(kRegistryDataBufferSize + 44, 'A'));
    key.setText("PortName", "COM6");
    key.setBytes("ZZConfigData", REG_BINARY, std::string(kRegistryDataBufferSize + 44, 'Z'));
    PortList ports;
    ASSERT_TRUE(readPortName(HKEY_CURRENT_USER, TestKey::kPath, "FTVF2Q7K", ports));
    EXPECT_EQ(portNames(ports, "FTVF2Q7K"), std::vector<std::string>{"COM6"});

    key.setText("PortName", std::string(kRegistryDataBufferSize, 'X'));   // 257 bytes with the zero
    PortList noPorts;
    ASSERT_TRUE(readPortName(HKEY_CURRENT_USER, TestKey::kPath, "FTVF2Q7K", noPorts));
    EXPECT_EQ(noPorts.count(), 0);
}

TEST(ReadPortName, MissingKeyIsFalseAndAddsNothing) {
    PortList ports;
    EXPECT_FALSE(readPortName(HKEY_CURRENT_USER, "Software\\VarnoflexTest\\NoSuchKey", "FTVF2Q7K", ports));
    EXPECT_EQ(ports.count(), 0);
}

TEST(ReadPortName, KeyWithoutValuesIsTrueAndAddsNothing) {
    TestKey key;
    ASSERT_TRUE(key.created());
    PortList ports;
    EXPECT_TRUE(readPortName(HKEY_CURRENT_USER, TestKey::kPath, "FTVF2Q7K", ports));
    EXPECT_EQ(ports.count(), 0);
}

}  // namespace
