#include "Board.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace praxon::sim {

namespace {

constexpr int64_t kQuietForResyncNs = 100'000'000;

struct KindName {
    FaultKind kind;
    const char* name;
};
constexpr KindName kKindNames[] = {
    {FaultKind::Nack, "nack"},       {FaultKind::Silent, "silent"}, {FaultKind::Late, "late"},
    {FaultKind::Short, "short"},     {FaultKind::Change, "change"}, {FaultKind::Burst, "burst"},
    {FaultKind::Garbage, "garbage"}, {FaultKind::Hangup, "hangup"},
};

bool parseNumber(const std::string& text, unsigned long max, unsigned long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || text[0] == '-' || v > max) return false;
    *value = v;
    return true;
}

std::string hex32(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

}  // namespace

std::string faultKindName(FaultKind kind) {
    for (const auto& k : kKindNames)
        if (k.kind == kind) return k.name;
    return "?";
}

bool parseFault(const std::string& text, Fault* fault, std::string* error) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    auto fail = [&](const std::string& why) {
        if (error) *error = "bad fault '" + text + "': " + why;
        return false;
    };
    if (parts.size() < 3 || parts.size() > 4) return fail("expected KIND:CMD:K[:STEP]");
    Fault f;
    bool known = false;
    for (const auto& k : kKindNames) {
        if (parts[0] == k.name) {
            f.kind = k.kind;
            known = true;
        }
    }
    if (!known) return fail("KIND must be nack|silent|late|short|change|burst|garbage|hangup");
    unsigned long v = 0;
    if (!parseNumber(parts[1], 0xFF, &v)) return fail("CMD must be a byte, e.g. 0x31");
    f.command = static_cast<uint8_t>(v);
    if (!parseNumber(parts[2], 1000000, &v)) return fail("K must be a number (0 = every time)");
    f.occurrence = static_cast<unsigned>(v);
    f.step = 1;
    if (parts.size() == 4) {
        if (!parseNumber(parts[3], 3, &v) || v == 0) return fail("STEP must be 1, 2 or 3");
        f.step = static_cast<unsigned>(v);
    }
    *fault = f;
    return true;
}

bool productSizes(uint16_t pid, int* flashKb, int* ramKb) {
    struct P {
        uint16_t pid;
        int flash, ram;
    };
    static const P table[] = {
        {0x412, 32, 10},    // low density
        {0x410, 64, 20},    // medium density
        {0x414, 512, 64},   // high density
        {0x418, 256, 64},   // connectivity line
        {0x420, 128, 8},    // value line, medium density
        {0x428, 512, 32},   // value line, high density
        {0x430, 1024, 96},  // XL density
    };
    for (const auto& p : table) {
        if (p.pid == pid) {
            if (flashKb) *flashKb = p.flash;
            if (ramKb) *ramKb = p.ram;
            return true;
        }
    }
    return false;
}

std::string countersToJson(const Counters& c) {
    std::string s = "{\n";
    auto field = [&](const char* name, const std::string& value, bool last = false) {
        s += "  \"";
        s += name;
        s += "\": ";
        s += value;
        s += last ? "\n" : ",\n";
    };
    auto num = [](uint64_t v) { return std::to_string(v); };
    auto micros = [](uint64_t ns) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%llu.%03llu", static_cast<unsigned long long>(ns / 1000),
                      static_cast<unsigned long long>(ns % 1000));
        return std::string(buf);
    };
    field("commands", num(c.commands));
    std::string per = "{";
    bool first = true;
    for (const auto& [code, count] : c.perCommand) {
        char key[16];
        std::snprintf(key, sizeof key, "\"0x%02X\"", code);
        per += first ? "" : ", ";
        per += key;
        per += ": " + num(count);
        first = false;
    }
    per += "}";
    field("per_command", per);
    field("syncs", num(c.syncs));
    field("bytes_in", num(c.bytesIn));
    field("bytes_out", num(c.bytesOut));
    field("acks", num(c.acks));
    field("nacks", num(c.nacks));
    field("write_bytes", num(c.writeBytes));
    field("read_bytes", num(c.readBytes));
    field("mass_erases", num(c.massErases));
    field("page_erases", num(c.pageErases));
    field("option_writes", num(c.optionWrites));
    field("program_time_us", micros(c.programTimeNs));
    field("erase_time_us", micros(c.eraseTimeNs));
    field("go_address", c.goAddress ? "\"" + hex32(*c.goAddress) + "\"" : std::string("null"));
    field("resets", num(c.resets), true);
    s += "}\n";
    return s;
}

