#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "DeviceTable.h"

// Option-byte layouts per family, as optionbytes.tsv lists them (its header explains each
// column): decoding the block a Read Memory of the option area returns, encoding NAME=VALUE edits
// with their complements, and which erase units the write protection covers. Plain C++ without
// Qt: the engine and the simulator use the one table with this one code.
namespace praxon {

enum class Complement { None, Bytes, Words, Halves };
// What one protection bit covers: 4 KB (FourKiBRest: the last bit also takes the rest of the
// flash), one erase unit, or areas of pages.
enum class ProtectionGrain { FourKiB, FourKiBRest, Sector, Pages };
enum class OptionKind { Readout, User, Bank, Data, Wrp, Wrp1, WrpFirst, WrpLast, Other };
// Write protection one group per bit: Wrp protects with a 0, Wrp1 with a 1.
inline bool ProtectsByBit(OptionKind kind) {
    return kind == OptionKind::Wrp || kind == OptionKind::Wrp1;
}

struct OptionField {
    std::string name;
    uint32_t offset = 0;
    int bit = 0;
    int width = 1;
    OptionKind kind = OptionKind::User;
    std::vector<uint16_t> pids;  // empty: every chip of the layout
    std::string meaning;         // "0=TEXT;1=TEXT" or a text for any value; may be empty
    bool appliesTo(uint16_t pid) const;
};

// The flash layout an option bit gives chips of one size (a "banks" row of optionbytes.tsv).
struct BankLayoutRule {
    std::string field;  // the bank field that decides
    std::vector<uint16_t> pids;
    uint32_t flashBytes = 0;  // the chip's flash
    uint32_t value = 0;       // the field's value
    std::vector<EraseRun> units;
    bool twoBanks = false;     // bank 2 from the middle of the flash
    uint32_t bank2Number = 0;  // what the bootloader's erase calls bank 2's first unit
};

struct OptionLayout {
    std::string name;  // "F1"
    std::vector<std::string> families;
    uint32_t size = 0;
    Complement complement = Complement::None;
    ProtectionGrain grain = ProtectionGrain::FourKiB;
    uint8_t level0 = 0xAA;  // readout byte of an unprotected chip
    int level2 = -1;        // readout byte of level 2; -1: none
    std::vector<OptionField> fields;
    std::vector<BankLayoutRule> banks;
    // The block is the flash controller's option register as the bootloader reads it, not an
    // option area Write Memory reprograms: it is decoded, never written.
    bool readOnly = false;
};

// Parses the layouts' text. Faulty rows are left out, each named in *errors as "line N: WHAT".
std::vector<OptionLayout> ParseOptionLayouts(std::string_view text,
                                             std::vector<std::string>* errors);
// The layouts built into the program (optionbytes.tsv), parsed once, and their faulty rows.
const std::vector<OptionLayout>& BuiltInOptionLayouts();
const std::vector<std::string>& BuiltInOptionTableErrors();
// The built-in layout for a chip's family; nullptr when none is known (or the chip has no mapped
// option area).
const OptionLayout* FindOptionLayout(const DeviceRow& row);
// Whether an option bit decides the erase units and banks of a chip of that row with flashBytes
// of flash (a banks row names it), whether or not its option bytes can be read.
bool OptionsDecideBanks(const DeviceRow& row, uint32_t flashBytes);
// The layout the option bytes give that chip; nullptr when no row holds.
const BankLayoutRule* FindBankLayout(const OptionLayout& layout, uint16_t pid, uint32_t flashBytes,
                                     const std::vector<uint8_t>& image);
// The row with the rule's erase units, banks and numbering.
DeviceRow WithBankLayout(const DeviceRow& row, const BankLayoutRule& rule);
// The field of that name (case-insensitive) the chip has; nullptr when none.
const OptionField* FindOptionField(const OptionLayout& layout, uint16_t pid, std::string_view name);

uint32_t OptionFieldValue(const OptionField& field, const std::vector<uint8_t>& image);
void SetOptionFieldValue(const OptionField& field, uint32_t value, std::vector<uint8_t>* image);
// Puts every complement the layout has in line with its value.
void FillComplements(const OptionLayout& layout, std::vector<uint8_t>* image);
// Offsets of the values whose complement does not match (the chip then takes the value as
// all ones and flags an option-byte error).
std::vector<uint32_t> BadComplements(const OptionLayout& layout, const std::vector<uint8_t>& image);
// Unit numbers in runs: "0-3,8" (empty for none), runs joined by separator.
std::string UnitRuns(const std::vector<uint32_t>& units, const char* separator = ",");
// A chip as it leaves the factory: readout level 0, no write protection, the fields of kind
// other (the protection mode bits) at 0, every other bit at 1.
std::vector<uint8_t> FactoryOptionBytes(const OptionLayout& layout);
// 0, 1 or 2.
int ReadoutLevel(const OptionLayout& layout, const std::vector<uint8_t>& image);

struct DecodedOption {
    std::string name;
    uint32_t value = 0;
    std::string meaning;  // "level 0", "software watchdog", "4 KB blocks 0-3 protected", ...
};
// Every field the chip has, in the layout's order. An image of the wrong size gives none.
std::vector<DecodedOption> DecodeOptionBytes(const DeviceRow& row, const OptionLayout& layout,
                                             const std::vector<uint8_t>& image);

// An edit's VALUE: decimal or 0x hex, no larger than max.
bool ParseOptionNumber(std::string_view text, uint64_t max, uint64_t* value);

// Applies "NAME=VALUE" edits (VALUE decimal or 0x hex; RDP takes the level 0, 1 or 2) and fills
// in the complements. False with a message, *image untouched, on a name the chip lacks or a
// value that does not fit. *permanent tells whether the result sets readout level 2.
bool EncodeOptionEdits(const DeviceRow& row, const OptionLayout& layout,
                       const std::vector<std::string>& edits, std::vector<uint8_t>* image,
                       bool* permanent, std::string* error);

// A flash erase unit, by its offset from the flash base and its size.
struct FlashUnit {
    uint32_t offset = 0;
    uint32_t size = 0;
};
// Number of write-protection groups (bits) the chip has: 4K and sector grains; 0 for pages.
// Flash past the groups (4K, sector) is protected elsewhere than in the block: never here.
unsigned ProtectionGroupCount(const OptionLayout& layout, uint16_t pid);
// The group (the Write Protect code) that covers unit index of units (4K and sector grains);
// ProtectionGroupCount when none does.
unsigned ProtectionGroupOfUnit(const OptionLayout& layout, uint16_t pid,
                               const std::vector<FlashUnit>& units, size_t index);
// Per unit: whether the option bytes protect it against erase and write.
std::vector<bool> ProtectedUnits(const OptionLayout& layout, uint16_t pid,
                                 const std::vector<FlashUnit>& units,
                                 const std::vector<uint8_t>& image);

}  // namespace praxon
