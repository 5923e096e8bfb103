// Protocol model of an STM32 system bootloader on its USART, without any I/O: every chip of the
// device table (DeviceTable.h) by its product ID. Bytes go in one at a time with the time they
// arrived; timed reply bytes come out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "DeviceTable.h"
#include "LineSpeeds.h"
#include "OptionBytes.h"

namespace praxon::sim {

constexpr uint8_t kAck = 0x79;
constexpr uint8_t kNack = 0x1F;
constexpr uint8_t kSync = 0x7F;

constexpr uint32_t kFlashBase = 0x08000000;

// One line byte at the clients' default speed (115200 baud), 8E1: 11 bits.
constexpr int64_t kByteTimeNs = 11'000'000'000LL / kDefaultLineSpeed;  // 95486 ns
// The same at another speed.
constexpr int64_t byteTimeNs(int baud) {
    return 11'000'000'000LL / (baud > 0 ? baud : kDefaultLineSpeed);
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
    uint16_t pid = 0x410;           // a product ID of the device table
    int flashKb = 0;                // 0: the usual size for the product ID
    bool fourByteGetId = false;     // Get ID answers 79 03 PIDhi PIDlo 00 00 79
    uint16_t ramField = 0xFFFF;     // STM32F10x: the half-word after the flash size (0x1FFFF7E2)
    bool relaxedAlign = false;      // accept Write Memory of any address and length
    bool syncAnytime = false;       // 0x7F after >= 100 ms of quiet resynchronises
    bool readoutProtected = false;  // start with readout protection active
    int64_t halfWordProgramNs = 52'500;  // programming time of every two bytes
    // Erase times; -1: the family's typical times (see Board::unitEraseNs).
    int64_t pageEraseNs = -1;  // the smallest erase unit; larger ones in proportion
    int64_t massEraseNs = -1;
    int64_t optionProgramNs = 30'000'000;  // option-byte erase and program
    // Go to SRAM starts code on an emulated core (the simulator runs it; see CortexM.h) instead
    // of leaving the bootloader for a program nobody runs.
    bool runRamCode = false;
    // The option bytes' WDG_SW (IWDG_SW) bit at 0: the independent watchdog runs from reset on.
    bool hardwareWatchdog = false;
    // The 96-bit unique ID as its bytes lie in memory (word 0 first, each little-endian);
    // none: "PraxonSim", a zero and the product ID.
    std::optional<std::array<uint8_t, 12>> uid;
    // Erase by unit number leaves write-protected units as they are and still answers ACK, as
    // ST's application note for the protocol has it (default: NACK and nothing erased, as users
    // of the chips report).
    bool skipProtectedErase = false;
    // Option-byte edits at power-up, NAME=VALUE as EncodeOptionEdits takes them ("WRP0=0xFE").
    std::vector<std::string> optionEdits;
    std::vector<Fault> faults;
    Wiring wiring;  // the board starts with both lines released (no port open)
};

// Whether the edits suit the chip's option bytes; false with the reason.
bool checkOptionEdits(uint16_t pid, const std::vector<std::string>& edits, std::string* why);

// Usual flash and SRAM sizes (KB) of a product ID of the device table; false for an unknown ID.
bool productSizes(uint16_t pid, int* flashKb, int* ramKb);
// Whether a chip with that product ID can have flashKb of flash (whole erase units); false with
// the reason.
bool flashSizeFits(uint16_t pid, int flashKb, std::string* why);

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
    uint64_t bankErases = 0;
    uint64_t pageErases = 0;  // erase units (pages or sectors)
    uint64_t optionWrites = 0;
    uint64_t programTimeNs = 0;         // modelled programming time
    uint64_t eraseTimeNs = 0;           // modelled erase time (pages, mass, option bytes)
    std::optional<uint32_t> goAddress;  // last Go target
    uint64_t resets = 0;
    // Line faults while code from SRAM owns the line (SimulatorOptions::ramLine).
    uint64_t noisyBytes = 0;    // a bit flipped
    uint64_t droppedBytes = 0;  // lost
    uint64_t faultResets = 0;   // the reset button pressed after a count of host bytes
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
        WaitExtendedErase,  // the count or special code, then the unit numbers and checksum
        WaitProtectSectors,
        HungUp,
        // Code started by Go in SRAM runs on the emulated core: the line belongs to its USART.
        RamCode,
    };

    explicit Board(const BoardConfig& config = {});

    // Feeds one byte received at nowNs (any monotonic time base), sent by the host at baud.
    // Synchronising measures the host's speed; bytes at another speed are lost until the next.
    Output feed(uint8_t byte, int64_t nowNs, int baud = kDefaultLineSpeed);

    // Pressing the reset button: unless the wiring holds NRST low, the chip restarts as BOOT0
    // says (an unwired board: the bootloader waits for 0x7F).
    void reset();
    // The host's modem lines (asserted or not) through the wiring. NRST going low holds the chip
    // in reset; at its release the chip starts as BOOT0 is then. Both lines change at once.
    void setLines(bool dtrAsserted, bool rtsAsserted);
    bool boot0High() const { return boot0High_; }

    void setFaults(const std::vector<Fault>& faults);
    State state() const { return state_; }
    bool readoutProtected() const { return rdp_; }
    bool pageWriteProtected(unsigned page) const;  // page: an erase unit's index
    // The option bytes as a Read Memory of their area returns them, and the layout that decodes
    // them (the family's, else F0's as a stand-in); empty when the chip maps none.
    const std::vector<uint8_t>& optionBytes() const { return option_; }
    const OptionLayout* optionLayout() const { return layout_; }
    // As the option bytes say at the last reset: the independent watchdog starts with the chip.
    bool hardwareWatchdog() const { return hardwareWatchdog_; }
    const std::array<uint8_t, 12>& uniqueId() const { return uid_; }
    uint32_t flashSize() const { return static_cast<uint32_t>(flash_.size()); }
    // The erase units (pages or sectors) in address order: offset in the flash and size.
    struct Unit {
        uint32_t offset;
        uint32_t size;
    };
    const std::vector<Unit>& units() const { return units_; }
    uint32_t pageSize() const { return units_.front().size; }  // the first unit's
    uint32_t bank2Offset() const { return bank2_; }            // 0: one bank
    // The chip's typical erase time of unit index and of the whole flash (in instant mode too: the
    // simulator leaves the delays out).
    int64_t unitEraseNs(size_t index) const;
    int64_t massEraseNs() const;
    uint16_t pid() const { return config_.pid; }
    const DeviceRow& device() const { return device_; }
    const std::vector<uint8_t>& flash() const { return flash_; }
    // Stores bytes into flash directly (preloading), clipped to the flash size.
    void loadFlash(uint32_t offset, const uint8_t* data, size_t size);
    // Reads any mapped byte as Read Memory would (no protection check); nullopt if unmapped.
    std::optional<uint8_t> peek(uint32_t address) const;
    const Counters& counters() const { return counters_; }
    // The host's speed the last synchronisation measured (the ROM sets its USART to it).
    int lineBaud() const { return baud_; }
    int64_t halfWordProgramNs() const { return config_.halfWordProgramNs; }
    // The SRAM block at 0x20000000 (what Write Memory put there), for code that runs from it.
    uint8_t* sram(uint32_t* size);
    // The chip resets from inside (system reset request, watchdog, the ROM's fault handler):
    // the bootloader starts again as BOOT0 says, SRAM keeps its contents.
    void systemReset(const std::string& why);
    // Code running from SRAM jumped into flash: the user program runs.
    void startUserProgram();
    void addEvent(const std::string& text) { events_.push_back(text); }
    // Notable happenings since the last call ("go 0x08000000", "reset", "hangup", ...).
    std::vector<std::string> takeEvents();

