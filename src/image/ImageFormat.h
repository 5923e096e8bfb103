#pragma once

#include <string_view>

// Whether a firmware file is Intel HEX or raw binary, told by its name: one rule for the window,
// praxon-cli and the engine. Names are UTF-8.
namespace praxon {

enum class ImageFormat { Hex, Binary };

// Intel HEX for a name ending in ".hex", ".ihx" or ".ihex" in any case (outer blanks ignored);
// binary for any other name.
ImageFormat ImageFormatForFileName(std::string_view name);

// The format the window's whole-flash read writes to the name chosen in its save dialog: Intel
// HEX for every name ImageFormatForFileName calls HEX, and also for a name whose last three
// characters are "hex" in any case, dot or not ("DumpHEX"), or that has fewer than three
// characters.
ImageFormat SavedImageFormatForFileName(std::string_view name);

}  // namespace praxon
