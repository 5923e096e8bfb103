#pragma once

#include <QIODevice>
#include <cstdint>

namespace praxon {

class BootLink;

// Target memory from address, length bytes (a multiple of the block size), to out: raw bytes in
// 256-byte reads, or Intel HEX in 64-byte reads (start record, an extended linear address record
// at every 64 KB boundary, one data record per block, end record; CR LF line ends). Progress goes
// to panel 2. On a failed read the failure is logged and false returned; the caller discards out.
bool ReadFlashToBin(BootLink& link, QIODevice& out, uint32_t address, qint64 length);
bool ReadFlashToHex(BootLink& link, QIODevice& out, uint32_t address, qint64 length);

// The format a file name asks for: Intel HEX when its last three characters (outer blanks
// removed) are "hex" in any case, or when it has fewer than three characters.
bool IsHexFileName(const QString& fileName);

}  // namespace praxon
