#include "LoaderImage.h"

namespace praxon::flash {

namespace {

std::uint32_t ReadWord(const QByteArray& bytes, int offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
    return value;
}

void WriteWord(QByteArray& bytes, int offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

}  // namespace

const LoaderBinary* LoaderFor(LoaderFamily family, std::uint32_t firstFreeRam) {
    const LoaderBinary* best = nullptr;
    for (std::size_t i = 0; i < kLoaderBinaryCount; ++i) {
        const LoaderBinary& binary = kLoaderBinaries[i];
        if (binary.family != family || binary.loadAddress < firstFreeRam) continue;
        if (!best || binary.loadAddress < best->loadAddress) best = &binary;
    }
    return best;
}

std::uint32_t LoaderRxStart(const LoaderBinary& binary) {
    const QByteArray bytes(reinterpret_cast<const char*>(binary.bytes), int(binary.size));
    return bytes.size() >= 0x24 ? ReadWord(bytes, 0x20) : 0;
}

QByteArray LoaderImage(const LoaderBinary& binary, const LoaderParameters& parameters) {
    QByteArray image(reinterpret_cast<const char*>(binary.bytes), static_cast<int>(binary.size));
    constexpr int kBlockEnd = kLoaderParameterOffset + 6 * 4;
    if (image.size() < kBlockEnd || ReadWord(image, kLoaderParameterOffset) != kLoaderMagic)
        return {};
    WriteWord(image, kLoaderParameterOffset + 4, parameters.baud);
    WriteWord(image, kLoaderParameterOffset + 8, parameters.ramEnd);
    WriteWord(image, kLoaderParameterOffset + 12, parameters.pageSize);
    WriteWord(image, kLoaderParameterOffset + 16, parameters.flashSize);
    WriteWord(image, kLoaderParameterOffset + 20, parameters.bank2Start);
    if (image.size() >= kLoaderParameterOffset + 32)  // binaries without the field ignore it
        WriteWord(image, kLoaderParameterOffset + 28, parameters.lzmaTable ? 1 : 0);
    while (image.size() % 4) image.append(char(0xFF));
    return image;
}

}  // namespace praxon::flash