private:
    enum class Area { None, Flash, Sram, System, Info, Option };
    // A RAM region: from base, the bootloader keeps everything below usable for itself.
    struct Ram {
        uint32_t base;
        uint32_t usable;
        std::vector<uint8_t> bytes;
    };
    Area areaOf(uint32_t address, uint32_t* end, Ram** ram = nullptr) const;
    void beginCommand(uint8_t command);
    Output dispatch(uint8_t command);
    Output onAddress();
    Output onReadCount();
    Output onWriteData();
    Output onErasePages();
    Output onExtendedErase();
    Output eraseUnits(const std::vector<uint32_t>& units, unsigned step);
    Output onProtectSectors();
    Output protectionChange(uint8_t command);
    Output ackStep(unsigned step, std::vector<uint8_t> bytes, int64_t delayNs = 0);
    Output nack(unsigned step, int64_t delayNs = 0);
    bool nackFault(unsigned step) const;
    void countReply(const std::vector<uint8_t>& bytes);
    void doReset();
    bool pinHigh(Line line, bool inverted) const;
    void buildMemory();
    void eraseRange(uint32_t offset, uint32_t size);
    void massErase();
    bool anyWriteProtection(size_t firstUnit, size_t endUnit) const;
    std::vector<FlashUnit> flashUnits() const;
    void syncOptionBytes();
    void applyBankLayout();
    size_t unitOfNumber(uint32_t number) const;
    void setOption(const char* name, uint32_t value);
    void clearWriteProtection();
    uint8_t* mappedByte(uint32_t address);

    BoardConfig config_;
    DeviceRow device_;
    State state_ = State::WaitSync;
    std::vector<uint8_t> flash_;
    std::vector<Unit> units_;
    uint32_t bank2_ = 0;
    uint32_t bank2Number_ = 0;   // what the erase calls bank 2's first unit; 0: numbered on
    bool halfWords_ = false;     // STM32F0/F1/F3: half-word flash, 0x0000 may go over anything
    std::vector<bool> written_;  // other flash: each write unit (align bytes) once after erase
    std::vector<Ram> ram_;
    uint32_t systemBase_ = 0;
    std::vector<uint8_t> system_;
    uint32_t infoBase_ = 0;  // the flash-size value's block when it lies away from system memory
    std::vector<uint8_t> info_;
    uint32_t optionBase_ = 0;  // 0: none mapped
    const OptionLayout* layout_ = nullptr;
    std::vector<uint8_t> option_;  // as the chip keeps them, complements included
    // What the option bytes said at the last reset.
    bool rdp_ = false;
    bool rdpLevel2_ = false;
    bool hardwareWatchdog_ = false;
    std::vector<bool> protected_;  // per erase unit
    std::array<uint8_t, 12> uid_{};

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
    int baud_ = kDefaultLineSpeed;  // as measured by the last synchronisation

    bool dtr_ = false, rts_ = false;  // asserted
    bool nrstHigh_ = true;
    bool boot0High_ = true;

    Counters counters_;
    std::vector<std::string> events_;
};

}  // namespace praxon::sim
