#include "DeviceTable.h"

#include <cerrno>
#include <cstdlib>

namespace praxon::sim {

// The table's bytes, generated from devices.tsv at build time (EmbedTable.cmake).
extern const unsigned char kDeviceTableText[];
extern const unsigned long kDeviceTableSize;

namespace {

std::vector<std::string> split(const std::string& text, char by, bool mergeRuns) {
    std::vector<std::string> parts;
    size_t at = 0;
    for (;;) {
        const size_t end = text.find(by, at);
        parts.push_back(text.substr(at, end - at));
        if (end == std::string::npos) break;
        at = end + 1;
        if (mergeRuns)
            while (at < text.size() && text[at] == by) ++at;
    }
    return parts;
}

bool number(const std::string& text, int base, unsigned long max, unsigned long* value) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || v > max) return false;
    *value = v;
    return true;
}

bool hex(const std::string& text, uint32_t* value) {
    unsigned long v = 0;
    if (text.size() < 3 || text.compare(0, 2, "0x") != 0 ||
        !number(text.substr(2), 16, 0xFFFFFFFF, &v))
        return false;
    *value = uint32_t(v);
    return true;
}

// "32K", "1M", "128B".
bool size(const std::string& text, uint32_t* bytes) {
    if (text.size() < 2) return false;
    const char unit = text.back();
    const uint64_t scale = unit == 'M' ? 1024 * 1024 : unit == 'K' ? 1024 : unit == 'B' ? 1 : 0;
    unsigned long v = 0;
    if (!scale || !number(text.substr(0, text.size() - 1), 10, 0xFFFFFFFF, &v) || v == 0 ||
        v * scale > 0xFFFFFFFFull)
        return false;
    *bytes = uint32_t(v * scale);
    return true;
}

bool sizeRegister(const std::string& text, DeviceRow* d) {
    const size_t colon = text.find(':');
    if (!hex(text.substr(0, colon), &d->sizeAddress)) return false;
    if (colon == std::string::npos) return true;
    const std::string coding = text.substr(colon + 1);
    if (coding == "f1") {
        d->sizeCoding = SizeCoding::F1;
    } else if (coding == "low8") {
        d->sizeCoding = SizeCoding::LowByte;
    } else {
        d->sizeCoding = SizeCoding::Codes;
        for (const std::string& pair : split(coding, ',', false)) {
            const size_t eq = pair.find('=');
            unsigned long code = 0;
            uint32_t bytes = 0;
            if (eq == std::string::npos || !number(pair.substr(0, eq), 10, 0xFFFF, &code) ||
                !size(pair.substr(eq + 1), &bytes))
                return false;
            d->sizeCodes.emplace_back(uint16_t(code), bytes);
        }
    }
    return true;
}

bool ram(const std::string& text, DeviceRow* d) {
    if (text == "-") return true;
    for (const std::string& range : split(text, ',', false)) {
        const size_t dash = range.find('-');
        uint32_t first = 0, last = 0;
        if (dash == std::string::npos || !hex(range.substr(0, dash), &first) ||
            !hex(range.substr(dash + 1), &last) || last < first)
            return false;
        d->ram.emplace_back(first, last);
    }
    return true;
}

// One row; empty when it parsed, else the faulty column.
std::string row(const std::vector<std::string>& cells, DeviceRow* d) {
    if (cells.size() != 16) return "16 columns expected";
    uint32_t v = 0;
    unsigned long n = 0;
    if (!hex(cells[0], &v) || v > 0xFFFF) return "pid";
    d->pid = uint16_t(v);
    d->family = cells[1];
    d->line = cells[2];
    if (!size(cells[3], &d->flashBytes)) return "flash";
    if (!sizeRegister(cells[4], d)) return "size";
    if (cells[5] != "?" && !parseUnits(cells[5], d)) return "units";
    if (cells[6] == "half")
        d->bank2Half = true;
    else if (cells[6] != "-" && !hex(cells[6], &d->bank2))
        return "bank2";
    if (!number(cells[7], 10, 256, &n) || n < 4 || (n & (n - 1))) return "align";
    d->align = uint32_t(n);
    if (!number(cells[8], 16, 0xFF, &n) || (n != 0x00 && n != 0xFF)) return "erased";
    d->erased = uint8_t(n);
    if (!ram(cells[9], d)) return "ram";
    if (!hex(cells[10], &d->systemMemory)) return "sysmem";
    if (cells[11] != "-" && !hex(cells[11], &d->optionBytes)) return "options";
    if (cells[12] != "yes" && cells[12] != "no") return "mass";
    d->massErase = cells[12] == "yes";
    const std::string& p = cells[13];
    unsigned long major = 0, minor = 0;
    if (p.size() != 3 || p[1] != '.' || !number(p.substr(0, 1), 16, 0xF, &major) ||
        !number(p.substr(2), 16, 0xF, &minor))
        return "proto";
    d->protocol = uint8_t(major << 4 | minor);
    if (!number(cells[14], 10, 1'000'000, &n) || n == 0) return "unit_ms";
    d->unitMs = int(n);
    if (!number(cells[15], 10, 1'000'000, &n) || n == 0) return "mass_ms";
    d->massMs = int(n);
    return {};
}

}  // namespace

bool parseUnits(const std::string& cell, DeviceRow* d) {
    std::string text = cell;
    d->units.clear();
    d->unitsAtMax = text.size() > 4 && text.compare(text.size() - 4, 4, "@max") == 0;
    if (d->unitsAtMax) text.resize(text.size() - 4);
    const std::vector<std::string> runs = split(text, ',', false);
    uint64_t total = 0;
    for (const std::string& r : runs) {
        UnitRun run;
        // One size alone runs to the end of the flash; in a list it is one unit.
        run.count = runs.size() == 1 ? 0 : 1;
        const size_t x = r.find('x');
        unsigned long count = 0;
        if (x != std::string::npos) {
            if (!number(r.substr(x + 1), 10, 0xFFFF, &count) || count == 0) return false;
            run.count = uint32_t(count);
        }
        if (!size(r.substr(0, x), &run.size)) return false;
        total += uint64_t(run.size) * (run.count ? run.count : d->flashBytes / run.size);
        d->units.push_back(run);
    }
    return total == d->flashBytes;
}

bool parseDeviceTable(const std::string& text, std::vector<DeviceRow>* rows, std::string* error) {
    rows->clear();
    int lineNo = 0;
    for (std::string line : split(text, '\n', false)) {
        ++lineNo;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        DeviceRow d;
        std::string fault = row(split(line, '\t', true), &d);
        for (const DeviceRow& other : *rows)
            if (fault.empty() && other.pid == d.pid) fault = "pid twice";
        if (!fault.empty()) {
            if (error) *error = "devices.tsv line " + std::to_string(lineNo) + ": " + fault;
            rows->clear();
            return false;
        }
        rows->push_back(std::move(d));
    }
    return true;
}

namespace {
struct Table {
    std::vector<DeviceRow> rows;
    std::string error;
    Table() {
        const std::string text(reinterpret_cast<const char*>(kDeviceTableText), kDeviceTableSize);
        parseDeviceTable(text, &rows, &error);
    }
};
const Table& table() {
    static const Table t;
    return t;
}
}  // namespace

const std::vector<DeviceRow>& deviceTable() {
    return table().rows;
}

const std::string& deviceTableError() {
    return table().error;
}

const DeviceRow* findDevice(uint16_t pid) {
    for (const DeviceRow& d : deviceTable())
        if (d.pid == pid) return &d;
    return nullptr;
}

}  // namespace praxon::sim
