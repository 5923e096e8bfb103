#include "LzmaFrames.h"

#include <lzma.h>

#include <algorithm>

#include "loader.h"

namespace praxon::flash {

namespace {

// The loader's decoder, run on the host: the callbacks below serve it from these.
struct HostStream {
    const QByteArray* input = nullptr;
    int inputPos = 0, inputEnd = 0;
    QByteArray output;  // dictionary, then the decoded bytes
};
HostStream host;

uint8_t lz_in() {
    const int index = host.inputPos++;
    return index < host.inputEnd ? uint8_t((*host.input)[index]) : 0;
}

int lz_put(uint8_t byte) {
    host.output.append(char(byte));
    return ST_OK;
}

int lz_peek(uint32_t distance, uint8_t* byte) {
    if (distance == 0 || distance > std::uint32_t(host.output.size())) return ST_DECODE;
    *byte = uint8_t(host.output[int(host.output.size() - distance)]);
    return ST_OK;
}

#define LOADER_POLL() ((void)0)
#include "lzma.c"
#undef LOADER_POLL

constexpr int kInitBytes = 5;
constexpr int kCutHalfWords = 32;  // a piece may be cut every 64 output bytes

// Dictionary bytes that keep the position's low bits equal on both sides (the chip counts
// positions from the flash base, the encoder from the dictionary's start).
QByteArray AlignedDictionary(std::uint32_t address, const QByteArray& dictionary) {
    const int drop = int((std::uint32_t(dictionary.size()) - address) % 16u);
    return dictionary.mid(std::min(drop, int(dictionary.size())));
}

}  // namespace

QByteArray LzmaRaw(const QByteArray& data, const QByteArray& dictionary, int lp, int pb) {
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, 9 | LZMA_PRESET_EXTREME)) return {};
    options.lc = 0;
    options.lp = std::uint32_t(lp);
    options.pb = std::uint32_t(pb);
    options.nice_len = 273;
    options.dict_size =
        std::max<std::uint32_t>(1u << 16, std::uint32_t(data.size() + dictionary.size()));
    options.preset_dict = reinterpret_cast<const std::uint8_t*>(dictionary.constData());
    options.preset_dict_size = std::uint32_t(dictionary.size());
    if (dictionary.isEmpty()) options.preset_dict = nullptr;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_encoder(&stream, filters) != LZMA_OK) return {};
    QByteArray out(int(data.size() + data.size() / 2 + 1024), '\0');
    stream.next_in = reinterpret_cast<const std::uint8_t*>(data.constData());
    stream.avail_in = std::size_t(data.size());
    stream.next_out = reinterpret_cast<std::uint8_t*>(out.data());
    stream.avail_out = std::size_t(out.size());
    const lzma_ret status = lzma_code(&stream, LZMA_FINISH);
    out.truncate(int(stream.total_out));
    lzma_end(&stream);
    return status == LZMA_STREAM_END ? out : QByteArray();
}

LzmaPlan PlanLzma(std::uint32_t address, const QByteArray& data, QByteArray dictionary,
                  std::uint32_t tableEntries, int payloadLimit, int firstOverhead,
                  int pieceOverhead, int maxOutput) {
    // The largest model the chip's table holds: position bits suit Thumb code's half-words.
    const int lp = tableEntries >= LZ_TABLE_SIZE(1, 1) ? 1 : 0;
    const int pb = tableEntries >= LZ_TABLE_SIZE(1, 0) ? 1 : 0;
    if (tableEntries < LZ_TABLE_SIZE(pb, lp) || data.isEmpty() || data.size() % 2 || address % 2 ||
        maxOutput < 2)
        return {};
    dictionary = AlignedDictionary(address, dictionary);
    const QByteArray stream = LzmaRaw(data, dictionary, lp, pb);
    if (stream.size() < kInitBytes) return {};
    LzmaPlan plan;
    plan.props = std::uint8_t(pb * 45 + lp * 9);
    // Stream bytes consumed once each even count of output bytes is out.
    std::vector<int> consumed;
    consumed.reserve(std::size_t(data.size() / 2 + 1));
    std::vector<std::uint16_t> probs(tableEntries);
    host = {&stream, 0, int(stream.size()), dictionary};
    if (lz_begin(probs.data(), tableEntries, plan.props, address) != ST_OK) return {};
    consumed.push_back(host.inputPos);
    for (int done = 0; done < data.size(); done += 2) {
        if (lz_run(2) != ST_OK || host.inputPos > host.inputEnd) return {};
        consumed.push_back(host.inputPos);
    }
    if (host.output.mid(int(dictionary.size())) != data) return {};
    // Cut: each piece as much output as its payload allows.
    int at = 0;  // index into consumed: output bytes / 2
    const int last = int(consumed.size()) - 1;
    while (at < last) {
        const int overhead = at ? pieceOverhead : firstOverhead;
        const int from = at ? consumed[std::size_t(at)] : 0;
        int end = at;
        while (end < last && end - at < maxOutput / 2 &&
               consumed[std::size_t(end + 1)] - from + overhead <= payloadLimit)
            ++end;
        if (end == at) return {};
        LzmaPiece piece{
            std::uint32_t(end - at) * 2, stream.mid(from, consumed[std::size_t(end)] - from), {}};
        // Every cut is exact: the decoder takes a stream byte only when a bit needs it.
        for (int k = at + kCutHalfWords; k < end; k += kCutHalfWords)
            piece.cuts.push_back({std::uint32_t(k - at) * 2, consumed[std::size_t(k)] - from});
        plan.pieces.push_back(std::move(piece));
        at = end;
    }
    return plan;
}

}  // namespace praxon::flash
