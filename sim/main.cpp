// praxon-sim: a simulated STM32F10x in its USART system bootloader, on a pseudo-terminal.
//
//   praxon-sim --link /tmp/ttySIM                      # at the pace of 115200 baud 8E1
//   praxon-sim --instant --pid 0x414 --preload fw.hex  # no delays, a high-density part
//   praxon-sim --usb-packet 62 --usb-latency-ms 16     # as seen through an FTDI adapter
//   praxon-sim --fault late:0x11:1 --dump flash.bin    # a late Read reply; keep the flash
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "Simulator.h"

using namespace praxon::sim;

namespace {

const char kUsage[] =
    "Usage: praxon-sim [options]\n"
    "Serves a simulated STM32F10x system bootloader (USART protocol v2.2) on a pseudo-terminal.\n"
    "Prints PORT=<path> on its own line first, then a description; serves until SIGINT or\n"
    "SIGTERM; then writes --dump and the counters (JSON). SIGUSR1 presses the reset button\n"
    "(BOOT0 high: the bootloader waits for 0x7F again).\n"
    "\n"
    "  --link PATH         also make PATH a symlink to the port (an existing symlink is replaced)\n"
    "  --pid ID            product ID: 0x412, 0x410 (default), 0x414, 0x418, 0x420, 0x428\n"
    "  --flash-kb N        flash size in KB (default by product ID: 32, 64, 512, 256, 128, 512);\n"
    "                      1 KB pages up to 128 KB, 2 KB pages above (then N must be even)\n"
    "  --ram-field V       half-word at 0x1FFFF7E2 (default 0xFFFF; some parts hold RAM KB there)\n"
    "  --getid FORM        standard: 79 01 PIDhi PIDlo 79 (as on the chip, default);\n"
    "                      four: 79 03 PIDhi PIDlo 00 00 79\n"
    "  --rdp               start with readout protection active\n"
    "  --relaxed-align     accept Write Memory at any address and of any length\n"
    "                      (default: 4-byte aligned address and a multiple of 4 bytes)\n"
    "  --sync-anytime      a 0x7F arriving while a command is awaited, after >= 100 ms of quiet\n"
    "                      on the line, is taken as a new synchronisation (ACK), as if the\n"
    "                      board had been reset into its bootloader; off by default\n"
    "  --instant           no line pacing and no programming or erase delays (default: the pace\n"
    "                      of 115200 baud 8E1 both ways, 52.5 us per half-word, 30 ms erases)\n"
    "  --usb-packet N      put a USB serial adapter between board and host (give both; FTDI:\n"
    "  --usb-latency-ms L  62 and 16): board bytes reach the host in packets of N bytes\n"
    "                      (1-4096), each sent as soon as its last byte finished on the line,\n"
    "                      or, while still partial, L ms (1-1000) after its first byte did\n"
    "                      (the timer starts with that byte; a later reply joins a waiting\n"
    "                      packet). Host bytes are not held; a hangup fault sends a waiting\n"
    "                      packet first. Works with --instant too. Default: off\n"
    "  --preload FILE      load flash from a raw binary image or an Intel HEX file\n"
    "  --dump FILE         write the flash image (raw binary) here when stopping\n"
    "  --counters FILE     write the counters as JSON here when stopping (default: stdout)\n"
    "  --fault KIND:CMD:K[:STEP]  misbehave on purpose (repeatable):\n"
    "                      KIND nack|silent|late|short|change|burst|garbage|hangup;\n"
    "                      CMD the command byte (0x7f: the synchronisation); K which occurrence\n"
    "                      (1-based, 0 = every one); STEP which reply of the transaction (1 = to\n"
    "                      the command, 2 = to the address/erase code/Go address or the second\n"
    "                      ACK of a protection command, 3 = to Write data or Read count), default "
    "1.\n"
    "                      late: 700 ms; change: last byte inverted; burst: padded to 300 bytes;\n"
    "                      garbage: reply bytes replaced; hangup: the line is closed, the\n"
    "                      simulator writes its results and exits.\n"
    "  --help              this text\n"
    "Events are printed as they happen: 'praxon-sim: go 0x08000000', 'praxon-sim: reset'.\n"
    "Exit status: 0 after a normal stop, 1 if the port cannot be served, 2 on bad options.\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "praxon-sim: %s\nTry 'praxon-sim --help'.\n", message.c_str());
    return 2;
}

bool parseUnsigned(const char* text, unsigned long max, unsigned long* value) {
    if (!text || !*text || *text == '-') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text, &end, 0);
    if (errno != 0 || *end != '\0' || v > max) return false;
    *value = v;
    return true;
}

bool writeFile(const std::string& path, const void* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

// Announces a running board so Praxon's port list can offer it: one file per board,
// ${XDG_RUNTIME_DIR:-/tmp}/praxon-sim/<pid>.port, holding the port path. Best effort: a board that
// cannot announce itself still serves, the user just types its path.
class BoardAnnouncement {
public:
    explicit BoardAnnouncement(const std::string& port) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        struct stat st {};
        std::string dir = (runtime && *runtime && stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
                              ? std::string(runtime)
                              : std::string("/tmp");
        dir += "/praxon-sim";
        mkdir(dir.c_str(), 01777);
        path_ = dir + "/" + std::to_string(getpid()) + ".port";
        const std::string line = port + "\n";
        if (!writeFile(path_, line.data(), line.size())) path_.clear();
    }
    ~BoardAnnouncement() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    BoardAnnouncement(const BoardAnnouncement&) = delete;
    BoardAnnouncement& operator=(const BoardAnnouncement&) = delete;

private:
    std::string path_;
};

}  // namespace

