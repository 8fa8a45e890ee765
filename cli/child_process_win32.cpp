// SPDX-License-Identifier: MIT
// The child processes of --all on Windows: CreateProcessW (the program's path and every
// argument as wide text, so that a path outside the ANSI code page survives) in a process
// group of its own, inheriting exactly its null-device standard handles, the write end of
// its event pipe and its stop event; PeekNamedPipe to read without blocking; the process
// handle for the exit.
//
// A stop is asked for through the child's stop event, which it counts as Ctrl-Break:
// GenerateConsoleCtrlEvent needs a console that parent and child share, which a parent
// started without one (a service, a scheduled task, Wine under a test) does not have.
#include "cli/child_process.h"

#include "cli/console.h"

#include <windows.h>

#include <map>
#include <span>
#include <vector>

namespace {

constexpr int kCheckSliceMs = 10;
constexpr std::size_t kReadChunkBytes = 4096;

struct ChildHandles {
    HANDLE process = nullptr;
    HANDLE events = nullptr;
    HANDLE stop = nullptr;
};

std::map<long, ChildHandles> handlesById;   // touched by the main thread only

// One argument as the Microsoft C runtime splits command lines: quoted when it holds a
// space, a tab or a quote, or is empty; backslashes doubled before a quote and before the
// closing quote.
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

std::string handleNumber(HANDLE handle)
{
    return std::to_string(reinterpret_cast<std::uintptr_t>(handle));
}

void closeEvents(ChildProcess& child, ChildHandles& handles)
{
    if (handles.events != nullptr) CloseHandle(handles.events);
    handles.events = nullptr;
    child.events = -1;
}

// Reads what the pipe holds without waiting; true when something came or the pipe ended.
bool drain(ChildProcess& child, ChildHandles& handles)
{
    bool any = false;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(handles.events, nullptr, 0, nullptr, &available, nullptr)) {
            closeEvents(child, handles);   // broken pipe: the child has gone
            return true;
        }
        if (available == 0) return any;
        char buffer[kReadChunkBytes];
        DWORD read = 0;
        const DWORD wanted = available < sizeof buffer ? available : static_cast<DWORD>(sizeof buffer);
        if (!ReadFile(handles.events, buffer, wanted, &read, nullptr) || read == 0) {
            closeEvents(child, handles);
            return true;
        }
        child.pending.append(buffer, read);
        any = true;
    }
}

bool noteExit(ChildProcess& child, ChildHandles& handles)
{
    if (child.exited || handles.process == nullptr) return false;
    if (WaitForSingleObject(handles.process, 0) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    const bool known = GetExitCodeProcess(handles.process, &code) != 0;
    CloseHandle(handles.process);
    handles.process = nullptr;
    child.exited = true;
    if (known) child.exitStatus = static_cast<int>(code);
    return true;
}

// CreateProcessW with only the given handles inherited; without the attribute list (very old
// systems) every inheritable handle is, and this process makes none but these.
bool createProcess(std::wstring program, std::wstring commandLine, std::span<HANDLE> inherited, HANDLE nullDevice,
                   PROCESS_INFORMATION& process)
{
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nullDevice;
    startup.StartupInfo.hStdOutput = nullDevice;
    startup.StartupInfo.hStdError = nullDevice;
    DWORD flags = CREATE_NEW_PROCESS_GROUP;

    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<char> listMemory(listSize);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listMemory.data());
    const bool listed = listSize > 0 && InitializeProcThreadAttributeList(list, 1, 0, &listSize) &&
                        UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                                  inherited.size() * sizeof(HANDLE), nullptr, nullptr);
    if (listed) {
        startup.lpAttributeList = list;
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr,
                                        nullptr, &startup.StartupInfo, &process);
    if (listed) DeleteProcThreadAttributeList(list);
    return started != FALSE;
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
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) break;
        if (length < path.size()) {
            path.resize(length);
            return pathToUtf8(std::filesystem::path(path));
        }
        path.resize(path.size() * 2);   // a long path: try again with more room
    }
    return argv0 != nullptr ? argv0 : "varnoflex-cli.exe";
}

void prepareForChildren() {}

bool startChild(const std::string& program, const std::vector<std::string>& arguments, ChildProcess& child)
{
    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof inheritable;
    inheritable.bInheritHandle = TRUE;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) return false;
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);   // only the child's end
    HANDLE stop = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
    HANDLE nullDevice = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    &inheritable, OPEN_EXISTING, 0, nullptr);
    const auto release = [&] {
        CloseHandle(writeEnd);
        if (nullDevice != INVALID_HANDLE_VALUE) CloseHandle(nullDevice);
    };
    if (stop == nullptr || nullDevice == INVALID_HANDLE_VALUE) {
        release();
        if (stop != nullptr) CloseHandle(stop);
        CloseHandle(readEnd);
        return false;
    }

    std::vector<std::string> all = arguments;
    all.insert(all.end(), {"--event-fd", handleNumber(writeEnd), "--stop-event", handleNumber(stop)});
    std::string commandLine = quoted(program);
    for (const std::string& argument : all) {
        commandLine += ' ';
        commandLine += quoted(argument);
    }

    HANDLE inherited[] = {nullDevice, writeEnd, stop};
    PROCESS_INFORMATION process{};
    const bool started = createProcess(pathFromUtf8(program).wstring(), pathFromUtf8(commandLine).wstring(),
                                       inherited, nullDevice, process);
    release();
    if (!started) {
        CloseHandle(readEnd);
        CloseHandle(stop);
        return false;
    }
    CloseHandle(process.hThread);
    child.id = static_cast<long>(process.dwProcessId);
    child.events = 0;   // open; the handle itself is kept here
    child.exited = false;
    child.exitStatus.reset();
    handlesById[child.id] = ChildHandles{process.hProcess, readEnd, stop};
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
            if (handles.events != nullptr && drain(*child, handles)) anything = true;
            if (noteExit(*child, handles)) anything = true;
            anyLeft = anyLeft || !child->exited || handles.events != nullptr;
        }
        if (anything || !anyLeft || waited >= timeoutMs) return;
        Sleep(kCheckSliceMs);
    }
}

void stopChild(const ChildProcess& child)
{
    const auto found = handlesById.find(child.id);
    if (child.exited || found == handlesById.end() || found->second.stop == nullptr) return;
    SetEvent(found->second.stop);
}
