#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Intel HEX lines: reading one line into the current record, and the lines the writer produces.
// Plain C++ (no Qt): texts are UTF-8.
namespace praxon {

struct HexRecord {
    uint8_t DataLen = 0;              // LL of the last line parsed
    int32_t Offset = 0;               // AAAA of the last line parsed, 0 to 65535
    std::array<uint8_t, 256> Data{};  // data bytes of the last data record
    uint8_t RecType = 0;              // TT of the last line parsed
    int32_t Segment = 0;              // value of the last 02 record, 0 after an 04 record
    int32_t Linear = 0;               // value of the last 04 record, 0 after an 02 record
    int32_t Address = 0;              // load address of the last data record
};

// Why a line was rejected.
enum class HexLineError {
    None,
    IllegalFormat,      // not a record: characters, length, type or address out of range
    BadChecksum,        // the record's checksum does not match
    SegmentLength,      // an 02 record without 2 data bytes
    StartSegment,       // an 03 record (a start address for real mode)
    LinearLength,       // an 04 record without 2 data bytes
    StartLinearLength,  // an 05 record without 4 data bytes
};

// Parses one line (without its terminator) into record. Returns false when the line is rejected;
// *error then says why (it is left untouched on success).
bool ParseHexLine(std::string_view line, HexRecord& record, HexLineError* error);

// Writer: the exact lines, without line terminator.
std::string StartLinearAddressLine();  // ":0400000508000000EF"
std::string ExtendedLinearAddressLine(
    uint32_t blockAddress);  // ":02000004" + bits 31-16 + checksum
// A data record for count bytes (1 to 255) at blockAddress (its low 16 bits are the offset).
std::string DataRecordLine(uint32_t blockAddress, const uint8_t* bytes, int count);
std::string EndOfFileLine();  // ":00000001FF"

}  // namespace praxon
