#pragma once

#include <cstdint>
#include <vector>

#include "FirmwareImage.h"
#include "WordAligner.h"

// Planning a write before anything is sent: which blocks go to the bootloader, in which order.
// Pure functions, no port.
namespace praxon {

// [begin, end) in target memory; end may be 2^32.
struct AddressRange {
    uint32_t begin = 0;
    uint64_t end = 0;
    bool contains(uint32_t address) const { return address >= begin && address < end; }
};

struct FastPlanOptions {
    // Ranges this operation erased. Inside them a block may bridge bytes the image does not give
    // (they are written with erasedValue, which the flash holds there anyway), and blocks whose
    // every byte equals erasedValue are left out. Elsewhere blocks split at such gaps.
    std::vector<AddressRange> erased;
    uint8_t erasedValue = 0xFF;
    int maxBlock = 256;  // a multiple of alignment
    // The chip's write unit (a power of two, at least 4): blocks start and end on it.
    int alignment = 4;
};

// Fast mode: aligned blocks of up to maxBlock bytes covering every byte of the image, in address
// order. Bytes of a block the image does not give are padded with erasedValue and marked not
// given. A write unit is never in two blocks: flash refuses to program one twice.
std::vector<AlignedBlock> PlanFastWrite(const FirmwareImage& image, const FastPlanOptions& options);

// Compatible mode: one block per data record in file order, neighbouring records that share a
// word joined there (WordAligner), records longer than 256 bytes split.
std::vector<AlignedBlock> PlanRecordWrite(const FirmwareImage& image);

// Reads that check an image: each segment in reads of at most maxRead bytes, in address order.
std::vector<AddressRange> PlanVerifyReads(const FirmwareImage& image, int maxRead = 256);

// Indexes of the uniform pages (pageSize bytes from base) that hold any byte of the image.
// Bytes outside [base, base + pageCount * pageSize) are ignored.
std::vector<uint32_t> PagesTouched(const FirmwareImage& image, uint32_t base, uint32_t pageSize,
                                   uint32_t pageCount);

// Indexes of the pages covering [begin, end) (clipped to the flash).
std::vector<uint32_t> PagesCovering(const AddressRange& range, uint32_t base, uint32_t pageSize,
                                    uint32_t pageCount);

}  // namespace praxon
