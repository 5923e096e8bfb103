#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace praxon {

// Two upper-case hex digits, high nibble first: 0x0A gives "0A".
std::string ByteToHex(uint8_t byte);
// ByteToHex of bytes[0] to bytes[last], no separators. last < 0 gives "".
std::string BytesToHex(const uint8_t* bytes, int last);

// The Go address as the user types it: one hexadecimal number of 1 to 8 digits, blanks ignored,
// an optional 0x prefix or h suffix. Returns false for anything else.
bool ParseGoAddress(std::string_view text, uint32_t* address);

}  // namespace praxon
