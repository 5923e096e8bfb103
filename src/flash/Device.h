#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <utility>
#include <vector>

#include "FirmwareImage.h"
#include "WritePlan.h"

// What the engine knows of each chip the bootloader may report: its memory map, how its flash is
// erased and written, and how long that may take. One entry per product ID, read from
// devices.tsv (the table's header explains each column).
namespace praxon {

// How the flash-size value is coded.
enum class SizeCoding {
    KiB,         // 16 bits, KiB
    F1,          // 4 bytes read at the register: KiB, then the RAM size on GD32 clones
    KiBLowByte,  // only the low byte counts
    Codes,       // a code looked up in sizeCodes
};

// Equal erase units in a row.
struct EraseRun {
    uint32_t size = 0;
    uint32_t count = 0;  // 0: up to the end of the flash
};

struct DeviceInfo {
    uint16_t pid = 0;
    QString family;  // as shown after "器件信息为": "STM32F10x"
    QString line;    // product line, for the command line's info: "medium-density"
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
    int writeAlign = 4;           // Write Memory address and length unit
    uint8_t erasedValue = 0xFF;
    std::vector<AddressRange> ram;  // what the bootloader lets a host write
    uint32_t systemMemory = 0;
    uint32_t optionBytes = 0;  // 0: not mapped for Write Memory
    bool massErase = true;     // the bootloader erases the whole chip on request
    uint8_t protocol = 0x22;   // expected bootloader protocol version (0x22 = 2.2)
    int unitEraseMs = 0;       // longest erase of the smallest unit
    int massEraseMs = 0;       // longest mass erase

    // Erase (0x43) for protocol 2.x, Extended Erase (0x44) from 3.0 on.
    uint8_t expectedEraseCommand() const { return protocol >= 0x30 ? 0x44 : 0x43; }
    // Whether the erase units are known for a chip with flashBytes of flash; sizeKnown: that
    // size was read from the chip (or stated by the user).
    bool unitsKnown(uint32_t flashBytes, bool sizeKnown) const;
    // First address and size of unit index, for a chip with flashBytes of flash.
    AddressRange unit(uint32_t index, uint32_t flashBytes) const;
    // Indexes of the units holding any byte of [begin, end) or of the image, in order.
    std::vector<uint32_t> unitsCovering(const AddressRange& range, uint32_t flashBytes) const;
    std::vector<uint32_t> unitsTouched(const FirmwareImage& image, uint32_t flashBytes) const;
    // Longest erase of unit index.
    qint64 unitEraseNs(uint32_t index, uint32_t flashBytes) const;
    // Bank 2's first address for a chip with flashBytes of flash; 0 when not known.
    uint32_t bank2Address(uint32_t flashBytes, bool sizeKnown) const;
};

// Parses a device table; rows with a fault are left out and named in errors.
std::vector<DeviceInfo> ParseDeviceTable(const QByteArray& text, QStringList* errors);
// The table built into the program, read once.
const std::vector<DeviceInfo>& Devices();
// The entry for a product ID; nullptr when unknown.
const DeviceInfo* FindDevice(uint16_t pid);

}  // namespace praxon
