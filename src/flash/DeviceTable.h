#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "WritePlan.h"

// The chips the bootloader may report, one row per product ID, as devices.tsv lists them (its
// header explains each column). Plain C++ without Qt: the engine and the simulator read the one
// table with this one parser.
namespace praxon {

// How the flash-size value is coded.
enum class SizeCoding {
    KiB,         // 16 bits, KiB
    F1,          // 4 bytes: KiB, then a half-word that holds the RAM size on GD32 clones
    KiBLowByte,  // only the low byte counts
    Codes,       // a code looked up in sizeCodes
};

// Equal erase units in a row.
struct EraseRun {
    uint32_t size = 0;
    uint32_t count = 0;  // 0: up to the end of the flash
};

struct DeviceRow {
    uint16_t pid = 0;
    std::string family;  // as shown after "器件信息为": "STM32F10x"
    std::string line;    // product line, for the command line's info: "medium-density"
    uint32_t flashBase = 0x08000000;
    uint32_t maxFlashBytes = 0;  // the product line's largest flash: the most a chip may carry
    uint32_t flashSizeRegister = 0;
    SizeCoding sizeCoding = SizeCoding::KiB;
    std::vector<std::pair<uint16_t, uint32_t>> sizeCodes;  // code, flash bytes
    // Erase units in address order, numbered from 0; empty when option bytes decide them.
    std::vector<EraseRun> units;
    bool unitsAtMaxOnly = false;  // the units hold only for chips with maxFlashBytes
    uint32_t bank2 = 0;           // first address of the second bank; 0: none known
    bool bank2AtHalf = false;     // the second bank starts in the middle of the chip's flash
    // The two banks are fixed only at the line's largest flash; below it an option bit decides.
    bool bank2AtMaxOnly = false;
    // What the bootloader's erase calls bank 2's first unit; 0: units numbered on in address
    // order. Set only where the option bytes decide the layout (OptionBytes.h).
    uint32_t bank2Number = 0;
    int writeAlign = 4;  // Write Memory address and length unit
    uint8_t erasedValue = 0xFF;
    std::vector<AddressRange> ram;  // what the bootloader lets a host write
    uint32_t systemMemory = 0;
    uint32_t optionBytes = 0;  // 0: not mapped for Write Memory
    bool massErase = true;     // the bootloader erases the whole chip on request
    uint8_t protocol = 0x22;   // expected bootloader protocol version (0x22 = 2.2)
    int unitEraseMs = 0;       // longest erase of the smallest unit
    int massEraseMs = 0;       // longest mass erase
    // The 96-bit unique ID's three 32-bit words (little-endian each), in order; all 0: none known.
    std::array<uint32_t, 3> uidWords{};
    bool hasUid() const { return uidWords[0] != 0; }
};

// Parses a device table's text. Rows with a fault are left out, each named in *errors as
// "line N: COLUMN" (or "line N: pid twice", "line N: 17 columns expected").
std::vector<DeviceRow> ParseDeviceRows(std::string_view text, std::vector<std::string>* errors);
// Parses an erase-unit cell ("2K", "2K@max", "16Kx4,64K,128Kx7", "?") into row->units and
// row->unitsAtMaxOnly; false unless the units make up row->maxFlashBytes exactly.
bool ParseEraseUnits(std::string_view cell, DeviceRow* row);

// The table built into the program (devices.tsv, embedded at build time), parsed once.
const std::vector<DeviceRow>& BuiltInDeviceRows();
// Its faulty rows (none in a sound build).
const std::vector<std::string>& BuiltInDeviceTableErrors();
// The built-in row for a product ID; nullptr when unknown.
const DeviceRow* FindDeviceRow(uint16_t pid);

}  // namespace praxon
