#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <string_view>

// Motorola S-record files: S0 header, S1/S2/S3 data with 16/24/32-bit addresses, S5/S6 record
// counts, S7/S8/S9 end records. Plain C++ (no Qt).
namespace praxon {

class FirmwareImage;
struct ImageLoadError;

// Why an S-record file is refused; all but NoEndRecord name a line.
enum class SrecError {
    None,
    IllegalFormat,    // not 'S', a type and an even number of hex digits after it
    BadType,          // S4, or a type that is not a digit
    BadLength,        // the byte count differs from the digits that follow, or is too small for
                      // the type's address (and data where the type has none)
    BadChecksum,      // the last byte is not the ones' complement of the sum of the others
    AddressOverflow,  // data that would reach past 0xFFFFFFFF
    CountMismatch,    // an S5/S6 count differs from the data records read before it
    AfterEnd,         // a record after the end record
    NoEndRecord,      // the file ended without S7, S8 or S9
    TooLong,          // longer than any record (a binary file chosen by mistake)
};

struct SrecRecord {
    int type = 0;          // 0 to 9
    uint32_t address = 0;  // data: load address; S5/S6: the count; S7-S9: the start address
    int dataLength = 0;    // data bytes after the address
    std::array<uint8_t, 255> data{};
};

// Parses one line without its terminator. Blanks at its end are ignored.
SrecError ReadSrecLine(std::string_view line, SrecRecord& record);

// Reads a whole S-record file into image: lines end at CR LF, a lone CR or a lone LF; a UTF-8
// byte order mark before the first line and empty lines are skipped; S0 is ignored; S5/S6 must
// count the data records before them; exactly one end record, the last record. False with *error
// filled at the first problem (ImageLoadError::BadSrecLine, Conflict or Empty). On success *image
// is replaced by what was read; on failure it is left as it was.
bool ReadSrecImage(std::istream& in, FirmwareImage* image, ImageLoadError* error);

}  // namespace praxon
