#include "Device.h"

namespace praxon {
namespace {

// STM32F10x: 1 KB pages up to 128 KB parts, 2 KB above. The bootloader keeps the first bytes of
// the RAM for itself (0x200, more on connectivity and XL parts).
constexpr DeviceInfo kDevices[] = {
    {0x412, "STM32F10x", "low-density", 0x08000000, 32 * 1024, 1024, 0x20000200, 0x20002800,
     0x1FFFF7E0},
    {0x410, "STM32F10x", "medium-density", 0x08000000, 128 * 1024, 1024, 0x20000200, 0x20005000,
     0x1FFFF7E0},
    {0x414, "STM32F10x", "high-density", 0x08000000, 512 * 1024, 2048, 0x20000200, 0x20010000,
     0x1FFFF7E0},
    {0x420, "STM32F10x", "value line low/medium-density", 0x08000000, 128 * 1024, 1024,
     0x20000200, 0x20002000, 0x1FFFF7E0},
    {0x428, "STM32F10x", "value line high-density", 0x08000000, 512 * 1024, 2048, 0x20000200,
     0x20008000, 0x1FFFF7E0},
    {0x418, "STM32F10x", "connectivity line", 0x08000000, 256 * 1024, 2048, 0x20001000,
     0x20010000, 0x1FFFF7E0},
    {0x430, "STM32F10x", "XL-density", 0x08000000, 1024 * 1024, 2048, 0x20000800, 0x20018000,
     0x1FFFF7E0},
};

}  // namespace

const DeviceInfo* FindDevice(uint16_t pid) {
    for (const DeviceInfo& device : kDevices)
        if (device.pid == pid) return &device;
    return nullptr;
}

}  // namespace praxon
