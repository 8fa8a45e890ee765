// SPDX-License-Identifier: MIT
// vf-testbed: presents FTDI USB-serial converters to an unmodified program through a umockdev
// testbed (udev database, sysfs and /dev nodes), serves a simulated flash unit behind every
// converter, runs the program under umockdev's preload and reports what the units saw.
//   vf-testbed [testbed options] [simulated-unit options] -- PROGRAM [ARGS...]
// Exit status: the program's status; 99 when a unit recorded a protocol violation; 70 when
// the testbed could not be set up.
#include <umockdev.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/serial.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "ftdi_description.h"
#include "sim/ft232r_model.h"
#include "sim/simulated_unit.h"

extern char** environ;

namespace {

constexpr int kExitViolations = 99;
constexpr int kExitSetupFailed = 70;
constexpr int kExitSignalBase = 128;
constexpr int kExecFailed = 127;
constexpr const char* kDefaultSerial = "FTVF2Q7K";
constexpr const char* kFtdiVendorId = "0403";
constexpr const char* kFt232rProductId = "6001";
constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";
constexpr const char* kUsbRoot = "/sys/devices/pci0000:00/0000:00:14.0/usb1/";
constexpr std::size_t kMaxSerialLength = 32;
constexpr int kUsbSerialMajor = 188;
constexpr int kFirstDevnum = 2;                // devnum 1 is the root hub
constexpr int kFt232rBaudBase = 24000000 / 8;  // what ftdi_sio reports as baud_base (3 MBd)
constexpr int kFt232rFifoSize = 256;
constexpr int kModemOutputs = TIOCM_DTR | TIOCM_RTS;
// A freshly opened FT232R: the kernel raises DTR and RTS; the unit drives CTS and DSR.
constexpr int kModemLinesAtStart = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR;

struct Converter {
    std::string serial;
    std::string vendorId = kFtdiVendorId;
    std::string productId = kFt232rProductId;
    bool dead = false;
    int index = 0;                      // ttyUSB<index>
    bool ownOptions = false;            // given by --unit: its options follow it
    bool primary = false;               // its unit takes the options outside any --unit
    SimOptions options;
    std::atomic<int> modemLines{kModemLinesAtStart};
    // The tty's ASYNC_* flags as the host set them with TIOCSSERIAL; ftdi_sio keeps them while
    // the converter stays plugged in, and sets the chip's latency timer to 1 ms while
    // ASYNC_LOW_LATENCY is among them.
    std::atomic<int> serialFlags{0};
    // The port's sysfs file latency_timer in the testbed's tree, where ftdi_sio shows the timer
    // it gave the chip: the converter's own, or 1 while ASYNC_LOW_LATENCY is set.
    std::string latencyTimerFile;
    std::unique_ptr<SimulatedUnit> unit;   // every live converter has one
    UMockdevIoctlBase* ioctlHandler = nullptr;
    int masterFd = -1;
    std::string slavePath;
    std::atomic<bool> masterClosed{false};
    std::thread server;

