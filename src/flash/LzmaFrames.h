#pragma once
// The host's side of WRITE_LZMA (loader/PROTOCOL.md 5.6): one raw LZMA1 stream over a run of
// image bytes, cut into the pieces that consecutive frames carry.
#include <QByteArray>
#include <cstdint>
#include <utility>
#include <vector>

namespace praxon::flash {

// Raw LZMA1 (lc = 0, the given lp and pb) of data with `dictionary` as its preset dictionary, by
// liblzma at its strongest setting. Empty on a liblzma failure.
QByteArray LzmaRaw(const QByteArray& data, const QByteArray& dictionary, int lp, int pb);

// One frame's share of a stream: the output bytes it produces and the stream bytes it carries.
struct LzmaPiece {
    std::uint32_t outputBytes = 0;
    QByteArray stream;
    // Inner points where the piece may be cut in two (every 64 output bytes): output bytes and
    // stream bytes from its start.
    std::vector<std::pair<std::uint32_t, int>> cuts;
};

struct LzmaPlan {
    std::uint8_t props = 0;  // pb * 45 + lp * 9 (lc = 0)
    std::vector<LzmaPiece> pieces;
};

// Compresses data (even length) for the chip at address, whose table has room for tableEntries
// probabilities, and cuts the stream so that each piece's stream bytes plus `pieceOverhead` (the
// first piece's `firstOverhead`) stay within payloadLimit and its output within maxOutput (even).
// The loader's own decoder decodes the stream here, which gives the stream bytes each cut needs
// and checks the result. An empty plan where the chip has no room or the stream does not decode
// to data.
LzmaPlan PlanLzma(std::uint32_t address, const QByteArray& data, QByteArray dictionary,
                  std::uint32_t tableEntries, int payloadLimit, int firstOverhead,
                  int pieceOverhead, int maxOutput);

}  // namespace praxon::flash
