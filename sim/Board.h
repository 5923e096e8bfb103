// Protocol model of the STM32F10x system bootloader (USART protocol v2.2), without any I/O.
// Bytes go in one at a time with the time they arrived; timed reply bytes come out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace praxon::sim {

constexpr uint8_t kAck = 0x79;
constexpr uint8_t kNack = 0x1F;
constexpr uint8_t kSync = 0x7F;

constexpr uint32_t kFlashBase = 0x08000000;
constexpr uint32_t kSramBase = 0x20000000;
constexpr uint32_t kSramBootloaderBytes = 0x200;  // used by the bootloader itself: no writes
constexpr uint32_t kSystemBase = 0x1FFFF000;
constexpr uint32_t kSystemEnd = 0x1FFFF800;  // exclusive
constexpr uint32_t kFlashSizeAddress = 0x1FFFF7E0;
constexpr uint32_t kRamFieldAddress = 0x1FFFF7E2;
constexpr uint32_t kUniqueIdAddress = 0x1FFFF7E8;
constexpr uint32_t kOptionBase = 0x1FFFF800;
constexpr uint32_t kOptionEnd = 0x1FFFF810;  // exclusive

// One line byte at 115200 baud, 8E1: 11 bits.
constexpr int64_t kByteTimeNs = 11'000'000'000LL / 115200;  // 95486 ns
// The same at another speed.
constexpr int64_t byteTimeNs(int baud) {
    return 11'000'000'000LL / (baud > 0 ? baud : 115200);
}
// The bootloader's autobaud measures a 0x7F at any speed from this one up.
constexpr int kMinAutobaud = 1200;

// A modem line of the host's serial adapter, and how the board's NRST and BOOT0 pins hang on
// them. An asserted line is at 0 V: wired direct it pulls its pin low, wired inverted (through
// a transistor) it drives the pin high. An unwired NRST stays high (the reset button aside), an
// unwired BOOT0 high (the jumper set for the bootloader).
enum class Line { None, Dtr, Rts };
struct Wiring {
    Line reset = Line::None;
    bool resetInverted = false;
    Line boot0 = Line::None;
    bool boot0Inverted = false;
    bool any() const { return reset != Line::None || boot0 != Line::None; }
};

enum class FaultKind { Nack, Silent, Late, Short, Change, Burst, Garbage, Hangup };

// A misbehaviour on request. `command` is the command byte (0x7F: the synchronisation),
// `occurrence` which one of them (1-based, 0 = every one), `step` which reply of the
// transaction: 1 = to the command frame, 2 = to the second frame (address, erase code, Go
// address; the second ACK of the protect/unprotect commands), 3 = to the third frame (Write
// data, Read count with its data).
struct Fault {
    FaultKind kind = FaultKind::Nack;
    uint8_t command = 0;
    unsigned occurrence = 1;
    unsigned step = 1;
};

// Parses KIND:CMD:K[:STEP], e.g. "nack:0x31:2:3". Returns false with a message on error.
bool parseFault(const std::string& text, Fault* fault, std::string* error);
std::string faultKindName(FaultKind kind);

constexpr int64_t kLateReplyNs = 700'000'000;  // past the host's 0.5 s limit
constexpr size_t kBurstBytes = 300;            // more than a 259-byte receive buffer

struct BoardConfig {
    uint16_t pid = 0x410;
    int flashKb = 0;                // 0: the usual size for the product ID
    bool fourByteGetId = false;     // Get ID answers 79 03 PIDhi PIDlo 00 00 79
    uint16_t ramField = 0xFFFF;     // half-word at 0x1FFFF7E2
    bool relaxedAlign = false;      // accept Write Memory of any address and length
    bool syncAnytime = false;       // 0x7F after >= 100 ms of quiet resynchronises
    bool readoutProtected = false;  // start with readout protection active
    int64_t halfWordProgramNs = 52'500;
    int64_t pageEraseNs = 30'000'000;
    int64_t massEraseNs = 30'000'000;
    int64_t optionProgramNs = 30'000'000;  // option-byte erase and program
    std::vector<Fault> faults;
    Wiring wiring;  // the board starts with both lines released (no port open)
};

// Usual flash and SRAM sizes (KB) of each supported product ID; false for an unknown ID.
bool productSizes(uint16_t pid, int* flashKb, int* ramKb);

struct Counters {
    uint64_t syncs = 0;
    uint64_t commands = 0;  // command frames with a correct complement
    std::map<uint8_t, uint64_t> perCommand;
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;  // bytes actually put on the line (after faults)
    uint64_t acks = 0;      // protocol ACKs and NACKs as the bootloader decided them
    uint64_t nacks = 0;
    uint64_t writeBytes = 0;  // bytes stored by accepted Write Memory frames
    uint64_t readBytes = 0;   // bytes sent by Read Memory
    uint64_t massErases = 0;
    uint64_t pageErases = 0;
    uint64_t optionWrites = 0;
    uint64_t programTimeNs = 0;         // modelled half-word programming time
    uint64_t eraseTimeNs = 0;           // modelled erase time (pages, mass, option bytes)
    std::optional<uint32_t> goAddress;  // last Go target
    uint64_t resets = 0;
};

