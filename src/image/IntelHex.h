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

// Why a line is not a record the reader takes.
enum class HexLineError {
    None,
    IllegalFormat,             // not a record: characters, length, type or address
    BadChecksum,               // the last pair is not the checksum of the others
    SegmentAddressLength,      // an 02 record without exactly 2 data bytes
    StartSegmentAddress,       // an 03 record (a start address for x86 real mode)
    LinearAddressLength,       // an 04 record without exactly 2 data bytes
    StartLinearAddressLength,  // an 05 record without exactly 4 data bytes
    TooLong,                   // longer than any record (a binary file chosen by mistake)
};

// Parses one line (without its terminator) into record; the reason when the line is rejected.
HexLineError ReadHexLine(std::string_view line, HexRecord& record);
// The text the user is shown for a rejected line: the checksum's quotes the line, TooLong has
// none ("").
std::string HexLineErrorMessage(HexLineError error, std::string_view line);
// ReadHexLine with the rejection as its message: false when the line is rejected, *message then
// holds HexLineErrorMessage (it is left untouched on success).
bool ParseHexLine(std::string_view line, HexRecord& record, std::string* message);

// Writer: the exact lines, without line terminator.
std::string StartLinearAddressLine();  // ":0400000508000000EF"
std::string ExtendedLinearAddressLine(
    uint32_t blockAddress);  // ":02000004" + bits 31-16 + checksum
// A data record for count bytes (1 to 255) at blockAddress (its low 16 bits are the offset).
std::string DataRecordLine(uint32_t blockAddress, const uint8_t* bytes, int count);
std::string EndOfFileLine();  // ":00000001FF"

}  // namespace praxon
