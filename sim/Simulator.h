// A simulated STM32 in its system bootloader (any chip of the device table), served on a POSIX
// pseudo-terminal.
//
//   praxon::sim::SimulatorOptions o;        // o.board.pid, o.board.flashKb, o.instant, ...
//   praxon::sim::Simulator sim(o);
//   std::string err;
//   if (!sim.start(&err)) ...;               // creates the pty, serves in its own thread
//   open(sim.portPath()) ...                 // the client side (raw, no echo already set)
//   sim.flashImage(); sim.counters(); sim.stop();
//
// The host's DTR, RTS and break reach the board through libpraxon-lines.so in the client (a pty
// has no modem lines): the simulator listens for it on a socket named after its pty (see
// LineProtocol.h) and drives the board's NRST and BOOT0 as options.board.wiring says. Bytes go
// at the speed the client set on the port.
//
// Go to SRAM on an STM32F10x runs the code there on an emulated Cortex-M3 (CortexM.h): host
// bytes go to its USART1, what that sends comes back, and a reset returns to the bootloader.
//
// All public members are thread-safe. The library never prints and never exits.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Board.h"
#include "CortexM.h"

namespace praxon::sim {

// Faults of the line while code started in SRAM owns it (the turbo loader's phase), drawn from a
// random source seeded with `seed`: one byte in noiseOneIn, either way, has one bit flipped (its
// parity still right, so only a checksum finds it); one in dropOneIn is lost; the reset button is
// pressed as the resetAfterBytes-th host byte since power-up reaches code in SRAM. 0: off.
struct RamLineFaults {
    int noiseOneIn = 0;
    int dropOneIn = 0;
    uint64_t resetAfterBytes = 0;
    uint32_t seed = 1;
};

struct SimulatorOptions {
    BoardConfig board;     // product ID, flash size, Get ID form, faults, ...
    bool instant = false;  // no line pacing and no programming/erase delays
    std::string linkPath;  // if set: a symlink to the pty slave (replaced if it is a symlink)
    // A USB serial adapter between board and host (both > 0 to enable, e.g. FTDI: 62 and 16):
    // board bytes reach the host in packets of usbPacket bytes, sent as soon as one is full, or
    // usbLatencyMs after the first byte of a partial packet finished on the line (instant mode
    // too). Host bytes are not held.
    int usbPacket = 0;
    int usbLatencyMs = 0;
    RamLineFaults ramLine;
};

class Simulator {
public:
    explicit Simulator(const SimulatorOptions& options = {});
    ~Simulator();  // stops
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Creates the pseudo-terminal and starts serving. False with a message on failure.
    bool start(std::string* error);
    // Path of the pty slave (e.g. /dev/pts/5); empty before start().
    std::string portPath() const;
    // Stops serving, closes the pty and removes the link. Safe to call twice.
    void stop();
    // True while the line is served (false before start, after stop or after a hangup fault).
    bool serving() const;

    // Presses the reset button: drops queued output; the chip restarts as BOOT0 says (unwired:
    // the bootloader waits for 0x7F), unless the wiring holds it in reset.
    void reset();
    void setFaults(const std::vector<Fault>& faults);

    std::vector<uint8_t> flashImage() const;
    void loadFlash(uint32_t offset, const std::vector<uint8_t>& data);
    bool readoutProtected() const;
    Board::State state() const;
    // The host's lines as the last client set them (asserted, on).
    struct Lines {
        bool dtr = false;
        bool rts = false;
        bool brk = false;
    };
    Lines lines() const;
    Counters counters() const;
    std::string countersJson() const;

    // Called from the server thread (outside its lock) for notable happenings:
    // "go 0x08000000", "reset", "running the user program", "held in reset", "hangup". Set
    // before start().
    void setEventHandler(std::function<void(const std::string&)> handler);

private:
    struct Pending {
        int64_t releaseNs;
        uint8_t byte;
        bool hangup;
    };
    // A connection from the lines library: identified once it named our pty; holding the port
    // open when it came from the client's open().
    struct LineClient {
        int fd = -1;
        bool identified = false;
        bool holdsOpen = false;
    };
    void run();
    void resetLocked();
    // Applies the noise and drop faults to a byte of the SRAM code's line; false: it is lost.
    bool passRamLineByte(uint8_t* byte);
    int64_t stepCpu(int64_t nowNs);
    void takeHostBytes();
    void dropOutput();
    bool serveLineClient(LineClient& client);
    std::string lineRequest(LineClient& client, const std::string& text);
    void setLines(const Lines& lines);
    void acceptLineClients();
    void wake();
    void closeLine();
    void schedule(const Board::Output& out, int64_t processNs);
    void packByte(int64_t onLineNs);
    void flushPacket(int64_t atNs);
    bool holdLineForFlush(int64_t nowNs);

    SimulatorOptions options_;
    mutable std::mutex mutex_;
    Board board_;
    // Code that Go started in SRAM (STM32F10x), while the board is in State::RamCode.
    std::unique_ptr<CortexM> cpu_;
    std::vector<Pending> queue_;  // sorted by release time
    size_t queueHead_ = 0;
    int64_t lastArrivalNs_ = 0;
    int64_t busyUntilNs_ = 0;
    int64_t lineFreeNs_ = 0;
    // The adapter's packet being filled: queue_ entries from packetStart_ on (none if
    // packetBytes_ is 0), its latency timer started at packetFirstNs_.
    size_t packetStart_ = 0;
    size_t packetBytes_ = 0;
    int64_t packetFirstNs_ = 0;
    int64_t flushHoldUntilNs_ = -1;  // closing the line waits for the host until then
    int64_t flushHoldFromNs_ = 0;
    int master_ = -1;
    int slave_ = -1;
    int listen_ = -1;
    uint64_t ptyDev_ = 0, ptyRdev_ = 0;
    std::vector<LineClient> lineClients_;  // server thread only
    Lines lines_;
    int openCount_ = 0;             // connections holding the port open
    int64_t byteNs_ = kByteTimeNs;  // one byte at the client's speed
    int hostBaud_ = kDefaultLineSpeed;
    int wakePipe_[2] = {-1, -1};
    std::string portPath_;
    bool linkMade_ = false;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> serving_{false};
    std::function<void(const std::string&)> onEvent_;
    std::mt19937 lineRandom_;
    uint64_t ramHostBytes_ = 0;  // host bytes that reached code in SRAM
    Counters lineFaults_;        // only the line-fault counts are used
};

// Loads a raw binary image or an Intel HEX file (chosen by content: HEX starts with ':')
// into flash bytes relative to 0x08000000, bytes between records 0xFF. HEX files are read by
// praxon's own reader, with its rules (an end record, no two values for one address).
// HEX addresses below the flash size are taken as flash offsets too. False with a message on
// error.
bool loadImageFile(const std::string& path, uint32_t flashSize, std::vector<uint8_t>* image,
                   std::string* error);

// The output speed set on a terminal in baud (custom speeds too): 0 for B0, -1 on error.
int ttyBaud(int fd);

}  // namespace praxon::sim
