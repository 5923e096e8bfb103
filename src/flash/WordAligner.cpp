#include "WordAligner.h"

#include <algorithm>

namespace praxon {

int AlignedBlock::firstGiven() const {
    return int(std::find(given.begin(), given.end(), true) - given.begin());
}

int AlignedBlock::lastGiven() const {
    return int(given.rend() - std::find(given.rbegin(), given.rend(), true)) - 1;
}

WordAligner::WordAligner(int maxBlock) : maxBlock_(std::max(4, maxBlock & ~3)) {}

std::vector<AlignedBlock> WordAligner::add(uint32_t address, const uint8_t* data, int n) {
    std::vector<AlignedBlock> out;
    if (n <= 0) return out;
    if (pending_ && (address < tailWord_ || address - tailWord_ >= 4)) out = flush();

    // The span from the first word touched to the last given byte, tail first, the chunk over it.
    const uint32_t start = pending_ ? tailWord_ : address & ~3u;
    // 64 bits: a chunk may end at 2^32.
    uint64_t end = uint64_t(address) + uint32_t(n);
    if (pending_) {
        int last = 3;
        while (!tailGiven_[size_t(last)]) --last;
        end = std::max(end, uint64_t(tailWord_) + uint32_t(last) + 1);
    }
    const size_t words = size_t((end - start + 3) & ~uint64_t(3));
    std::vector<uint8_t> bytes(words, 0xFF);
    std::vector<bool> given(words, false);
    if (pending_) {
        std::copy(tailBytes_.begin(), tailBytes_.end(), bytes.begin());
        std::copy(tailGiven_.begin(), tailGiven_.end(), given.begin());
        pending_ = false;
    }
    const size_t at = address - start;
    std::copy(data, data + n, bytes.begin() + long(at));
    std::fill(given.begin() + long(at), given.begin() + long(at + size_t(n)), true);

    const uint64_t alignedEnd = end & ~uint64_t(3);
    for (uint64_t a = start; a < alignedEnd; a += uint32_t(maxBlock_)) {
        const uint64_t stop = std::min(alignedEnd, a + uint32_t(maxBlock_));
        AlignedBlock block;
        block.address = uint32_t(a);
        block.bytes.assign(bytes.begin() + (a - start), bytes.begin() + (stop - start));
        block.given.assign(given.begin() + (a - start), given.begin() + (stop - start));
        out.push_back(std::move(block));
    }
    if (alignedEnd != end) {
        pending_ = true;
        tailWord_ = uint32_t(alignedEnd);
        const size_t from = alignedEnd - start;
        std::copy(bytes.begin() + long(from), bytes.begin() + long(from + 4), tailBytes_.begin());
        std::copy(given.begin() + long(from), given.begin() + long(from + 4), tailGiven_.begin());
    }
    return out;
}

std::vector<AlignedBlock> WordAligner::flush() {
    std::vector<AlignedBlock> out;
    if (!pending_) return out;
    pending_ = false;
    AlignedBlock block;
    block.address = tailWord_;
    block.bytes.assign(tailBytes_.begin(), tailBytes_.end());
    block.given.assign(tailGiven_.begin(), tailGiven_.end());
    out.push_back(std::move(block));
    return out;
}

}  // namespace praxon