Board::Board(const BoardConfig& config) : config_(config) {
    int flashKb = 64, ramKb = 20;
    productSizes(config_.pid, &flashKb, &ramKb);
    if (config_.flashKb > 0) flashKb = config_.flashKb;
    pageSize_ = flashKb > 128 ? 2048 : 1024;
    flash_.assign(static_cast<size_t>(flashKb) * 1024, 0xFF);
    ram_.assign(static_cast<size_t>(ramKb) * 1024, 0x00);
    system_.resize(kSystemEnd - kSystemBase);
    // Stand-in for the bootloader code: fixed, so reads are reproducible.
    for (size_t i = 0; i < system_.size(); ++i) system_[i] = static_cast<uint8_t>(i * 37 + 11);
    std::fill(system_.begin() + (kFlashSizeAddress - kSystemBase), system_.end(), 0xFF);
    auto put16 = [&](uint32_t address, uint16_t v) {
        system_[address - kSystemBase] = static_cast<uint8_t>(v);
        system_[address - kSystemBase + 1] = static_cast<uint8_t>(v >> 8);
    };
    put16(kFlashSizeAddress, static_cast<uint16_t>(flashKb));
    put16(kRamFieldAddress, config_.ramField);
    const uint8_t uid[12] = {'P',
                             'r',
                             'a',
                             'x',
                             'o',
                             'n',
                             'S',
                             'i',
                             'm',
                             0x00,
                             static_cast<uint8_t>(config_.pid >> 8),
                             static_cast<uint8_t>(config_.pid)};
    std::memcpy(&system_[kUniqueIdAddress - kSystemBase], uid, sizeof uid);

    const uint8_t options[16] = {0xA5, 0x5A, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00,
                                 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00};
    std::memcpy(option_, options, sizeof option_);
    if (config_.readoutProtected) {
        option_[0] = 0x00;
        option_[1] = 0xFF;
    }
    syncOptionBytes();

    // Powered up with no port open: both lines released.
    nrstHigh_ = pinHigh(config_.wiring.reset, config_.wiring.resetInverted);
    boot0High_ = pinHigh(config_.wiring.boot0, config_.wiring.boot0Inverted);
    if (!nrstHigh_)
        state_ = State::Held;
    else if (!boot0High_)
        state_ = State::Running;
}

// An asserted line is at 0 V: direct, the pin follows it; inverted, the transistor turns it over.
bool Board::pinHigh(Line line, bool inverted) const {
    if (line == Line::None) return true;  // NRST's pull-up, BOOT0's jumper
    const bool asserted = line == Line::Dtr ? dtr_ : rts_;
    return inverted ? asserted : !asserted;
}

void Board::setLines(bool dtrAsserted, bool rtsAsserted) {
    dtr_ = dtrAsserted;
    rts_ = rtsAsserted;
    const bool wasHigh = nrstHigh_;
    nrstHigh_ = pinHigh(config_.wiring.reset, config_.wiring.resetInverted);
    boot0High_ = pinHigh(config_.wiring.boot0, config_.wiring.boot0Inverted);
    if (state_ == State::HungUp || wasHigh == nrstHigh_) return;
    if (!nrstHigh_) {
        state_ = State::Held;
        frame_.clear();
        events_.push_back("held in reset");
        return;
    }
    doReset();  // BOOT0 is sampled as NRST rises
    haveLastByte_ = false;
}

