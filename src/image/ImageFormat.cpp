#include "ImageFormat.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "FirmwareImage.h"

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

ImageFormat DetectImageFormat(std::string_view bytes) {
    if (bytes.substr(0, 4) == "\177ELF") return ImageFormat::Elf;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    const size_t first = bytes.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return ImageFormat::Binary;
    bytes.remove_prefix(first);
    // A record's line is text: a binary that merely starts with ':' or "S1" (a data blob, an
    // image whose first word has such a byte) has other bytes before its first line ends.
    const std::string_view line = bytes.substr(0, bytes.find('\n'));
    for (char c : line)
        if ((c < 0x20 || c > 0x7E) && c != '\t' && c != '\r') return ImageFormat::Binary;
    if (bytes[0] == ':') return ImageFormat::Hex;
    if (bytes.size() >= 2 && bytes[0] == 'S' && bytes[1] >= '0' && bytes[1] <= '9')
        return ImageFormat::Srec;
    return ImageFormat::Binary;
}

std::optional<ImageFormat> DetectImageFileFormat(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) return std::nullopt;
    std::string first(kFormatProbeSize, '\0');
    in.read(first.data(), std::streamsize(first.size()));
    first.resize(size_t(in.gcount()));
    return DetectImageFormat(first);
}

bool ReadImageFile(std::istream& in, std::optional<ImageFormat> format, uint32_t loadAddress,
                   FirmwareImage* image, ImageLoadError* error, ImageFormat* used) {
    std::istream* from = &in;
    std::istringstream whole;
    if (!format) {
        std::string first(kFormatProbeSize, '\0');
        in.read(first.data(), std::streamsize(first.size()));
        first.resize(size_t(in.gcount()));
        format = DetectImageFormat(first);
        in.clear();
        if (!in.seekg(0)) {
            // A pipe cannot go back: the bytes already taken are put in front of the rest.
            in.clear();
            whole.str(first + std::string(std::istreambuf_iterator<char>(in), {}));
            from = &whole;
        }
    }
    if (used != nullptr) *used = *format;
    switch (*format) {
        case ImageFormat::Hex:
            return ReadHexImage(*from, image, error);
        case ImageFormat::Srec:
            return ReadSrecImage(*from, image, error);
        case ImageFormat::Elf:
            return ReadElfImage(*from, image, error);
        case ImageFormat::Binary:
            break;
    }
    return ReadBinaryImage(*from, loadAddress, image, error);
}

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
