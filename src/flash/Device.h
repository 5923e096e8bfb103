#pragma once

#include <cstdint>

// What the engine knows of each chip the bootloader may report: its memory map and how its flash
// is erased. One entry per product ID.
namespace praxon {

struct DeviceInfo {
    uint16_t pid = 0;
    const char* family = "";  // as shown after "器件信息为": "STM32F10x"
    const char* line = "";    // product line, for the command line's info: "medium-density"
    uint32_t flashBase = 0x08000000;
    uint32_t maxFlashBytes = 0;  // the product line's largest flash: the most a chip may carry
    uint32_t pageSize = 0;       // uniform erase pages
    uint32_t ramBegin = 0;       // RAM the bootloader accepts writes to: [ramBegin, ramEnd)
    uint32_t ramEnd = 0;
    uint32_t flashSizeRegister = 0;  // 16-bit flash size in KB
};

// The entry for a product ID; nullptr when unknown.
const DeviceInfo* FindDevice(uint16_t pid);

}  // namespace praxon