void Board::syncOptionBytes() {
    rdp_ = option_[0] != 0xA5;
    wrp_ = static_cast<uint32_t>(option_[8]) | static_cast<uint32_t>(option_[10]) << 8 |
           static_cast<uint32_t>(option_[12]) << 16 | static_cast<uint32_t>(option_[14]) << 24;
}

void Board::setFaults(const std::vector<Fault>& faults) {
    config_.faults = faults;
}

void Board::loadFlash(uint32_t offset, const uint8_t* data, size_t size) {
    if (offset >= flash_.size()) return;
    size = std::min(size, flash_.size() - offset);
    std::memcpy(&flash_[offset], data, size);
}

std::vector<std::string> Board::takeEvents() {
    std::vector<std::string> out;
    out.swap(events_);
    return out;
}

Board::Area Board::areaOf(uint32_t address, uint32_t* end) const {
    if (address >= kFlashBase && address - kFlashBase < flash_.size()) {
        *end = kFlashBase + static_cast<uint32_t>(flash_.size());
        return Area::Flash;
    }
    if (address >= kSramBase && address - kSramBase < ram_.size()) {
        *end = kSramBase + static_cast<uint32_t>(ram_.size());
        return Area::Sram;
    }
    if (address >= kSystemBase && address < kSystemEnd) {
        *end = kSystemEnd;
        return Area::System;
    }
    if (address >= kOptionBase && address < kOptionEnd) {
        *end = kOptionEnd;
        return Area::Option;
    }
    *end = 0;
    return Area::None;
}

std::optional<uint8_t> Board::peek(uint32_t address) const {
    uint32_t end = 0;
    switch (areaOf(address, &end)) {
        case Area::Flash:
            return flash_[address - kFlashBase];
        case Area::Sram:
            return ram_[address - kSramBase];
        case Area::System:
            return system_[address - kSystemBase];
        case Area::Option:
            return option_[address - kOptionBase];
        case Area::None:
            break;
    }
    return std::nullopt;
}

unsigned Board::sectorOfPage(unsigned page) const {
    // Each write-protection bit covers 4 KB; the last bit covers the rest of a large flash.
    unsigned sector = page / (4096 / pageSize_);
    return std::min(sector, 31u);
}

unsigned Board::sectorCount() const {
    return sectorOfPage(static_cast<unsigned>(flash_.size() / pageSize_) - 1) + 1;
}

bool Board::pageWriteProtected(unsigned page) const {
    return (wrp_ & (1u << sectorOfPage(page))) == 0;
}

bool Board::anyWriteProtection() const {
    unsigned n = sectorCount();
    uint32_t mask = n >= 32 ? 0xFFFFFFFFu : ((1u << n) - 1);
    return (wrp_ & mask) != mask;
}

void Board::reset() {
    if (!nrstHigh_) return;  // the wiring holds NRST low whatever the button does
    doReset();
    haveLastByte_ = false;
}

void Board::doReset() {
    // Option bytes take effect at reset; SRAM keeps its contents.
    syncOptionBytes();
    frame_.clear();
    ++counters_.resets;
    events_.push_back("reset");
    if (boot0High_) {
        state_ = State::WaitSync;
    } else {
        state_ = State::Running;
        events_.push_back("running the user program");
    }
}

void Board::massErase() {
    std::fill(flash_.begin(), flash_.end(), 0xFF);
    ++counters_.massErases;
    counters_.eraseTimeNs += static_cast<uint64_t>(config_.massEraseNs);
}

bool Board::nackFault(unsigned step) const {
    for (const auto& f : config_.faults) {
        if (f.kind == FaultKind::Nack && f.command == command_ && f.step == step &&
            (f.occurrence == 0 || f.occurrence == occurrence_))
            return true;
    }
    return false;
}

