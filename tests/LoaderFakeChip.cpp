#include "LoaderFakeChip.h"

#include <QString>
#include <algorithm>

#include "LoaderImage.h"
#include "loader.h"

namespace loadertest {

FakeChip& Chip() {
    static FakeChip chip;
    return chip;
}

QByteArray FlashBytes(std::uint32_t address, int length) {
    return QByteArray(reinterpret_cast<const char*>(Chip().flash.data()) + (address - kFlashBase),
                      length);
}

QByteArray Code(int size) {
    using praxon::flash::kLoaderBinaries;
    QByteArray code;
    while (code.size() < size)
        for (std::size_t i = 0; i < praxon::flash::kLoaderBinaryCount; ++i)
            code.append(reinterpret_cast<const char*>(kLoaderBinaries[i].bytes),
                        int(kLoaderBinaries[i].size));
    return code.left(size);
}

namespace {

std::string Hex(std::uint32_t value) {
    return QString::asprintf("0x%08X", value).toStdString();
}

// The byte behind an address, or nullptr (a bus fault on the chip).
std::uint8_t* Byte(std::uint32_t address) {
    FakeChip& chip = Chip();
    if (address >= kFlashBase && address - kFlashBase < chip.flash.size())
        return &chip.flash[address - kFlashBase];
    if (address >= kSysmemBase && address - kSysmemBase < chip.sysmem.size())
        return &chip.sysmem[address - kSysmemBase];
    if (address >= kRamBase && address - kRamBase < chip.ram.size())
        return &chip.ram[address - kRamBase];
    chip.faults.push_back("read outside memory at " + Hex(address));
    return nullptr;
}

bool InFlash(std::uint32_t address, std::uint32_t length) {
    return address >= kFlashBase && address - kFlashBase + length <= Chip().flash.size();
}

std::uint32_t Read(std::uint32_t address, int bytes) {
    if (address % bytes) Chip().faults.push_back("unaligned read at " + Hex(address));
    if (Chip().programming && InFlash(address, bytes))
        Chip().faults.push_back("flash read while programming at " + Hex(address));
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        const std::uint8_t* byte = Byte(address + i);
        value = value << 8 | (byte ? *byte : 0xEE);
    }
    return value;
}

// The register set the engine chose must be the one of the bank that holds the address, and that
// bank must be unlocked: the controller ignores anything else.
bool CheckBank(std::uint32_t regs, std::uint32_t address, const char* what) {
    FakeChip& chip = Chip();
    const bool bank2 = chip.bank2Start && address >= chip.bank2Start;
    const char* wrong = regs != (bank2 ? LOADER_BANK2_REGS : 0u)
                            ? " through the other bank's registers"
                        : chip.locked[bank2 ? 1 : 0] ? " while locked"
                                                     : nullptr;
    if (wrong) chip.faults.push_back(what + std::string(wrong) + " at " + Hex(address));
    return !wrong;
}

// The controller's answer to a refused program or erase: its status register and the result.
int Refused(std::uint32_t sr, int status) {
    Chip().lastSr = sr;
    return status;
}

std::uint32_t PageOf(std::uint32_t address) {
    return address - (address - kFlashBase) % Chip().pageSize;
}

}  // namespace
}  // namespace loadertest

using loadertest::Chip;

