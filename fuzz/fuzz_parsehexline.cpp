// libFuzzer target: any line fed to ParseHexLine, with the record carried from line to line as
// a download does. Invariants that must hold after every call are checked with abort().
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "IntelHex.h"

namespace {

praxon::HexRecord record;

void Check(bool condition) {
    if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    praxon::HexLineError error = praxon::HexLineError::None;
    const bool ok = praxon::ParseHexLine(line, record, &error);
    Check(ok == (error == praxon::HexLineError::None));
    Check(record.Offset >= 0 && record.Offset <= 0xFFFF);
    Check(record.Segment >= 0 && record.Segment <= 0xFFFF);
    Check(record.Linear >= 0 && record.Linear < 0x8000);
    Check(record.Segment == 0 || record.Linear == 0);
    if (ok) {
        Check(!line.empty() && line[0] == ':');
        Check(record.RecType <= 0x05 && record.RecType != 0x03);
        if (record.RecType == 0x00) {
            Check(record.DataLen <= 252);
            Check(record.Address >= 0);
            Check(int64_t{record.Address} + record.DataLen <= 0x80000000LL);
            Check(int64_t{record.Address} ==
                  int64_t{record.Segment} * 16 + int64_t{record.Linear} * 65536 + record.Offset);
        }
        if (record.RecType == 0x02 || record.RecType == 0x04) Check(record.DataLen == 2);
        if (record.RecType == 0x05) Check(record.DataLen == 4);
    }
    // A file restarts with a fresh base now and then, so both extended kinds keep being explored.
    if (size > 0 && data[0] == '!') record = praxon::HexRecord{};
    return 0;
}
