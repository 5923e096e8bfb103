#pragma once

// ELF files built byte by byte for the reader's tests: a 52-byte file header, the program
// header table right after it, then each segment's bytes in order.
#include <QByteArray>
#include <QList>
#include <cstdint>

namespace elf {

struct Segment {
    uint32_t paddr = 0;
    QByteArray bytes;
    uint32_t type = 1;      // PT_LOAD
    uint32_t memExtra = 0;  // memsz beyond the bytes (zeroed data)
};

inline void put16(QByteArray& b, int at, uint32_t v) {
    b[at] = char(v & 0xFF);
    b[at + 1] = char((v >> 8) & 0xFF);
}
inline void put32(QByteArray& b, int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (8 * i)) & 0xFF);
}

// Where the program header entry i lies, and its fields.
constexpr int kHeaderSize = 52, kEntrySize = 32;
constexpr int entry(int i) {
    return kHeaderSize + i * kEntrySize;
}
enum Field { Type = 0, Offset = 4, VirtAddr = 8, PhysAddr = 12, FileSize = 16, MemSize = 20 };

// A 32-bit little-endian ARM executable whose virtual addresses are the physical ones moved
// into RAM, so that a reader taking p_vaddr would place the bytes elsewhere.
inline QByteArray file(const QList<Segment>& segments) {
    QByteArray b(kHeaderSize + kEntrySize * int(segments.size()), '\0');
    b[0] = 0x7F, b[1] = 'E', b[2] = 'L', b[3] = 'F';
    b[4] = 1, b[5] = 1, b[6] = 1;  // 32-bit, little-endian, version 1
    put16(b, 16, 2);               // ET_EXEC
    put16(b, 18, 40);              // EM_ARM
    put32(b, 20, 1);
    put32(b, 24, segments.isEmpty() ? 0 : segments.first().paddr | 1);
    put32(b, 28, kHeaderSize);
    put16(b, 40, kHeaderSize);
    put16(b, 42, kEntrySize);
    put16(b, 44, uint32_t(segments.size()));
    for (int i = 0; i < segments.size(); ++i) {
        const Segment& s = segments[i];
        put32(b, entry(i) + Type, s.type);
        put32(b, entry(i) + Offset, uint32_t(b.size()));
        put32(b, entry(i) + VirtAddr, 0x20000000 + (s.paddr & 0xFFFF));
        put32(b, entry(i) + PhysAddr, s.paddr);
        put32(b, entry(i) + FileSize, uint32_t(s.bytes.size()));
        put32(b, entry(i) + MemSize, uint32_t(s.bytes.size()) + s.memExtra);
        b += s.bytes;
    }
    return b;
}

}  // namespace elf