// Sends a reply of the current transaction, applying the wire faults asked for this step.
Board::Output Board::ackStep(unsigned step, std::vector<uint8_t> bytes, int64_t delayNs) {
    Emit e;
    e.delayNs = delayNs;
    for (const auto& f : config_.faults) {
        if (f.command != command_ || f.step != step ||
            (f.occurrence != 0 && f.occurrence != occurrence_))
            continue;
        switch (f.kind) {
            case FaultKind::Nack:
                break;  // decided by the caller before any side effect
            case FaultKind::Silent:
                bytes.clear();
                break;
            case FaultKind::Late:
                e.faultDelayNs += kLateReplyNs;
                break;
            case FaultKind::Short:
                if (!bytes.empty()) bytes.pop_back();
                break;
            case FaultKind::Change:
                if (!bytes.empty()) bytes.back() ^= 0xFF;
                break;
            case FaultKind::Burst:
                while (bytes.size() < kBurstBytes) bytes.push_back(0x5A);
                break;
            case FaultKind::Garbage:
                for (auto& b : bytes) {
                    do {
                        garbageSeed_ = garbageSeed_ * 1103515245u + 12345u;
                        b = static_cast<uint8_t>(garbageSeed_ >> 16);
                    } while (b == kAck || b == kNack);
                }
                break;
            case FaultKind::Hangup:
                bytes.clear();
                e.hangup = true;
                state_ = State::HungUp;
                events_.push_back("hangup");
                break;
        }
    }
    counters_.bytesOut += bytes.size();
    e.bytes = std::move(bytes);
    return {e};
}

Board::Output Board::nack(unsigned step, int64_t delayNs) {
    ++counters_.nacks;
    if (state_ != State::WaitSync) state_ = State::WaitCommand;
    frame_.clear();
    return ackStep(step, {kNack}, delayNs);
}

void Board::beginCommand(uint8_t command) {
    command_ = command;
    occurrence_ = ++occurrences_[command];
}

static void append(Board::Output& out, Board::Output more) {
    for (auto& e : more) out.push_back(std::move(e));
}

Board::Output Board::feed(uint8_t byte, int64_t nowNs, int baud) {
    if (state_ == State::Held) return {};
    ++counters_.bytesIn;
    const bool quiet = !haveLastByte_ || nowNs - lastByteNs_ >= kQuietForResyncNs;
    lastByteNs_ = nowNs;
    haveLastByte_ = true;
    const bool autobaud =
        state_ == State::WaitSync || state_ == State::Running ||
        (state_ == State::WaitCommand && config_.syncAnytime && quiet && byte == kSync);
    if (autobaud ? baud < kMinAutobaud : baud != baud_) return {};  // framing errors only

    auto synchronise = [&]() -> Output {
        baud_ = baud;
        beginCommand(kSync);
        ++counters_.syncs;
        if (nackFault(1)) {
            ++counters_.nacks;
            return ackStep(1, {kNack});
        }
        ++counters_.acks;
        state_ = State::WaitCommand;
        return ackStep(1, {kAck});
    };

    switch (state_) {
        case State::HungUp:
        case State::Held:
            return {};
        case State::Running:
            if (byte != kSync || config_.wiring.any()) return {};
            doReset();
            return synchronise();
        case State::WaitSync:
            if (byte != kSync) return {};  // autobaud needs 0x7F; anything else is lost
            return synchronise();
        case State::WaitCommand:
            if (byte == kSync && config_.syncAnytime && quiet) return synchronise();
            command_ = byte;
            state_ = State::WaitComplement;
            return {};
        case State::WaitComplement:
            if (byte != static_cast<uint8_t>(command_ ^ 0xFF)) {
                state_ = State::WaitCommand;
                ++counters_.nacks;
                counters_.bytesOut += 1;
                Emit e;
                e.bytes = {kNack};
                return {e};
            }
            beginCommand(command_);
            return dispatch(command_);
        case State::WaitAddress:
            frame_.push_back(byte);
            if (frame_.size() == 5) return onAddress();
            return {};
        case State::WaitReadCount:
            frame_.push_back(byte);
            if (frame_.size() == 2) return onReadCount();
            return {};
        case State::WaitWriteData:
            if (frame_.empty()) frameLength_ = static_cast<size_t>(byte) + 3;
            frame_.push_back(byte);
            if (frame_.size() == frameLength_) return onWriteData();
            return {};
        case State::WaitEraseCode:
            if (byte == 0xFF) {
                state_ = State::WaitEraseGlobalChecksum;
                return {};
            }
            frame_.assign(1, byte);
            frameLength_ = static_cast<size_t>(byte) + 3;
            state_ = State::WaitErasePages;
            return {};
        case State::WaitEraseGlobalChecksum: {
            if (byte != 0x00 || anyWriteProtection() || nackFault(2)) return nack(2);
            massErase();
            ++counters_.acks;
            state_ = State::WaitCommand;
            return ackStep(2, {kAck}, config_.massEraseNs);
        }
        case State::WaitErasePages:
            frame_.push_back(byte);
            if (frame_.size() == frameLength_) return onErasePages();
            return {};
        case State::WaitProtectSectors:
            if (frame_.empty()) frameLength_ = static_cast<size_t>(byte) + 3;
            frame_.push_back(byte);
            if (frame_.size() == frameLength_) return onProtectSectors();
            return {};
    }
    return {};
}

