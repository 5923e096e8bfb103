#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace praxon {

// One Write Memory block as the chip takes it: address and length multiples of 4.
struct AlignedBlock {
    uint32_t address = 0;
    std::vector<uint8_t> bytes;  // 4 to maxBlock bytes; 0xFF where the source gave nothing
    std::vector<bool> given;     // per byte: true when the source gave it (verify compares these)

    int firstGiven() const;  // offset of the first given byte
    int lastGiven() const;   // offset of the last given byte
    bool operator==(const AlignedBlock& other) const {
        return address == other.address && bytes == other.bytes && given == other.given;
    }
};

// Turns a stream of (address, bytes) chunks, in write order, into aligned blocks such that no
// 4-byte word is written twice: flash is programmed in half-words, and one programmed already
// (even with the 0xFF padding) refuses a second write. A chunk that ends inside a word keeps
// those 1-3 bytes back as a pending tail; the next chunk that starts in that word joins it, any
// other chunk (or flush()) has it written alone first, padded with 0xFF. Pure: no port.
class WordAligner {
public:
    // maxBlock: longest block handed out, a multiple of 4 (the bootloader takes 256 at most).
    explicit WordAligner(int maxBlock = 256);

    // Blocks to write now for n (>= 1) bytes at address, in order. May be empty (all of it
    // held back in the tail).
    std::vector<AlignedBlock> add(uint32_t address, const uint8_t* data, int n);
    // The pending tail as one padded block (none when nothing is pending); clears it.
    std::vector<AlignedBlock> flush();

private:
    int maxBlock_;
    bool pending_ = false;
    uint32_t tailWord_ = 0;  // address of the word the tail lies in
    std::array<uint8_t, 4> tailBytes_{};
    std::array<bool, 4> tailGiven_{};
};

}  // namespace praxon
