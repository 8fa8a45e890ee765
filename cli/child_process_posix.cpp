// SPDX-License-Identifier: MIT
// The child processes of --all on Linux and other POSIX systems: fork and exec with a pipe,
// poll() over the pipes, waitpid() without blocking.
#include "cli/child_process.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kExitSignalBase = 128;
constexpr int kExecFailed = 127;
constexpr std::size_t kReadChunkBytes = 4096;

std::atomic<bool> interrupted{false};

void onInterrupt(int)
{
    interrupted.store(true);
}

void noteExit(ChildProcess& child, int status)
{
    child.exited = true;
    if (WIFEXITED(status)) child.exitStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) child.exitStatus = kExitSignalBase + WTERMSIG(status);
}

}  // namespace

void enableCursorMovements() {}

std::string ownProgramPath(const char* argv0)
{
#ifdef __linux__
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0) return std::string(path, static_cast<std::size_t>(length));
#endif
    return argv0 != nullptr ? argv0 : "varnoflex-cli";
}

bool startChild(const std::string& program, const std::vector<std::string>& arguments, ChildProcess& child)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    std::vector<std::string> argvText;
    argvText.push_back(program);
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : argvText) argv.push_back(text.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return false;
    }
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        const int nullFd = ::open("/dev/null", O_RDONLY);
        if (nullFd >= 0) ::dup2(nullFd, STDIN_FILENO);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::dup2(pipeFds[1], STDERR_FILENO);
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        sigaction(SIGINT, &defaults, nullptr);
        sigaction(SIGTERM, &defaults, nullptr);
        sigaction(SIGHUP, &defaults, nullptr);   // an ignored signal would stay ignored past exec
        ::execv(program.c_str(), argv.data());
        _exit(kExecFailed);
    }
    ::close(pipeFds[1]);
    ::fcntl(pipeFds[0], F_SETFL, ::fcntl(pipeFds[0], F_GETFL) | O_NONBLOCK);
    child.id = pid;
    child.outputFd = pipeFds[0];
    child.exited = false;
    return true;
}

void serviceChildren(std::span<ChildProcess* const> children, int timeoutMs)
{
    std::vector<pollfd> pollFds;
    std::vector<ChildProcess*> owners;
    for (ChildProcess* child : children) {
        if (child->outputFd >= 0) {
            pollFds.push_back(pollfd{child->outputFd, POLLIN, 0});
            owners.push_back(child);
        }
    }
    bool anyRunning = false;
    for (const ChildProcess* child : children) anyRunning = anyRunning || !child->exited;
    if (!pollFds.empty()) {
        ::poll(pollFds.data(), pollFds.size(), timeoutMs);   // EINTR (Ctrl-C) just ends the wait
    } else if (anyRunning) {
        ::usleep(static_cast<useconds_t>(timeoutMs) * 1000);
    }
    for (std::size_t i = 0; i < pollFds.size(); ++i) {
        if (pollFds[i].revents == 0) continue;
        ChildProcess& child = *owners[i];
        char buffer[kReadChunkBytes];
        for (;;) {
            const ssize_t n = ::read(child.outputFd, buffer, sizeof buffer);
            if (n > 0) {
                child.output.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            ::close(child.outputFd);   // end of output: the child and all it started are gone
            child.outputFd = -1;
            break;
        }
    }
    for (ChildProcess* running : children) {
        ChildProcess& child = *running;
        if (child.exited || child.id <= 0) continue;
        int status = 0;
        const pid_t done = ::waitpid(static_cast<pid_t>(child.id), &status, WNOHANG);
        if (done == static_cast<pid_t>(child.id)) noteExit(child, status);
    }
}

void stopChild(const ChildProcess& child)
{
    if (!child.exited && child.id > 0) ::kill(static_cast<pid_t>(child.id), SIGTERM);
}

void catchInterrupt()
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A terminal that goes away stops no unit: the children finish their updates, and this
    // process stays to collect their results and write the report.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGHUP, &ignore, nullptr);
}

bool interruptRequested()
{
    return interrupted.load();
}
