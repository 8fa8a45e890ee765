// SPDX-License-Identifier: MIT
// The child processes of --all on Windows: CreateProcess with an inherited pipe for standard
// output and error, PeekNamedPipe to read without blocking, the process handle for the exit.
#include "cli/child_process.h"

#include <windows.h>

#include <atomic>
#include <map>

namespace {

constexpr int kCheckSliceMs = 10;
constexpr DWORD kStoppedExitCode = 130;   // as a POSIX shell reports a stop by Ctrl-C

struct ChildHandles {
    HANDLE process = nullptr;
    HANDLE output = nullptr;
};

std::map<long, ChildHandles> handlesById;   // touched by the main thread only
std::atomic<bool> interrupted{false};

BOOL WINAPI onConsoleControl(DWORD type)
{
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        interrupted.store(true);
        return TRUE;
    }
    return FALSE;
}

// One argument as the Microsoft C runtime splits command lines: quoted when it holds a
// space, a tab or a quote; backslashes doubled before a quote and before the closing quote.
std::string quoted(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string text = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            text.append(backslashes * 2 + 1, '\\');
        } else {
            text.append(backslashes, '\\');
        }
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, '\\');
    text += '"';
    return text;
}

void closeOutput(ChildProcess& child, ChildHandles& handles)
{
    if (handles.output != nullptr) CloseHandle(handles.output);
    handles.output = nullptr;
    child.outputFd = -1;
}

// Reads what the pipe holds without waiting; true when something came or the pipe ended.
bool drain(ChildProcess& child, ChildHandles& handles)
{
    bool any = false;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(handles.output, nullptr, 0, nullptr, &available, nullptr)) {
            closeOutput(child, handles);   // broken pipe: the child and all it started are gone
            return true;
        }
        if (available == 0) return any;
        char buffer[4096];
        DWORD read = 0;
        const DWORD wanted = available < sizeof buffer ? available : static_cast<DWORD>(sizeof buffer);
        if (!ReadFile(handles.output, buffer, wanted, &read, nullptr) || read == 0) {
            closeOutput(child, handles);
            return true;
        }
        child.output.append(buffer, read);
        any = true;
    }
}

bool noteExit(ChildProcess& child, ChildHandles& handles)
{
    if (child.exited || handles.process == nullptr) return false;
    if (WaitForSingleObject(handles.process, 0) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(handles.process, &code);
    CloseHandle(handles.process);
    handles.process = nullptr;
    child.exited = true;
    child.exitStatus = static_cast<int>(code);
    return true;
}

}  // namespace

void enableCursorMovements()
{
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
    constexpr DWORD ENABLE_VIRTUAL_TERMINAL_PROCESSING = 0x0004;   // older MinGW headers lack it
#endif
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode)) {
        SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

std::string ownProgramPath(const char* argv0)
{
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) return std::string(path, length);
    return argv0 != nullptr ? argv0 : "varnoflex-cli.exe";
}

bool startChild(const std::string& program, const std::vector<std::string>& arguments, ChildProcess& child)
{
    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof inheritable;
    inheritable.bInheritHandle = TRUE;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);   // only the child's end is inherited
    HANDLE nullInput = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                   OPEN_EXISTING, 0, nullptr);

    std::string commandLine = quoted(program);
    for (const std::string& argument : arguments) commandLine += " " + quoted(argument);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullInput;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (nullInput != INVALID_HANDLE_VALUE) CloseHandle(nullInput);
    if (!started) {
        CloseHandle(readEnd);
        return false;
    }
    CloseHandle(process.hThread);
    child.id = static_cast<long>(process.dwProcessId);
    child.outputFd = 0;   // open; the handle itself is kept here
    child.exited = false;
    handlesById[child.id] = ChildHandles{process.hProcess, readEnd};
    return true;
}

void serviceChildren(std::span<ChildProcess* const> children, int timeoutMs)
{
    for (int waited = 0;; waited += kCheckSliceMs) {
        bool anything = false;
        bool anyLeft = false;
        for (ChildProcess* child : children) {
            const auto found = handlesById.find(child->id);
            if (found == handlesById.end()) continue;
            ChildHandles& handles = found->second;
            if (handles.output != nullptr && drain(*child, handles)) anything = true;
            if (noteExit(*child, handles)) anything = true;
            anyLeft = anyLeft || !child->exited || handles.output != nullptr;
        }
        if (anything || !anyLeft || waited >= timeoutMs) return;
        Sleep(kCheckSliceMs);
    }
}

void stopChild(const ChildProcess& child)
{
    const auto found = handlesById.find(child.id);
    if (child.exited || found == handlesById.end() || found->second.process == nullptr) return;
    TerminateProcess(found->second.process, kStoppedExitCode);
}

void catchInterrupt()
{
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

bool interruptRequested()
{
    return interrupted.load();
}
