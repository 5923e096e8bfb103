#include "CortexM.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <deque>
#include <limits>
#include <map>

#include "Board.h"

// Unicorn 2.0.1 (Debian 12) sends every guest write to a 1 KB page that holds translated code
// through a slow path that allocates and frees a tree of the pages to lock, although its page
// locks do nothing. The loader's stack and state share pages with its code, so that path took
// about five sixths of the emulator's time, and the core fell behind the line at 921600 baud.
// These two functions replace the library's exported ones (the program's own definitions win):
// no collection, as later Unicorn releases do it themselves. The translated code of a written
// range is still invalidated (tb_invalidate_phys_page_fast only passes the collection on);
// tests/tst_cortexm.cpp runs code that rewrites itself. From Unicorn 2.1 on these functions are
// internal to the library, and these definitions go unused.
extern "C" {
void* page_collection_lock_arm(void*, uint64_t, uint64_t) {
    return nullptr;
}
void page_collection_unlock_arm(void*) {}
}

namespace praxon::sim {

namespace {

constexpr int64_t kPsPerSecond = 1'000'000'000'000;
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

// Clocks of the simulated board: the internal RC oscillators only (no crystal is fitted).
constexpr uint32_t kHsiHz = 8'000'000;
constexpr uint32_t kLsiHz = 40'000;
constexpr int64_t kPllLockPs = 200'000'000;  // PLL lock time, 200 us
// The chip counts as hung when it neither touched its USART nor started or finished a flash
// operation for this long.
constexpr int64_t kHangPs = 2 * kPsPerSecond;
// Reads of unchanged registers in a row before a polling loop may jump to the next happening.
constexpr int kFruitlessPolls = 8;
// A receiver samples each bit in its middle: more than this much speed difference between the
// two ends of the line garbles the frame.
constexpr double kBaudTolerance = 0.03;

// The memory map.
constexpr uint32_t kAliasSize = 0x1000;  // boot from system memory: aliased at 0
constexpr uint32_t kSystemWindow = 0x1FFFF000, kSystemWindowSize = 0x1000;
constexpr uint32_t kSramBase = 0x20000000;
constexpr uint32_t kPeriphBase = 0x40000000, kPeriphSize = 0x30000;
constexpr uint32_t kPpbBase = 0xE0000000, kPpbSize = 0x100000;

constexpr uint32_t kIwdg = 0x40003000, kAfio = 0x40010000, kGpioa = 0x40010800,
                   kUsart1 = 0x40013800, kRcc = 0x40021000, kFlashIf = 0x40022000,
                   kCrc = 0x40023000;
constexpr uint32_t kSysTick = 0xE000E010, kScb = 0xE000ED00, kDbgmcu = 0xE0042000;

// RCC bits.
constexpr uint32_t kHsiOn = 1u << 0, kHsiRdy = 1u << 1, kHseOn = 1u << 16, kPllOn = 1u << 24,
                   kPllRdy = 1u << 25;
constexpr uint32_t kAhbCrc = 1u << 6, kApb2Afio = 1u << 0, kApb2Gpioa = 1u << 2,
                   kApb2Usart1 = 1u << 14;
// Flash interface bits.
constexpr uint32_t kSrBsy = 1u << 0, kSrPgErr = 1u << 2, kSrWrpErr = 1u << 4, kSrEop = 1u << 5;
constexpr uint32_t kCrPg = 1u << 0, kCrPer = 1u << 1, kCrMer = 1u << 2, kCrStrt = 1u << 6,
                   kCrLock = 1u << 7;
constexpr uint32_t kKey1 = 0x45670123, kKey2 = 0xCDEF89AB;
// USART bits.
constexpr uint32_t kPe = 1u << 0, kFe = 1u << 1, kNe = 1u << 2, kOre = 1u << 3, kRxne = 1u << 5,
                   kTc = 1u << 6, kTxe = 1u << 7;
constexpr uint32_t kRe = 1u << 2, kTe = 1u << 3, kPs = 1u << 9, kPce = 1u << 10, kM = 1u << 12,
                   kUe = 1u << 13;

std::string hex32(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

int64_t psOfCycles(uint64_t cycles, uint32_t hz) {
    return int64_t(static_cast<__int128>(cycles) * kPsPerSecond / hz);
}

// CRC unit: polynomial 0x04C11DB7, a 32-bit word at a time, most significant bit first.
uint32_t crcWord(uint32_t crc, uint32_t word) {
    crc ^= word;
    for (int i = 0; i < 32; ++i) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    return crc;
}

int parityOf(uint32_t v) {
    return __builtin_popcount(v) & 1;
}

// A USART frame as CR1/CR2 set it: start bit, dataBits (the parity bit, when on, is the last of
// them), stop bits.
struct FrameFormat {
    int dataBits = 9;
    bool parity = true;
    bool odd = false;
    double stopBits = 1;
    double bits() const { return 1 + dataBits + stopBits; }
};

// The word on the line for a byte: with parity on, its last data bit is replaced by the parity;
// a 9-bit frame without parity carries the even parity of the host's 8E1 byte there.
uint32_t lineWord(uint32_t data, const FrameFormat& f) {
    const uint32_t dataMask = (1u << (f.dataBits - 1)) - 1;  // the bits below the last
    if (f.parity) {
        const uint32_t d = data & dataMask;
        return d | uint32_t(parityOf(d) ^ f.odd) << (f.dataBits - 1);
    }
    if (f.dataBits == 9) return (data & 0xFF) | uint32_t(parityOf(data & 0xFF)) << 8;
    return data & ((1u << f.dataBits) - 1);
}

// The receiving end samples the middle of each of its bit times; the sender's bits last
// sendBitPs each, the receiver's receiveBitPs. Returns the data bits; sets FE for a stop bit
// found low, PE for wrong parity.
uint32_t sampleFrame(uint32_t word, const FrameFormat& f, double sendBitPs, double receiveBitPs,
                     uint32_t* errors) {
    auto level = [&](double t) {
        const int64_t bit = int64_t(t / sendBitPs);
        if (bit == 0) return 0;  // start bit
        if (bit >= 1 && bit <= f.dataBits) return int((word >> (bit - 1)) & 1);
        return 1;  // stop bits, then the idle line
    };
    uint32_t value = 0;
    for (int k = 1; k <= f.dataBits; ++k)
        value |= uint32_t(level((k + 0.5) * receiveBitPs)) << (k - 1);
    if (level((f.dataBits + 1.5) * receiveBitPs) == 0) *errors |= kFe;
    if (f.parity && (parityOf(value) ^ f.odd) != 0) *errors |= kPe;
    return value;
}

}  // namespace

struct CortexM::Impl {
    explicit Impl(Board& b) : board(b) {}

    Board& board;
    uc_engine* uc = nullptr;
    Status status = Status::Running;
    std::string why;

