// libFuzzer target: any input read as an ELF file. Invariants that must hold after every read are
// checked with abort().
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ElfImage.h"
#include "FirmwareImage.h"

namespace {

void Check(bool condition) {
    if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    praxon::FirmwareImage image;
    const uint8_t mark = 0xA5;
    image.add(0x100, &mark, 1);
    praxon::ImageLoadError error;
    const bool ok = praxon::ReadElfImage(data, size, &image, &error);
    Check(ok == (error.elfError == praxon::ElfError::None));
    if (!ok) {
        // A refused file leaves the image as it was.
        Check(error.kind == praxon::ImageLoadError::ElfRefused);
        Check(image.segments().size() == 1 && image.byteAt(0x100) == mark);
        return 0;
    }
    Check(size >= 52 && std::memcmp(data, "\177ELF", 4) == 0 && data[18] == 40);
    // Each segment's bytes lie in the file (segments may share them).
    const uint64_t entries = data[44] | data[45] << 8;
    uint64_t bytes = 0, last = 0;
    for (const praxon::ImageSegment& s : image.segments()) {
        Check(!s.bytes.empty() && s.address >= last && s.end() <= (uint64_t{1} << 32));
        last = s.end();
        bytes += s.bytes.size();
    }
    Check(bytes > 0 && bytes <= size * entries);
    uint64_t recorded = 0;
    for (const praxon::ImageRecord& r : image.records()) {
        Check(r.size > 0 && r.size <= size);
        recorded += r.size;
    }
    // Segments never overlap, so every byte recorded is in the image once.
    Check(recorded == bytes);
    return 0;
}
