// The child processes of --all on Windows: not provided in this build. startChild refuses,
// and the front end says that --all is not available; --serial runs one unit at a time.
#include "cli/child_process.h"

bool childProcessesSupported()
{
    return false;
}

std::string ownProgramPath(const char* argv0)
{
    return argv0 != nullptr ? argv0 : "varnoflex-cli.exe";
}

bool startChild(const std::string&, const std::vector<std::string>&, ChildProcess&)
{
    return false;
}

void serviceChildren(std::span<ChildProcess* const>, int) {}

void stopChild(const ChildProcess&) {}

void catchInterrupt() {}

bool interruptRequested()
{
    return false;
}