Board::Output Board::dispatch(uint8_t command) {
    ++counters_.commands;
    ++counters_.perCommand[command];
    frame_.clear();
    const bool servedUnderRdp =
        command == 0x00 || command == 0x01 || command == 0x02 || command == 0x92;
    const bool known = command == 0x00 || command == 0x01 || command == 0x02 || command == 0x11 ||
                       command == 0x21 || command == 0x31 || command == 0x43 || command == 0x63 ||
                       command == 0x73 || command == 0x82 || command == 0x92;
    if (!known || (rdp_ && !servedUnderRdp) || nackFault(1)) return nack(1);

    const uint8_t pidHi = static_cast<uint8_t>(config_.pid >> 8);
    const uint8_t pidLo = static_cast<uint8_t>(config_.pid);
    switch (command) {
        case 0x00:
            counters_.acks += 2;
            state_ = State::WaitCommand;
            return ackStep(1, {kAck, 0x0B, 0x22, 0x00, 0x01, 0x02, 0x11, 0x21, 0x31, 0x43, 0x63,
                               0x73, 0x82, 0x92, kAck});
        case 0x01:
            counters_.acks += 2;
            state_ = State::WaitCommand;
            return ackStep(1, {kAck, 0x22, 0x00, 0x00, kAck});
        case 0x02:
            counters_.acks += 2;
            state_ = State::WaitCommand;
            if (config_.fourByteGetId)
                return ackStep(1, {kAck, 0x03, pidHi, pidLo, 0x00, 0x00, kAck});
            return ackStep(1, {kAck, 0x01, pidHi, pidLo, kAck});
        case 0x11:
        case 0x21:
        case 0x31:
            ++counters_.acks;
            state_ = State::WaitAddress;
            return ackStep(1, {kAck});
        case 0x43:
            ++counters_.acks;
            state_ = State::WaitEraseCode;
            return ackStep(1, {kAck});
        case 0x63:
            ++counters_.acks;
            state_ = State::WaitProtectSectors;
            return ackStep(1, {kAck});
        default:
            return protectionChange(command);
    }
}

