#pragma once

#include <QIODevice>
#include <QString>
#include <functional>
#include <string>

#include "IntelHex.h"

namespace praxon {

class BootLink;

// Longest line kept: an Intel HEX record has at most 521 characters, so a longer line is not one
// (a binary file chosen by mistake) and is not read further than this.
constexpr size_t kMaxHexLineLength = 1024;

// Reads one line of a HEX file: a line ends at CR LF, a lone CR or a lone LF; the terminator is
// not part of it. False when the end of the file was reached before the line started. A line
// longer than kMaxHexLineLength is cut there and *overlong set (the rest stays unread).
bool ReadHexFileLine(QIODevice& file, std::string& line, bool* overlong = nullptr);

// Text of the message box for a HEX file that exists but cannot be opened.
QString CannotOpenFileText(const QString& path);

// Writes every data record of the HEX file to the target, in file order, one block per record
// (records that share a 4-byte word are joined there, see WordAligner), showing progress in
// panel 2. True only when the end-of-file record was reached after every
// block before it was written (and verified when verify() says so). Stops at the first rejected
// line (message boxes), failed block or Stop.
bool ReadAndDownload(BootLink& link, const QString& strFileName, HexRecord& record,
                     const std::function<bool()>& verify);

}  // namespace praxon