std::string countersToJson(const Counters& c);

class Board {
public:
    // One piece of output: wait delayNs after the previous piece (the first: after the byte
    // that caused it was received), then put the bytes on the line. hangup: drop the line.
    struct Emit {
        int64_t delayNs = 0;       // modelled chip work (programming, erasing)
        int64_t faultDelayNs = 0;  // a late reply on request: kept even in instant mode
        std::vector<uint8_t> bytes;
        bool hangup = false;
    };
    using Output = std::vector<Emit>;

    enum class State {
        WaitSync,  // after reset: only 0x7F is answered
        // The user program runs (after Go or a reset with BOOT0 low). A board with no lines wired
        // takes a 0x7F as a reset with BOOT0 high; a wired one answers nothing until reset.
        Running,
        Held,  // NRST is low: the chip is in reset, it neither answers nor listens
        WaitCommand,
        WaitComplement,
        WaitAddress,
        WaitReadCount,
        WaitWriteData,
        WaitEraseCode,
        WaitEraseGlobalChecksum,
        WaitErasePages,
        WaitProtectSectors,
        HungUp,
    };

    explicit Board(const BoardConfig& config = {});

    // Feeds one byte received at nowNs (any monotonic time base), sent by the host at baud.
    // Synchronising measures the host's speed; bytes at another speed are lost until the next.
    Output feed(uint8_t byte, int64_t nowNs, int baud = 115200);

    // Pressing the reset button: unless the wiring holds NRST low, the chip restarts as BOOT0
    // says (an unwired board: the bootloader waits for 0x7F).
    void reset();
    // The host's modem lines (asserted or not) through the wiring. NRST going low holds the chip
    // in reset; at its release the chip starts as BOOT0 is then. Both lines change at once.
    void setLines(bool dtrAsserted, bool rtsAsserted);
    bool nrstHigh() const { return nrstHigh_; }
    bool boot0High() const { return boot0High_; }

    void setFaults(const std::vector<Fault>& faults);
    State state() const { return state_; }
    bool readoutProtected() const { return rdp_; }
    bool pageWriteProtected(unsigned page) const;
    uint32_t flashSize() const { return static_cast<uint32_t>(flash_.size()); }
    uint32_t pageSize() const { return pageSize_; }
    uint32_t ramSize() const { return static_cast<uint32_t>(ram_.size()); }
    uint16_t pid() const { return config_.pid; }
    const std::vector<uint8_t>& flash() const { return flash_; }
    // Stores bytes into flash directly (preloading), clipped to the flash size.
    void loadFlash(uint32_t offset, const uint8_t* data, size_t size);
    // Reads any mapped byte as Read Memory would (no protection check); nullopt if unmapped.
    std::optional<uint8_t> peek(uint32_t address) const;
    const Counters& counters() const { return counters_; }
    // Notable happenings since the last call ("go 0x08000000", "reset", "hangup", ...).
    std::vector<std::string> takeEvents();

private:
    enum class Area { None, Flash, Sram, System, Option };
    Area areaOf(uint32_t address, uint32_t* end) const;
    void beginCommand(uint8_t command);
    Output dispatch(uint8_t command);
    Output onAddress();
    Output onReadCount();
    Output onWriteData();
    Output onErasePages();
    Output onProtectSectors();
    Output protectionChange(uint8_t command);
    Output ackStep(unsigned step, std::vector<uint8_t> bytes, int64_t delayNs = 0);
    Output nack(unsigned step, int64_t delayNs = 0);
    bool nackFault(unsigned step) const;
    void countReply(const std::vector<uint8_t>& bytes);
    void doReset();
    bool pinHigh(Line line, bool inverted) const;
    void massErase();
    bool anyWriteProtection() const;
    unsigned sectorOfPage(unsigned page) const;
    unsigned sectorCount() const;
    void syncOptionBytes();

    BoardConfig config_;
    State state_ = State::WaitSync;
    std::vector<uint8_t> flash_;
    std::vector<uint8_t> ram_;
    std::vector<uint8_t> system_;
    uint8_t option_[16] = {};
    uint32_t pageSize_ = 1024;
    bool rdp_ = false;
    uint32_t wrp_ = 0xFFFFFFFF;  // one bit per sector, 0 = protected (as in the option bytes)

    // Transaction in progress.
    uint8_t command_ = 0;
    unsigned occurrence_ = 0;
    std::map<uint8_t, unsigned> occurrences_;
    std::vector<uint8_t> frame_;
    size_t frameLength_ = 0;
    uint32_t address_ = 0;
    int64_t lastByteNs_ = 0;
    bool haveLastByte_ = false;
    uint32_t garbageSeed_ = 0x1234567;
    int baud_ = 115200;  // as measured by the last synchronisation

    bool dtr_ = false, rts_ = false;  // asserted
    bool nrstHigh_ = true;
    bool boot0High_ = true;

    Counters counters_;
    std::vector<std::string> events_;
};

}  // namespace praxon::sim
