#include "OptionBytes.h"

#include "TableText.h"

#include <algorithm>
#include <cstdlib>

namespace praxon {

// The table's bytes, generated from optionbytes.tsv at build time (EmbedTable.cmake).
extern const unsigned char kOptionTableText[];
extern const unsigned long kOptionTableSize;

namespace {

using tabletext::Split;
using tabletext::Trimmed;

// Decimal or 0x hex, digits only, at most max.
bool Number(std::string_view text, uint64_t max, uint64_t* value) {
    return tabletext::DecimalOrHex(text, max, value);
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string Hex(uint32_t value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value);
    return "0x" + text;
}

uint32_t Mask(int width) {
    return width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1;
}

std::string LayoutRow(const std::vector<std::string_view>& c, OptionLayout* l) {
    if (c.size() != 8) return "8 columns expected";
    uint64_t n = 0;
    l->name = std::string(c[1]);
    for (std::string_view f : Split(c[2], ',', false)) l->families.emplace_back(f);
    if (!Number(c[3], 4096, &n) || n == 0) return "size";
    l->size = uint32_t(n);
    if (c[4] == "bytes")
        l->complement = Complement::Bytes;
    else if (c[4] == "words")
        l->complement = Complement::Words;
    else if (c[4] == "halves")
        l->complement = Complement::Halves;
    else if (c[4] == "register")
        l->readOnly = true;
    else if (c[4] != "none")
        return "complement";
    if ((l->complement == Complement::Bytes && l->size % 2) ||
        (l->complement == Complement::Words && l->size % 8) ||
        (l->complement == Complement::Halves && l->size % 4))
        return "size";
    if (c[5] == "4K")
        l->grain = ProtectionGrain::FourKiB;
    else if (c[5] == "4K+")
        l->grain = ProtectionGrain::FourKiBRest;
    else if (c[5] == "sector")
        l->grain = ProtectionGrain::Sector;
    else if (c[5] == "pages")
        l->grain = ProtectionGrain::Pages;
    else
        return "protects";
    if (!Number(c[6], 0xFF, &n)) return "level0";
    l->level0 = uint8_t(n);
    if (c[7] != "-") {
        if (!Number(c[7], 0xFF, &n) || n == l->level0) return "level2";
        l->level2 = int(n);
    }
    return {};
}

// Whether a field overlaps a complement the chip keeps for another value.
bool InComplement(const OptionLayout& l, const OptionField& f) {
    const uint32_t first = f.offset + uint32_t(f.bit) / 8;
    const uint32_t last = f.offset + uint32_t(f.bit + f.width - 1) / 8;
    for (uint32_t b = first; b <= last; ++b) {
        if (l.complement == Complement::Bytes && b % 2) return true;
        if (l.complement == Complement::Words && b % 8 >= 4) return true;
        if (l.complement == Complement::Halves && b % 4 >= 2) return true;
    }
    return false;
}

std::string FieldRow(const std::vector<std::string_view>& c, OptionLayout* l) {
    if (c.size() != 9) return "9 columns expected";
    OptionField f;
    uint64_t n = 0;
    f.name = std::string(c[2]);
    if (!Number(c[3], l->size - 1, &n)) return "offset";
    f.offset = uint32_t(n);
    if (!Number(c[4], 31, &n)) return "bit";
    f.bit = int(n);
    if (!Number(c[5], 32, &n) || n == 0 || f.bit + n > 32) return "width";
    f.width = int(n);
    if (f.offset + uint32_t(f.bit + f.width + 7) / 8 > l->size) return "width";
    static const std::pair<const char*, OptionKind> kinds[] = {
        {"readout", OptionKind::Readout},   {"user", OptionKind::User},
        {"bank", OptionKind::Bank},         {"data", OptionKind::Data},
        {"wrp", OptionKind::Wrp},           {"wrp1", OptionKind::Wrp1},
        {"wrpfirst", OptionKind::WrpFirst}, {"wrplast", OptionKind::WrpLast},
        {"other", OptionKind::Other}};
    const auto kind = std::find_if(std::begin(kinds), std::end(kinds),
                                   [&](const auto& k) { return c[6] == k.first; });
    if (kind == std::end(kinds)) return "kind";
    f.kind = kind->second;
    if (f.kind == OptionKind::Readout && f.width != 8) return "width";
    if (f.kind == OptionKind::WrpLast &&
        (l->fields.empty() || l->fields.back().kind != OptionKind::WrpFirst))
        return "wrplast without its wrpfirst";
    if (c[7] != "-") {
        for (std::string_view p : Split(c[7], ',', false)) {
            if (!Number(p, 0xFFFF, &n)) return "pids";
            f.pids.push_back(uint16_t(n));
        }
    }
    if (c[8] != "-") f.meaning = std::string(c[8]);
    if (InComplement(*l, f)) return "offset";
    const bool clash = std::any_of(l->fields.begin(), l->fields.end(), [&](const OptionField& o) {
        return SameName(o.name, f.name) &&
               (o.pids.empty() || f.pids.empty() ||
                std::any_of(f.pids.begin(), f.pids.end(), [&](uint16_t p) {
                    return std::find(o.pids.begin(), o.pids.end(), p) != o.pids.end();
                }));
    });
    if (clash) return "name twice";
    l->fields.push_back(std::move(f));
    return {};
}

// banks LAYOUT FIELD PIDS FLASH VALUE UNITS BANK2 NUMBER
std::string BanksRow(const std::vector<std::string_view>& c, OptionLayout* l) {
    if (c.size() != 9) return "9 columns expected";
    BankLayoutRule r;
    uint64_t n = 0;
    r.field = std::string(c[2]);
    for (std::string_view p : Split(c[3], ',', false)) {
        if (!Number(p, 0xFFFF, &n)) return "pids";
        r.pids.push_back(uint16_t(n));
    }
    const auto decides = [&](const OptionField& f) {
        return f.kind == OptionKind::Bank && SameName(f.name, r.field) &&
               std::all_of(r.pids.begin(), r.pids.end(),
                           [&](uint16_t p) { return f.appliesTo(p); });
    };
    if (r.pids.empty() || std::none_of(l->fields.begin(), l->fields.end(), decides))
        return "no bank field of that name for these pids";
    // The units cell as devices.tsv writes it, checked against the chip's flash.
    DeviceRow row;
    const std::string_view size = c[4];
    const uint64_t scale = size.empty()         ? 0
                           : size.back() == 'M' ? 1 << 20
                           : size.back() == 'K' ? 1 << 10
                                                : 0;
    if (!scale || !Number(size.substr(0, size.size() - 1), 4096, &n) || n == 0) return "flash";
    r.flashBytes = row.maxFlashBytes = uint32_t(n * scale);
    if (!Number(c[5], 1, &n)) return "value";
    r.value = uint32_t(n);
    if (c[6] == "?" || !ParseEraseUnits(c[6], &row) || row.unitsAtMaxOnly) return "units";
    r.units = row.units;
    if (c[7] != "-" && c[7] != "half") return "bank2";
    r.twoBanks = c[7] == "half";
    if (r.twoBanks ? !Number(c[8], 0xFFEF, &n) : c[8] != "-") return "number";
    r.bank2Number = r.twoBanks ? uint32_t(n) : 0;
    const bool twice = std::any_of(l->banks.begin(), l->banks.end(), [&](const BankLayoutRule& o) {
        return o.flashBytes == r.flashBytes && o.value == r.value &&
               std::any_of(r.pids.begin(), r.pids.end(), [&](uint16_t p) {
                   return std::find(o.pids.begin(), o.pids.end(), p) != o.pids.end();
               });
    });
    if (twice) return "banks twice";
    l->banks.push_back(std::move(r));
    return {};
}

struct BuiltIn {
    std::vector<OptionLayout> layouts;
    std::vector<std::string> errors;
    BuiltIn() {
        const std::string_view text(reinterpret_cast<const char*>(kOptionTableText),
                                    kOptionTableSize);
        layouts = ParseOptionLayouts(text, &errors);
    }
};

const BuiltIn& BuiltInTable() {
    static const BuiltIn table;
    return table;
}

// "4 KB blocks 0-3, 7", "sectors 2".
std::string GroupList(const std::vector<unsigned>& groups) {
    return UnitRuns(groups, ", ");
}

std::string ValueMeaning(const OptionField& f, uint32_t value) {
    if (f.meaning.find('=') == std::string::npos) return f.meaning;
    for (std::string_view entry : Split(f.meaning, ';', false)) {
        const size_t eq = entry.find('=');
        uint64_t n = 0;
        if (eq != std::string_view::npos && Number(entry.substr(0, eq), 0xFFFFFFFF, &n) &&
            n == value)
            return std::string(entry.substr(eq + 1));
    }
    return {};
}

}  // namespace

bool OptionField::appliesTo(uint16_t pid) const {
    return pids.empty() || std::find(pids.begin(), pids.end(), pid) != pids.end();
}

std::vector<OptionLayout> ParseOptionLayouts(std::string_view text,
                                             std::vector<std::string>* errors) {
    std::vector<OptionLayout> layouts;
    int number = 0;
    for (std::string_view raw : Split(text, '\n', false)) {
        ++number;
        const std::string_view line = Trimmed(raw);
        if (line.empty() || line.front() == '#') continue;
        const std::vector<std::string_view> cells = Split(line, '\t', true);
        std::string fault;
        if (cells[0] == "layout") {
            OptionLayout l;
            fault = LayoutRow(cells, &l);
            if (fault.empty() &&
                std::any_of(layouts.begin(), layouts.end(),
                            [&](const OptionLayout& o) { return o.name == l.name; }))
                fault = "layout twice";
            if (fault.empty()) layouts.push_back(std::move(l));
        } else if (cells[0] == "field") {
            auto layout =
                cells.size() > 1
                    ? std::find_if(layouts.begin(), layouts.end(),
                                   [&](const OptionLayout& o) { return o.name == cells[1]; })
                    : layouts.end();
            fault = layout == layouts.end() ? "layout unknown" : FieldRow(cells, &*layout);
        } else if (cells[0] == "banks") {
            auto layout =
                cells.size() > 1
                    ? std::find_if(layouts.begin(), layouts.end(),
                                   [&](const OptionLayout& o) { return o.name == cells[1]; })
                    : layouts.end();
            fault = layout == layouts.end() ? "layout unknown" : BanksRow(cells, &*layout);
        } else {
            fault = "layout, field or banks expected";
        }
        if (!fault.empty() && errors)
            errors->push_back("line " + std::to_string(number) + ": " + fault);
    }
    // A layout with no readout byte cannot say the readout level: left out.
    for (auto l = layouts.begin(); l != layouts.end();) {
        const bool readout = std::any_of(
            l->fields.begin(), l->fields.end(),
            [](const OptionField& f) { return f.kind == OptionKind::Readout && f.pids.empty(); });
        if (readout) {
            ++l;
            continue;
        }
        if (errors) errors->push_back("layout " + l->name + ": no readout field");
        l = layouts.erase(l);
    }
    return layouts;
}

const std::vector<OptionLayout>& BuiltInOptionLayouts() {
    return BuiltInTable().layouts;
}

const std::vector<std::string>& BuiltInOptionTableErrors() {
    return BuiltInTable().errors;
}

const OptionLayout* FindOptionLayout(const DeviceRow& row) {
    if (row.optionBytes == 0) return nullptr;
    for (const OptionLayout& l : BuiltInOptionLayouts())
        if (std::find(l.families.begin(), l.families.end(), row.family) != l.families.end())
            return &l;
    return nullptr;
}

bool OptionsDecideBanks(const DeviceRow& row, uint32_t flashBytes) {
    for (const OptionLayout& l : BuiltInOptionLayouts()) {
        if (std::find(l.families.begin(), l.families.end(), row.family) == l.families.end())
            continue;
        for (const BankLayoutRule& r : l.banks)
            if (r.flashBytes == flashBytes &&
                std::find(r.pids.begin(), r.pids.end(), row.pid) != r.pids.end())
                return true;
    }
    return false;
}

const BankLayoutRule* FindBankLayout(const OptionLayout& layout, uint16_t pid, uint32_t flashBytes,
                                     const std::vector<uint8_t>& image) {
    if (image.size() != layout.size) return nullptr;
    for (const BankLayoutRule& r : layout.banks) {
        if (r.flashBytes != flashBytes ||
            std::find(r.pids.begin(), r.pids.end(), pid) == r.pids.end())
            continue;
        const OptionField* field = FindOptionField(layout, pid, r.field);
        if (field && OptionFieldValue(*field, image) == r.value) return &r;
    }
    return nullptr;
}

DeviceRow WithBankLayout(const DeviceRow& row, const BankLayoutRule& rule) {
    DeviceRow d = row;
    d.units = rule.units;
    d.unitsAtMaxOnly = false;
    d.bank2 = 0;
    d.bank2AtHalf = rule.twoBanks;
    d.bank2AtMaxOnly = false;
    d.bank2Number = rule.bank2Number;
    return d;
}

const OptionField* FindOptionField(const OptionLayout& layout, uint16_t pid,
                                   std::string_view name) {
    for (const OptionField& f : layout.fields)
        if (f.appliesTo(pid) && SameName(f.name, name)) return &f;
    return nullptr;
}

uint32_t OptionFieldValue(const OptionField& f, const std::vector<uint8_t>& image) {
    uint64_t word = 0;
    for (uint32_t i = 0; i < 5 && f.offset + i < image.size(); ++i)
        word |= uint64_t(image[f.offset + i]) << (8 * i);
    return uint32_t(word >> f.bit) & Mask(f.width);
}

void SetOptionFieldValue(const OptionField& f, uint32_t value, std::vector<uint8_t>* image) {
    const uint64_t mask = uint64_t(Mask(f.width)) << f.bit;
    const uint64_t bits = (uint64_t(value) << f.bit) & mask;
    for (uint32_t i = 0; i < 5 && f.offset + i < image->size(); ++i) {
        const uint8_t m = uint8_t(mask >> (8 * i));
        (*image)[f.offset + i] = uint8_t(((*image)[f.offset + i] & ~m) | uint8_t(bits >> (8 * i)));
    }
}

void FillComplements(const OptionLayout& layout, std::vector<uint8_t>* image) {
    std::vector<uint8_t>& b = *image;
    if (layout.complement == Complement::Bytes)
        for (size_t i = 0; i + 1 < b.size(); i += 2) b[i + 1] = uint8_t(~b[i]);
    if (layout.complement == Complement::Words)
        for (size_t i = 0; i + 7 < b.size(); i += 8)
            for (size_t k = 0; k < 4; ++k) b[i + 4 + k] = uint8_t(~b[i + k]);
    if (layout.complement == Complement::Halves)
        for (size_t i = 0; i + 3 < b.size(); i += 4)
            for (size_t k = 0; k < 2; ++k) b[i + 2 + k] = uint8_t(~b[i + k]);
}

std::vector<uint32_t> BadComplements(const OptionLayout& layout,
                                     const std::vector<uint8_t>& image) {
    std::vector<uint8_t> expected = image;
    FillComplements(layout, &expected);
    std::vector<uint32_t> bad;
    const uint32_t step = layout.complement == Complement::Words    ? 8
                          : layout.complement == Complement::Halves ? 4
                                                                    : 2;
    for (uint32_t i = 0; i < image.size(); ++i)
        if (image[i] != expected[i] && (bad.empty() || bad.back() != i / step * step))
            bad.push_back(i / step * step);
    return bad;
}

std::vector<uint8_t> FactoryOptionBytes(const OptionLayout& layout) {
    std::vector<uint8_t> image(layout.size, 0xFF);
    for (const OptionField& f : layout.fields) {
        if (f.kind == OptionKind::Readout) SetOptionFieldValue(f, layout.level0, &image);
        if (f.kind == OptionKind::Wrp1 || f.kind == OptionKind::Other)
            SetOptionFieldValue(f, 0, &image);
        // Areas off: first page above the last.
        if (f.kind == OptionKind::WrpFirst) SetOptionFieldValue(f, Mask(f.width), &image);
        if (f.kind == OptionKind::WrpLast) SetOptionFieldValue(f, 0, &image);
    }
    FillComplements(layout, &image);
    return image;
}

int ReadoutLevel(const OptionLayout& layout, const std::vector<uint8_t>& image) {
    for (const OptionField& f : layout.fields) {
        if (f.kind != OptionKind::Readout) continue;
        const uint32_t v = OptionFieldValue(f, image);
        return v == layout.level0 ? 0 : int(v) == layout.level2 ? 2 : 1;
    }
    return 1;
}

std::vector<DecodedOption> DecodeOptionBytes(const DeviceRow& row, const OptionLayout& layout,
                                             const std::vector<uint8_t>& image) {
    std::vector<DecodedOption> out;
    if (image.size() != layout.size) return out;
    const char* grain = layout.grain == ProtectionGrain::Sector ? "sectors " : "4 KB blocks ";
    unsigned group = 0;
    uint32_t first = 0;
    for (const OptionField& f : layout.fields) {
        if (!f.appliesTo(row.pid)) continue;
        DecodedOption d{f.name, OptionFieldValue(f, image), {}};
        switch (f.kind) {
            case OptionKind::Readout: {
                const int level = d.value == layout.level0        ? 0
                                  : int(d.value) == layout.level2 ? 2
                                                                  : 1;
                d.meaning = "level " + std::to_string(level) + (level == 2 ? " (permanent)" : "");
                break;
            }
            case OptionKind::Wrp:
            case OptionKind::Wrp1: {
                const uint32_t protecting = f.kind == OptionKind::Wrp1 ? 1 : 0;
                std::vector<unsigned> protectedGroups;
                for (int b = 0; b < f.width; ++b)
                    if ((d.value >> b & 1) == protecting)
                        protectedGroups.push_back(group + unsigned(b));
                group += unsigned(f.width);
                d.meaning = protectedGroups.empty()
                                ? "none protected"
                                : grain + GroupList(protectedGroups) + " protected";
                break;
            }
            case OptionKind::WrpFirst:
                first = d.value;
                break;
            case OptionKind::WrpLast:
                d.meaning = first > d.value ? "area off"
                                            : "pages " + std::to_string(first) + "-" +
                                                  std::to_string(d.value) + " protected";
                break;
            default:
                d.meaning = ValueMeaning(f, d.value);
        }
        out.push_back(std::move(d));
    }
    return out;
}

bool ParseOptionNumber(std::string_view text, uint64_t max, uint64_t* value) {
    return Number(text, max, value);
}

bool EncodeOptionEdits(const DeviceRow& row, const OptionLayout& layout,
                       const std::vector<std::string>& edits, std::vector<uint8_t>* image,
                       bool* permanent, std::string* error) {
    if (image->size() != layout.size) {
        *error = "the option bytes are " + std::to_string(image->size()) + " bytes, not " +
                 std::to_string(layout.size);
        return false;
    }
    std::vector<uint8_t> result = *image;
    for (const std::string& edit : edits) {
        const size_t eq = edit.find('=');
        const std::string name = edit.substr(0, eq);
        const OptionField* f =
            eq == std::string::npos ? nullptr : FindOptionField(layout, row.pid, name);
        if (eq == std::string::npos || name.empty()) {
            *error = "'" + edit + "': NAME=VALUE expected";
            return false;
        }
        if (!f) {
            std::string names;
            for (const OptionField& o : layout.fields)
                if (o.appliesTo(row.pid)) names += (names.empty() ? "" : ", ") + o.name;
            *error = "'" + name + "': no such option on " + row.family + " " + row.line +
                     " (it has " + names + ")";
            return false;
        }
        uint64_t value = 0;
        const std::string text = edit.substr(eq + 1);
        if (f->kind == OptionKind::Readout) {
            if (!Number(text, 2, &value) || (value == 2 && layout.level2 < 0)) {
                *error = "'" + edit + "': the readout level is 0 or 1" +
                         (layout.level2 < 0 ? std::string() : " or 2");
                return false;
            }
            // Level 1 is any byte but the other two; 0x00 is the one the bootloader writes.
            value = value == 0 ? layout.level0 : value == 2 ? uint64_t(layout.level2) : 0x00;
        } else if (!Number(text, Mask(f->width), &value)) {
            *error = "'" + edit + "': " + f->name + " takes 0 to " + Hex(Mask(f->width));
            return false;
        }
        SetOptionFieldValue(*f, uint32_t(value), &result);
    }
    FillComplements(layout, &result);
    *permanent = ReadoutLevel(layout, result) == 2;
    *image = std::move(result);
    return true;
}

unsigned ProtectionGroupCount(const OptionLayout& layout, uint16_t pid) {
    unsigned count = 0;
    for (const OptionField& f : layout.fields)
        if (ProtectsByBit(f.kind) && f.appliesTo(pid)) count += unsigned(f.width);
    return layout.grain == ProtectionGrain::Pages ? 0 : count;
}

unsigned ProtectionGroupOfUnit(const OptionLayout& layout, uint16_t pid,
                               const std::vector<FlashUnit>& units, size_t index) {
    const unsigned count = ProtectionGroupCount(layout, pid);
    if (count == 0 || index >= units.size()) return count;
    const uint32_t group =
        layout.grain == ProtectionGrain::Sector ? uint32_t(index) : units[index].offset / 4096;
    if (layout.grain == ProtectionGrain::FourKiBRest) return std::min<uint32_t>(group, count - 1);
    return std::min<uint32_t>(group, count);
}

std::vector<bool> ProtectedUnits(const OptionLayout& layout, uint16_t pid,
                                 const std::vector<FlashUnit>& units,
                                 const std::vector<uint8_t>& image) {
    std::vector<bool> out(units.size(), false);
    if (image.size() != layout.size) return out;
    if (layout.grain == ProtectionGrain::Pages) {
        uint32_t first = 0;
        for (const OptionField& f : layout.fields) {
            if (!f.appliesTo(pid)) continue;
            if (f.kind == OptionKind::WrpFirst) first = OptionFieldValue(f, image);
            if (f.kind != OptionKind::WrpLast) continue;
            const uint32_t last = OptionFieldValue(f, image);
            for (uint32_t p = first; p <= last && p < units.size(); ++p) out[p] = true;
        }
        return out;
    }
    // Group bits in the layout's order.
    std::vector<bool> groupProtected;
    for (const OptionField& f : layout.fields) {
        if (!ProtectsByBit(f.kind) || !f.appliesTo(pid)) continue;
        const uint32_t v = OptionFieldValue(f, image);
        const uint32_t protecting = f.kind == OptionKind::Wrp1 ? 1 : 0;
        for (int b = 0; b < f.width; ++b) groupProtected.push_back((v >> b & 1) == protecting);
    }
    if (groupProtected.empty()) return out;
    // Flash past the groups (bank 2 of F42x/F469, L1's last 128 KB) is protected elsewhere.
    for (size_t u = 0; u < units.size(); ++u) {
        const unsigned group = ProtectionGroupOfUnit(layout, pid, units, u);
        out[u] = group < groupProtected.size() && groupProtected[group];
    }
    return out;
}

std::string UnitRuns(const std::vector<uint32_t>& units, const char* separator) {
    std::string text;
    for (size_t i = 0; i < units.size();) {
        size_t j = i;
        while (j + 1 < units.size() && units[j + 1] == units[j] + 1) ++j;
        if (!text.empty()) text += separator;
        text += std::to_string(units[i]);
        if (j > i) text += '-' + std::to_string(units[j]);
        i = j + 1;
    }
    return text;
}

}  // namespace praxon
