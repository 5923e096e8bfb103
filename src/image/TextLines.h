#pragma once

#include <cstddef>
#include <istream>
#include <string>

// Reading a text firmware file (Intel HEX, S-record) line by line.
namespace praxon {

// Longest line kept: a HEX record has at most 521 characters and an S-record 514, so a longer
// line is not a record (a binary file chosen by mistake) and is not read further than this.
constexpr size_t kMaxTextLineLength = 1024;

// One line without its terminator (CR LF, a lone CR or a lone LF); false at the end of input
// before the line started. A line longer than kMaxTextLineLength is cut there and *overlong set.
bool ReadTextLine(std::istream& in, std::string& line, bool* overlong);

// Removes a UTF-8 byte order mark from the front of line (some Windows editors write one).
void DropByteOrderMark(std::string& line);

}  // namespace praxon