    std::string usbPort() const { return "1-" + std::to_string(index + 1); }
    std::string usbPath() const { return kUsbRoot + usbPort(); }
    std::string interfacePath() const { return usbPath() + "/" + usbPort() + ":1.0"; }
    std::string portPath() const { return interfacePath() + "/ttyUSB" + std::to_string(index); }
    std::string ttyPath() const { return portPath() + "/tty/ttyUSB" + std::to_string(index); }
    std::string devNode() const { return "/dev/ttyUSB" + std::to_string(index); }
    int ownLatencyMs() const { return options.latencyTimerMs.value_or(Ft232rModel::kDefaultLatencyMs); }
};

std::atomic<pid_t> childPid{-1};

void forwardSignal(int signalNumber) {
    const pid_t pid = childPid.load();
    if (pid > 0) kill(pid, signalNumber);
}

void usage(const char* message) {
    if (message) std::fprintf(stderr, "vf-testbed: %s\n", message);
    std::fprintf(stderr,
                 "usage: vf-testbed [testbed options] [simulated-unit options] -- PROGRAM [ARGS...]\n"
                 "Testbed options:\n"
                 "  --converter SERIAL[:VID:PID]  add an FTDI converter (default 0403:6001) with /dev/ttyUSB<n>;\n"
                 "                                repeatable (none given: one converter FTVF2Q7K); a\n"
                 "                                simulated unit answers behind each: the first one's\n"
                 "                                takes the simulated-unit options given outside --unit,\n"
                 "                                the others start blank with no faults\n"
                 "  --unit SERIAL[:VID:PID]       add a converter whose unit takes the simulated-unit\n"
                 "                                options that follow, up to the next testbed option\n"
                 "  --dead SERIAL                 add a converter udev lists but whose node cannot be opened\n"
                 "  --report FILE                 write what the first converter's unit saw, the violations\n"
                 "                                and a summary\n"
                 "%s",
                 simOptionsHelp());
}

bool isHexId(const std::string& text) {
    if (text.size() != 4) return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// SERIAL[:VID:PID]; the serial takes letters and digits only, as FTDI serials do.
bool parseConverter(const std::string& text, bool dead, Converter& converter, std::string& error) {
    std::string serial = text;
    const auto colon = text.find(':');
    if (colon != std::string::npos) {
        serial = text.substr(0, colon);
        const std::string ids = text.substr(colon + 1);
        const auto second = ids.find(':');
        if (dead || second == std::string::npos || !isHexId(ids.substr(0, second)) ||
            !isHexId(ids.substr(second + 1))) {
            error = "bad converter \"" + text + "\": expected SERIAL" + (dead ? "" : "[:VID:PID] with 4-digit hex ids");
            return false;
        }
        converter.vendorId = lowerCase(ids.substr(0, second));
        converter.productId = lowerCase(ids.substr(second + 1));
    }
    if (serial.empty() || serial.size() > kMaxSerialLength) {
        error = "bad converter serial \"" + serial + "\"";
        return false;
    }
    for (char c : serial) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            error = "bad converter serial \"" + serial + "\": letters and digits only";
            return false;
        }
    }
    converter.serial = serial;
    converter.dead = dead;
    return true;
}

void replaceAll(std::string& text, const std::string& field, const std::string& value) {
    for (auto at = text.find(field); at != std::string::npos; at = text.find(field, at + value.size())) {
        text.replace(at, field.size(), value);
    }
}

// The PRODUCT property of a USB device gives its ids in hex without leading zeros.
std::string hexShort(const std::string& id) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%x", std::stoi(id, nullptr, 16));
    return buffer;
}

// The converter's umockdev description; comment lines of the template are left out.
std::string describe(const Converter& converter, bool withNode) {
    std::string text;
    const std::string all = kFtdiConverterDescription;
    std::size_t start = 0;
    while (start < all.size()) {
        auto end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        const std::string line = all.substr(start, end - start);
        if (line.empty() || line[0] != '#') text += line + "\n";
        start = end + 1;
    }
    while (!text.empty() && text[0] == '\n') text.erase(0, 1);
    char devnum[16];
    std::snprintf(devnum, sizeof devnum, "%03d", kFirstDevnum + converter.index);
    replaceAll(text, "{NODELINE}", withNode ? "N: ttyUSB" + std::to_string(converter.index) + "\n" : "");
    replaceAll(text, "{USBPORT}", converter.usbPort());
    replaceAll(text, "{N}", std::to_string(converter.index));
    replaceAll(text, "{SERIAL}", converter.serial);
    replaceAll(text, "{VID}", converter.vendorId);
    replaceAll(text, "{PID}", converter.productId);
    replaceAll(text, "{VIDSHORT}", hexShort(converter.vendorId));
    replaceAll(text, "{PIDSHORT}", hexShort(converter.productId));
    replaceAll(text, "{DEVNUM}", devnum);
    replaceAll(text, "{DEVNUMSHORT}", std::to_string(kFirstDevnum + converter.index));
    replaceAll(text, "{LATENCY}", std::to_string(converter.ownLatencyMs()));
    return text;
}