Board::Output Board::onAddress() {
    const uint8_t* f = frame_.data();
    const uint32_t address = static_cast<uint32_t>(f[0]) << 24 | static_cast<uint32_t>(f[1]) << 16 |
                             static_cast<uint32_t>(f[2]) << 8 | f[3];
    if ((f[0] ^ f[1] ^ f[2] ^ f[3]) != f[4]) return nack(2);
    uint32_t end = 0;
    const Area area = areaOf(address, &end);
    bool ok = false;
    switch (command_) {
        case 0x11:
            ok = area != Area::None;
            break;
        case 0x21:
            ok = area == Area::Flash || area == Area::Sram;
            break;
        case 0x31:
            ok = area == Area::Flash || area == Area::Option ||
                 (area == Area::Sram && address >= kSramBase + kSramBootloaderBytes);
            if (!config_.relaxedAlign && address % 4 != 0) ok = false;
            break;
    }
    if (!ok || nackFault(2)) return nack(2);
    address_ = address;
    frame_.clear();
    ++counters_.acks;
    if (command_ == 0x21) {
        state_ = State::Running;
        counters_.goAddress = address;
        events_.push_back("go " + hex32(address));
        return ackStep(2, {kAck});
    }
    state_ = command_ == 0x11 ? State::WaitReadCount : State::WaitWriteData;
    return ackStep(2, {kAck});
}

Board::Output Board::onReadCount() {
    const uint8_t n = frame_[0];
    const uint32_t count = static_cast<uint32_t>(n) + 1;
    uint32_t end = 0;
    areaOf(address_, &end);
    if (frame_[1] != static_cast<uint8_t>(n ^ 0xFF) || count > end - address_ || nackFault(3))
        return nack(3);
    std::vector<uint8_t> reply;
    reply.reserve(count + 1);
    reply.push_back(kAck);
    for (uint32_t i = 0; i < count; ++i) reply.push_back(*peek(address_ + i));
    ++counters_.acks;
    counters_.readBytes += count;
    state_ = State::WaitCommand;
    frame_.clear();
    return ackStep(3, std::move(reply));
}

Board::Output Board::onWriteData() {
    const uint8_t n = frame_[0];
    const uint32_t count = static_cast<uint32_t>(n) + 1;
    const uint8_t* data = frame_.data() + 1;
    uint8_t sum = n;
    for (uint32_t i = 0; i < count; ++i) sum ^= data[i];
    uint32_t end = 0;
    const Area area = areaOf(address_, &end);
    if (sum != frame_[count + 1] || count > end - address_) return nack(3);
    if (!config_.relaxedAlign && count % 4 != 0) return nack(3);
    if (area == Area::Flash) {
        const uint32_t first = (address_ - kFlashBase) / pageSize_;
        const uint32_t last = (address_ - kFlashBase + count - 1) / pageSize_;
        for (uint32_t p = first; p <= last; ++p)
            if (pageWriteProtected(p)) return nack(3);
    }
    if (nackFault(3)) return nack(3);

    if (area == Area::Sram) {
        std::memcpy(&ram_[address_ - kSramBase], data, count);
        counters_.writeBytes += count;
        ++counters_.acks;
        state_ = State::WaitCommand;
        frame_.clear();
        return ackStep(3, {kAck});
    }
    if (area == Area::Option) {
        std::memcpy(&option_[address_ - kOptionBase], data, count);
        counters_.writeBytes += count;
        ++counters_.optionWrites;
        counters_.eraseTimeNs += static_cast<uint64_t>(config_.optionProgramNs);
        ++counters_.acks;
        Output out = ackStep(3, {kAck}, config_.optionProgramNs);
        if (state_ != State::HungUp) doReset();  // new option bytes load at reset
        return out;
    }

    // Flash: program half-words; one that is not erased (unless written with 0x0000) stops the
    // write with a NACK and keeps its value.
    const uint32_t offset = address_ - kFlashBase;
    const uint32_t begin = offset & ~1u;
    const uint32_t stop = (offset + count + 1) & ~1u;
    int64_t busyNs = 0;
    for (uint32_t a = begin; a < stop; a += 2) {
        uint8_t lo = flash_[a], hi = flash_[a + 1];
        if (a >= offset && a < offset + count) lo = data[a - offset];
        if (a + 1 >= offset && a + 1 < offset + count) hi = data[a + 1 - offset];
        const uint16_t now = static_cast<uint16_t>(flash_[a] | flash_[a + 1] << 8);
        const uint16_t value = static_cast<uint16_t>(lo | hi << 8);
        busyNs += config_.halfWordProgramNs;
        counters_.programTimeNs += static_cast<uint64_t>(config_.halfWordProgramNs);
        if (now != 0xFFFF && value != 0x0000) return nack(3, busyNs);
        flash_[a] = lo;
        flash_[a + 1] = hi;
    }
    counters_.writeBytes += count;
    ++counters_.acks;
    state_ = State::WaitCommand;
    frame_.clear();
    return ackStep(3, {kAck}, busyNs);
}

