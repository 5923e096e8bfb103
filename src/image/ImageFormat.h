#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>

// What a firmware file holds, told by its content when it is programmed (one rule for the window,
// praxon-cli and the engine) and by its name when the window's read saves one. Names are UTF-8.
namespace praxon {

class FirmwareImage;
struct ImageLoadError;

enum class ImageFormat { Hex, Binary, Srec, Elf };

// How many bytes from the start of a file DetectImageFormat needs at most.
constexpr size_t kFormatProbeSize = 4096;

// ELF for the ELF magic (7F 'E' 'L' 'F'). Otherwise, after an optional UTF-8 byte order mark and
// blanks or empty lines: S-record for 'S' and a digit, Intel HEX for ':', each when that line is
// text up to its end (a damaged record is then refused with its line number, never taken for
// binary data). Anything else is binary.
ImageFormat DetectImageFormat(std::string_view firstBytes);
// DetectImageFormat of the first kFormatProbeSize bytes of the file at path (its name in the
// local 8-bit encoding); none when it cannot be opened.
std::optional<ImageFormat> DetectImageFileFormat(const std::string& path);

// Reads a whole firmware file into image in the format given, or the one its content shows when
// none is given; loadAddress places a binary file.
// The format read is put in *used. Failure as the reader of that format reports it.
bool ReadImageFile(std::istream& in, std::optional<ImageFormat> format, uint32_t loadAddress,
                   FirmwareImage* image, ImageLoadError* error, ImageFormat* used = nullptr);

// The name rule, for the window's read: Intel HEX for a name ending in ".hex", ".ihx" or ".ihex" in
// any case (outer blanks ignored); binary for any other name.
ImageFormat ImageFormatForFileName(std::string_view name);

// The format the window's whole-flash read writes to the name chosen in its save dialog: Intel
// HEX for every name ImageFormatForFileName calls HEX, and also for a name whose last three
// characters are "hex" in any case, dot or not ("DumpHEX"), or that has fewer than three
// characters.
ImageFormat SavedImageFormatForFileName(std::string_view name);

}  // namespace praxon
