#include "TextLines.h"

namespace praxon {

bool ReadTextLine(std::istream& in, std::string& line, bool* overlong) {
    using Traits = std::istream::traits_type;
    line.clear();
    *overlong = false;
    std::streambuf* buf = in.rdbuf();
    if (!in || buf == nullptr || Traits::eq_int_type(buf->sgetc(), Traits::eof())) return false;
    for (;;) {
        const Traits::int_type c = buf->sbumpc();
        if (Traits::eq_int_type(c, Traits::eof()) || c == '\n') return true;
        if (c == '\r') {
            if (buf->sgetc() == '\n') buf->sbumpc();
            return true;
        }
        if (line.size() == kMaxTextLineLength) {
            *overlong = true;
            return true;
        }
        line.push_back(Traits::to_char_type(c));
    }
}

void DropByteOrderMark(std::string& line) {
    if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
}

}  // namespace praxon