    // Time: basePs at baseCycles, one cycle of HCLK per cycle after.
    int64_t basePs = 0;
    uint64_t cycles = 0, baseCycles = 0, stopAtCycles = 0;
    uint32_t hclk = kHsiHz;
    int64_t limitPs = 0;
    int64_t lastProgressPs = 0;
    std::string fault;       // a bus error raised by a peripheral access
    std::string entryFault;  // Go found an entry address it cannot run
    std::string resetRequest;

    // Polling loops.
    // The core's registers at a poll: a loop that only waits finds them as they were, one that
    // works between its polls (a blank check, a copy, a CRC) has moved a pointer or a count.
    using CoreRegisters = std::array<uint32_t, 15>;
    struct Poll {
        uint32_t address = 0, value = 0;
        CoreRegisters registers{};
    };
    std::array<Poll, 4> polls{};
    size_t pollCount = 0;
    uint64_t version = 0, pollVersion = ~0ull;
    int fruitless = 0;
    bool waiting = false;

    // RCC.
    uint32_t rccCr = kHsiOn | kHsiRdy | 0x80, rccCfgr = 0, ahbenr = 0x14, apb2enr = 0, apb1enr = 0,
             rccCsr = 0x0C000000;
    int64_t pllReadyPs = kNever;

    // Flash interface: ACR, and per bank KEYR/SR/CR/AR.
    uint32_t acr = 0x30;
    struct Bank {
        uint32_t cr = kCrLock, sr = 0, ar = 0;
        int keyStage = 0;             // the first key was written
        bool lockedOut = false;       // a wrong key: locked until reset
        int64_t busyUntilPs = 0;      // BSY while now < busyUntilPs
        uint32_t begin = 0, end = 0;  // flash offsets it serves
    };
    std::array<Bank, 2> banks{};
    int bankCount = 1;

    // USART1.
    uint32_t usSr = kTxe | kTc, usBrr = 0, usCr1 = 0, usCr2 = 0, usCr3 = 0, usGtpr = 0;
    uint32_t rdr = 0, tdr = 0;
    bool tdrFull = false, shifting = false;
    uint32_t shiftWord = 0;
    int64_t shiftEndPs = 0;
    uint32_t errorsSeen = 0;  // error flags an SR read saw: a DR read then clears them
    bool tcSeen = false;
    struct Rx {
        int64_t atPs;
        uint8_t byte;
        int baud;
    };
    std::deque<Rx> rx;
    int64_t lastRxPs = std::numeric_limits<int64_t>::min() / 2;
    std::vector<Sent> sent;
    int hostBaud = 115200;

    // CRC unit.
    uint32_t crcDr = 0xFFFFFFFF;
    uint8_t crcIdr = 0;

    // Independent watchdog.
    bool iwdgRunning = false, iwdgAccess = false;
    uint32_t iwdgPr = 6, iwdgRlr = 0xFFF;
    int64_t iwdgDeadlinePs = kNever, iwdgUpdateUntilPs = 0;
    uint32_t iwdgUpdating = 0;  // PVU, RVU

    // SysTick.
    uint32_t stCtrl = 0, stLoad = 0, stVal = 0;
    bool countFlag = false;
    int64_t stLastPs = 0, stRemainderPs = 0;

    uint32_t vtor = 0;
    std::map<uint32_t, uint32_t> plain;  // registers with no behaviour modelled

    // --- time ---
    int64_t nowPs() const { return basePs + psOfCycles(cycles - baseCycles, hclk); }
    void rebase() {
        basePs = nowPs();
        baseCycles = cycles;
    }
    void updateStop() {
        const int64_t left = limitPs - basePs;
        stopAtCycles =
            left <= 0
                ? cycles
                : baseCycles + uint64_t(static_cast<__int128>(left) * hclk / kPsPerSecond) + 1;
    }
    void advanceTo(int64_t ps) {
        rebase();
        if (ps > basePs) basePs = ps;
        updateStop();
    }
    void progress() { lastProgressPs = nowPs(); }

    // --- clocks ---
    uint32_t pllHz() const {
        const uint32_t code = (rccCfgr >> 18) & 0xF;
        const uint32_t mul = code >= 14 ? 16 : code + 2;
        return kHsiHz / 2 * mul;  // PLLSRC = HSE never locks: there is no crystal
    }
    uint32_t sysclk() const { return ((rccCfgr >> 2) & 3) == 2 ? pllHz() : kHsiHz; }
    uint32_t hclkOf(uint32_t sys) const {
        const uint32_t hpre = (rccCfgr >> 4) & 0xF;
        static const int shift[8] = {1, 2, 3, 4, 6, 7, 8, 9};
        return hpre & 8 ? sys >> shift[hpre & 7] : sys;
    }
    uint32_t pclk2() const {
        const uint32_t ppre2 = (rccCfgr >> 11) & 7;
        return ppre2 & 4 ? hclk >> ((ppre2 & 3) + 1) : hclk;
    }
    // The core clock changes: time so far counts at the old one.
    void clocksChanged() {
        const uint32_t next = hclkOf(sysclk());
        if (next == hclk) return;
        sysTickAdvance();
        rebase();
        hclk = next;
        updateStop();
        ++version;
    }
    // SW selects a clock; the switch happens once that clock is ready (SWS follows).
    void switchClock() {
        const uint32_t sw = rccCfgr & 3;
        uint32_t sws = (rccCfgr >> 2) & 3;
        if (sw == 0) sws = 0;
        if (sw == 2 && (rccCr & kPllRdy)) sws = 2;
        rccCfgr = (rccCfgr & ~0xCu) | sws << 2;
        clocksChanged();
    }
    // Flash wait states the clock needs: 0 up to 24 MHz, 1 up to 48 MHz, 2 above.
    uint32_t neededLatency() const {
        const uint32_t sys = sysclk();
        return sys <= 24'000'000 ? 0 : sys <= 48'000'000 ? 1 : 2;
    }

    // --- everything scheduled, up to now ---
    void sync() {
        const int64_t now = nowPs();
        for (int i = 0; i < bankCount; ++i) {
            Bank& b = banks[size_t(i)];
            if (b.busyUntilPs > 0 && now >= b.busyUntilPs) {
                // The end of an operation: BSY clears, EOP sets, STRT clears with BSY.
                b.busyUntilPs = 0;
                b.sr |= kSrEop;
                b.cr &= ~kCrStrt;
                lastProgressPs = std::max(lastProgressPs, now);
                ++version;
            }
        }
        if (now >= pllReadyPs) {
            pllReadyPs = kNever;
            rccCr |= kPllRdy;
            ++version;
            switchClock();
        }
        while (shifting && shiftEndPs <= now) finishTransmit();
        while (!rx.empty() && rx.front().atPs <= now) {
            deliver(rx.front());
            rx.pop_front();
        }
        if (iwdgUpdating && now >= iwdgUpdateUntilPs) iwdgUpdating = 0;
    }

