#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace praxon {

class BootLink;
struct AlignedBlock;

// Write Memory (0x31) and the read-back verify, on (address, bytes) so that any front end can
// use them.

// Command phase: 31 CE, complete reply awaited. A NACK marks the link as lost (EnableCmds false).
bool SendWriteMemoryCmd(BootLink& link);
// Data phase: n-1, the n bytes (1 to 256), XOR checksum; the first reply byte decides.
bool SendData2STM32(BootLink& link, const uint8_t* data, int n);
// One Write Memory transaction of n (1 to 256) bytes at a 4-aligned address with n a multiple
// of 4 (the chip refuses anything else).
bool WriteMemoryBlock(BootLink& link, uint32_t address, const uint8_t* data, int n);
// Reads n (1 to 256) bytes at address back and compares them with data (only the bytes whose
// compare flag is set, when compare is given); logs what failed.
bool VerifyBlock(BootLink& link, uint32_t address, const uint8_t* data, int n,
                 const std::vector<bool>* compare = nullptr);
// One block of a download, as a WordAligner made it: Write Memory, then, when verify() says so
// (asked once the data are acknowledged), the range from its first to its last byte from the
// file is read back and those bytes compared.
bool DownLoad2STM32(BootLink& link, const AlignedBlock& block, const std::function<bool()>& verify);

}  // namespace praxon
