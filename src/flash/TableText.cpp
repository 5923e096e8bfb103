#include "TableText.h"

namespace praxon::tabletext {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

int DigitValue(char c, int base) {
    int v = 16;
    if (c >= '0' && c <= '9') v = c - '0';
    if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    return v < base ? v : -1;
}

}  // namespace

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> Split(std::string_view text, char by, bool mergeRuns) {
    std::vector<std::string_view> parts;
    size_t at = 0;
    for (;;) {
        const size_t end = text.find(by, at);
        parts.push_back(text.substr(at, end == std::string_view::npos ? end : end - at));
        if (end == std::string_view::npos) break;
        at = end + 1;
        if (mergeRuns)
            while (at < text.size() && text[at] == by) ++at;
    }
    return parts;
}

std::pair<std::string_view, std::string_view> Cut(std::string_view text, char by) {
    const size_t at = text.find(by);
    if (at == std::string_view::npos) return {text, {}};
    return {text.substr(0, at), text.substr(at + 1)};
}

bool Number(std::string_view text, int base, uint64_t max, uint64_t* value) {
    if (text.empty()) return false;
    uint64_t v = 0;
    for (char c : text) {
        const int d = DigitValue(c, base);
        if (d < 0) return false;
        v = v * uint64_t(base) + uint64_t(d);
        if (v > max) return false;
    }
    *value = v;
    return true;
}

bool DecimalOrHex(std::string_view text, uint64_t max, uint64_t* value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return Number(text.substr(2), 16, max, value);
    return Number(text, 10, max, value);
}

}  // namespace praxon::tabletext