    // The earliest happening the core could see change, not counting the watchdog.
    int64_t nextEventPs() {
        int64_t next = lastProgressPs + kHangPs;
        for (int i = 0; i < bankCount; ++i)
            if (banks[size_t(i)].busyUntilPs > 0)
                next = std::min(next, banks[size_t(i)].busyUntilPs);
        next = std::min(next, pllReadyPs);
        if (shifting) next = std::min(next, shiftEndPs);
        if (!rx.empty()) next = std::min(next, rx.front().atPs);
        if (iwdgUpdating) next = std::min(next, iwdgUpdateUntilPs);
        if (stCtrl & 1) next = std::min(next, sysTickWrapPs());
        return next;
    }
    bool onlyHostCanChange() {
        for (int i = 0; i < bankCount; ++i)
            if (banks[size_t(i)].busyUntilPs > 0) return false;
        return rx.empty() && !shifting && pllReadyPs == kNever && !iwdgUpdating;
    }

    // A read that found the same value as last time, with nothing changed in between: after a
    // few, the loop is only waiting, so time jumps to whatever happens next.
    CoreRegisters coreRegisters() const {
        static const int ids[15] = {UC_ARM_REG_R0,  UC_ARM_REG_R1, UC_ARM_REG_R2,  UC_ARM_REG_R3,
                                    UC_ARM_REG_R4,  UC_ARM_REG_R5, UC_ARM_REG_R6,  UC_ARM_REG_R7,
                                    UC_ARM_REG_R8,  UC_ARM_REG_R9, UC_ARM_REG_R10, UC_ARM_REG_R11,
                                    UC_ARM_REG_R12, UC_ARM_REG_SP, UC_ARM_REG_LR};
        CoreRegisters values{};
        void* pointers[15];
        for (size_t i = 0; i < values.size(); ++i) pointers[i] = &values[i];
        uc_reg_read_batch(uc, const_cast<int*>(ids), pointers, int(values.size()));
        return values;
    }
    void notePoll(uint32_t address, uint32_t value) {
        if (version != pollVersion) {
            pollVersion = version;
            pollCount = 0;
            fruitless = 0;
        }
        const CoreRegisters registers = coreRegisters();
        for (size_t i = 0; i < pollCount; ++i) {
            if (polls[i].address == address) {
                if (polls[i].value != value || polls[i].registers != registers) {
                    polls[i].value = value;
                    polls[i].registers = registers;
                    fruitless = 0;
                    waiting = false;
                    return;
                }
                if (++fruitless >= kFruitlessPolls) skipIdle();
                return;
            }
        }
        polls[pollCount < polls.size() ? pollCount++ : polls.size() - 1] = {address, value,
                                                                            registers};
        fruitless = 0;
        waiting = false;
    }
    void skipIdle() {
        const int64_t now = nowPs();
        int64_t target = std::min(nextEventPs(), limitPs);
        // Up to just before the watchdog fires: a loop that reloads it goes on living.
        if (iwdgRunning) target = std::min(target, iwdgDeadlinePs - 1);
        waiting = target >= limitPs && onlyHostCanChange();
        if (target <= now) return;
        advanceTo(target);
        sync();
    }

    // --- USART1 ---
    bool usartClocked() const { return (apb2enr & kApb2Usart1) != 0; }
    bool usartOn() const { return usartClocked() && (usCr1 & kUe); }
    FrameFormat frameFormat() const {
        FrameFormat f;
        f.dataBits = usCr1 & kM ? 9 : 8;
        f.parity = usCr1 & kPce;
        f.odd = usCr1 & kPs;
        static const double stops[4] = {1, 0.5, 2, 1.5};
        f.stopBits = stops[(usCr2 >> 12) & 3];
        return f;
    }
    // The USART's speed: PCLK2 / BRR (mantissa and fraction of sixteenths); none below 16.
    double usartBaud() const { return usBrr >= 16 ? double(pclk2()) / usBrr : 0; }
    bool baudMatches(double chip, int host) const {
        return chip > 0 && std::abs(chip - host) <= kBaudTolerance * host;
    }

    void deliver(const Rx& in) {
        // A byte reaches the receiver only while it is clocked, enabled and receiving.
        const double chip = usartBaud();
        if (!usartOn() || !(usCr1 & kRe) || chip <= 0) return;
        ++version;
        const FrameFormat f = frameFormat();
        uint32_t errors = 0;
        const uint32_t word = lineWord(in.byte, f);
        const double hostBitPs = double(kPsPerSecond) / in.baud;
        uint32_t value = word;
        if (!baudMatches(chip, in.baud)) {
            // Sampled at the wrong speed: the bits where the receiver's sampling points fall,
            // and a framing error (its 16 samples per bit no longer agree on the stop bit).
            value = sampleFrame(word, f, hostBitPs, double(kPsPerSecond) / chip, &errors);
            errors |= kFe;
        }
        // A byte arriving while the last is unread is lost: ORE, DR keeps the unread byte.
        if (usSr & kRxne) {
            usSr |= kOre;
            return;
        }
        rdr = value;
        usSr = (usSr & ~(kPe | kFe | kNe)) | kRxne | errors;
    }
    void startTransmit(int64_t atPs) {
        // The transmit register moves to the shift register when that is free: TXE sets.
        const double chip = usartBaud();
        if (shifting || !tdrFull || !usartOn() || !(usCr1 & kTe) || chip <= 0) return;
        shifting = true;
        shiftWord = tdr;
        tdrFull = false;
        usSr |= kTxe;
        shiftEndPs = atPs + int64_t(frameFormat().bits() * double(kPsPerSecond) / chip);
        ++version;
    }
    void finishTransmit() {
        const FrameFormat f = frameFormat();
        const double chip = usartBaud();
        const uint32_t word = lineWord(shiftWord, f);
        uint32_t value = word;
        // The host's UART at another speed: a framing error, which a raw POSIX terminal passes
        // on as a 0x00 byte.
        if (!baudMatches(chip, hostBaud)) value = 0;
        sent.push_back({shiftEndPs / 1000, uint8_t(value)});
        shifting = false;
        const int64_t end = shiftEndPs;
        // The last frame out with nothing waiting: TC.
        startTransmit(end);
        if (!shifting) usSr |= kTc;
        lastProgressPs = std::max(lastProgressPs, end);
        ++version;
    }
    void resetUsart() {
        usSr = kTxe | kTc;
        usBrr = usCr1 = usCr2 = usCr3 = usGtpr = 0;
        tdrFull = shifting = false;
        errorsSeen = 0;
        tcSeen = false;
    }
    uint32_t usartRead(uint32_t reg, bool effects) {
        // Registers of an unclocked peripheral read as 0.
        if (!usartClocked()) return 0;
        if (effects) progress();
        switch (reg) {
            case 0x00:
                if (effects) {
                    errorsSeen = usSr & (kPe | kFe | kNe | kOre);
                    tcSeen = usSr & kTc;
                }
                return usSr;
            case 0x04:
                if (effects) {
                    // Reading DR clears RXNE, and the error flags the SR read before saw.
                    if (usSr & (kRxne | errorsSeen)) ++version;
                    usSr &= ~(kRxne | errorsSeen);
                    errorsSeen = 0;
                }
                return rdr & (usCr1 & kM ? 0x1FF : 0xFF);
            case 0x08:
                return usBrr;
            case 0x0C:
                return usCr1;
            case 0x10:
                return usCr2;
            case 0x14:
                return usCr3;
            case 0x18:
                return usGtpr;
        }
        return 0;
    }
    void usartWrite(uint32_t reg, uint32_t value) {
        if (!usartClocked()) return;
        progress();
        switch (reg) {
            case 0x00:
                // RXNE and TC clear by writing 0; the other flags are read-only.
                usSr &= value | ~(kRxne | kTc);
                break;
            case 0x04:
                // Writing DR clears TXE, and TC after an SR read saw it.
                if (!usartOn()) break;
                tdr = value & 0x1FF;
                tdrFull = true;
                usSr &= ~kTxe;
                if (tcSeen) usSr &= ~kTc;
                tcSeen = false;
                startTransmit(nowPs());
                break;
            case 0x08:
                usBrr = value & 0xFFFF;
                break;
            case 0x0C:
                usCr1 = value & 0x3FFF;
                startTransmit(nowPs());
                break;
            case 0x10:
                usCr2 = value & 0x7F7F;
                break;
            case 0x14:
                usCr3 = value & 0x7FF;
                break;
            case 0x18:
                usGtpr = value & 0xFFFF;
                break;
        }
    }

