#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "DeviceTable.h"
#include "FirmwareImage.h"
#include "WritePlan.h"

// What the engine knows of each chip the bootloader may report: its memory map, how its flash is
// erased and written, and how long that may take. One entry per product ID of devices.tsv
// (DeviceTable.h).
namespace praxon {

// A row of the built-in table with its family and product line as Qt text (the window and the
// engine's messages show them), and what follows from the row for a chip of a given flash size.
struct DeviceInfo : DeviceRow {
    DeviceInfo() = default;
    explicit DeviceInfo(const DeviceRow& row);

    QString family;  // DeviceRow::family as Qt text: "STM32F10x"
    QString line;    // DeviceRow::line as Qt text: "medium-density"

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
    // The number the bootloader's erase takes for unit index (bank2Number).
    uint32_t eraseNumber(uint32_t index, uint32_t flashBytes, bool sizeKnown) const;
};

// The table built into the program (BuiltInDeviceRows), read once.
const std::vector<DeviceInfo>& Devices();
// The entry for a product ID; nullptr when unknown.
const DeviceInfo* FindDevice(uint16_t pid);

}  // namespace praxon
