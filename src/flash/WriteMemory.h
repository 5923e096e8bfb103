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
// Writes one block from a WordAligner; when verify() says so (asked once the data are
// acknowledged), reads back the range from its first to its last given byte and compares those.
bool WriteAlignedBlock(BootLink& link, const AlignedBlock& block,
                       const std::function<bool()>& verify);
// One stand-alone block: n (1 to 255) bytes at address. A block that is not 4-aligned is
// written as the enclosing aligned range padded with 0xFF (erased flash stays as it is). When
// verify() says so (asked once the data are acknowledged), the block's own bytes are read back.
// A download whose records may share a word uses a WordAligner and WriteAlignedBlock instead.
bool DownLoad2STM32(BootLink& link, uint32_t address, const uint8_t* data, int n,
                    const std::function<bool()>& verify);

}  // namespace praxon