// Modem lines, the exclusive-open flag and the serial info are what ftdi_sio answers itself;
// everything else runs on the real pty inside the program.
gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer userData) {
    auto* converter = static_cast<Converter*>(userData);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;
    switch (request) {
    case TIOCMGET:
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC: {
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(argument, 0, sizeof(int), &error);
        if (!data) {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return TRUE;
        }
        int value = 0;
        std::memcpy(&value, data->data, sizeof value);
        const int before = converter->modemLines.load();
        int after = before;
        if (request == TIOCMGET) {
            std::memcpy(data->data, &before, sizeof before);
        } else if (request == TIOCMSET) {
            after = (before & ~kModemOutputs) | (value & kModemOutputs);
        } else if (request == TIOCMBIS) {
            after = before | (value & kModemOutputs);
        } else {
            after = before & ~(value & kModemOutputs);
        }
        converter->modemLines = after;
        if (converter->unit && request != TIOCMGET) {
            converter->unit->noteModemLines(after & TIOCM_DTR, after & TIOCM_RTS);
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(data);
        return TRUE;
    }
    case TIOCGSERIAL:
    case TIOCSSERIAL: {
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(argument, 0, sizeof(serial_struct), &error);
        if (!data) {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return TRUE;
        }
        if (request == TIOCGSERIAL) {
            serial_struct info{};
            info.type = PORT_16550A;
            info.line = converter->index;
            info.baud_base = kFt232rBaudBase;
            info.xmit_fifo_size = kFt232rFifoSize;
            info.flags = converter->serialFlags.load();
            std::memcpy(data->data, &info, sizeof info);
        } else {
            serial_struct info{};
            std::memcpy(&info, data->data, sizeof info);
            const int before = converter->serialFlags.exchange(info.flags & static_cast<int>(ASYNC_FLAGS));
            const bool lowLatency =
                (info.flags & ASYNC_LOW_LATENCY) != 0 && !converter->options.faults.keepLatencyTimer;
            if (converter->unit && lowLatency != ((before & ASYNC_LOW_LATENCY) != 0)) {
                converter->unit->noteLowLatencyRequest(lowLatency);
            }
            // Written in place rather than through the testbed, which aborts on a file that a
            // pulled cable has just taken away; such a failure changes nothing here.
            std::ofstream(converter->latencyTimerFile)
                << (lowLatency ? Ft232rModel::kMinLatencyMs : converter->ownLatencyMs()) << '\n';
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(data);
        return TRUE;
    }
    case TIOCEXCL:
    case TIOCNXCL: {
        // Tried on the real pty so a second opener is refused as on a real port; accepted
        // whatever the pty says, as the converter's driver would.
        int errorNumber = 0;
        umockdev_ioctl_client_execute(client, &errorNumber, &error);
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    default: {
        int errorNumber = 0;
        long result = umockdev_ioctl_client_execute(client, &errorNumber, &error);
        if (error) {
            g_clear_error(&error);
            result = -1;
            errorNumber = EIO;
        }
        umockdev_ioctl_client_complete(client, result, result < 0 ? errorNumber : 0);
        return TRUE;
    }
    }
}

// The served converter's node points at a pty that vf-testbed owns, so that it can hang up
// the line by closing the master (umockdev's own pty master must stay open).
int makeOwnPtyNode(const std::string& rootDir, const Converter& converter, std::string& slavePath) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return -1;
    if (grantpt(master) != 0 || unlockpt(master) != 0 || !ptsname(master)) {
        ::close(master);
        return -1;
    }
    slavePath = ptsname(master);
    // Its line settings stay the pty's defaults (cooked, 38400): the program has to set its own.
    const std::string devDir = rootDir + "/dev";
    const std::string mapDir = devDir + "/.ptymap";
    g_mkdir_with_parents(mapDir.c_str(), 0755);
    const std::string node = devDir + "/ttyUSB" + std::to_string(converter.index);
    std::string mapName = slavePath;
    for (char& c : mapName) {
        if (c == '/') c = '_';
    }
    // umockdev reports the pty as a character device with the converter's numbers.
    const std::string numbers = std::to_string(kUsbSerialMajor) + ":" + std::to_string(converter.index);
    ::unlink(node.c_str());
    if (symlink(slavePath.c_str(), node.c_str()) != 0 ||
        symlink(numbers.c_str(), (mapDir + "/" + mapName).c_str()) != 0) {
        ::close(master);
        return -1;
    }
    return master;
}

// LD_PRELOAD for the program: whatever is set already (a sanitizer runtime must stay first),
// then umockdev's preload.
std::vector<std::string> programEnvironment() {
    std::vector<std::string> environment;
    std::string preload;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (text.rfind("LD_PRELOAD=", 0) == 0) {
            preload = text.substr(std::strlen("LD_PRELOAD="));
        } else {
            environment.push_back(text);
        }
    }
    if (preload.find(kPreloadLibrary) == std::string::npos) {
        preload = preload.empty() ? kPreloadLibrary : preload + ":" + kPreloadLibrary;
    }
    environment.push_back("LD_PRELOAD=" + preload);
    return environment;
}

pid_t startProgram(char** programArgv) {
    std::vector<std::string> environment = programEnvironment();
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        sigaction(SIGPIPE, &defaults, nullptr);
        sigaction(SIGTERM, &defaults, nullptr);
        sigaction(SIGINT, &defaults, nullptr);
        sigaction(SIGHUP, &defaults, nullptr);
        execvpe(programArgv[0], programArgv, envp.data());
        static const char kMessage[] = "vf-testbed: cannot run the program\n";
        (void)!write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
        _exit(kExecFailed);
    }
    return pid;
}