    // --- flash interface ---
    int bankOf(uint32_t offset) const { return bankCount == 2 && offset >= banks[1].begin; }
    int unitOf(uint32_t offset) const {
        const auto& units = board.units();
        for (size_t i = 0; i < units.size(); ++i)
            if (offset >= units[i].offset && offset < units[i].offset + units[i].size)
                return int(i);
        return -1;
    }
    // Reading or writing flash while its bank is busy stalls the bus until the operation ends.
    void stallFor(Bank& b) {
        if (b.busyUntilPs > 0 && nowPs() < b.busyUntilPs) advanceTo(b.busyUntilPs);
        sync();
    }
    uint32_t flashRead(uint32_t offset, unsigned size) {
        sync();
        stallFor(banks[size_t(bankOf(offset))]);
        // Each read waits LATENCY cycles more.
        cycles += acr & 7;
        const std::vector<uint8_t>& flash = board.flash();
        uint32_t value = 0;
        for (unsigned i = 0; i < size && offset + i < flash.size(); ++i)
            value |= uint32_t(flash[offset + i]) << (8 * i);
        // Fewer wait states than the clock needs: the flash returns bits it has not settled.
        if ((acr & 7) < neededLatency()) value ^= 0x5A5A5A5Au ^ (offset * 0x9E3779B1u);
        return size == 4 ? value : value & ((1u << (8 * size)) - 1);
    }
    void flashWrite(uint32_t offset, unsigned size, uint32_t value) {
        sync();
        Bank& b = banks[size_t(bankOf(offset))];
        stallFor(b);
        // Flash takes half-words while PG is set; any other write is a bus error.
        if (size != 2 || !(b.cr & kCrPg) || (b.cr & kCrLock)) {
            fault = "a " + std::to_string(size) + "-byte write to flash " +
                    hex32(kFlashBase + offset) + (b.cr & kCrPg ? "" : " without PG");
            uc_emu_stop(uc);
            return;
        }
        const std::vector<uint8_t>& flash = board.flash();
        const uint16_t now = uint16_t(flash[offset] | flash[offset + 1] << 8);
        const int unit = unitOf(offset);
        progress();
        ++version;
        // A write-protected page: WRPRTERR, nothing written.
        if (unit >= 0 && board.pageWriteProtected(unsigned(unit))) {
            b.sr |= kSrWrpErr;
            return;
        }
        // A half-word not erased takes only 0x0000; anything else: PGERR, nothing written.
        if (now != 0xFFFF && value != 0) {
            b.sr |= kSrPgErr;
            return;
        }
        const uint8_t bytes[2] = {uint8_t(value), uint8_t(value >> 8)};
        board.loadFlash(offset, bytes, 2);
        // BSY while the half-word programs.
        b.busyUntilPs = nowPs() + board.halfWordProgramNs() * 1000;
    }
    uint32_t flashIfRead(uint32_t reg) {
        sync();
        const bool second = reg >= 0x40 && bankCount == 2;
        Bank& b = banks[second ? 1 : 0];
        const uint32_t r = second ? reg - 0x40 : reg;
        switch (r) {
            case 0x00:
                return second ? 0 : acr;
            case 0x0C:
                return b.sr | (b.busyUntilPs > 0 ? kSrBsy : 0);
            case 0x10:
                return b.cr;
            case 0x14:
                return b.ar;
            case 0x1C:
                return second ? 0 : optionBytesRegister();
            case 0x20:
                return second ? 0 : writeProtectRegister();
        }
        return 0;
    }
    uint8_t option(int i) const {
        return board.peek(board.device().optionBytes + uint32_t(i)).value_or(0xFF);
    }
    // OBR: RDPRT b1, the USER byte from b2, DATA0 from b10, DATA1 from b18.
    uint32_t optionBytesRegister() const {
        return uint32_t(board.readoutProtected()) << 1 | uint32_t(option(2)) << 2 |
               uint32_t(option(4)) << 10 | uint32_t(option(6)) << 18;
    }
    uint32_t writeProtectRegister() const {
        return uint32_t(option(8)) | uint32_t(option(10)) << 8 | uint32_t(option(12)) << 16 |
               uint32_t(option(14)) << 24;
    }
    void flashIfWrite(uint32_t reg, uint32_t value) {
        sync();
        const bool second = reg >= 0x40 && bankCount == 2;
        Bank& b = banks[second ? 1 : 0];
        const uint32_t r = second ? reg - 0x40 : reg;
        ++version;
        switch (r) {
            case 0x00:
                if (!second) acr = value & 0x3F;
                break;
            case 0x04:
                // KEYR: the two keys in order unlock CR; anything else locks it until reset.
                if (!(b.cr & kCrLock)) break;
                if (!b.lockedOut && b.keyStage == 0 && value == kKey1) {
                    b.keyStage = 1;
                } else if (!b.lockedOut && b.keyStage == 1 && value == kKey2) {
                    b.keyStage = 0;
                    b.cr &= ~kCrLock;
                } else {
                    b.lockedOut = true;
                }
                break;
            case 0x0C:
                // PGERR, WRPRTERR and EOP clear by writing 1.
                b.sr &= ~(value & (kSrPgErr | kSrWrpErr | kSrEop));
                break;
            case 0x10:
                flashControl(b, value);
                break;
            case 0x14:
                if (!b.busyUntilPs) b.ar = value;
                break;
        }
    }
    void flashControl(Bank& b, uint32_t value) {
        // A locked CR ignores writes; so does a busy one.
        if ((b.cr & kCrLock) || b.busyUntilPs) return;
        b.cr = value & 0x36F7;
        if (b.cr & kCrLock) return;  // LOCK set by software
        if (!(b.cr & kCrStrt)) return;
        progress();
        const uint32_t offset = b.ar - kFlashBase;
        if (b.cr & kCrPer) {
            // Page erase: the page AR points into; protected: WRPRTERR, nothing erased.
            const int unit = offset >= b.begin && offset < b.end ? unitOf(offset) : -1;
            if (unit < 0) {
                b.cr &= ~kCrStrt;
                return;
            }
            if (board.pageWriteProtected(unsigned(unit))) {
                b.sr |= kSrWrpErr;
                b.cr &= ~kCrStrt;
                return;
            }
            const auto& u = board.units()[size_t(unit)];
            erase(u.offset, u.size);
            b.busyUntilPs = nowPs() + board.unitEraseNs(size_t(unit)) * 1000;
        } else if (b.cr & kCrMer) {
            // Mass erase of the bank; refused with WRPRTERR while any page of it is protected.
            for (int u = unitOf(b.begin); u >= 0 && board.units()[size_t(u)].offset < b.end; ++u) {
                if (board.pageWriteProtected(unsigned(u))) {
                    b.sr |= kSrWrpErr;
                    b.cr &= ~kCrStrt;
                    return;
                }
                if (size_t(u) + 1 == board.units().size()) break;
            }
            erase(b.begin, b.end - b.begin);
            b.busyUntilPs =
                nowPs() + board.massEraseNs() * 1000 * (b.end - b.begin) / board.flashSize();
        } else {
            b.cr &= ~kCrStrt;
        }
    }
    void erase(uint32_t offset, uint32_t size) {
        const std::vector<uint8_t> erased(size, board.device().erasedValue);
        board.loadFlash(offset, erased.data(), erased.size());
    }

