#include "IntelHex.h"

#include "HexText.h"

#include <utility>

namespace praxon {

namespace {

constexpr HexLineError kIllegalFormat = HexLineError::IllegalFormat;

// LL, AAAA, TT and the data share a 256-byte working array.
constexpr int kMaxDataLen = 252;
// Load addresses are non-negative 32-bit signed values.
constexpr int64_t kAddressLimit = 0x80000000LL;

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The pair at index pos, read leniently: blanks are skipped and any other non-digit ends the
// number (0 when no digit came before it). Only the checksum test reads pairs this way.
int LenientPair(std::string_view line, size_t pos) {
    int value = 0;
    for (size_t i = pos; i < pos + 2 && i < line.size(); ++i) {
        if (line[i] == ' ') continue;
        const int d = DigitValue(line[i]);
        if (d < 0) break;
        value = value * 16 + d;
    }
    return value;
}

// A pair of which both characters are known to be hex digits.
int Pair(std::string_view line, size_t pos) {
    return DigitValue(line[pos]) * 16 + DigitValue(line[pos + 1]);
}

// The pairs start at index 1 (after the start code); the last complete pair is the checksum of
// all pairs before it. An empty line has no pairs and passes.
bool ChecksumMatches(std::string_view line) {
    if (line.size() < 3) return true;
    const size_t pairs = (line.size() - 1) / 2;
    unsigned sum = 0;
    for (size_t k = 0; k + 1 < pairs; ++k)
        sum += static_cast<unsigned>(LenientPair(line, 1 + 2 * k));
    const int checksum = LenientPair(line, 1 + 2 * (pairs - 1));
    return checksum == static_cast<int>((256 - sum % 256) % 256);
}

bool Reject(HexLineError* error, HexLineError why) {
    if (error != nullptr) *error = why;
    return false;
}

uint8_t Checksum(const uint8_t* bytes, int count) {
    unsigned sum = 0;
    for (int i = 0; i < count; ++i) sum = (sum + bytes[i]) % 256;
    return static_cast<uint8_t>((256 - sum) % 256);
}

std::string RecordLine(const uint8_t* buffer, int checksumIndex) {
    return ":" + BytesToHex(buffer, checksumIndex);
}

}  // namespace

bool ParseHexLine(std::string_view line, HexRecord& record, HexLineError* error) {
    // A line may end in blanks or a CR (files written with CR LF and read line by line).
    std::string_view text = line;
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.remove_suffix(1);

    // Characters after a complete record are a format error, whatever the checksum test would
    // make of them.
    if (text.size() >= 3 && text[0] == ':' && DigitValue(text[1]) >= 0 &&
        DigitValue(text[2]) >= 0 && text.size() > 11 + 2 * static_cast<size_t>(Pair(text, 1))) {
        return Reject(error, kIllegalFormat);
    }

    if (!ChecksumMatches(text)) return Reject(error, HexLineError::BadChecksum);

    if (text.empty() || text[0] != ':') return Reject(error, kIllegalFormat);

    // From here on every field is read strictly: an even number of hex digits after the colon,
    // at least count, offset, type and checksum, and exactly as many as the count asks for.
    const std::string_view body = text.substr(1);
    if (body.size() % 2 != 0 || body.size() < 10) return Reject(error, kIllegalFormat);
    for (char c : body) {
        if (DigitValue(c) < 0) return Reject(error, kIllegalFormat);
    }
    const int dataLen = Pair(text, 1);
    if (body.size() != 10 + 2 * static_cast<size_t>(dataLen)) {
        return Reject(error, kIllegalFormat);
    }

    record.DataLen = static_cast<uint8_t>(dataLen);
    record.Offset = Pair(text, 3) * 256 + Pair(text, 5);
    record.RecType = static_cast<uint8_t>(Pair(text, 7));

    switch (record.RecType) {
        case 0x00: {
            if (dataLen > kMaxDataLen) return Reject(error, kIllegalFormat);
            // Every byte of the record must lie below the address limit.
            const int64_t address =
                int64_t{record.Segment} * 16 + int64_t{record.Linear} * 65536 + record.Offset;
            if (address < 0 || address + (dataLen > 0 ? dataLen - 1 : 0) >= kAddressLimit) {
                return Reject(error, kIllegalFormat);
            }
            for (int k = 0; k < dataLen; ++k) {
                record.Data[static_cast<size_t>(k)] = static_cast<uint8_t>(Pair(text, 9 + 2 * k));
            }
            record.Address = static_cast<int32_t>(address);
            return true;
        }
        case 0x01:
            return true;
        case 0x02:
            if (dataLen != 2) return Reject(error, HexLineError::SegmentLength);
            record.Segment = Pair(text, 9) * 256 + Pair(text, 11);
            record.Linear = 0;
            return true;
        case 0x03:
            return Reject(error, HexLineError::StartSegment);
        case 0x04: {
            if (dataLen != 2) return Reject(error, HexLineError::LinearLength);
            const int value = Pair(text, 9) * 256 + Pair(text, 11);
            // 0x8000 and above would load at 0x80000000 or higher.
            if (int64_t{value} * 65536 >= kAddressLimit) return Reject(error, kIllegalFormat);
            record.Linear = value;
            record.Segment = 0;
            return true;
        }
        case 0x05:
            if (dataLen != 4) return Reject(error, HexLineError::StartLinearLength);
            return true;
        default:
            return Reject(error, kIllegalFormat);
    }
}

std::string StartLinearAddressLine() {
    // Entry address 0x08000000, the start of flash.
    uint8_t record[9] = {0x04, 0x00, 0x00, 0x05, 0x08, 0x00, 0x00, 0x00, 0x00};
    record[8] = Checksum(record, 8);
    return RecordLine(record, 8);
}

std::string ExtendedLinearAddressLine(uint32_t blockAddress) {
    uint8_t record[7] = {0x02,
                         0x00,
                         0x00,
                         0x04,
                         static_cast<uint8_t>((blockAddress >> 24) & 0xFF),
                         static_cast<uint8_t>((blockAddress >> 16) & 0xFF),
                         0x00};
    record[6] = Checksum(record, 6);
    return RecordLine(record, 6);
}

std::string DataRecordLine(uint32_t blockAddress, const uint8_t* bytes, int count) {
    // Outside 1 to 255 bytes there is no record to write.
    if (bytes == nullptr || count < 1 || count > 255) return std::string();
    uint8_t record[4 + 255 + 1];
    record[0] = static_cast<uint8_t>(count);
    record[1] = static_cast<uint8_t>((blockAddress >> 8) & 0xFF);
    record[2] = static_cast<uint8_t>(blockAddress & 0xFF);
    record[3] = 0x00;
    for (int i = 0; i < count; ++i) record[4 + i] = bytes[i];
    record[4 + count] = Checksum(record, 4 + count);
    return RecordLine(record, 4 + count);
}

std::string EndOfFileLine() {
    const uint8_t record[5] = {0x00, 0x00, 0x00, 0x01, 0xFF};
    return RecordLine(record, 4);
}

}  // namespace praxon
