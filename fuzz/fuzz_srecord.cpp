// libFuzzer target: any input read as a whole S-record file. Invariants that must hold after
// every read are checked with abort().
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "FirmwareImage.h"
#include "SRecord.h"

namespace {

void Check(bool condition) {
    if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream in(text);
    praxon::FirmwareImage image;
    const uint8_t mark = 0xA5;
    image.add(0x100, &mark, 1);
    praxon::ImageLoadError error;
    const bool ok = praxon::ReadSrecImage(in, &image, &error);
    Check(ok == (error.kind == praxon::ImageLoadError::None));
    if (!ok) {
        // A refused file leaves the image as it was.
        Check(image.segments().size() == 1 && image.byteAt(0x100) == mark);
        const bool lineError = error.kind == praxon::ImageLoadError::BadSrecLine;
        Check(lineError == (error.srecError != praxon::SrecError::None));
        Check(!lineError ||
              (error.srecError == praxon::SrecError::NoEndRecord) == (error.lineNumber == 0));
        return 0;
    }
    // Every data byte takes at least two hex digits of the input.
    uint64_t bytes = 0, last = 0;
    for (const praxon::ImageSegment& s : image.segments()) {
        Check(!s.bytes.empty() && s.address >= last && s.end() <= (uint64_t{1} << 32));
        last = s.end();
        bytes += s.bytes.size();
    }
    Check(bytes > 0 && bytes * 2 <= size);
    return 0;
}
