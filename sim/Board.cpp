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

namespace {
DeviceRow deviceFor(uint16_t pid);
}

bool checkOptionEdits(uint16_t pid, const std::vector<std::string>& edits, std::string* why) {
    const DeviceRow device = deviceFor(pid);
    const OptionLayout* layout = FindOptionLayout(device);
    if (!layout) {
        *why = "the option bytes of " + device.family + " " + device.line + " are not modelled";
        return false;
    }
    std::vector<uint8_t> image = FactoryOptionBytes(*layout);
    bool permanent = false;
    return EncodeOptionEdits(device, *layout, edits, &image, &permanent, why);
}

namespace {

// A row the table may not have (it failed to parse: a build fault the tests report): the
// STM32F103 the simulator started as.
DeviceRow fallbackDevice() {
    DeviceRow d;
    d.pid = 0x410;
    d.family = "STM32F10x";
    d.line = "medium-density";
    d.maxFlashBytes = 128 * 1024;
    d.flashSizeRegister = 0x1FFFF7E0;
    d.sizeCoding = SizeCoding::F1;
    d.units = {{1024, 0}};
    d.ram = {{0x20000200, 0x20005000}};
    d.systemMemory = 0x1FFFF000;
    d.optionBytes = 0x1FFFF800;
    d.unitEraseMs = d.massEraseMs = 100;
    return d;
}

// The row for a product ID, with erase units where the table leaves them to the option bytes:
// the simulated chip has them as it leaves the factory.
DeviceRow deviceFor(uint16_t pid) {
    const DeviceRow* row = FindDeviceRow(pid);
    DeviceRow d = row ? *row : FindDeviceRow(0x410) ? *FindDeviceRow(0x410) : fallbackDevice();
    if (!d.units.empty()) return d;
    struct Factory {
        uint16_t pid;
        const char* units;
        bool dualBank;
    };
    static const Factory factory[] = {
        {0x451, "32Kx4,128K,256Kx7", false},  // F76x/F77x: single bank
        {0x467, "2K", true},                  // G0B0/G0B1/G0C1
        {0x469, "2K", true},                  // G47x/G48x
        {0x470, "4K", true},                  // L4R/L4S
        {0x471, "4K", true},                  // L4P5/L4Q5
        {0x472, "2K", true},                  // L552/L562
    };
    bool dual = false;
    for (const Factory& f : factory)
        if (f.pid == d.pid && ParseEraseUnits(f.units, &d)) dual = f.dualBank;
    if (d.units.empty()) d.units = {{2048, 0}};
    if (dual && !d.bank2) d.bank2AtHalf = true;
    return d;
}

bool isFamily(const DeviceRow& d, const char* family) {
    return d.family == family;
}

int usualFlashKb(const DeviceRow& d) {
    // The blue pill's STM32F103C8: 64 KB of a medium-density line that goes up to 128 KB.
    if (d.pid == 0x410) return 64;
    return int(d.maxFlashBytes / 1024);
}

// The erase-unit runs of a chip with flashBytes of flash; STM32F10x pages are 1 KB up to 128 KB
// of flash, 2 KB above, whatever the product ID.
std::vector<EraseRun> unitRuns(const DeviceRow& d, uint32_t flashBytes) {
    if (isFamily(d, "STM32F10x")) return {{flashBytes > 128 * 1024 ? 2048u : 1024u, 0}};
    return d.units;
}

// The units in address order; a unit the flash ends in is cut short (flashSizeFits refuses that).
std::vector<Board::Unit> placeUnits(const DeviceRow& d, uint32_t flashBytes) {
    std::vector<Board::Unit> units;
    uint32_t at = 0;
    for (const EraseRun& run : unitRuns(d, flashBytes)) {
        for (uint32_t i = 0; at < flashBytes && (run.count == 0 || i < run.count); ++i) {
            units.push_back({at, std::min(run.size, flashBytes - at)});
            at += units.back().size;
        }
    }
    return units;
}

}  // namespace

