#pragma once
// The hardware side of the turbo loader's engine for host tests: flash with the half-word rules of
// the F0/F1/F3 controller, a line that delivers queued bytes, and a clock the test moves.
#include <QByteArray>
#include <QRandomGenerator>
#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

namespace loadertest {

constexpr std::uint32_t kFlashBase = 0x08000000;
constexpr std::uint32_t kSysmemBase = 0x1FFF0000;
constexpr std::uint32_t kRamBase = 0x20000000;
constexpr int kLineError = -2;

struct FakeChip {
    std::vector<std::uint8_t> flash;
    std::vector<std::uint8_t> sysmem = std::vector<std::uint8_t>(0x10000, 0x5A);
    std::vector<std::uint8_t> ram = std::vector<std::uint8_t>(0x5000, 0x00);
    std::uint32_t pageSize = 1024;
    std::uint32_t bank2Start = 0;
    std::deque<int> rx;  // bytes the line will deliver; kLineError for a byte with a line error
    std::vector<std::uint8_t> tx;
    std::uint32_t now = 0;
    bool locked[2] = {true, true};
    std::set<std::uint32_t> protectedPages;  // page addresses
    int programs = 0, erases = 0;
    bool programming = false;  // started, not yet ended
    int programStatus = 0;
    std::uint32_t lastSr = 0;
    std::vector<std::uint32_t> bauds, leftTo;  // every hal_set_baud, every hal_leave
    std::vector<std::string> faults;  // what real hardware would not take (bus faults, misuse)

    void reset(std::uint32_t flashBytes) {
        *this = FakeChip();
        flash.assign(flashBytes, 0xFF);
    }
};

FakeChip& Chip();

// The fake chip's flash from an address.
QByteArray FlashBytes(std::uint32_t address, int length);

// Compiled code: the loader binaries themselves, which compress like firmware.
QByteArray Code(int size);

inline QByteArray Random(int size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char& byte : bytes) byte = char(random.bounded(256));
    return bytes;
}

}  // namespace loadertest
