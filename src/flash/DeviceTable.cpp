#include "DeviceTable.h"

#include <algorithm>

namespace praxon {

// The table's bytes, generated from devices.tsv at build time (EmbedTable.cmake).
extern const unsigned char kDeviceTableText[];
extern const unsigned long kDeviceTableSize;

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// Pieces between separators; a run of separators counts as one when mergeRuns.
std::vector<std::string_view> Split(std::string_view text, char by, bool mergeRuns) {
    std::vector<std::string_view> parts;
    size_t at = 0;
    for (;;) {
        const size_t end = text.find(by, at);
        parts.push_back(text.substr(at, end == std::string_view::npos ? end : end - at));
        if (end == std::string_view::npos) break;
        at = end + 1;
        if (mergeRuns)
            while (at < text.size() && text[at] == by) ++at;
    }
    return parts;
}

// The text before and after the first `by`; after is empty when there is none.
std::pair<std::string_view, std::string_view> Cut(std::string_view text, char by) {
    const size_t at = text.find(by);
    if (at == std::string_view::npos) return {text, {}};
    return {text.substr(0, at), text.substr(at + 1)};
}

int DigitValue(char c, int base) {
    int v = 16;
    if (c >= '0' && c <= '9') v = c - '0';
    if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    return v < base ? v : -1;
}

// Digits only (no sign, no blanks), at most max.
bool Number(std::string_view text, int base, uint64_t max, uint64_t* value) {
    if (text.empty()) return false;
    uint64_t v = 0;
    for (char c : text) {
        const int d = DigitValue(c, base);
        if (d < 0) return false;
        v = v * uint64_t(base) + uint64_t(d);
        if (v > max) return false;
    }
    *value = v;
    return true;
}

// "0x1FFFF7E0".
bool Hex(std::string_view text, uint32_t* value) {
    uint64_t v = 0;
    if (text.substr(0, 2) != "0x" || !Number(text.substr(2), 16, 0xFFFFFFFF, &v)) return false;
    *value = uint32_t(v);
    return true;
}

// "32K", "1M", "128B", "1536K".
bool Size(std::string_view text, uint32_t* bytes) {
    if (text.size() < 2) return false;
    const char unit = text.back();
    const uint64_t scale = unit == 'M' ? 1024 * 1024 : unit == 'K' ? 1024 : unit == 'B' ? 1 : 0;
    uint64_t v = 0;
    if (scale == 0 || !Number(text.substr(0, text.size() - 1), 10, 0xFFFFFFFF, &v) || v == 0 ||
        v * scale > 0xFFFFFFFF)
        return false;
    *bytes = uint32_t(v * scale);
    return true;
}

// "0x1FFFF7E0", with ":f1", ":low8" or ":CODE=SIZE,..." after it.
bool SizeRegister(std::string_view text, DeviceRow* d) {
    const auto [address, coding] = Cut(text, ':');
    if (!Hex(address, &d->flashSizeRegister)) return false;
    if (coding.empty()) {
        d->sizeCoding = SizeCoding::KiB;
    } else if (coding == "f1") {
        d->sizeCoding = SizeCoding::F1;
    } else if (coding == "low8") {
        d->sizeCoding = SizeCoding::KiBLowByte;
    } else {
        d->sizeCoding = SizeCoding::Codes;
        for (std::string_view pair : Split(coding, ',', false)) {
            const auto [codeText, sizeText] = Cut(pair, '=');
            uint64_t code = 0;
            uint32_t bytes = 0;
            if (!Number(codeText, 10, 0xFFFF, &code) || !Size(sizeText, &bytes)) return false;
            d->sizeCodes.emplace_back(uint16_t(code), bytes);
        }
    }
    return true;
}

bool Ram(std::string_view text, DeviceRow* d) {
    if (text == "-") return true;
    for (std::string_view range : Split(text, ',', false)) {
        const auto [firstText, lastText] = Cut(range, '-');
        uint32_t first = 0, last = 0;
        if (!Hex(firstText, &first) || !Hex(lastText, &last) || last < first) return false;
        d->ram.push_back({first, uint64_t(last) + 1});
    }
    return true;
}

// "-", "0x1FFFF7E8" (three words in a row) or "0x1FF80050,0x1FF80054,0x1FF80064".
bool UniqueId(std::string_view text, DeviceRow* d) {
    d->uidWords = {};
    if (text == "-") return true;
    const std::vector<std::string_view> words = Split(text, ',', false);
    if (words.size() != 1 && words.size() != 3) return false;
    for (size_t i = 0; i < words.size(); ++i)
        if (!Hex(words[i], &d->uidWords[i]) || d->uidWords[i] == 0 || d->uidWords[i] % 4 != 0 ||
            d->uidWords[i] > 0xFFFFFFF4)
            return false;
    if (words.size() == 1)
        for (size_t i = 1; i < 3; ++i) d->uidWords[i] = d->uidWords[0] + 4 * uint32_t(i);
    return true;
}

// "3.1" -> 0x31.
bool Protocol(std::string_view text, uint8_t* version) {
    const auto upperDigit = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    if (text.size() != 3 || text[1] != '.' || !upperDigit(text[0]) || !upperDigit(text[2]))
        return false;
    *version = uint8_t(DigitValue(text[0], 16) << 4 | DigitValue(text[2], 16));
    return true;
}

// One row; empty when it parsed, else the faulty column.
std::string Row(const std::vector<std::string_view>& cells, DeviceRow* d) {
    if (cells.size() != 17) return "17 columns expected";
    uint32_t value = 0;
    uint64_t n = 0;
    if (!Hex(cells[0], &value) || value > 0xFFFF) return "pid";
    d->pid = uint16_t(value);
    d->family = std::string(cells[1]);
    d->line = std::string(cells[2]);
    if (!Size(cells[3], &d->maxFlashBytes)) return "flash";
    if (!SizeRegister(cells[4], d)) return "size";
    if (!ParseEraseUnits(cells[5], d)) return "units";
    std::string_view bank2 = cells[6];
    const std::string_view atMax = "@max";
    if (bank2.size() > atMax.size() && bank2.substr(bank2.size() - atMax.size()) == atMax) {
        d->bank2AtMaxOnly = true;
        bank2.remove_suffix(atMax.size());
    }
    if (bank2 == "half")
        d->bank2AtHalf = true;
    else if (bank2 == "-" ? d->bank2AtMaxOnly : !Hex(bank2, &d->bank2))
        return "bank2";
    if (!Number(cells[7], 10, 256, &n) || n < 4 || (n & (n - 1))) return "align";
    d->writeAlign = int(n);
    if (!Number(cells[8], 16, 0xFF, &n) || (n != 0x00 && n != 0xFF)) return "erased";
    d->erasedValue = uint8_t(n);
    if (!Ram(cells[9], d)) return "ram";
    if (!Hex(cells[10], &d->systemMemory)) return "sysmem";
    if (cells[11] != "-" && !Hex(cells[11], &d->optionBytes)) return "options";
    if (cells[12] != "yes" && cells[12] != "no") return "mass";
    d->massErase = cells[12] == "yes";
    if (!Protocol(cells[13], &d->protocol)) return "proto";
    if (!Number(cells[14], 10, 1'000'000'000, &n) || n == 0) return "unit_ms";
    d->unitEraseMs = int(n);
    if (!Number(cells[15], 10, 1'000'000'000, &n) || n == 0) return "mass_ms";
    d->massEraseMs = int(n);
    if (!UniqueId(cells[16], d)) return "uid";
    return {};
}

struct BuiltIn {
    std::vector<DeviceRow> rows;
    std::vector<std::string> errors;
    BuiltIn() {
        const std::string_view text(reinterpret_cast<const char*>(kDeviceTableText),
                                    kDeviceTableSize);
        rows = ParseDeviceRows(text, &errors);
    }
};

const BuiltIn& BuiltInTable() {
    static const BuiltIn table;
    return table;
}

}  // namespace

bool ParseEraseUnits(std::string_view cell, DeviceRow* d) {
    d->units.clear();
    d->unitsAtMaxOnly = false;
    if (cell == "?") return true;
    std::string_view text = cell;
    if (text.size() > 4 && text.substr(text.size() - 4) == "@max") {
        d->unitsAtMaxOnly = true;
        text.remove_suffix(4);
    }
    const std::vector<std::string_view> runs = Split(text, ',', false);
    uint64_t total = 0;
    for (std::string_view r : runs) {
        EraseRun run;
        // One size alone runs to the end of the flash; in a list it is one unit.
        run.count = runs.size() == 1 ? 0 : 1;
        const auto [sizeText, countText] = Cut(r, 'x');
        if (r.find('x') != std::string_view::npos) {
            uint64_t count = 0;
            if (!Number(countText, 10, 0xFFFFFFFF, &count) || count == 0) return false;
            run.count = uint32_t(count);
        }
        if (!Size(sizeText, &run.size)) return false;
        total += uint64_t(run.size) * (run.count ? run.count : d->maxFlashBytes / run.size);
        d->units.push_back(run);
    }
    // The units make up the line's largest flash exactly.
    return total == d->maxFlashBytes;
}

std::vector<DeviceRow> ParseDeviceRows(std::string_view text, std::vector<std::string>* errors) {
    std::vector<DeviceRow> rows;
    int number = 0;
    for (std::string_view raw : Split(text, '\n', false)) {
        ++number;
        const std::string_view line = Trimmed(raw);
        if (line.empty() || line.front() == '#') continue;
        DeviceRow d;
        std::string fault = Row(Split(line, '\t', true), &d);
        if (fault.empty() && std::any_of(rows.begin(), rows.end(),
                                         [&](const DeviceRow& o) { return o.pid == d.pid; }))
            fault = "pid twice";
        if (fault.empty())
            rows.push_back(std::move(d));
        else if (errors != nullptr)
            errors->push_back("line " + std::to_string(number) + ": " + fault);
    }
    return rows;
}

const std::vector<DeviceRow>& BuiltInDeviceRows() {
    return BuiltInTable().rows;
}

const std::vector<std::string>& BuiltInDeviceTableErrors() {
    return BuiltInTable().errors;
}

const DeviceRow* FindDeviceRow(uint16_t pid) {
    for (const DeviceRow& row : BuiltInDeviceRows())
        if (row.pid == pid) return &row;
    return nullptr;
}

}  // namespace praxon