int waitForProgram(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return kExitSetupFailed;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return kExitSignalBase + WTERMSIG(status);
    return kExitSetupFailed;
}

// Pulled cable: the converter leaves udev, children first. Its sysfs tree goes and every link
// that pointed into it. umockdev_testbed_remove_device is not used: it also takes the node's
// ioctl socket away, and a program still holding the node open then waits forever for the
// answer to its next ioctl, where a real pulled cable gives it EIO.
void pullCable(UMockdevTestbed* testbed, const Converter& converter, const std::string& rootDir) {
    for (const std::string& path :
         {converter.ttyPath(), converter.portPath(), converter.interfacePath(), converter.usbPath()}) {
        umockdev_testbed_uevent(testbed, path.c_str(), "remove");
    }
    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::remove_all(rootDir + converter.usbPath(), ignored);
    // Dangling links left in /sys/class, /sys/bus and /sys/dev.
    const fs::path sys = fs::path(rootDir) / "sys";
    for (auto it = fs::recursive_directory_iterator(sys, fs::directory_options::skip_permission_denied, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (ignored) break;
        if (it->is_symlink(ignored) && !fs::exists(it->path(), ignored)) {
            fs::remove(it->path(), ignored);
        } else if (it->is_symlink(ignored)) {
            it.disable_recursion_pending();   // never walk into the devices tree through a link
        }
    }
    ::unlink((rootDir + converter.devNode()).c_str());
}

bool writeReport(const std::string& path, const SimulatedUnit& unit) {
    std::ofstream out(path, std::ios::trunc);
    for (const SimEvent& event : unit.events()) out << event.text << '\n';
    for (const std::string& text : unit.violations()) out << "violation: " << text << '\n';
    out << "summary: " << unit.summary() << '\n';
    return static_cast<bool>(out);
}

}  // namespace

// The testbed's uevents are sent through libudev, which has to see the testbed's sysfs: the
// program runs itself again under umockdev's preload before it builds anything.
bool underPreload() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, kPreloadLibrary);
}

// A sanitizer runtime that is not first among the loaded libraries refuses to start; with
// umockdev's preload in front of it that check has to be off.
void relaxSanitizerLinkOrder() {
    const char* current = std::getenv("ASAN_OPTIONS");
    std::string options = current ? current : "";
    if (options.find("verify_asan_link_order") != std::string::npos) return;
    options = options.empty() ? "verify_asan_link_order=0" : options + ":verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", options.c_str(), 1);
}