Board::Output Board::onErasePages() {
    const uint8_t n = frame_[0];
    const uint32_t count = static_cast<uint32_t>(n) + 1;
    const uint32_t pages = static_cast<uint32_t>(flash_.size() / pageSize_);
    uint8_t sum = n;
    for (uint32_t i = 0; i < count; ++i) sum ^= frame_[1 + i];
    if (sum != frame_[count + 1]) return nack(2);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t page = frame_[1 + i];
        if (page >= pages || pageWriteProtected(page)) return nack(2);
    }
    if (nackFault(2)) return nack(2);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t page = frame_[1 + i];
        std::fill_n(flash_.begin() + page * pageSize_, pageSize_, 0xFF);
    }
    counters_.pageErases += count;
    const int64_t busyNs = config_.pageEraseNs * count;
    counters_.eraseTimeNs += static_cast<uint64_t>(busyNs);
    ++counters_.acks;
    state_ = State::WaitCommand;
    frame_.clear();
    return ackStep(2, {kAck}, busyNs);
}

Board::Output Board::onProtectSectors() {
    const uint8_t n = frame_[0];
    const uint32_t count = static_cast<uint32_t>(n) + 1;
    uint8_t sum = n;
    for (uint32_t i = 0; i < count; ++i) sum ^= frame_[1 + i];
    if (sum != frame_[count + 1]) return nack(2);
    for (uint32_t i = 0; i < count; ++i)
        if (frame_[1 + i] >= sectorCount()) return nack(2);
    if (nackFault(2)) return nack(2);
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned sector = frame_[1 + i];
        option_[8 + 2 * (sector / 8)] &= static_cast<uint8_t>(~(1u << (sector % 8)));
        option_[9 + 2 * (sector / 8)] = static_cast<uint8_t>(~option_[8 + 2 * (sector / 8)]);
    }
    ++counters_.optionWrites;
    counters_.eraseTimeNs += static_cast<uint64_t>(config_.optionProgramNs);
    ++counters_.acks;
    Output out = ackStep(2, {kAck}, config_.optionProgramNs);
    if (state_ != State::HungUp) doReset();
    return out;
}

// Write Unprotect, Readout Protect, Readout Unprotect: ACK, option-byte work, ACK, reset.
Board::Output Board::protectionChange(uint8_t command) {
    ++counters_.acks;
    Output out = ackStep(1, {kAck});
    if (state_ == State::HungUp) return out;
    if (nackFault(2)) {
        append(out, nack(2));
        return out;
    }
    int64_t busyNs = config_.optionProgramNs;
    switch (command) {
        case 0x73:
            for (int i = 8; i < 16; i += 2) {
                option_[i] = 0xFF;
                option_[i + 1] = 0x00;
            }
            break;
        case 0x82:
            option_[0] = 0x00;
            option_[1] = 0xFF;
            break;
        case 0x92:
            massErase();
            busyNs += config_.massEraseNs;
            option_[0] = 0xA5;
            option_[1] = 0x5A;
            break;
    }
    ++counters_.optionWrites;
    counters_.eraseTimeNs += static_cast<uint64_t>(config_.optionProgramNs);
    ++counters_.acks;
    append(out, ackStep(2, {kAck}, busyNs));
    if (state_ != State::HungUp) doReset();
    return out;
}

}  // namespace praxon::sim