    // --- RCC ---
    uint32_t rccRead(uint32_t reg) {
        sync();
        switch (reg) {
            case 0x00:
                return rccCr;
            case 0x04:
                return rccCfgr;
            case 0x14:
                return ahbenr;
            case 0x18:
                return apb2enr;
            case 0x1C:
                return apb1enr;
            case 0x24:
                return rccCsr;
        }
        return plain[kRcc + reg];
    }
    void rccWrite(uint32_t reg, uint32_t value) {
        sync();
        ++version;
        switch (reg) {
            case 0x00: {
                // HSI stays on (it clocks the flash interface); HSE has no crystal and never
                // becomes ready.
                const uint32_t was = rccCr;
                uint32_t next = (was & (kHsiRdy | kPllRdy | 0xFF00)) | kHsiOn |
                                (value & (0xF8 | kHseOn | (1u << 18) | (1u << 19) | kPllOn));
                // The PLL cannot stop while it clocks the system.
                if (((rccCfgr >> 2) & 3) == 2) next |= kPllOn;
                if ((next & kPllOn) && !(was & kPllOn)) {
                    // The PLL locks a while after PLLON, from HSI/2 only.
                    pllReadyPs = (rccCfgr & (1u << 16)) ? kNever : nowPs() + kPllLockPs;
                }
                if (!(next & kPllOn)) {
                    next &= ~kPllRdy;
                    pllReadyPs = kNever;
                }
                rccCr = next;
                break;
            }
            case 0x04: {
                // PLLSRC, PLLXTPRE and PLLMUL only change while the PLL is off; SWS is read-only.
                uint32_t keep = 0xC | (rccCr & kPllOn ? 0x3F0000 : 0);
                rccCfgr = (rccCfgr & keep) | (value & ~keep & 0x07FFFFF3);
                switchClock();
                break;
            }
            case 0x0C:
                // Resetting USART1 or GPIOA through APB2RSTR.
                if (value & kApb2Usart1) resetUsart();
                if (value & kApb2Gpioa) resetGpioa();
                plain[kRcc + reg] = value;
                break;
            case 0x14:
                ahbenr = value & 0x557;
                break;
            case 0x18:
                apb2enr = value & 0x0038FFFD;
                break;
            case 0x1C:
                apb1enr = value;
                break;
            case 0x24:
                // LSI: LSIRDY follows LSION (the watchdog keeps it on); RMVF clears the reset
                // flags.
                rccCsr = (rccCsr & 0xFC000000) | (value & 1) | ((value & 1) || iwdgRunning ? 2 : 0);
                if (value & (1u << 24)) rccCsr &= 0x00FFFFFF;
                break;
            default:
                plain[kRcc + reg] = value;
        }
    }

    // --- GPIOA, AFIO: registers only ---
    void resetGpioa() {
        plain[kGpioa + 0x00] = 0x44444444;
        plain[kGpioa + 0x04] = 0x44444444;
        plain[kGpioa + 0x0C] = 0;
    }

    // --- CRC unit ---
    uint32_t crcRead(uint32_t reg) {
        // Without its clock (AHBENR CRCEN) the unit reads 0 and ignores writes.
        if (!(ahbenr & kAhbCrc)) return 0;
        return reg == 0 ? crcDr : reg == 4 ? crcIdr : 0;
    }
    void crcWrite(uint32_t reg, uint32_t value) {
        if (!(ahbenr & kAhbCrc)) return;
        ++version;
        if (reg == 0) crcDr = crcWord(crcDr, value);      // DR: one more word
        if (reg == 4) crcIdr = uint8_t(value);            // IDR: a free byte
        if (reg == 8 && (value & 1)) crcDr = 0xFFFFFFFF;  // CR.RESET
    }

    // --- independent watchdog ---
    int64_t iwdgPeriodPs() const {
        // 4 x 2^PR LSI cycles per count, RLR + 1 counts.
        const int64_t lsiCycles = (int64_t(4) << std::min<uint32_t>(iwdgPr, 6)) * (iwdgRlr + 1);
        return lsiCycles * (kPsPerSecond / kLsiHz);
    }
    uint32_t iwdgRead(uint32_t reg) {
        sync();
        switch (reg) {
            case 0x04:
                return iwdgPr;
            case 0x08:
                return iwdgRlr;
            case 0x0C:
                return iwdgUpdating;
        }
        return 0;
    }
    void iwdgWrite(uint32_t reg, uint32_t value) {
        sync();
        if (reg == 0x00) {
            switch (value & 0xFFFF) {
                case 0xAAAA:  // reload: counts down from RLR again
                    if (iwdgRunning) iwdgDeadlinePs = nowPs() + iwdgPeriodPs();
                    return;
                case 0xCCCC:  // start (it cannot be stopped)
                    ++version;
                    if (!iwdgRunning) iwdgDeadlinePs = nowPs() + iwdgPeriodPs();
                    iwdgRunning = true;
                    rccCsr |= 3;
                    // The emulation stops when it may fire.
                    limitPs = std::min(limitPs, iwdgDeadlinePs);
                    updateStop();
                    return;
                case 0x5555:  // PR and RLR writable
                    iwdgAccess = true;
                    return;
                default:
                    iwdgAccess = false;
                    return;
            }
        }
        // PR and RLR take a write only after 0x5555, and the new value a few LSI cycles to pass
        // into the watchdog's clock domain (PVU, RVU); the counter uses it from the next reload.
        if (!iwdgAccess || (reg != 0x04 && reg != 0x08)) return;
        ++version;
        if (reg == 0x04) iwdgPr = value & 7;
        if (reg == 0x08) iwdgRlr = value & 0xFFF;
        iwdgUpdating |= reg == 0x04 ? 1 : 2;
        iwdgUpdateUntilPs = nowPs() + 5 * (kPsPerSecond / kLsiHz);
    }

