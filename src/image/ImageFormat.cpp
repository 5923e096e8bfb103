#include "ImageFormat.h"

#include <cstddef>

namespace praxon {

namespace {

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
    };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    if (text.size() < tail.size()) return false;
    text.remove_prefix(text.size() - tail.size());
    for (size_t i = 0; i < tail.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? char(text[i] - 'A' + 'a') : text[i];
        if (c != tail[i]) return false;
    }
    return true;
}

// Characters, not bytes: UTF-8 continuation bytes are not counted.
size_t CharacterCount(std::string_view text) {
    size_t count = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

}  // namespace

ImageFormat ImageFormatForFileName(std::string_view name) {
    const std::string_view n = Trimmed(name);
    for (std::string_view suffix : {".hex", ".ihx", ".ihex"})
        if (EndsWithNoCase(n, suffix)) return ImageFormat::Hex;
    return ImageFormat::Binary;
}

ImageFormat SavedImageFormatForFileName(std::string_view name) {
    const std::string_view n = Trimmed(name);
    if (CharacterCount(n) < 3 || EndsWithNoCase(n, "hex")) return ImageFormat::Hex;
    return ImageFormatForFileName(n);
}

}  // namespace praxon