int main(int argc, char** argv) {
    if (!underPreload()) {
        const char* current = std::getenv("LD_PRELOAD");
        const std::string preload =
            current && *current ? std::string(current) + ":" + kPreloadLibrary : std::string(kPreloadLibrary);
        setenv("LD_PRELOAD", preload.c_str(), 1);
        relaxSanitizerLinkOrder();
        execv("/proc/self/exe", argv);
        std::fprintf(stderr, "vf-testbed: cannot run itself under %s: %s\n", kPreloadLibrary, std::strerror(errno));
        return kExitSetupFailed;
    }
    relaxSanitizerLinkOrder();
    SimOptions options;                      // outside any --unit: the primary unit's
    bool outsideOptionsGiven = false;
    std::vector<std::unique_ptr<Converter>> converters;
    Converter* scope = nullptr;              // the --unit whose options are being read
    std::optional<std::string> reportFile;
    int programIndex = -1;
    bool anyLive = false;

    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--") {
            programIndex = i + 1;
            break;
        }
        if (argument == "-h" || argument == "--help") {
            usage(nullptr);
            return 0;
        }
        if (argument == "--converter" || argument == "--unit" || argument == "--dead" || argument == "--report") {
            if (i + 1 >= argc) {
                usage((argument + " needs a value").c_str());
                return kExitSetupFailed;
            }
            const std::string value = argv[++i];
            scope = nullptr;
            if (argument == "--report") {
                reportFile = value;
                continue;
            }
            auto converter = std::make_unique<Converter>();
            std::string error;
            if (!parseConverter(value, argument == "--dead", *converter, error)) {
                usage(error.c_str());
                return kExitSetupFailed;
            }
            anyLive = anyLive || argument != "--dead";
            if (argument == "--unit") {
                converter->ownOptions = true;
                scope = converter.get();
            }
            converters.push_back(std::move(converter));
            continue;
        }
        std::string error;
        if (!parseSimOption(argc, argv, i, scope ? scope->options : options, error)) {
            usage(error.c_str());
            return kExitSetupFailed;
        }
        outsideOptionsGiven = outsideOptionsGiven || scope == nullptr;
    }
    if (programIndex < 0 || programIndex >= argc) {
        usage("no program to run after --");
        return kExitSetupFailed;
    }
    if (!anyLive) {
        auto converter = std::make_unique<Converter>();
        converter->serial = kDefaultSerial;
        converters.insert(converters.begin(), std::move(converter));
    }
    Converter* primary = nullptr;
    for (std::size_t i = 0; i < converters.size(); ++i) {
        Converter& converter = *converters[i];
        converter.index = static_cast<int>(i);
        if (!primary && !converter.dead && !converter.ownOptions) {
            primary = &converter;
            converter.primary = true;
            converter.options = options;
        }
    }
    if (outsideOptionsGiven && !primary) {
        usage("simulated-unit options outside --unit need a --converter to apply to");
        return kExitSetupFailed;
    }
    std::signal(SIGPIPE, SIG_IGN);
    for (auto& converter : converters) {
        if (converter->dead) continue;
        std::string error;
        if (!checkSimOptions(converter->options, error)) {
            usage((converter->serial + ": " + error).c_str());
            return kExitSetupFailed;
        }
        converter->unit = std::make_unique<SimulatedUnit>(converter->options);
        converter->unit->noteModemLines(kModemLinesAtStart & TIOCM_DTR, kModemLinesAtStart & TIOCM_RTS);
    }
    std::size_t unitCount = 0;
    for (const auto& converter : converters) unitCount += converter->unit ? 1 : 0;

    UMockdevTestbed* testbed = umockdev_testbed_new();   // sets UMOCKDEV_DIR for the program
    gchar* rootDirText = umockdev_testbed_get_root_dir(testbed);
    const std::string rootDir = rootDirText;
    g_free(rootDirText);

    bool setupOk = true;
    for (auto& converter : converters) {
        GError* gerror = nullptr;
        if (!converter->dead) {
            // The handler must exist before the node: a program opening the node without the
            // ioctl socket in place is killed by the preload.
            converter->ioctlHandler = umockdev_ioctl_base_new();
            g_signal_connect(converter->ioctlHandler, "handle-ioctl", G_CALLBACK(onIoctl), converter.get());
            if (!umockdev_testbed_attach_ioctl(testbed, converter->devNode().c_str(), converter->ioctlHandler,
                                               &gerror)) {
                std::fprintf(stderr, "vf-testbed: cannot attach the ioctl handler: %s\n", gerror->message);
                g_clear_error(&gerror);
                setupOk = false;
                break;
            }
            converter->masterFd = makeOwnPtyNode(rootDir, *converter, converter->slavePath);
            if (converter->masterFd < 0) {
                std::fprintf(stderr, "vf-testbed: cannot make the converter's pty: %s\n", std::strerror(errno));
                setupOk = false;
                break;
            }
        } else {
            // A directory where the node should be: opening it for reading and writing fails,
            // also for root.
            g_mkdir_with_parents((rootDir + converter->devNode()).c_str(), 0755);
        }
        converter->latencyTimerFile = rootDir + converter->portPath() + "/latency_timer";
        const std::string description = describe(*converter, false);
        if (!umockdev_testbed_add_from_string(testbed, description.c_str(), &gerror)) {
            std::fprintf(stderr, "vf-testbed: cannot add the converter %s: %s\n", converter->serial.c_str(),
                         gerror->message);
            g_clear_error(&gerror);
            setupOk = false;
            break;
        }
    }

    int exitStatus = kExitSetupFailed;
    if (setupOk) {
        std::atomic<bool> stop{false};
        std::mutex testbedMutex;   // a pulled cable changes the testbed's tree
        for (auto& converterOwner : converters) {
            Converter* converter = converterOwner.get();
            if (!converter->unit) continue;
            converter->server = std::thread([&, converter] {
                converter->unit->serve(converter->masterFd, converter->slavePath, stop);
                if (converter->unit->hungUp()) {
                    // The converter leaves udev first, so a program woken by the hang-up finds
                    // it gone already, as after a real unplug.
                    {
                        std::lock_guard lock(testbedMutex);
                        pullCable(testbed, *converter, rootDir);
                    }
                    ::close(converter->masterFd);
                    converter->masterClosed = true;
                    std::fprintf(stderr, "[vf-testbed] line hung up; converter %s removed\n",
                                 converter->serial.c_str());
                }
            });
        }

        struct sigaction forward {};
        forward.sa_handler = forwardSignal;
        sigemptyset(&forward.sa_mask);
        sigaction(SIGTERM, &forward, nullptr);
        sigaction(SIGINT, &forward, nullptr);
        sigaction(SIGHUP, &forward, nullptr);

        const pid_t pid = startProgram(argv + programIndex);
        if (pid < 0) {
            std::fprintf(stderr, "vf-testbed: cannot start the program: %s\n", std::strerror(errno));
        } else {
            childPid = pid;
            exitStatus = waitForProgram(pid);
            childPid = -1;
        }
        stop = true;
        bool anyViolation = false;
        for (auto& converter : converters) {
            if (!converter->unit) continue;
            converter->server.join();
            if (!converter->masterClosed) ::close(converter->masterFd);
            SimulatedUnit& unit = *converter->unit;
            unit.finish();
            const bool reportHere = converter->primary || (!primary && converter.get() == converters.front().get());
            if (reportFile && reportHere && !writeReport(*reportFile, unit)) {
                std::fprintf(stderr, "vf-testbed: cannot write the report %s\n", reportFile->c_str());
            }
            // With several units each line names its converter.
            const std::string who = unitCount > 1 ? converter->serial + ": " : std::string();
            const auto violations = unit.violations();
            std::fprintf(stderr, "[vf-testbed] %s%s; program exit %d\n", who.c_str(), unit.summary().c_str(),
                         exitStatus);
            for (const std::string& text : violations) {
                std::fprintf(stderr, "[vf-testbed] %sVIOLATION %s\n", who.c_str(), text.c_str());
            }
            anyViolation = anyViolation || !violations.empty();
        }
        if (pid >= 0 && anyViolation) exitStatus = kExitViolations;
    } else {
        for (auto& converter : converters) {
            if (converter->masterFd >= 0) ::close(converter->masterFd);
        }
    }

    for (auto& converter : converters) {
        if (converter->ioctlHandler) g_object_unref(converter->ioctlHandler);
    }
    g_object_unref(testbed);   // removes the testbed directory
    return exitStatus;
}