    // --- SysTick ---
    uint32_t sysTickHz() const { return stCtrl & 4 ? hclk : hclk / 8; }  // CLKSOURCE
    void sysTickAdvance() {
        const int64_t now = nowPs();
        if (!(stCtrl & 1)) {
            stLastPs = now;
            stRemainderPs = 0;
            return;
        }
        const uint32_t hz = sysTickHz();
        const int64_t elapsed = now - stLastPs + stRemainderPs;
        stLastPs = now;
        if (elapsed <= 0) return;
        uint64_t ticks = uint64_t(static_cast<__int128>(elapsed) * hz / kPsPerSecond);
        stRemainderPs = elapsed - int64_t(static_cast<__int128>(ticks) * kPsPerSecond / hz);
        if (ticks == 0) return;
        // Counting down to 0 sets COUNTFLAG; the tick after 0 reloads LOAD (LOAD 0: it stops).
        if (stVal > 0) {
            if (ticks < stVal) {
                stVal -= uint32_t(ticks);
                return;
            }
            ticks -= stVal;
            stVal = 0;
            countFlag = true;
        }
        if (ticks == 0 || stLoad == 0) return;
        const uint64_t period = uint64_t(stLoad) + 1;
        if (ticks >= period) countFlag = true;
        const uint64_t rest = ticks % period;
        stVal = rest == 0 ? 0 : uint32_t(stLoad - (rest - 1));
    }
    int64_t sysTickWrapPs() {
        sysTickAdvance();
        const uint64_t ticks = stVal ? stVal : uint64_t(stLoad) + 1;
        return stLastPs + int64_t(static_cast<__int128>(ticks) * kPsPerSecond / sysTickHz()) + 1 -
               stRemainderPs;
    }

    // --- core peripherals ---
    uint32_t ppbRead(uint32_t address, bool effects) {
        switch (address) {
            case kSysTick: {
                sysTickAdvance();
                const uint32_t v = stCtrl | (countFlag ? 1u << 16 : 0);
                if (effects && countFlag) {
                    countFlag = false;  // COUNTFLAG clears when read
                    ++version;
                }
                return v;
            }
            case kSysTick + 4:
                return stLoad;
            case kSysTick + 8:
                sysTickAdvance();
                return stVal;
            case kSysTick + 0xC:
                return 0x40000000 | 9000;  // CALIB: no reference clock, 1 ms at 9 MHz
            case kScb:
                return 0x411FC231;  // CPUID: Cortex-M3 r1p1
            case kScb + 8:
                return vtor;
            case kScb + 0xC:
                return 0xFA050000;
            case kDbgmcu:
                return 0;  // reads 0 from code without a debugger attached
        }
        return plain[address];
    }
    void ppbWrite(uint32_t address, uint32_t value) {
        ++version;
        switch (address) {
            case kSysTick:
                sysTickAdvance();
                stCtrl = value & 7;
                return;
            case kSysTick + 4:
                stLoad = value & 0xFFFFFF;
                return;
            case kSysTick + 8:
                // Any write clears the counter and COUNTFLAG.
                sysTickAdvance();
                stVal = 0;
                countFlag = false;
                return;
            case kScb + 8:
                vtor = value & 0x3FFFFF80;
                return;
            case kScb + 0xC:
                // AIRCR: with the key 0x05FA, SYSRESETREQ resets the chip.
                if ((value >> 16) == 0x05FA && (value & 4)) {
                    resetRequest = "system reset request";
                    uc_emu_stop(uc);
                }
                return;
        }
        plain[address] = value;
    }

    // --- peripheral bus ---
    uint32_t periphRead(uint32_t address, bool effects) {
        const uint32_t block = address & ~0x3FFu, reg = address & 0x3FF;
        switch (block) {
            case kIwdg:
                return iwdgRead(reg);
            case kUsart1:
                if (effects) sync();
                return usartRead(reg, effects);
            case kRcc:
                return rccRead(reg);
            case kFlashIf:
                return flashIfRead(reg);
            case kCrc:
                return crcRead(reg);
            case kAfio:
                return apb2enr & kApb2Afio ? plain[address] : 0;
            case kGpioa:
                if (!(apb2enr & kApb2Gpioa)) return 0;
                if (reg == 0x08) return 0x0600;  // IDR: the idle USART lines are high
                return plain[address];
        }
        return plain[address];
    }
    void periphWrite(uint32_t address, uint32_t value) {
        const uint32_t block = address & ~0x3FFu, reg = address & 0x3FF;
        switch (block) {
            case kIwdg:
                iwdgWrite(reg, value);
                return;
            case kUsart1:
                sync();
                ++version;
                usartWrite(reg, value);
                return;
            case kRcc:
                rccWrite(reg, value);
                return;
            case kFlashIf:
                flashIfWrite(reg, value);
                return;
            case kCrc:
                crcWrite(reg, value);
                return;
            case kAfio:
                if (apb2enr & kApb2Afio) plain[address] = value;
                ++version;
                return;
            case kGpioa:
                if (apb2enr & kApb2Gpioa) plain[address] = value;
                ++version;
                return;
        }
        ++version;
        plain[address] = value;
    }

    // Narrow accesses: a byte or half-word of the 32-bit register.
    template <typename Read>
    static uint64_t narrowRead(uint32_t address, unsigned size, Read read) {
        const uint32_t shift = (address & 3) * 8;
        const uint32_t word = read(address & ~3u);
        return size >= 4 ? word : (word >> shift) & ((1u << (8 * size)) - 1);
    }
    template <typename Peek, typename Write>
    static void narrowWrite(uint32_t address, unsigned size, uint32_t value, Peek peek,
                            Write write) {
        const uint32_t shift = (address & 3) * 8;
        if (size >= 4 || shift == 0) {
            write(address & ~3u, size >= 4 ? value : value & ((1u << (8 * size)) - 1));
            return;
        }
        const uint32_t mask = ((1u << (8 * size)) - 1) << shift;
        write(address & ~3u, (peek(address & ~3u) & ~mask) | ((value << shift) & mask));
    }