bool productSizes(uint16_t pid, int* flashKb, int* ramKb) {
    const DeviceRow* d = FindDeviceRow(pid);
    if (!d) return false;
    if (flashKb) *flashKb = usualFlashKb(*d);
    if (ramKb) {
        uint32_t end = 0;
        for (const AddressRange& r : d->ram)
            if ((r.begin & 0xFF000000) == 0x20000000)
                end = std::max(end, uint32_t(r.end - 0x20000000));
        *ramKb = int(end / 1024);
    }
    return true;
}

bool flashSizeFits(uint16_t pid, int flashKb, std::string* why) {
    const DeviceRow* d = FindDeviceRow(pid);
    auto fail = [&](const std::string& text) {
        if (why) *why = text;
        return false;
    };
    if (!d) return fail("unknown product ID");
    if (flashKb < 1 || flashKb > 4096) return fail("must be 1 to 4096");
    const uint32_t bytes = uint32_t(flashKb) * 1024;
    uint64_t at = 0;
    for (const EraseRun& run : unitRuns(deviceFor(pid), bytes))
        for (uint32_t i = 0; at < bytes && (run.count == 0 || i < run.count); ++i) at += run.size;
    if (at > bytes) return fail("must end at the end of an erase unit");
    if (at < bytes) return fail("is larger than the chip's erase units reach");
    return true;
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
    field("bank_erases", num(c.bankErases));
    field("page_erases", num(c.pageErases));
    field("option_writes", num(c.optionWrites));
    field("program_time_us", micros(c.programTimeNs));
    field("erase_time_us", micros(c.eraseTimeNs));
    field("go_address", c.goAddress ? "\"" + hex32(*c.goAddress) + "\"" : std::string("null"));
    field("resets", num(c.resets));
    field("noisy_bytes", num(c.noisyBytes));
    field("dropped_bytes", num(c.droppedBytes));
    field("fault_resets", num(c.faultResets), true);
    s += "}\n";
    return s;
}

Board::Board(const BoardConfig& config) : config_(config), device_(deviceFor(config.pid)) {
    const int flashKb = config_.flashKb > 0 ? config_.flashKb : usualFlashKb(device_);
    const uint32_t flashBytes = uint32_t(flashKb) * 1024;
    flash_.assign(flashBytes, device_.erasedValue);
    units_ = placeUnits(device_, flashBytes);
    if (device_.bank2AtHalf)
        bank2_ = flashBytes / 2;
    else if (device_.bank2 > kFlashBase && device_.bank2 - kFlashBase < flashBytes)
        bank2_ = device_.bank2 - kFlashBase;
    halfWords_ = isFamily(device_, "STM32F0xx") || isFamily(device_, "STM32F10x") ||
                 isFamily(device_, "STM32F3xx");
    if (!halfWords_) written_.assign(flashBytes / device_.writeAlign + 1, false);
    buildMemory();

    // As the chip leaves the factory, then as the configuration asks.
    if (optionBase_) {
        layout_ = FindOptionLayout(device_);
        // Families whose layout is not in the table yet keep F0's 16 bytes as a stand-in.
        if (!layout_)
            for (const OptionLayout& l : BuiltInOptionLayouts())
                if (l.name == "F0") layout_ = &l;
    }
    if (layout_) option_ = FactoryOptionBytes(*layout_);
    if (config_.readoutProtected) setOption("RDP", 1);
    if (config_.hardwareWatchdog) {
        setOption("WDG_SW", 0);
        setOption("IWDG_SW", 0);
    }
    bool permanent = false;
    std::string error;
    if (layout_ && !config_.optionEdits.empty() &&
        !EncodeOptionEdits(device_, *layout_, config_.optionEdits, &option_, &permanent, &error))
        events_.push_back("option bytes left as they were: " + error);
    syncOptionBytes();

    // Powered up with no port open: both lines released.
    nrstHigh_ = pinHigh(config_.wiring.reset, config_.wiring.resetInverted);
    boot0High_ = pinHigh(config_.wiring.boot0, config_.wiring.boot0Inverted);
    if (!nrstHigh_)
        state_ = State::Held;
    else if (!boot0High_)
        state_ = State::Running;
}

