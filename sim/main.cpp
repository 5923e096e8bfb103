// praxon-sim: a simulated STM32 in its USART system bootloader, on a pseudo-terminal.
//
//   praxon-sim --link /tmp/ttySIM                      # an STM32F103, 115200 baud 8E1 pace
//   praxon-sim --instant --pid 0x414 --preload fw.hex  # no delays, a high-density part
//   praxon-sim --pid 0x413                             # an STM32F407: sectors, Extended Erase
//   praxon-sim --usb-packet 62 --usb-latency-ms 16     # as seen through an FTDI adapter
//   praxon-sim --fault late:0x11:1 --dump flash.bin    # a late Read reply; keep the flash
//   praxon-sim --reset-line dtr --boot0-line rts       # a board the adapter's lines drive
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Simulator.h"

using namespace praxon;
using namespace praxon::sim;

namespace {

const char kUsage[] =
    "Usage: praxon-sim [options]\n"
    "Serves a simulated STM32 system bootloader (USART) on a pseudo-terminal: any chip of the\n"
    "device table (--list), STM32F103 with 64 KB by default.\n"
    "Prints PORT=<path> on its own line first, then CLIENT_ENV=LD_PRELOAD=<library> (empty\n"
    "when the library is missing), then a description; serves until SIGINT or SIGTERM; then\n"
    "writes --dump and the counters (JSON). SIGUSR1 presses the reset button (unwired: BOOT0 is\n"
    "high, the bootloader waits for 0x7F again).\n"
    "On an STM32F10x, Go to SRAM runs the code there on an emulated Cortex-M3 with the flash\n"
    "interface, RCC, USART1, CRC unit, independent watchdog and SysTick: the line is then its\n"
    "USART1's, at the speed its BRR and clocks give; a reset (its own, the watchdog's, a fault\n"
    "under the ROM's vectors) returns to the bootloader; a hang or another fault: silence.\n"
    "The option bytes lie where the family keeps them, decoded as the device table's layouts\n"
    "say: Read Memory reads them; Write Memory to their area, Write Protect (0x63), Write\n"
    "Unprotect (0x73), Readout Protect and Unprotect change them and reset the chip (a client\n"
    "sends 0x7F again). Erase and Write Memory of a write-protected unit are refused (NACK);\n"
    "readout level 2 keeps the bootloader off for good.\n"
    "\n"
    "  --link PATH         also make PATH a symlink to the port (an existing symlink is replaced)\n"
    "  --pid ID            product ID (default 0x410): the chip's memory map, flash-size value,\n"
    "                      bootloader version and commands (Erase 0x43 up to 2.x, Extended\n"
    "                      Erase 0x44 from 3.0), erase units and banks, write unit and alignment,\n"
    "                      erased value and mass erase come from the device table\n"
    "  --list              the product IDs with their family, line, flash, erase units, write\n"
    "                      unit and bootloader version\n"
    "  --flash-kb N        flash size in KB (default: the line's largest; 64 for 0x410), whole\n"
    "                      erase units; STM32F10x: 1 KB pages up to 128 KB, 2 KB pages above\n"
    "  --ram-field V       STM32F10x: the half-word at 0x1FFFF7E2 (default 0xFFFF; some parts\n"
    "                      hold RAM KB there)\n"
    "  --getid FORM        standard: 79 01 PIDhi PIDlo 79 (as on the chip, default);\n"
    "                      four: 79 03 PIDhi PIDlo 00 00 79\n"
    "  --rdp               start with readout protection active (readout level 1)\n"
    "  --hw-watchdog       the option bytes start the independent watchdog at reset (WDG_SW\n"
    "                      or IWDG_SW = 0): code run from SRAM must reload it in time\n"
    "  --option NAME=VALUE set an option-byte field at power-up (repeatable): the names of the\n"
    "                      family's layout (RDP takes the level 0, 1 or 2), e.g. WRP0=0xFE\n"
    "                      write-protects an STM32F103's first 4 KB, nWRP=0xFFE an STM32F4's\n"
    "                      sector 0, WDG_SW=0 as --hw-watchdog; DUALBANK=0 gives a 512 KB\n"
    "                      STM32L476 one bank of pages numbered on (bank options shape the\n"
    "                      erase units and page numbers)\n"
    "  --protected-erase M an erase by page or sector number that includes a write-protected\n"
    "                      one: nack (default) refuses it and erases nothing; skip erases the\n"
    "                      others, leaves the protected ones as they are and answers ACK\n"
    "                      (whole-chip and bank erases of protected flash are refused either way)\n"
    "  --uid HEX           the 96-bit unique ID: 24 hex digits, the bytes as Read Memory\n"
    "                      returns them from the family's unique-ID address (default: random\n"
    "                      at every start); shown in the description\n"
    "  --boards N          serve N boards (1-64, default 1), each on its own pseudo-terminal\n"
    "                      with its own flash, option bytes and unique ID (random ones, or\n"
    "                      --uid counted up by one per board); prints one PORT= line per board\n"
    "                      first. --link PATH becomes PATH-1 ... PATH-N, --dump and --counters\n"
    "                      FILE become FILE-1 ... FILE-N; the other options apply to every\n"
    "                      board; SIGUSR1 resets them all; events name the board\n"
    "  --relaxed-align     accept Write Memory at any address and of any length\n"
    "                      (default: address and length in 4-byte units, in flash in the\n"
    "                      chip's write unit of 4 to 32 bytes, each written once after an\n"
    "                      erase; STM32F0/F1/F3 program half-words, which also take 0x0000\n"
    "                      over anything)\n"
    "  --sync-anytime      a 0x7F arriving while a command is awaited, after >= 100 ms of quiet\n"
    "                      on the line, is taken as a new synchronisation (ACK), as if the\n"
    "                      board had been reset into its bootloader; off by default\n"
    "  --instant           no line pacing and no programming or erase delays (default: the pace\n"
    "                      of the client's speed both ways, 115200 baud until it sets one,\n"
    "                      52.5 us per two bytes programmed, typical erase times kept short:\n"
    "                      30 % of the table's longest, at most 30 ms for the smallest unit\n"
    "                      (pages under 1 KB in proportion, larger sectors likewise) and 1 s for\n"
    "                      the whole flash; an STM32F10x page or mass erase takes 30 ms)\n"
    "  --usb-packet N      put a USB serial adapter between board and host (give both; FTDI:\n"
    "  --usb-latency-ms L  62 and 16): board bytes reach the host in packets of N bytes\n"
    "                      (1-4096), each sent as soon as its last byte finished on the line,\n"
    "                      or, while still partial, L ms (1-1000) after its first byte did\n"
    "                      (the timer starts with that byte; a later reply joins a waiting\n"
    "                      packet). Host bytes are not held; a hangup fault sends a waiting\n"
    "                      packet first. Works with --instant too. Default: off\n"
    "  --reset-line L      wire NRST to the adapter's line L: dtr, rts or none (default)\n"
    "  --reset-inverted    through a transistor: an asserted line drives the pin high\n"
    "  --boot0-line L      wire BOOT0 to dtr, rts or none (default: BOOT0 high)\n"
    "  --boot0-inverted    likewise for BOOT0\n"
    "                      An asserted line is at 0 V: wired direct it pulls its pin low. NRST\n"
    "                      low holds the chip in reset (no answers, input ignored); as it rises,\n"
    "                      BOOT0 high starts the bootloader (waiting for 0x7F), BOOT0 low the\n"
    "                      user program, which answers nothing until the next reset. The board\n"
    "                      powers up with both lines released. A pty has no lines: a client\n"
    "                      sets them through the CLIENT_ENV library (opening the port asserts\n"
    "                      both, the last close releases them as HUPCL says; break holds the\n"
    "                      host's line low). Bytes go at the speed the client set (11 bits a\n"
    "                      byte); the bootloader takes its speed from the 0x7F (1200 baud up)\n"
    "                      and loses bytes sent at any other until the next synchronisation.\n"
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
    "  --ram-noise N       while code run from SRAM owns the line: one byte in N, either way,\n"
    "                      has one bit flipped (parity still right: only a checksum finds it)\n"
    "  --ram-drop N        likewise one byte in N is lost\n"
    "  --reset-after N     the reset button is pressed as the N-th host byte since power-up\n"
    "                      reaches code run from SRAM (the chip restarts as BOOT0 says; the\n"
    "                      code in SRAM is gone)\n"
    "  --fault-seed S      the random source of --ram-noise and --ram-drop (default 1)\n"
    "  --help              this text\n"
    "Events are printed as they happen: 'praxon-sim: go 0x08000000', 'praxon-sim: reset',\n"
    "'praxon-sim: running the user program', 'praxon-sim: held in reset'.\n"
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

bool parseUid(const char* text, std::array<uint8_t, 12>* uid) {
    if (!text || std::strlen(text) != 24) return false;
    for (size_t i = 0; i < 24; ++i) {
        const char c = text[i];
        const int d = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (d < 0) return false;
        (*uid)[i / 2] = uint8_t((i % 2 ? (*uid)[i / 2] : 0) << 4 | d);
    }
    return true;
}

std::string uidText(const std::array<uint8_t, 12>& uid) {
    std::string text;
    char two[3];
    for (uint8_t b : uid) {
        std::snprintf(two, sizeof two, "%02X", b);
        text += two;
    }
    return text;
}

// The next unique ID: the 24 digits counted up by one.
std::array<uint8_t, 12> nextUid(std::array<uint8_t, 12> uid) {
    for (size_t i = uid.size(); i-- > 0;)
        if (++uid[i] != 0) break;
    return uid;
}

std::array<uint8_t, 12> randomUid() {
    std::random_device random;
    std::array<uint8_t, 12> uid{};
    for (uint8_t& b : uid) b = uint8_t(random());
    return uid;
}

// FILE-K for board K of several; FILE for one.
std::string perBoard(const std::string& path, int board, int boards) {
    return boards == 1 || path.empty() ? path : path + "-" + std::to_string(board);
}

bool parseLine(const char* text, Line* line) {
    if (!text) return false;
    const std::string t = text;
    if (t == "dtr" || t == "rts" || t == "none") {
        *line = t == "dtr" ? Line::Dtr : t == "rts" ? Line::Rts : Line::None;
        return true;
    }
    return false;
}

const char* lineName(Line line) {
    return line == Line::Dtr ? "DTR" : line == Line::Rts ? "RTS" : "none";
}

std::string directory(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The lines library beside this program (the build's bin/), or where it is installed relative
// to it; empty when neither is there.
std::string linesLibrary() {
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    const std::string dir = directory(std::string(self, size_t(n)));
    for (const std::string& candidate :
         {dir + "/" PRAXON_LINES_FILE, dir + "/" PRAXON_LINES_FROM_BIN "/" PRAXON_LINES_FILE}) {
        char resolved[PATH_MAX];
        if (access(candidate.c_str(), R_OK) == 0 && realpath(candidate.c_str(), resolved))
            return resolved;
    }
    return {};
}

bool writeFile(const std::string& path, const void* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

// Announces running boards so Praxon's port list can offer them: one file per process,
// ${XDG_RUNTIME_DIR:-/tmp}/praxon-sim/<pid>.port, holding the port paths, one a line. Best
// effort: a board that cannot announce itself still serves, the user just types its path.
class BoardAnnouncement {
public:
    // ports: one a line, each ended by a newline.
    explicit BoardAnnouncement(const std::string& ports) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        struct stat st {};
        std::string dir = (runtime && *runtime && stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
                              ? std::string(runtime)
                              : std::string("/tmp");
        dir += "/praxon-sim";
        mkdir(dir.c_str(), 01777);
        path_ = dir + "/" + std::to_string(getpid()) + ".port";
        if (!writeFile(path_, ports.data(), ports.size())) path_.clear();
    }
    ~BoardAnnouncement() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    BoardAnnouncement(const BoardAnnouncement&) = delete;
    BoardAnnouncement& operator=(const BoardAnnouncement&) = delete;

private:
    std::string path_;
};

std::string sizeText(uint32_t bytes) {
    return bytes % 1024 ? std::to_string(bytes) + " B" : std::to_string(bytes / 1024) + " KB";
}

// "2 KB pages", "4x16 KB, 1x64 KB, 7x128 KB sectors", with the second bank.
std::string unitsText(const Board& board) {
    const auto& units = board.units();
    std::string text;
    for (size_t i = 0; i < units.size();) {
        size_t j = i;
        while (j < units.size() && units[j].size == units[i].size) ++j;
        text += (text.empty() ? "" : ", ") + std::to_string(j - i) + "x" + sizeText(units[i].size);
        i = j;
    }
    const bool pages = units.front().size == units.back().size;
    const char* kind = units.front().size >= 16 * 1024 ? " sectors of " : " pages of ";
    text = pages ? std::to_string(units.size()) + kind + sizeText(units.front().size)
                 : text + " sectors";
    if (board.bank2Offset()) {
        char bank[40];
        std::snprintf(bank, sizeof bank, ", bank 2 at 0x%08X", kFlashBase + board.bank2Offset());
        text += bank;
    }
    return text;
}

void listDevices() {
    std::printf("PID    family     flash    erase units, write unit, bootloader   line\n");
    for (const DeviceRow& d : BuiltInDeviceRows()) {
        BoardConfig c;
        c.pid = d.pid;
        const Board board(c);
        std::printf("0x%03X  %-9s  %-7s  %s; %d B writes; %X.%X%s   %s\n", d.pid, d.family.c_str(),
                    sizeText(board.flashSize()).c_str(), unitsText(board).c_str(), d.writeAlign,
                    d.protocol >> 4, d.protocol & 0xF, d.massErase ? "" : "; no mass erase",
                    d.line.c_str());
    }
    for (const std::string& error : BuiltInDeviceTableErrors())
        std::printf("(a row of the built-in device table did not parse: %s)\n", error.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    SimulatorOptions options;
    std::string preload, dump, countersPath;
    std::array<uint8_t, 12> uid{};
    bool haveUid = false;
    int boards = 1;
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
        } else if (a == "--list") {
            listDevices();
            return 0;
        } else if (a == "--pid") {
            if (!value(&v) || !parseUnsigned(v, 0xFFFF, &n) ||
                !productSizes(static_cast<uint16_t>(n), nullptr, nullptr))
                return usageError("--pid must be a product ID of the device table (--list)");
            options.board.pid = static_cast<uint16_t>(n);
        } else if (a == "--flash-kb") {
            if (!value(&v) || !parseUnsigned(v, 4096, &n) || n == 0)
                return usageError("--flash-kb must be 1 to 4096");
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
        } else if (a == "--hw-watchdog") {
            options.board.hardwareWatchdog = true;
        } else if (a == "--option") {
            if (!value(&v) || !*v) return usageError("--option needs NAME=VALUE");
            options.board.optionEdits.push_back(v);
        } else if (a == "--protected-erase") {
            if (!value(&v) || (std::strcmp(v, "nack") != 0 && std::strcmp(v, "skip") != 0))
                return usageError("--protected-erase must be nack or skip");
            options.board.skipProtectedErase = std::strcmp(v, "skip") == 0;
        } else if (a == "--uid") {
            if (!value(&v) || !parseUid(v, &uid))
                return usageError("--uid must be 24 hex digits (12 bytes)");
            haveUid = true;
        } else if (a == "--boards") {
            if (!value(&v) || !parseUnsigned(v, 64, &n) || n == 0)
                return usageError("--boards must be 1 to 64");
            boards = static_cast<int>(n);
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
        } else if (a == "--ram-noise" || a == "--ram-drop") {
            if (!value(&v) || !parseUnsigned(v, 1000000, &n) || n == 0)
                return usageError(a + " must be 1 to 1000000");
            (a == "--ram-noise" ? options.ramLine.noiseOneIn : options.ramLine.dropOneIn) =
                static_cast<int>(n);
        } else if (a == "--reset-after") {
            if (!value(&v) || !parseUnsigned(v, 1UL << 40, &n) || n == 0)
                return usageError("--reset-after must be a count of bytes from 1");
            options.ramLine.resetAfterBytes = n;
        } else if (a == "--fault-seed") {
            if (!value(&v) || !parseUnsigned(v, 0xFFFFFFFFUL, &n))
                return usageError("--fault-seed must be 0 to 4294967295");
            options.ramLine.seed = static_cast<uint32_t>(n);
        } else if (a == "--reset-line" || a == "--boot0-line") {
            Line line = Line::None;
            if (!value(&v) || !parseLine(v, &line))
                return usageError(a + " must be dtr, rts or none");
            (a == "--reset-line" ? options.board.wiring.reset : options.board.wiring.boot0) = line;
        } else if (a == "--reset-inverted") {
            options.board.wiring.resetInverted = true;
        } else if (a == "--boot0-inverted") {
            options.board.wiring.boot0Inverted = true;
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

    std::string why;
    if (options.board.flashKb > 0 && !flashSizeFits(options.board.pid, options.board.flashKb, &why))
        return usageError("--flash-kb " + std::to_string(options.board.flashKb) + ": " + why);
    if (!options.board.optionEdits.empty() &&
        !checkOptionEdits(options.board.pid, options.board.optionEdits, &why))
        return usageError("--option: " + why);
    if ((options.usbPacket > 0) != (options.usbLatencyMs > 0))
        return usageError("--usb-packet and --usb-latency-ms go together");
    const Wiring& wiring = options.board.wiring;
    if (wiring.reset != Line::None && wiring.reset == wiring.boot0)
        return usageError("NRST and BOOT0 cannot share one line");

    // Signals are taken synchronously by this thread; the server thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::vector<std::unique_ptr<Simulator>> sims;
    std::vector<SimulatorOptions> boardOptions;
    std::vector<uint8_t> image;
    if (!preload.empty()) {
        const uint32_t flashSize = static_cast<uint32_t>(Board(options.board).flashSize());
        if (!loadImageFile(preload, flashSize, &image, &why))
            return usageError("--preload: " + why);
    }
    for (int k = 1; k <= boards; ++k) {
        SimulatorOptions o = options;
        o.linkPath = perBoard(options.linkPath, k, boards);
        o.board.uid = haveUid ? uid : randomUid();
        uid = nextUid(uid);
        boardOptions.push_back(o);
        auto sim = std::make_unique<Simulator>(o);
        if (!preload.empty()) sim->loadFlash(0, image);
        const std::string prefix = boards == 1 ? "" : "board " + std::to_string(k) + ": ";
        sim->setEventHandler([prefix](const std::string& event) {
            std::printf("praxon-sim: %s%s\n", prefix.c_str(), event.c_str());
            std::fflush(stdout);
        });
        std::string error;
        if (!sim->start(&error)) {
            std::fprintf(stderr, "praxon-sim: cannot serve%s: %s\n",
                         boards == 1 ? "" : (" board " + std::to_string(k)).c_str(), error.c_str());
            return 1;
        }
        sims.push_back(std::move(sim));
    }
    const std::string library = linesLibrary();
    for (const auto& sim : sims) std::printf("PORT=%s\n", sim->portPath().c_str());
    std::printf("CLIENT_ENV=%s%s\n", library.empty() ? "" : "LD_PRELOAD=", library.c_str());
    std::string announced;
    for (int k = 0; k < boards; ++k) {
        const SimulatorOptions& o = boardOptions[size_t(k)];
        const Simulator& sim = *sims[size_t(k)];
        const Board probe(o.board);
        const DeviceRow& chip = probe.device();
        std::printf(
            "praxon-sim: %sserving %s %s (PID 0x%03X, %u KB flash, %s, bootloader %X.%X, unique "
            "ID %s) on %s%s%s\n",
            boards == 1 ? "" : ("board " + std::to_string(k + 1) + ": ").c_str(),
            chip.family.c_str(), chip.line.c_str(), o.board.pid, probe.flashSize() / 1024,
            unitsText(probe).c_str(), chip.protocol >> 4, chip.protocol & 0xF,
            uidText(*o.board.uid).c_str(), sim.portPath().c_str(), o.linkPath.empty() ? "" : " as ",
            o.linkPath.c_str());
        announced += (o.linkPath.empty() ? sim.portPath() : o.linkPath) + "\n";
    }
    if (wiring.any()) {
        const Board probe(options.board);
        auto pin = [](Line line, bool inverted) {
            return std::string(lineName(line)) + (line == Line::None ? ""
                                                  : inverted         ? " (inverted)"
                                                                     : " (direct)");
        };
        const char* start = probe.state() == Board::State::Held      ? "held in reset"
                            : probe.state() == Board::State::Running ? "running the user program"
                                                                     : "in the bootloader";
        std::printf("praxon-sim: NRST on %s, BOOT0 on %s; with the port closed the chip is %s\n",
                    pin(wiring.reset, wiring.resetInverted).c_str(),
                    pin(wiring.boot0, wiring.boot0Inverted).c_str(), start);
    }
    std::fflush(stdout);

    // One file for the process: the boards' ports, one a line.
    BoardAnnouncement announcement(announced);
    for (;;) {
        timespec tick{0, 100'000'000};
        int sig = sigtimedwait(&signals, nullptr, &tick);
        if (sig == SIGINT || sig == SIGTERM) break;
        if (sig == SIGUSR1)
            for (auto& sim : sims) sim->reset();
        // Serves while any board does (a hangup fault ends one board).
        if (std::none_of(sims.begin(), sims.end(), [](const auto& s) { return s->serving(); }))
            break;
    }
    for (auto& sim : sims) sim->stop();

    int status = 0;
    for (int k = 1; k <= boards; ++k) {
        Simulator& sim = *sims[size_t(k - 1)];
        const std::string dumpPath = perBoard(dump, k, boards);
        if (!dumpPath.empty()) {
            const std::vector<uint8_t> flash = sim.flashImage();
            if (!writeFile(dumpPath, flash.data(), flash.size())) {
                std::fprintf(stderr, "praxon-sim: cannot write %s: %s\n", dumpPath.c_str(),
                             std::strerror(errno));
                status = 1;
            }
        }
        const std::string json = sim.countersJson();
        const std::string countersFile = perBoard(countersPath, k, boards);
        if (countersFile.empty()) {
            std::fputs(json.c_str(), stdout);
        } else if (!writeFile(countersFile, json.data(), json.size())) {
            std::fprintf(stderr, "praxon-sim: cannot write %s: %s\n", countersFile.c_str(),
                         std::strerror(errno));
            status = 1;
        }
    }
    std::fflush(stdout);
    return status;
}
