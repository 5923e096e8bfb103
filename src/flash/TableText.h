#pragma once

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

// Cell handling shared by the parsers of the built-in text tables (devices.tsv,
// optionbytes.tsv). Plain C++ without Qt.
namespace praxon::tabletext {

// Without blanks (space, tab, CR, LF, VT, FF) at either end.
std::string_view Trimmed(std::string_view text);
// Pieces between separators; a run of separators counts as one when mergeRuns.
std::vector<std::string_view> Split(std::string_view text, char by, bool mergeRuns);
// The text before and after the first `by`; after is empty when there is none.
std::pair<std::string_view, std::string_view> Cut(std::string_view text, char by);
// Digits of base only (no sign, no blanks, no prefix), at most max.
bool Number(std::string_view text, int base, uint64_t max, uint64_t* value);
// Decimal, or hexadecimal after 0x or 0X; at most max.
bool DecimalOrHex(std::string_view text, uint64_t max, uint64_t* value);

}  // namespace praxon::tabletext
