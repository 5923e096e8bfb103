// The chips the simulated board can be, one row per product ID: the engine's own device table
// (src/flash/devices.tsv, whose header explains the columns), built into the simulator at build
// time and read here without Qt.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace praxon::sim {

// How the flash-size value is coded.
enum class SizeCoding {
    KiB,      // 16 bits, KiB
    F1,       // KiB, then a half-word that holds the RAM size on GD32 clones
    LowByte,  // only the low byte counts
    Codes,    // a code, looked up in sizeCodes
};

// Equal erase units in a row; count 0: up to the end of the flash.
struct UnitRun {
    uint32_t size = 0;
    uint32_t count = 0;
};

struct DeviceRow {
    uint16_t pid = 0;
    std::string family;       // "STM32F4xx"
    std::string line;         // "F405/F407/F415/F417"
    uint32_t flashBytes = 0;  // the line's largest flash, from 0x08000000
    uint32_t sizeAddress = 0;
    SizeCoding sizeCoding = SizeCoding::KiB;
    std::vector<std::pair<uint16_t, uint32_t>> sizeCodes;  // code, flash bytes
    std::vector<UnitRun> units;                            // empty: the option bytes decide ("?")
    bool unitsAtMax = false;                               // "@max"
    uint32_t bank2 = 0;                                    // 0: no second bank known
    bool bank2Half = false;  // the second bank starts in the middle of the flash
    uint32_t align = 4;      // Write Memory address and length unit
    uint8_t erased = 0xFF;
    std::vector<std::pair<uint32_t, uint32_t>> ram;  // first and last byte a host may write
    uint32_t systemMemory = 0;
    uint32_t optionBytes = 0;  // 0: none mapped
    bool massErase = true;
    uint8_t protocol = 0x22;  // 0x31 = 3.1
    int unitMs = 0;           // longest erase of the smallest unit
    int massMs = 0;           // longest mass erase
};

// Parses the table's text; false with the first faulty line named in *error (and no rows).
bool parseDeviceTable(const std::string& text, std::vector<DeviceRow>* rows, std::string* error);
// Parses an erase-unit cell ("2K", "16Kx4,64K,128Kx7", "2K@max") into row->units.
bool parseUnits(const std::string& text, DeviceRow* row);
// The built-in table; empty if it does not parse (a build fault, reported by the tests).
const std::vector<DeviceRow>& deviceTable();
const std::string& deviceTableError();
// The row for a product ID; nullptr when unknown.
const DeviceRow* findDevice(uint16_t pid);

}  // namespace praxon::sim