extern "C" {

int hal_rx(void) {
    auto& rx = Chip().rx;
    if (rx.empty()) return -1;
    int byte = rx.front();
    rx.pop_front();
    return byte;
}

void hal_tx(uint8_t byte) {
    loader_service();
    Chip().tx.push_back(byte);
}

void hal_tx_drain(void) {}
void hal_tick(void) {}
uint32_t hal_ms(void) {
    return Chip().now;
}

uint32_t hal_baud_possible(uint32_t baud) {
    return baud >= 1200 && baud <= 4000000 ? baud : 0;
}

void hal_set_baud(uint32_t baud) {
    Chip().bauds.push_back(baud);
}
uint32_t hal_clock_hz(void) {
    return 64000000;
}
uint32_t hal_flash_size_register(void) {
    return Chip().flash.size() / 1024;
}

static uint32_t crc_state = 0xFFFFFFFFu;
void hal_crc_reset(void) {
    crc_state = 0xFFFFFFFFu;
}
void hal_crc_word(uint32_t word) {
    crc_state = loader_crc_word(crc_state, word);
}
uint32_t hal_crc_value(void) {
    return crc_state;
}

uint8_t hal_read8(uint32_t address) {
    return loadertest::Read(address, 1);
}
uint16_t hal_read16(uint32_t address) {
    return loadertest::Read(address, 2);
}
uint32_t hal_read32(uint32_t address) {
    return loadertest::Read(address, 4);
}

int hal_flash_locked(uint32_t regs) {
    return Chip().locked[regs ? 1 : 0];
}

int hal_flash_unlock(uint32_t regs) {
    auto& chip = Chip();
    if (!chip.locked[regs ? 1 : 0]) chip.faults.push_back("unlock keys written while unlocked");
    chip.locked[regs ? 1 : 0] = false;
    return ST_OK;
}

static int ProgramNow(uint32_t regs, uint32_t address, uint16_t value) {
    auto& chip = Chip();
    if (address % 2 || !loadertest::InFlash(address, 2)) {
        chip.faults.push_back("program outside flash at " + loadertest::Hex(address));
        return ST_BAD_ADDRESS;
    }
    if (!loadertest::CheckBank(regs, address, "program")) return ST_LOCKED;
    if (chip.protectedPages.count(loadertest::PageOf(address)))
        return loadertest::Refused(0x10, ST_PROTECTED);  // WRPRTERR
    std::uint8_t* cell = &chip.flash[address - loadertest::kFlashBase];
    const std::uint16_t now = cell[0] | cell[1] << 8;
    // PGERR: the controller skips the write
    if (now != 0xFFFF && value != 0) return loadertest::Refused(0x04, ST_NOT_ERASED);
    cell[0] &= value & 0xFF;
    cell[1] &= value >> 8;
    chip.lastSr = 0x20;  // EOP
    ++chip.programs;
    return ST_OK;
}

// The fake programs at once; the result waits for the end. Flash reads in between are faults:
// on the chip they would stall the bus for the rest of the program time, and the USART with it.
void hal_flash_program_start(uint32_t regs, uint32_t address, uint16_t value) {
    auto& chip = Chip();
    if (chip.programming) chip.faults.push_back("program started while busy");
    chip.programStatus = ProgramNow(regs, address, value);
    chip.programming = true;
}

int hal_flash_program_end(uint32_t) {
    auto& chip = Chip();
    if (!chip.programming) chip.faults.push_back("program ended that was not started");
    chip.programming = false;
    return chip.programStatus;
}

int hal_flash_erase_page(uint32_t regs, uint32_t address) {
    auto& chip = Chip();
    if (!loadertest::InFlash(address, chip.pageSize) || loadertest::PageOf(address) != address) {
        chip.faults.push_back("page erase at " + loadertest::Hex(address));
        return ST_BAD_ADDRESS;
    }
    if (!loadertest::CheckBank(regs, address, "erase")) return ST_LOCKED;
    if (chip.protectedPages.count(address)) return loadertest::Refused(0x10, ST_PROTECTED);
    std::fill_n(chip.flash.begin() + (address - loadertest::kFlashBase), chip.pageSize, 0xFF);
    chip.lastSr = 0x20;
    ++chip.erases;
    return ST_OK;
}

int hal_flash_mass_erase(uint32_t regs) {
    auto& chip = Chip();
    const std::uint32_t split = chip.bank2Start ? chip.bank2Start - loadertest::kFlashBase
                                                : std::uint32_t(chip.flash.size());
    const std::uint32_t from = regs ? split : 0;
    const std::uint32_t to = regs ? std::uint32_t(chip.flash.size()) : split;
    if (!loadertest::CheckBank(regs, loadertest::kFlashBase + from, "mass erase")) return ST_LOCKED;
    std::fill(chip.flash.begin() + from, chip.flash.begin() + to, 0xFF);
    return ST_OK;
}

uint32_t hal_flash_last_sr(void) {
    return Chip().lastSr;
}

void hal_leave(uint32_t address) {
    Chip().leftTo.push_back(address);
}

}  // extern "C"
