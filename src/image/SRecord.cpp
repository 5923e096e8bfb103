#include "SRecord.h"

#include <string>

#include "FirmwareImage.h"
#include "TextLines.h"

namespace praxon {

namespace {

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Address bytes per type; 0 where the type does not exist.
constexpr int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

bool IsBlankLine(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

SrecError ReadSrecLine(std::string_view line, SrecRecord& record) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (line.size() > kMaxTextLineLength) return SrecError::TooLong;
    if (line.size() < 2 || line[0] != 'S') return SrecError::IllegalFormat;
    if (line[1] < '0' || line[1] > '9') return SrecError::BadType;
    const int type = line[1] - '0';
    if (kAddressBytes[type] == 0) return SrecError::BadType;

    const std::string_view digits = line.substr(2);
    if (digits.size() < 2 || digits.size() % 2 != 0) return SrecError::IllegalFormat;
    for (char c : digits)
        if (DigitValue(c) < 0) return SrecError::IllegalFormat;
    const auto byteAt = [&](size_t i) {
        return uint8_t(DigitValue(digits[2 * i]) * 16 + DigitValue(digits[2 * i + 1]));
    };
    const size_t count = byteAt(0);
    const size_t addressBytes = size_t(kAddressBytes[type]);
    if (digits.size() != 2 * (count + 1) || count < addressBytes + 1) return SrecError::BadLength;
    // Only the header and the data records carry bytes after the address.
    const size_t dataLength = count - addressBytes - 1;
    if (dataLength > 0 && type > 3) return SrecError::BadLength;

    unsigned sum = 0;
    for (size_t i = 0; i < count; ++i) sum += byteAt(i);
    if (uint8_t(~sum) != byteAt(count)) return SrecError::BadChecksum;

    uint32_t address = 0;
    for (size_t i = 0; i < addressBytes; ++i) address = (address << 8) | byteAt(1 + i);
    if (type >= 1 && type <= 3 && uint64_t{address} + dataLength > (uint64_t{1} << 32))
        return SrecError::AddressOverflow;

    record.type = type;
    record.address = address;
    record.dataLength = int(dataLength);
    for (size_t i = 0; i < dataLength; ++i) record.data[i] = byteAt(1 + addressBytes + i);
    return SrecError::None;
}

bool ReadSrecImage(std::istream& in, FirmwareImage* image, ImageLoadError* error) {
    FirmwareImage result;
    SrecRecord record;
    std::string line;
    bool overlong = false;
    int lineNumber = 0;
    bool ended = false;
    uint32_t dataRecords = 0;
    const auto fail = [&](ImageLoadError::Kind kind, SrecError why) {
        if (error != nullptr) {
            *error = ImageLoadError{};
            error->kind = kind;
            error->srecError = why;
            if (kind == ImageLoadError::BadSrecLine && why != SrecError::NoEndRecord) {
                error->line = line;
                error->lineNumber = lineNumber;
            }
        }
        return false;
    };
    while (ReadTextLine(in, line, &overlong)) {
        ++lineNumber;
        if (lineNumber == 1) DropByteOrderMark(line);
        if (!overlong && IsBlankLine(line)) continue;
        if (ended) return fail(ImageLoadError::BadSrecLine, SrecError::AfterEnd);
        const SrecError why = overlong ? SrecError::TooLong : ReadSrecLine(line, record);
        if (why != SrecError::None) return fail(ImageLoadError::BadSrecLine, why);
        switch (record.type) {
            case 1:
            case 2:
            case 3: {
                ++dataRecords;
                uint32_t conflict = 0;
                if (!result.add(record.address, record.data.data(), size_t(record.dataLength),
                                &conflict)) {
                    fail(ImageLoadError::Conflict, SrecError::None);
                    if (error != nullptr) error->address = conflict;
                    return false;
                }
                break;
            }
            case 5:
            case 6:
                if (record.address != dataRecords)
                    return fail(ImageLoadError::BadSrecLine, SrecError::CountMismatch);
                break;
            case 7:
            case 8:
            case 9:
                ended = true;
                break;
            default:  // S0: a header for people, not for the chip
                break;
        }
    }
    if (!ended) return fail(ImageLoadError::BadSrecLine, SrecError::NoEndRecord);
    if (result.empty()) return fail(ImageLoadError::Empty, SrecError::None);
    result.segments();  // join the runs now: the image handed over is complete
    *image = std::move(result);
    if (error != nullptr) *error = ImageLoadError{};
    return true;
}

}  // namespace praxon
