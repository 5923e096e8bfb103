// The program headers are read here directly rather than through libelf: a firmware file needs
// the 52-byte file header and the 32-byte program header entries only, which takes fewer lines
// than libelf's setup and error mapping would, keeps praxon_image free of libraries (the fuzz
// build compiles its sources alone) and lets every refusal name its exact reason.
#include "ElfImage.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "FirmwareImage.h"

namespace praxon {

namespace {

constexpr size_t kFileHeaderSize = 52;
constexpr size_t kProgramHeaderSize = 32;
constexpr uint16_t kMachineArm = 40;
constexpr uint32_t kLoadable = 1;            // PT_LOAD
constexpr uint16_t kExtendedCount = 0xFFFF;  // PN_XNUM: the count stands elsewhere

uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Segment {
    uint32_t offset, address, size;
};

bool Refuse(ImageLoadError* error, ElfError why, uint32_t address = 0) {
    if (error != nullptr) {
        *error = ImageLoadError{};
        error->kind = ImageLoadError::ElfRefused;
        error->elfError = why;
        error->address = address;
    }
    return false;
}

}  // namespace

bool ReadElfImage(const uint8_t* data, size_t size, FirmwareImage* image, ImageLoadError* error) {
    if (size < 4 || data[0] != 0x7F || data[1] != 'E' || data[2] != 'L' || data[3] != 'F')
        return Refuse(error, ElfError::NotElf);
    if (size < kFileHeaderSize) return Refuse(error, ElfError::BadHeader);
    if (data[4] != 1) return Refuse(error, ElfError::Not32Bit);
    if (data[5] != 1) return Refuse(error, ElfError::NotLittleEndian);
    if (Le16(data + 18) != kMachineArm) return Refuse(error, ElfError::NotArm);
    const uint32_t tableOffset = Le32(data + 28);
    const uint16_t entrySize = Le16(data + 42);
    const uint16_t entries = Le16(data + 44);
    if (data[6] != 1 || Le32(data + 20) != 1 || Le16(data + 40) < kFileHeaderSize ||
        entries == kExtendedCount || (entries > 0 && entrySize != kProgramHeaderSize) ||
        uint64_t{tableOffset} + uint64_t{entries} * kProgramHeaderSize > size)
        return Refuse(error, ElfError::BadHeader);

    std::vector<Segment> segments;
    for (uint16_t i = 0; i < entries; ++i) {
        const uint8_t* entry = data + tableOffset + size_t(i) * kProgramHeaderSize;
        const uint32_t fileSize = Le32(entry + 16);
        if (Le32(entry) != kLoadable || fileSize == 0) continue;
        const Segment s{Le32(entry + 4), Le32(entry + 12), fileSize};
        if (s.size > Le32(entry + 20)) return Refuse(error, ElfError::BadHeader);
        if (uint64_t{s.offset} + s.size > size) return Refuse(error, ElfError::SegmentPastEnd);
        if (uint64_t{s.address} + s.size > (uint64_t{1} << 32))
            return Refuse(error, ElfError::AddressOverflow);
        segments.push_back(s);
    }
    if (segments.empty()) return Refuse(error, ElfError::NoLoadableData);

    // Linkers write segments in address order, but nothing requires it.
    std::vector<Segment> sorted = segments;
    std::sort(sorted.begin(), sorted.end(),
              [](const Segment& a, const Segment& b) { return a.address < b.address; });
    for (size_t i = 1; i < sorted.size(); ++i)
        if (uint64_t{sorted[i - 1].address} + sorted[i - 1].size > sorted[i].address)
            return Refuse(error, ElfError::OverlappingSegments, sorted[i].address);

    FirmwareImage result;
    for (const Segment& s : segments) result.add(s.address, data + s.offset, s.size);
    result.segments();  // join the runs now: the image handed over is complete
    *image = std::move(result);
    if (error != nullptr) *error = ImageLoadError{};
    return true;
}

bool ReadElfImage(std::istream& in, FirmwareImage* image, ImageLoadError* error) {
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    return ReadElfImage(bytes.data(), bytes.size(), image, error);
}

}  // namespace praxon
