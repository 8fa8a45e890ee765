// SPDX-License-Identifier: MIT
// The child processes of --all on Linux and other POSIX systems: fork and exec with a pipe
// for the events, poll() over the pipes, waitpid() without blocking.
#include "cli/child_process.h"

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

void noteExit(ChildProcess& child, int status)
{
    child.exited = true;
    if (WIFEXITED(status)) child.exitStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) child.exitStatus = kExitSignalBase + WTERMSIG(status);
}

void closeEvents(ChildProcess& child)
{
    ::close(static_cast<int>(child.events));
    child.events = -1;
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

void prepareForChildren()
{
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    sigaction(SIGCHLD, &defaults, nullptr);
}

bool startChild(const std::string& program, const std::vector<std::string>& arguments, ChildProcess& child)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    const int nullFd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nullFd < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return false;
    }
    std::vector<std::string> argvText;
    argvText.push_back(program);
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    argvText.push_back("--event-fd");
    argvText.push_back(std::to_string(pipeFds[1]));
    std::vector<char*> argv;
    for (std::string& text : argvText) argv.push_back(text.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec. A process group of its own:
        // the terminal's signals go to the parent only. Every descriptor this process has is
        // close-on-exec; the child keeps its standard streams (the null device) and the
        // write end of its own pipe.
        ::setpgid(0, 0);
        ::dup2(nullFd, STDIN_FILENO);
        ::dup2(nullFd, STDOUT_FILENO);
        ::dup2(nullFd, STDERR_FILENO);
        ::fcntl(pipeFds[1], F_SETFD, 0);
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        sigemptyset(&defaults.sa_mask);
        // An ignored signal would stay ignored past exec.
        for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGPIPE}) sigaction(signalNumber, &defaults, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(program.c_str(), argv.data());
        _exit(kExecFailed);
    }
    ::close(nullFd);
    ::close(pipeFds[1]);
    if (pid < 0) {
        ::close(pipeFds[0]);
        return false;
    }
    ::setpgid(pid, pid);   // as the child does itself: whichever runs first
    ::fcntl(pipeFds[0], F_SETFL, ::fcntl(pipeFds[0], F_GETFL) | O_NONBLOCK);
    child.id = pid;
    child.events = pipeFds[0];
    child.exited = false;
    child.exitStatus.reset();
    return true;
}

void serviceChildren(std::span<ChildProcess* const> children, int timeoutMs)
{
    std::vector<pollfd> pollFds;
    std::vector<ChildProcess*> owners;
    for (ChildProcess* child : children) {
        if (child->events >= 0) {
            pollFds.push_back(pollfd{static_cast<int>(child->events), POLLIN, 0});
            owners.push_back(child);
        }
    }
    bool anyRunning = false;
    for (const ChildProcess* child : children) anyRunning = anyRunning || !child->exited;
    if (!pollFds.empty()) {
        ::poll(pollFds.data(), pollFds.size(), timeoutMs);   // EINTR (a signal) just ends the wait
    } else if (anyRunning) {
        ::usleep(static_cast<useconds_t>(timeoutMs) * 1000);
    }
    for (std::size_t i = 0; i < pollFds.size(); ++i) {
        if (pollFds[i].revents == 0) continue;
        ChildProcess& child = *owners[i];
        char buffer[kReadChunkBytes];
        for (;;) {
            const ssize_t n = ::read(static_cast<int>(child.events), buffer, sizeof buffer);
            if (n > 0) {
                child.pending.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            closeEvents(child);   // end of the pipe: the child has gone
            break;
        }
    }
    for (ChildProcess* running : children) {
        ChildProcess& child = *running;
        if (child.exited || child.id <= 0) continue;
        int status = 0;
        const pid_t done = ::waitpid(static_cast<pid_t>(child.id), &status, WNOHANG);
        if (done == static_cast<pid_t>(child.id)) {
            noteExit(child, status);
        } else if (done < 0 && errno == ECHILD) {
            // Reaped by someone else (SIGCHLD ignored after all): it has ended, how is unknown.
            child.exited = true;
            child.exitStatus.reset();
        }
    }
}

void stopChild(const ChildProcess& child)
{
    if (child.exited || child.id <= 0) return;
    const auto pid = static_cast<pid_t>(child.id);
    if (::kill(-pid, SIGTERM) != 0) ::kill(pid, SIGTERM);
}
