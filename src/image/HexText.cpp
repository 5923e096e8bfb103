#include "HexText.h"

namespace praxon {

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string ByteToHex(uint8_t byte) {
    std::string text(2, '0');
    text[0] = kHexDigits[byte >> 4];
    text[1] = kHexDigits[byte & 0x0F];
    return text;
}

std::string BytesToHex(const uint8_t* bytes, int last) {
    std::string text;
    if (bytes == nullptr || last < 0) return text;
    text.reserve(2 * (static_cast<size_t>(last) + 1));
    for (int i = 0; i <= last; ++i) text += ByteToHex(bytes[i]);
    return text;
}

bool ParseGoAddress(std::string_view text, uint32_t* address) {
    std::string compact;
    for (char c : text) {
        if (c != ' ' && c != '\t') compact += c;
    }
    std::string_view digits(compact);
    const bool prefix =
        digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    if (prefix) digits.remove_prefix(2);
    const bool suffix = !digits.empty() && (digits.back() == 'h' || digits.back() == 'H');
    if (suffix) digits.remove_suffix(1);
    if ((prefix && suffix) || digits.empty() || digits.size() > 8) return false;
    uint32_t value = 0;
    for (char c : digits) {
        const int d = DigitValue(c);
        if (d < 0) return false;
        value = value * 16 + static_cast<uint32_t>(d);
    }
    if (address != nullptr) *address = value;
    return true;
}

}  // namespace praxon