    static uint64_t onPeriphRead(uc_engine*, uint64_t offset, unsigned size, void* user) {
        auto* d = static_cast<Impl*>(user);
        const uint32_t address = kPeriphBase + uint32_t(offset);
        const uint64_t v =
            narrowRead(address, size, [d](uint32_t a) { return d->periphRead(a, true); });
        d->notePoll(address, uint32_t(v));
        return v;
    }
    static void onPeriphWrite(uc_engine*, uint64_t offset, unsigned size, uint64_t value,
                              void* user) {
        auto* d = static_cast<Impl*>(user);
        narrowWrite(
            kPeriphBase + uint32_t(offset), size, uint32_t(value),
            [d](uint32_t a) { return d->periphRead(a, false); },
            [d](uint32_t a, uint32_t v) { d->periphWrite(a, v); });
    }
    static uint64_t onPpbRead(uc_engine*, uint64_t offset, unsigned size, void* user) {
        auto* d = static_cast<Impl*>(user);
        const uint32_t address = kPpbBase + uint32_t(offset);
        const uint64_t v =
            narrowRead(address, size, [d](uint32_t a) { return d->ppbRead(a, true); });
        d->notePoll(address, uint32_t(v));
        return v;
    }
    static void onPpbWrite(uc_engine*, uint64_t offset, unsigned size, uint64_t value, void* user) {
        auto* d = static_cast<Impl*>(user);
        narrowWrite(
            kPpbBase + uint32_t(offset), size, uint32_t(value),
            [d](uint32_t a) { return d->ppbRead(a, false); },
            [d](uint32_t a, uint32_t v) { d->ppbWrite(a, v); });
    }
    static uint64_t onFlashRead(uc_engine*, uint64_t offset, unsigned size, void* user) {
        return static_cast<Impl*>(user)->flashRead(uint32_t(offset), size);
    }
    static void onFlashWrite(uc_engine*, uint64_t offset, unsigned size, uint64_t value,
                             void* user) {
        static_cast<Impl*>(user)->flashWrite(uint32_t(offset), size, uint32_t(value));
    }
    // System memory, the flash-size block and the option bytes: read-only.
    uint64_t systemRead(uint32_t address, unsigned size) {
        uint32_t value = 0;
        for (unsigned i = 0; i < size; ++i) {
            const auto byte = board.peek(address + i);
            if (!byte) {
                busError("a read of " + hex32(address));
                return 0;
            }
            value |= uint32_t(*byte) << (8 * i);
        }
        return value;
    }
    void busError(const std::string& what) {
        if (fault.empty()) fault = what;
        uc_emu_stop(uc);
    }
    static uint64_t onSystemRead(uc_engine*, uint64_t offset, unsigned size, void* user) {
        return static_cast<Impl*>(user)->systemRead(kSystemWindow + uint32_t(offset), size);
    }
    static uint64_t onAliasRead(uc_engine*, uint64_t offset, unsigned size, void* user) {
        auto* d = static_cast<Impl*>(user);
        return d->systemRead(d->board.device().systemMemory + uint32_t(offset), size);
    }
    static void onReadOnlyWrite(uc_engine*, uint64_t offset, unsigned, uint64_t, void* user) {
        static_cast<Impl*>(user)->busError("a write to read-only memory (offset " +
                                           hex32(uint32_t(offset)) + ")");
    }
    static void onBlock(uc_engine* uc, uint64_t, uint32_t size, void* user) {
        auto* d = static_cast<Impl*>(user);
        // About one cycle per half-word of code.
        d->cycles += std::max<uint32_t>(1, size / 2);
        if (d->cycles >= d->stopAtCycles) uc_emu_stop(uc);
    }
    static void onInterrupt(uc_engine* uc, uint32_t number, void* user) {
        static_cast<Impl*>(user)->busError("exception " + std::to_string(number));
        uc_emu_stop(uc);
    }

    // --- start, stop ---
    bool setUp(uint32_t goAddress, std::string* error) {
        uc_err e = uc_open(UC_ARCH_ARM, uc_mode(UC_MODE_THUMB | UC_MODE_MCLASS), &uc);
        if (e != UC_ERR_OK) {
            uc = nullptr;
            *error = uc_strerror(e);
            return false;
        }
        uint32_t sramSize = 0;
        uint8_t* sram = board.sram(&sramSize);
        sramSize &= ~0x3FFu;
        const uint32_t flashSize = board.flashSize() & ~0x3FFu;
        uc_hook hook;
        const uc_err steps[] = {
            uc_ctl_set_cpu_model(uc, UC_CPU_ARM_CORTEX_M3),
            sram ? uc_mem_map_ptr(uc, kSramBase, sramSize, UC_PROT_ALL, sram) : UC_ERR_NOMEM,
            uc_mmio_map(uc, kFlashBase, flashSize, onFlashRead, this, onFlashWrite, this),
            uc_mmio_map(uc, 0, kAliasSize, onAliasRead, this, onReadOnlyWrite, this),
            uc_mmio_map(uc, kSystemWindow, kSystemWindowSize, onSystemRead, this, onReadOnlyWrite,
                        this),
            uc_mmio_map(uc, kPeriphBase, kPeriphSize, onPeriphRead, this, onPeriphWrite, this),
            uc_mmio_map(uc, kPpbBase, kPpbSize, onPpbRead, this, onPpbWrite, this),
            uc_hook_add(uc, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(onBlock), this, 1, 0),
            uc_hook_add(uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(onInterrupt), this, 1, 0),
        };
        for (uc_err s : steps) {
            if (s != UC_ERR_OK) {
                *error = uc_strerror(s);
                return false;
            }
        }
        if (goAddress < kSramBase || goAddress + 8 > kSramBase + sramSize) {
            *error = "Go address outside SRAM";
            return false;
        }
        auto word = [&](uint32_t a) {
            const uint8_t* p = sram + (a - kSramBase);
            return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                   uint32_t(p[3]) << 24;
        };
        // Go: MSP from the first word, the entry from the second; returning goes back into
        // the ROM.
        uint32_t msp = word(goAddress) & ~3u, pc = word(goAddress + 4), lr = kSystemWindow | 1;
        uc_reg_write(uc, UC_ARM_REG_MSP, &msp);
        uc_reg_write(uc, UC_ARM_REG_SP, &msp);
        uc_reg_write(uc, UC_ARM_REG_LR, &lr);
        uc_reg_write(uc, UC_ARM_REG_PC, &pc);
        // An entry without the Thumb bit: INVSTATE, a fault at the first instruction.
        if (!(pc & 1)) entryFault = "entry address " + hex32(pc) + " without the Thumb bit";
        return true;
    }