// RAM, system memory with the flash-size value (in a block of its own where it lies away from
// system memory), option bytes.
void Board::buildMemory() {
    for (const AddressRange& r : device_.ram) {
        const uint32_t first = r.begin;
        const uint32_t base = first & 0xFF000000;
        auto region =
            std::find_if(ram_.begin(), ram_.end(), [&](const Ram& r) { return r.base == base; });
        if (region == ram_.end()) region = ram_.insert(ram_.end(), Ram{base, first, {}});
        region->usable = std::min(region->usable, first);
        region->bytes.resize(std::max<size_t>(region->bytes.size(), size_t(r.end - base)), 0x00);
    }

    const uint32_t sizeAt = device_.flashSizeRegister;
    systemBase_ = device_.systemMemory;
    const bool inSystem = sizeAt >= systemBase_ && sizeAt - systemBase_ < 0x20000;
    system_.resize(inSystem ? ((sizeAt + 4 - systemBase_ + 0xFF) & ~0xFFu) : 0x1000);
    // Stand-in for the bootloader code: fixed, so reads are reproducible.
    for (size_t i = 0; i < system_.size(); ++i) system_[i] = static_cast<uint8_t>(i * 37 + 11);
    uint8_t* value = nullptr;
    if (inSystem) {
        std::fill(system_.begin() + ((sizeAt & ~0x1Fu) - systemBase_), system_.end(), 0xFF);
        value = &system_[sizeAt - systemBase_];
    } else {
        infoBase_ = sizeAt & ~0xFFu;
        info_.assign(0x100, 0xFF);
        value = &info_[sizeAt - infoBase_];
    }
    const uint32_t kb = flashSize() / 1024;
    uint16_t coded = uint16_t(kb);
    if (device_.sizeCoding == SizeCoding::KiBLowByte) coded = uint16_t(0xFF00 | (kb & 0xFF));
    if (device_.sizeCoding == SizeCoding::Codes) {
        coded = 0xFFFF;
        for (const auto& [code, bytes] : device_.sizeCodes)
            if (bytes == flashSize()) coded = code;
    }
    value[0] = uint8_t(coded);
    value[1] = uint8_t(coded >> 8);
    if (device_.sizeCoding == SizeCoding::F1) {
        value[2] = uint8_t(config_.ramField);
        value[3] = uint8_t(config_.ramField >> 8);
    }
    optionBase_ = device_.optionBytes;

    // The unique ID where the family keeps it (a word that lies nowhere mapped is left out).
    static const uint8_t standIn[10] = {'P', 'r', 'a', 'x', 'o', 'n', 'S', 'i', 'm', 0x00};
    std::copy(std::begin(standIn), std::end(standIn), uid_.begin());
    uid_[10] = uint8_t(config_.pid >> 8);
    uid_[11] = uint8_t(config_.pid);
    if (config_.uid) uid_ = *config_.uid;
    if (device_.hasUid())
        for (size_t i = 0; i < uid_.size(); ++i)
            if (uint8_t* byte = mappedByte(device_.uidWords[i / 4] + uint32_t(i % 4)))
                *byte = uid_[i];
}

