#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>

// ELF files as linkers for 32-bit ARM write them: the bytes each loadable segment gives, at its
// physical (load) address. Plain C++ (no Qt).
namespace praxon {

class FirmwareImage;
struct ImageLoadError;

// Why an ELF file is refused.
enum class ElfError {
    None,
    NotElf,               // no ELF magic
    Not32Bit,             // not ELFCLASS32
    NotLittleEndian,      // not ELFDATA2LSB
    NotArm,               // e_machine is not EM_ARM (40)
    BadHeader,            // the file header or the program header table is truncated or
                          // inconsistent (entry size, version, table past the file's end, a
                          // segment with more bytes in the file than in memory)
    SegmentPastEnd,       // a loadable segment's bytes lie past the file's end
    AddressOverflow,      // a loadable segment would reach past 0xFFFFFFFF
    NoLoadableData,       // no PT_LOAD segment with bytes in the file
    OverlappingSegments,  // two loadable segments share an address (ImageLoadError::address)
};

// Reads the loadable segments (PT_LOAD with p_filesz > 0) of the ELF file held in data into
// image: p_filesz bytes from p_offset at p_paddr, one image record per segment. False with *error
// filled (ImageLoadError::ElfRefused, with address for OverlappingSegments) at the first problem;
// image is then left as it was.
bool ReadElfImage(const uint8_t* data, size_t size, FirmwareImage* image, ImageLoadError* error);
// The same for a whole stream.
bool ReadElfImage(std::istream& in, FirmwareImage* image, ImageLoadError* error);

}  // namespace praxon