    // The state the ROM bootloader leaves at Go: HSI at 8 MHz, PLL off, prescalers /1; GPIOA
    // and USART1 clocked, USART1 still 8E1 at the speed it measured, but with BRR computed for
    // 24 MHz (a third of the host's speed at 8 MHz); the watchdog's prescaler at /256 (running
    // if the option bytes start it); SysTick off; VTOR 0.
    void romState() {
        apb2enr = 0x4004;
        usCr1 = 0x340C;
        hostBaud = board.lineBaud() > 0 ? board.lineBaud() : 115200;
        usBrr = uint32_t((24'000'000 + hostBaud / 2) / hostBaud);
        plain[kGpioa + 0x00] = 0x44444444;
        plain[kGpioa + 0x04] = 0x444444B4;
        iwdgRunning = board.hardwareWatchdog();  // the option bytes start it
        if (iwdgRunning) {
            rccCsr |= 3;
            iwdgDeadlinePs = nowPs() + iwdgPeriodPs();
        }
        // Bank 1 up to the second bank's start (XL density), bank 2 from there.
        const uint32_t bank2 = board.bank2Offset();
        bankCount = bank2 ? 2 : 1;
        banks[0].begin = 0;
        banks[0].end = bank2 ? bank2 : board.flashSize();
        banks[1].begin = bank2;
        banks[1].end = board.flashSize();
    }

    void stop(Status s, const std::string& reason) {
        status = s;
        why = reason;
    }
    // A fault: the ROM's HardFault handler (its vector table is in use) resets the chip; under
    // a table of the code's own the handler is not emulated, the chip stops.
    void faulted(const std::string& what) {
        if (vtor == 0) {
            board.systemReset("loader fault: " + what + "; the ROM's handler resets the chip");
            stop(Status::Reset, "fault: " + what);
        } else {
            board.addEvent("loader fault: " + what + "; stopped");
            stop(Status::Halted, "fault: " + what);
        }
    }
    void resetChip(const std::string& what) {
        board.systemReset(what);
        stop(Status::Reset, what);
    }

    void emulate() {
        uint32_t pc = 0;
        uc_reg_read(uc, UC_ARM_REG_PC, &pc);
        if (!entryFault.empty()) {
            faulted(entryFault);
            return;
        }
        const uc_err e = uc_emu_start(uc, pc | 1, 0, 0, 0);
        uc_reg_read(uc, UC_ARM_REG_PC, &pc);
        if (!resetRequest.empty()) {
            resetChip(resetRequest);
            return;
        }
        if (!fault.empty()) {
            faulted(fault + " at " + hex32(pc));
            return;
        }
        const uint32_t at = pc & ~1u;
        if (e == UC_ERR_OK && at < kAliasSize) {
            // The emulator stops at address 0 by itself: the ROM's code aliased there.
            resetChip("the ROM bootloader runs again (jumped to " + hex32(at) + ")");
            return;
        }
        if (e == UC_ERR_OK) return;
        if ((e == UC_ERR_FETCH_PROT || e == UC_ERR_FETCH_UNMAPPED) && at >= kFlashBase &&
            at < kFlashBase + board.flashSize()) {
            // Code in flash is the user program's: it runs, outside this emulation.
            board.startUserProgram();
            stop(Status::UserProgram, "jumped to " + hex32(at));
            return;
        }
        if ((e == UC_ERR_FETCH_PROT || e == UC_ERR_FETCH_UNMAPPED) &&
            ((at >= kSystemWindow && at < kSystemWindow + kSystemWindowSize) || at < kAliasSize)) {
            resetChip("the ROM bootloader runs again (jumped to " + hex32(at) + ")");
            return;
        }
        faulted(std::string(uc_strerror(e)) + " at " + hex32(at));
    }

    void runUntil(int64_t untilPs) {
        waiting = false;
        while (status == Status::Running && nowPs() < untilPs) {
            sync();
            const int64_t hangPs = lastProgressPs + kHangPs;
            limitPs = std::min({untilPs, iwdgRunning ? iwdgDeadlinePs : kNever, hangPs});
            rebase();
            updateStop();
            if (nowPs() < limitPs) emulate();
            if (status != Status::Running) return;
            sync();
            const int64_t now = nowPs();
            if (iwdgRunning && now >= iwdgDeadlinePs) {
                rccCsr |= 1u << 29;  // IWDGRSTF
                resetChip("watchdog reset");
                return;
            }
            if (now >= lastProgressPs + kHangPs) {
                // Hung: the watchdog, if it runs, resets the chip in the end; else it stays
                // silent until reset.
                if (iwdgRunning) {
                    advanceTo(iwdgDeadlinePs);
                    resetChip("loader hung; watchdog reset");
                } else {
                    board.addEvent("loader hung");
                    stop(Status::Halted, "hung");
                }
                return;
            }
        }
    }
};

CortexM::CortexM(Board& board, int64_t startNs) : d_(std::make_unique<Impl>(board)) {
    d_->basePs = d_->lastProgressPs = d_->stLastPs = startNs * 1000;
    d_->romState();
    std::string error;
    const uint32_t go = board.counters().goAddress.value_or(0);
    if (!d_->setUp(go, &error)) {
        board.addEvent("loader cannot run: " + error);
        d_->stop(Status::Halted, error);
        return;
    }
    board.addEvent("loader runs from " + hex32(go));
}

CortexM::~CortexM() {
    if (d_->uc) uc_close(d_->uc);
}

void CortexM::runUntil(int64_t untilNs) {
    d_->runUntil(untilNs * 1000);
}

void CortexM::receive(uint8_t byte, int hostBaud, int64_t earliestNs) {
    if (d_->status != Status::Running) return;
    const int baud = hostBaud > 0 ? hostBaud : 115200;
    d_->hostBaud = baud;
    // The host's frames take as many bits as the chip's USART is set for: a pseudo-terminal
    // carries no parity, so the host's own setting cannot be seen; the two ends must agree.
    const int64_t framePs = int64_t(d_->frameFormat().bits() * double(kPsPerSecond) / baud);
    const int64_t at = std::max({earliestNs * 1000, d_->nowPs(), d_->lastRxPs}) + framePs;
    d_->lastRxPs = at;
    d_->rx.push_back({at, byte, baud});
    d_->waiting = false;
}

void CortexM::setHostBaud(int baud) {
    if (baud > 0) d_->hostBaud = baud;
}

std::vector<CortexM::Sent> CortexM::takeSent() {
    std::vector<Sent> out;
    out.swap(d_->sent);
    return out;
}

CortexM::Status CortexM::status() const {
    return d_->status;
}

std::string CortexM::reason() const {
    return d_->why;
}

int64_t CortexM::nowNs() const {
    return d_->nowPs() / 1000;
}

bool CortexM::waitingForHost() const {
    return d_->status == Status::Running && d_->waiting && d_->rx.empty();
}

CortexM::Clocks CortexM::clocks() const {
    return {d_->sysclk(), d_->hclk, d_->pclk2()};
}

}  // namespace praxon::sim
