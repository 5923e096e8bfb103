#pragma once
// The host's side of the turbo loader's framing (loader/PROTOCOL.md sections 3 and 4): the CRC,
// frames to send, and a reader that picks the chip's frames out of the received bytes. Command,
// status and reply codes are those of loader/src/loader.h.
#include <QByteArray>
#include <cstdint>
#include <optional>

namespace praxon::flash::turbo {

// CRC-32 (0x04C11DB7, no reflection, no final XOR) over little-endian words, the last word
// completed with zero bytes: what the chip's CRC unit computes. Continue from `crc`.
std::uint32_t Crc32Words(const QByteArray& bytes, std::uint32_t crc = 0xFFFFFFFFu);

QByteArray EncodeFrame(std::uint8_t seq, std::uint8_t command, const QByteArray& payload);

// Host to chip the line never carries 0x7F, the ROM bootloader's synchronisation byte: a chip
// that resets in mid-transfer must not take it from the frames still arriving. 0x7F and the
// escape byte go as the escape byte followed by the byte XOR kLineEscapeFlip; the loader undoes
// it as the bytes arrive (loader/PROTOCOL.md 3.3).
constexpr std::uint8_t kRomSync = 0x7F, kLineEscape = 0xCF, kLineEscapeFlip = 0x20;
QByteArray EscapeForLine(const QByteArray& bytes);

struct Frame {
    std::uint8_t seq = 0;
    std::uint8_t code = 0;  // the command answered, or the NAK / DUP code
    QByteArray payload;
};

// Feed it the bytes as they arrive; take whole frames with a good CRC in order. Bytes that do
// not belong to such a frame are skipped and counted.
class FrameReader {
public:
    explicit FrameReader(int maxPayload = 4096) : maxPayload_(maxPayload) {}
    void feed(const QByteArray& bytes) { buffer_ += bytes; }
    std::optional<Frame> next();
    // No whole frame came in time: the one begun in the buffer is given up and the scan resumes
    // one byte after its sync. A lost byte can leave a header whose check still holds and whose
    // length is wrong (a NAK that loses its low length byte always does); waiting for that many
    // bytes would hide the replies behind it.
    void giveUpPending();
    int skippedBytes() const { return skipped_; }
    int pendingBytes() const { return int(buffer_.size()); }

private:
    void skip(int count);
    QByteArray buffer_;
    int maxPayload_;
    int skipped_ = 0;
};

}  // namespace praxon::flash::turbo