int main(int argc, char** argv) {
    SimulatorOptions options;
    std::string preload, dump, countersPath;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char** out) {
            if (i + 1 >= args.size()) return false;
            *out = args[++i].c_str();
            return true;
        };
        const char* v = nullptr;
        unsigned long n = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--link") {
            if (!value(&v) || !*v) return usageError("--link needs a path");
            options.linkPath = v;
        } else if (a == "--pid") {
            if (!value(&v) || !parseUnsigned(v, 0xFFFF, &n) ||
                !productSizes(static_cast<uint16_t>(n), nullptr, nullptr))
                return usageError("--pid must be one of 0x412, 0x410, 0x414, 0x418, 0x420, 0x428");
            options.board.pid = static_cast<uint16_t>(n);
        } else if (a == "--flash-kb") {
            if (!value(&v) || !parseUnsigned(v, 512, &n) || n == 0 || (n > 128 && n % 2 != 0))
                return usageError("--flash-kb must be 1 to 512 (even above 128)");
            options.board.flashKb = static_cast<int>(n);
        } else if (a == "--ram-field") {
            if (!value(&v) || !parseUnsigned(v, 0xFFFF, &n))
                return usageError("--ram-field must be a 16-bit value, e.g. 0x0014");
            options.board.ramField = static_cast<uint16_t>(n);
        } else if (a == "--getid") {
            if (!value(&v)) return usageError("--getid needs standard or four");
            if (std::strcmp(v, "standard") == 0)
                options.board.fourByteGetId = false;
            else if (std::strcmp(v, "four") == 0)
                options.board.fourByteGetId = true;
            else
                return usageError("--getid must be standard or four");
        } else if (a == "--rdp") {
            options.board.readoutProtected = true;
        } else if (a == "--relaxed-align") {
            options.board.relaxedAlign = true;
        } else if (a == "--sync-anytime") {
            options.board.syncAnytime = true;
        } else if (a == "--instant") {
            options.instant = true;
        } else if (a == "--usb-packet") {
            if (!value(&v) || !parseUnsigned(v, 4096, &n) || n == 0)
                return usageError("--usb-packet must be 1 to 4096 bytes");
            options.usbPacket = static_cast<int>(n);
        } else if (a == "--usb-latency-ms") {
            if (!value(&v) || !parseUnsigned(v, 1000, &n) || n == 0)
                return usageError("--usb-latency-ms must be 1 to 1000");
            options.usbLatencyMs = static_cast<int>(n);
        } else if (a == "--preload") {
            if (!value(&v) || !*v) return usageError("--preload needs a file");
            preload = v;
        } else if (a == "--dump") {
            if (!value(&v) || !*v) return usageError("--dump needs a file");
            dump = v;
        } else if (a == "--counters") {
            if (!value(&v) || !*v) return usageError("--counters needs a file");
            countersPath = v;
        } else if (a == "--fault") {
            if (!value(&v)) return usageError("--fault needs KIND:CMD:K[:STEP]");
            Fault f;
            std::string why;
            if (!parseFault(v, &f, &why)) return usageError(why);
            options.board.faults.push_back(f);
        } else {
            return usageError("unknown option '" + a + "'");
        }
    }

    if ((options.usbPacket > 0) != (options.usbLatencyMs > 0))
        return usageError("--usb-packet and --usb-latency-ms go together");

    // Signals are taken synchronously by this thread; the server thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    Simulator sim(options);
    if (!preload.empty()) {
        std::vector<uint8_t> image;
        std::string why;
        const uint32_t flashSize = static_cast<uint32_t>(Board(options.board).flashSize());
        if (!loadImageFile(preload, flashSize, &image, &why))
            return usageError("--preload: " + why);
        sim.loadFlash(0, image);
    }
    sim.setEventHandler([](const std::string& event) {
        std::printf("praxon-sim: %s\n", event.c_str());
        std::fflush(stdout);
    });
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "praxon-sim: cannot serve: %s\n", error.c_str());
        return 1;
    }
    const Board probe(options.board);
    std::printf("PORT=%s\n", sim.portPath().c_str());
    std::printf("praxon-sim: serving STM32F10x (PID 0x%03X, %u KB flash) on %s%s%s\n",
                options.board.pid, probe.flashSize() / 1024, sim.portPath().c_str(),
                options.linkPath.empty() ? "" : " as ", options.linkPath.c_str());
    std::fflush(stdout);

    BoardAnnouncement announcement(options.linkPath.empty() ? sim.portPath() : options.linkPath);
    for (;;) {
        timespec tick{0, 100'000'000};
        int sig = sigtimedwait(&signals, nullptr, &tick);
        if (sig == SIGINT || sig == SIGTERM) break;
        if (sig == SIGUSR1) sim.reset();
        if (!sim.serving()) break;  // hung up on request
    }
    sim.stop();

    int status = 0;
    if (!dump.empty()) {
        const std::vector<uint8_t> image = sim.flashImage();
        if (!writeFile(dump, image.data(), image.size())) {
            std::fprintf(stderr, "praxon-sim: cannot write %s: %s\n", dump.c_str(),
                         std::strerror(errno));
            status = 1;
        }
    }
    const std::string json = sim.countersJson();
    if (countersPath.empty()) {
        std::fputs(json.c_str(), stdout);
    } else if (!writeFile(countersPath, json.data(), json.size())) {
        std::fprintf(stderr, "praxon-sim: cannot write %s: %s\n", countersPath.c_str(),
                     std::strerror(errno));
        status = 1;
    }
    std::fflush(stdout);
    return status;
}
