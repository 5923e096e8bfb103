#include "TurboFrames.h"

#include <array>

namespace praxon::flash::turbo {

namespace {

constexpr std::uint8_t kSync = 0xA5;
constexpr int kHeader = 6;
constexpr int kOverhead = 10;

const std::array<std::uint32_t, 256>& CrcTable() {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t crc = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                crc = crc & 0x80000000u ? crc << 1 ^ 0x04C11DB7u : crc << 1;
            entries[i] = crc;
        }
        return entries;
    }();
    return table;
}

std::uint8_t Byte(const QByteArray& bytes, int index) {
    return std::uint8_t(bytes[index]);
}

std::uint8_t HeaderCheck(std::uint8_t seq, std::uint8_t code, int length) {
    return std::uint8_t(~(seq ^ code ^ std::uint8_t(length) ^ std::uint8_t(length >> 8)));
}

}  // namespace

std::uint32_t Crc32Words(const QByteArray& bytes, std::uint32_t crc) {
    const auto& table = CrcTable();
    const int size = int(bytes.size());
    for (int word = 0; word < size; word += 4) {
        // The unit takes a word's most significant bit first: byte 3 of the word comes first.
        for (int i = 3; i >= 0; --i) {
            const std::uint8_t byte = word + i < size ? Byte(bytes, word + i) : 0;
            crc = crc << 8 ^ table[(crc >> 24) ^ byte];
        }
    }
    return crc;
}

QByteArray EncodeFrame(std::uint8_t seq, std::uint8_t command, const QByteArray& payload) {
    const int length = int(payload.size());
    QByteArray frame;
    frame.reserve(length + kOverhead);
    frame.append(char(kSync));
    frame.append(char(seq));
    frame.append(char(command));
    frame.append(char(length));
    frame.append(char(length >> 8));
    frame.append(char(HeaderCheck(seq, command, length)));
    frame.append(payload);
    const std::uint32_t crc = Crc32Words(frame);
    for (int i = 0; i < 4; ++i) frame.append(char(crc >> (8 * i)));
    return frame;
}

QByteArray EscapeForLine(const QByteArray& bytes) {
    QByteArray line;
    line.reserve(bytes.size() + bytes.size() / 64 + 4);
    for (const char c : bytes) {
        const std::uint8_t byte = std::uint8_t(c);
        if (byte == kRomSync || byte == kLineEscape) {
            line.append(char(kLineEscape));
            line.append(char(byte ^ kLineEscapeFlip));
        } else {
            line.append(c);
        }
    }
    return line;
}

void FrameReader::skip(int count) {
    buffer_.remove(0, count);
    skipped_ += count;
}

void FrameReader::giveUpPending() {
    if (!buffer_.isEmpty() && Byte(buffer_, 0) == kSync) skip(1);
}

std::optional<Frame> FrameReader::next() {
    for (;;) {
        const int sync = int(buffer_.indexOf(char(kSync)));
        if (sync < 0) {
            skip(int(buffer_.size()));
            return std::nullopt;
        }
        if (sync > 0) skip(sync);
        if (buffer_.size() < kHeader) return std::nullopt;
        const std::uint8_t seq = Byte(buffer_, 1), code = Byte(buffer_, 2);
        const int length = Byte(buffer_, 3) | Byte(buffer_, 4) << 8;
        if (Byte(buffer_, 5) != HeaderCheck(seq, code, length) || length > maxPayload_) {
            skip(1);
            continue;
        }
        if (buffer_.size() < length + kOverhead) return std::nullopt;
        std::uint32_t crc = 0;
        for (int i = 3; i >= 0; --i) crc = crc << 8 | Byte(buffer_, kHeader + length + i);
        if (crc != Crc32Words(buffer_.left(kHeader + length))) {
            skip(1);
            continue;
        }
        Frame frame{seq, code, buffer_.mid(kHeader, length)};
        buffer_.remove(0, length + kOverhead);
        return frame;
    }
}

}  // namespace praxon::flash::turbo