uint8_t* Board::mappedByte(uint32_t address) {
    if (address >= systemBase_ && address - systemBase_ < system_.size())
        return &system_[address - systemBase_];
    if (!info_.empty() && address >= infoBase_ && address - infoBase_ < info_.size())
        return &info_[address - infoBase_];
    return nullptr;
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

std::vector<FlashUnit> Board::flashUnits() const {
    std::vector<FlashUnit> units;
    for (const Unit& u : units_) units.push_back({u.offset, u.size});
    return units;
}

// The option bytes take effect at reset.
void Board::syncOptionBytes() {
    applyBankLayout();
    protected_.assign(units_.size(), false);
    if (!layout_) return;
    const int level = ReadoutLevel(*layout_, option_);
    rdp_ = level > 0;
    rdpLevel2_ = level == 2;
    const OptionField* wdg = FindOptionField(*layout_, device_.pid, "WDG_SW");
    if (!wdg) wdg = FindOptionField(*layout_, device_.pid, "IWDG_SW");
    hardwareWatchdog_ = wdg && OptionFieldValue(*wdg, option_) == 0;
    protected_ = ProtectedUnits(*layout_, device_.pid, flashUnits(), option_);
}

// Where an option bit decides them, the erase units, banks and their numbers follow it.
void Board::applyBankLayout() {
    const BankLayoutRule* rule =
        layout_ ? FindBankLayout(*layout_, device_.pid, flashSize(), option_) : nullptr;
    if (!rule) return;
    units_ = placeUnits(WithBankLayout(device_, *rule), flashSize());
    bank2_ = rule->twoBanks ? flashSize() / 2 : 0;
    bank2Number_ = rule->twoBanks ? rule->bank2Number : 0;
}

// The unit an erase means by its number; units_.size() for a number the chip does not have.
size_t Board::unitOfNumber(uint32_t number) const {
    if (!bank2Number_) return number;
    const auto bank1 = size_t(std::count_if(units_.begin(), units_.end(),
                                            [&](const Unit& u) { return u.offset < bank2_; }));
    if (number < bank1) return number;
    if (number >= bank2Number_ && number - bank2Number_ < units_.size() - bank1)
        return bank1 + (number - bank2Number_);
    return units_.size();
}

// A field by name (readout: its level), complements included; a name the chip lacks: nothing.
void Board::setOption(const char* name, uint32_t value) {
    if (!layout_ || !FindOptionField(*layout_, device_.pid, name)) return;
    bool permanent = false;
    std::string error;
    EncodeOptionEdits(device_, *layout_, {std::string(name) + "=" + std::to_string(value)},
                      &option_, &permanent, &error);
}

void Board::clearWriteProtection() {
    if (!layout_) return;
    for (const OptionField& f : layout_->fields) {
        if (f.kind == OptionKind::Wrp) SetOptionFieldValue(f, 0xFFFFFFFF, &option_);
        if (f.kind == OptionKind::Wrp1) SetOptionFieldValue(f, 0, &option_);
        // An area is off when its first page lies above its last.
        if (f.kind == OptionKind::WrpFirst) SetOptionFieldValue(f, 0xFFFFFFFF, &option_);
        if (f.kind == OptionKind::WrpLast) SetOptionFieldValue(f, 0, &option_);
    }
    FillComplements(*layout_, &option_);
}

void Board::setFaults(const std::vector<Fault>& faults) {
    config_.faults = faults;
}

void Board::loadFlash(uint32_t offset, const uint8_t* data, size_t size) {
    if (offset >= flash_.size()) return;
    size = std::min(size, flash_.size() - offset);
    std::memcpy(&flash_[offset], data, size);
    // What is not erased counts as written.
    for (size_t i = 0; i < size && !written_.empty(); ++i)
        if (data[i] != device_.erasedValue) written_[(offset + i) / device_.writeAlign] = true;
}

std::vector<std::string> Board::takeEvents() {
    std::vector<std::string> out;
    out.swap(events_);
    return out;
}

Board::Area Board::areaOf(uint32_t address, uint32_t* end, Ram** ram) const {
    auto inside = [&](uint32_t base, size_t size) {
        if (address < base || address - base >= size) return false;
        *end = base + static_cast<uint32_t>(size);
        return true;
    };
    if (inside(kFlashBase, flash_.size())) return Area::Flash;
    for (const Ram& r : ram_) {
        if (inside(r.base, r.bytes.size())) {
            if (ram) *ram = const_cast<Ram*>(&r);
            return Area::Sram;
        }
    }
    if (optionBase_ && inside(optionBase_, option_.size())) return Area::Option;
    if (inside(systemBase_, system_.size())) return Area::System;
    if (!info_.empty() && inside(infoBase_, info_.size())) {
        // Stops short of option bytes inside the block.
        if (optionBase_ > address && optionBase_ < *end) *end = optionBase_;
        return Area::Info;
    }
    *end = 0;
    return Area::None;
}

std::optional<uint8_t> Board::peek(uint32_t address) const {
    uint32_t end = 0;
    Ram* ram = nullptr;
    switch (areaOf(address, &end, &ram)) {
        case Area::Flash:
            return flash_[address - kFlashBase];
        case Area::Sram:
            return ram->bytes[address - ram->base];
        case Area::System:
            return system_[address - systemBase_];
        case Area::Info:
            return info_[address - infoBase_];
        case Area::Option:
            return option_[address - optionBase_];
        case Area::None:
            break;
    }
    return std::nullopt;
}

bool Board::pageWriteProtected(unsigned page) const {
    return page < protected_.size() && protected_[page];
}

bool Board::anyWriteProtection(size_t firstUnit, size_t endUnit) const {
    for (size_t u = firstUnit; u < endUnit; ++u)
        if (pageWriteProtected(unsigned(u))) return true;
    return false;
}

int64_t Board::unitEraseNs(size_t index) const {
    uint32_t smallest = UINT32_MAX;
    for (const Unit& u : units_) smallest = std::min(smallest, u.size);
    // Typical figures, kept modest: 30 % of the table's longest, at most 30 ms for the smallest
    // unit (less for pages under 1 KB).
    int64_t ns = config_.pageEraseNs;
    if (ns < 0) {
        ns = std::min<int64_t>(int64_t(device_.unitEraseMs) * 300'000, 30'000'000);
        if (smallest < 1024) ns = ns * smallest / 1024;
    }
    return ns * std::max<uint32_t>(1, units_[index].size / smallest);
}

int64_t Board::massEraseNs() const {
    if (config_.massEraseNs >= 0) return config_.massEraseNs;
    return std::min<int64_t>(int64_t(device_.massEraseMs) * 300'000, 1'000'000'000);
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
    if (rdpLevel2_) {
        // Readout level 2 turns the bootloader off for good.
        state_ = State::Running;
        events_.push_back("readout level 2: the bootloader does not start");
    } else if (boot0High_) {
        state_ = State::WaitSync;
    } else {
        state_ = State::Running;
        events_.push_back("running the user program");
    }
}

uint8_t* Board::sram(uint32_t* size) {
    for (Ram& r : ram_) {
        if (r.base == 0x20000000) {
            *size = uint32_t(r.bytes.size());
            return r.bytes.data();
        }
    }
    *size = 0;
    return nullptr;
}

void Board::systemReset(const std::string& why) {
    if (state_ != State::RamCode) return;
    events_.push_back(why);
    doReset();
    haveLastByte_ = false;
}

void Board::startUserProgram() {
    if (state_ != State::RamCode) return;
    state_ = State::Running;
    events_.push_back("running the user program");
}

void Board::eraseRange(uint32_t offset, uint32_t size) {
    std::fill_n(flash_.begin() + offset, size, device_.erasedValue);
    if (!written_.empty())
        std::fill_n(written_.begin() + offset / device_.writeAlign, size / device_.writeAlign,
                    false);
}

void Board::massErase() {
    eraseRange(0, flashSize());
    ++counters_.massErases;
    counters_.eraseTimeNs += static_cast<uint64_t>(massEraseNs());
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
        case State::RamCode:
            return {};
        case State::Running:
            if (byte != kSync || config_.wiring.any()) return {};
            doReset();
            if (state_ != State::WaitSync) return {};  // readout level 2: no bootloader
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
            if (byte != 0x00 || anyWriteProtection(0, units_.size()) || nackFault(2))
                return nack(2);
            massErase();
            ++counters_.acks;
            state_ = State::WaitCommand;
            return ackStep(2, {kAck}, massEraseNs());
        }
        case State::WaitErasePages:
            frame_.push_back(byte);
            if (frame_.size() == frameLength_) return onErasePages();
            return {};
        case State::WaitExtendedErase:
            // Two bytes of count (N-1, or a special code from 0xFFF0 on with one checksum byte),
            // then N unit numbers of two bytes and the checksum of everything.
            frame_.push_back(byte);
            if (frame_.size() == 2) {
                const size_t n = size_t(frame_[0]) << 8 | frame_[1];
                frameLength_ = n >= 0xFFF0 ? 3 : 2 + 2 * (n + 1) + 1;
            }
            if (frame_.size() == frameLength_) return onExtendedErase();
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
    // Erase (0x43) up to protocol 2.x, Extended Erase (0x44) from 3.0 on: never both.
    const uint8_t version = device_.protocol;
    const uint8_t erase = version >= 0x30 ? 0x44 : 0x43;
    const bool known = command == 0x00 || command == 0x01 || command == 0x02 || command == 0x11 ||
                       command == 0x21 || command == 0x31 || command == erase || command == 0x63 ||
                       command == 0x73 || command == 0x82 || command == 0x92;
    if (!known || (rdp_ && !servedUnderRdp) || nackFault(1)) return nack(1);

    const uint8_t pidHi = static_cast<uint8_t>(config_.pid >> 8);
    const uint8_t pidLo = static_cast<uint8_t>(config_.pid);
    switch (command) {
        case 0x00:
            counters_.acks += 2;
            state_ = State::WaitCommand;
            return ackStep(1, {kAck, 0x0B, version, 0x00, 0x01, 0x02, 0x11, 0x21, 0x31, erase, 0x63,
                               0x73, 0x82, 0x92, kAck});
        case 0x01:
            counters_.acks += 2;
            state_ = State::WaitCommand;
            return ackStep(1, {kAck, version, 0x00, 0x00, kAck});
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
        case 0x44:
            ++counters_.acks;
            state_ = command == 0x43 ? State::WaitEraseCode : State::WaitExtendedErase;
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
    Ram* ram = nullptr;
    const Area area = areaOf(address, &end, &ram);
    bool ok = false;
    switch (command_) {
        case 0x11:
            ok = area != Area::None;
            break;
        case 0x21:
            ok = area == Area::Flash || area == Area::Sram;
            break;
        case 0x31: {
            // The bootloader keeps the start of RAM for itself; flash goes in whole write units.
            const uint32_t align = area == Area::Flash ? device_.writeAlign : 4;
            ok = area == Area::Flash || area == Area::Option ||
                 (area == Area::Sram && address >= ram->usable);
            if (!config_.relaxedAlign && address % align != 0) ok = false;
            break;
        }
    }
    if (!ok || nackFault(2)) return nack(2);
    address_ = address;
    frame_.clear();
    ++counters_.acks;
    if (command_ == 0x21) {
        // STM32F10x: the code runs on the emulated core.
        const bool emulated = config_.runRamCode && isFamily(device_, "STM32F10x");
        state_ = area == Area::Sram && emulated ? State::RamCode : State::Running;
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
    Ram* ram = nullptr;
    const Area area = areaOf(address_, &end, &ram);
    if (sum != frame_[count + 1] || count > end - address_) return nack(3);
    const uint32_t align = area == Area::Flash ? device_.writeAlign : 4;
    if (!config_.relaxedAlign && count % align != 0) return nack(3);
    if (area == Area::Flash) {
        const uint32_t offset = address_ - kFlashBase;
        for (size_t u = 0; u < units_.size(); ++u)
            if (units_[u].offset < offset + count && offset < units_[u].offset + units_[u].size &&
                pageWriteProtected(unsigned(u)))
                return nack(3);
    }
    if (nackFault(3)) return nack(3);

    if (area == Area::Sram) {
        std::memcpy(&ram->bytes[address_ - ram->base], data, count);
        counters_.writeBytes += count;
        ++counters_.acks;
        state_ = State::WaitCommand;
        frame_.clear();
        return ackStep(3, {kAck});
    }
    if (area == Area::Option) {
        // The bootloader erases the whole area first where the chip keeps complements (the
        // hardware writes those): bytes not sent read back erased.
        if (layout_ && layout_->complement != Complement::None)
            std::fill(option_.begin(), option_.end(), 0xFF);
        std::memcpy(&option_[address_ - optionBase_], data, count);
        FillComplements(*layout_, &option_);
        counters_.writeBytes += count;
        ++counters_.optionWrites;
        counters_.eraseTimeNs += static_cast<uint64_t>(config_.optionProgramNs);
        ++counters_.acks;
        Output out = ackStep(3, {kAck}, config_.optionProgramNs);
        if (state_ != State::HungUp) doReset();  // new option bytes load at reset
        return out;
    }

    const uint32_t offset = address_ - kFlashBase;
    int64_t busyNs = 0;
    if (!halfWords_) {
        // Flash with error correction: a write unit takes one write after each erase; the
        // bootloader checks them all before it programs any.
        const uint32_t first = offset / device_.writeAlign;
        const uint32_t last = (offset + count - 1) / device_.writeAlign;
        for (uint32_t u = first; u <= last; ++u)
            if (written_[u]) return nack(3);
        std::memcpy(&flash_[offset], data, count);
        for (uint32_t u = first; u <= last; ++u) written_[u] = true;
        busyNs = config_.halfWordProgramNs * ((count + 1) / 2);
        counters_.programTimeNs += static_cast<uint64_t>(busyNs);
    } else {
        // Half-words: one that is not erased (unless written with 0x0000) stops the write with a
        // NACK and keeps its value.
        const uint32_t begin = offset & ~1u;
        const uint32_t stop = (offset + count + 1) & ~1u;
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
    uint8_t sum = n;
    for (uint32_t i = 0; i < count; ++i) sum ^= frame_[1 + i];
    if (sum != frame_[count + 1]) return nack(2);
    return eraseUnits(std::vector<uint32_t>(frame_.begin() + 1, frame_.begin() + 1 + count), 2);
}

Board::Output Board::onExtendedErase() {
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < frame_.size(); ++i) sum ^= frame_[i];
    if (sum != frame_.back()) return nack(2);
    const uint32_t code = uint32_t(frame_[0]) << 8 | frame_[1];
    if (code < 0xFFF0) {
        std::vector<uint32_t> list;
        for (size_t i = 2; i + 1 < frame_.size(); i += 2)
            list.push_back(uint32_t(frame_[i]) << 8 | frame_[i + 1]);
        return eraseUnits(list, 2);
    }
    // FFFF: the whole flash (not on L0/L1); FFFE, FFFD: bank 1 or 2 of a chip that has two;
    // FFF0 to FFFC are reserved.
    const size_t bank2 =
        size_t(std::find_if(units_.begin(), units_.end(),
                            [&](const Unit& u) { return bank2_ && u.offset >= bank2_; }) -
               units_.begin());
    size_t first = 0, end = units_.size();
    if (code == 0xFFFE) end = bank2;
    if (code == 0xFFFD) first = bank2;
    const bool bankErase = code == 0xFFFE || code == 0xFFFD;
    if ((code == 0xFFFF && !device_.massErase) || (bankErase && !bank2_) ||
        (!bankErase && code != 0xFFFF) || anyWriteProtection(first, end) || nackFault(2))
        return nack(2);
    int64_t busyNs = massEraseNs();
    if (bankErase) {
        const uint32_t from = units_[first].offset;
        const uint32_t to = end < units_.size() ? units_[end].offset : flashSize();
        eraseRange(from, to - from);
        busyNs = busyNs * (to - from) / flashSize();
        ++counters_.bankErases;
        counters_.eraseTimeNs += static_cast<uint64_t>(busyNs);
    } else {
        massErase();
    }
    ++counters_.acks;
    state_ = State::WaitCommand;
    frame_.clear();
    return ackStep(2, {kAck}, busyNs);
}

// Erases units by number, or none of them (NACK) when one is not there or is write-protected
// (unless protected ones are to be skipped silently).
Board::Output Board::eraseUnits(const std::vector<uint32_t>& numbers, unsigned step) {
    std::vector<size_t> list;
    for (uint32_t number : numbers) list.push_back(unitOfNumber(number));
    for (size_t unit : list)
        if (unit >= units_.size() ||
            (pageWriteProtected(unsigned(unit)) && !config_.skipProtectedErase))
            return nack(step);
    if (nackFault(step)) return nack(step);
    int64_t busyNs = 0;
    for (size_t unit : list) {
        if (pageWriteProtected(unsigned(unit))) continue;  // skipped, yet acknowledged
        eraseRange(units_[unit].offset, units_[unit].size);
        busyNs += unitEraseNs(unit);
        ++counters_.pageErases;
    }
    counters_.eraseTimeNs += static_cast<uint64_t>(busyNs);
    ++counters_.acks;
    state_ = State::WaitCommand;
    frame_.clear();
    return ackStep(step, {kAck}, busyNs);
}

Board::Output Board::onProtectSectors() {
    const uint8_t n = frame_[0];
    const uint32_t count = static_cast<uint32_t>(n) + 1;
    uint8_t sum = n;
    for (uint32_t i = 0; i < count; ++i) sum ^= frame_[1 + i];
    if (sum != frame_[count + 1]) return nack(2);
    // The codes replace the protection there was: 4 KB blocks or sectors by number (the WRP
    // bits), or on chips with areas a first and a last page per area.
    const std::vector<uint8_t> codes(frame_.begin() + 1, frame_.begin() + 1 + count);
    std::vector<const OptionField*> targets;  // wrp fields, or the areas' first and last
    // The fields themselves, not a copy: targets keeps pointers to them.
    static const std::vector<OptionField> kNoFields;
    for (const OptionField& f : layout_ ? layout_->fields : kNoFields)
        if (f.appliesTo(device_.pid) &&
            (layout_->grain == ProtectionGrain::Pages
                 ? f.kind == OptionKind::WrpFirst || f.kind == OptionKind::WrpLast
                 : ProtectsByBit(f.kind)))
            targets.push_back(&f);
    const bool areas = layout_ && layout_->grain == ProtectionGrain::Pages;
    const unsigned groups = layout_ ? ProtectionGroupCount(*layout_, device_.pid) : 0;
    bool valid = !targets.empty() && (!areas || (count % 2 == 0 && count <= targets.size()));
    for (uint8_t code : codes)
        if (!areas && code >= groups) valid = false;
    if (!valid || nackFault(2)) return nack(2);
    clearWriteProtection();
    if (areas) {
        for (size_t i = 0; i < codes.size(); ++i)
            SetOptionFieldValue(*targets[i], codes[i], &option_);
    } else {
        for (uint8_t code : codes) {
            unsigned first = 0;
            for (const OptionField* f : targets) {
                if (code < first + unsigned(f->width)) {
                    const uint32_t bit = 1u << (code - first);
                    const uint32_t v = OptionFieldValue(*f, option_);
                    SetOptionFieldValue(*f, f->kind == OptionKind::Wrp1 ? v | bit : v & ~bit,
                                        &option_);
                    break;
                }
                first += unsigned(f->width);
            }
        }
    }
    FillComplements(*layout_, &option_);
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
            clearWriteProtection();
            break;
        case 0x82:
            setOption("RDP", 1);
            break;
        case 0x92:
            massErase();
            busyNs += massEraseNs();
            setOption("RDP", 0);
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
