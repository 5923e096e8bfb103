#include "WritePlan.h"

#include <algorithm>

namespace praxon {
namespace {

// Ends are kept in 64 bits throughout: an image may reach 2^32.
struct Span {
    uint64_t begin;
    uint64_t end;
};

// The erased ranges sorted, overlapping or touching ones merged, empty ones dropped.
std::vector<Span> MergedRanges(const std::vector<AddressRange>& ranges) {
    std::vector<Span> spans;
    for (const AddressRange& r : ranges)
        if (r.end > r.begin) spans.push_back({r.begin, r.end});
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.begin < b.begin; });
    std::vector<Span> merged;
    for (const Span& s : spans) {
        if (!merged.empty() && s.begin <= merged.back().end)
            merged.back().end = std::max(merged.back().end, s.end);
        else
            merged.push_back(s);
    }
    return merged;
}

bool Covered(const std::vector<Span>& merged, uint64_t begin, uint64_t end) {
    if (begin >= end) return true;
    auto it = std::upper_bound(merged.begin(), merged.end(), begin,
                               [](uint64_t a, const Span& s) { return a < s.begin; });
    return it != merged.begin() && std::prev(it)->end >= end;
}

// Consecutive segments [first, last) written as one stretch of words [begin, end).
struct Run {
    size_t first;
    size_t last;
    Span words;
};

std::vector<Run> Runs(const std::vector<ImageSegment>& segments, const std::vector<Span>& erased,
                      uint64_t unit) {
    std::vector<Run> runs;
    for (size_t i = 0; i < segments.size(); ++i) {
        const Span words{segments[i].address & ~(unit - 1),
                         (segments[i].end() + unit - 1) & ~(unit - 1)};
        // Whole units between two segments are bridged only where the flash is erased already.
        if (!runs.empty() && Covered(erased, runs.back().words.end, words.begin)) {
            runs.back().last = i + 1;
            runs.back().words.end = std::max(runs.back().words.end, words.end);
        } else {
            runs.push_back({i, i + 1, words});
        }
    }
    return runs;
}

void AppendPages(uint64_t begin, uint64_t end, uint32_t base, uint32_t pageSize, uint32_t pageCount,
                 std::vector<uint32_t>* pages) {
    if (pageSize == 0) return;
    const uint64_t flashEnd = uint64_t(base) + uint64_t(pageSize) * pageCount;
    begin = std::max<uint64_t>(begin, base);
    end = std::min(end, flashEnd);
    if (begin >= end) return;
    const auto first = uint32_t((begin - base) / pageSize);
    const auto last = uint32_t((end - 1 - base) / pageSize);
    for (uint64_t page = first; page <= last; ++page)
        if (pages->empty() || pages->back() < page) pages->push_back(uint32_t(page));
}

}  // namespace

std::vector<AlignedBlock> PlanFastWrite(const FirmwareImage& image,
                                        const FastPlanOptions& options) {
    const std::vector<ImageSegment>& segments = image.segments();
    const std::vector<Span> erased = MergedRanges(options.erased);
    const uint64_t unit = uint64_t(std::max(4, options.alignment));
    const uint64_t maxBlock = std::max(unit, uint64_t(std::max(0, options.maxBlock)) & ~(unit - 1));
    std::vector<AlignedBlock> blocks;

    for (const Run& run : Runs(segments, erased, unit)) {
        // Blocks never cross a multiple of maxBlock: long runs go out as aligned full blocks.
        // Only windows holding an image byte are visited, and each block is trimmed to the words
        // given there, so a long bridged gap costs nothing.
        uint64_t nextWindow = 0;  // windows below this one are done
        for (size_t s = run.first; s < run.last; ++s) {
            const ImageSegment& segment = segments[s];
            uint64_t window = std::max(nextWindow, segment.address / maxBlock * maxBlock);
            for (; window < segment.end(); window += maxBlock) {
                const uint64_t windowEnd = window + maxBlock;
                uint64_t last = 0;
                for (size_t t = s; t < run.last && segments[t].address < windowEnd; ++t)
                    last = std::min(segments[t].end(), windowEnd);
                const uint64_t begin = std::max<uint64_t>(window, segment.address) & ~(unit - 1);
                const uint64_t end = (last + unit - 1) & ~(unit - 1);
                AlignedBlock block;
                block.address = uint32_t(begin);
                block.bytes.assign(size_t(end - begin), options.erasedValue);
                block.given.assign(size_t(end - begin), false);
                for (size_t t = s; t < run.last && segments[t].address < end; ++t) {
                    const ImageSegment& from = segments[t];
                    const uint64_t first = std::max<uint64_t>(from.address, begin);
                    const uint64_t stop = std::min(from.end(), end);
                    for (uint64_t a = first; a < stop; ++a) {
                        block.bytes[size_t(a - begin)] = from.bytes[size_t(a - from.address)];
                        block.given[size_t(a - begin)] = true;
                    }
                }
                const bool blank = std::all_of(block.bytes.begin(), block.bytes.end(),
                                               [&](uint8_t b) { return b == options.erasedValue; });
                if (!(blank && Covered(erased, begin, end))) blocks.push_back(std::move(block));
            }
            nextWindow = window;
        }
    }
    return blocks;
}

std::vector<AlignedBlock> PlanRecordWrite(const FirmwareImage& image) {
    constexpr uint32_t kPiece = 256;
    const std::vector<ImageSegment>& segments = image.segments();
    WordAligner aligner(kPiece);
    std::vector<AlignedBlock> blocks;
    const auto append = [&](std::vector<AlignedBlock> more) {
        for (AlignedBlock& b : more) blocks.push_back(std::move(b));
    };
    for (const ImageRecord& record : image.records()) {
        if (record.size == 0) continue;
        // A record's bytes are all given, so they lie in the one segment that holds its start.
        auto it = std::upper_bound(
            segments.begin(), segments.end(), record.address,
            [](uint32_t a, const ImageSegment& segment) { return a < segment.address; });
        if (it == segments.begin()) continue;
        const ImageSegment& segment = *std::prev(it);
        if (uint64_t(record.address) + record.size > segment.end()) continue;
        const uint8_t* data = segment.bytes.data() + (record.address - segment.address);
        for (uint32_t offset = 0; offset < record.size; offset += kPiece)
            append(aligner.add(record.address + offset, data + offset,
                               int(std::min(kPiece, record.size - offset))));
    }
    append(aligner.flush());
    return blocks;
}

std::vector<AddressRange> PlanVerifyReads(const FirmwareImage& image, int maxRead) {
    const uint64_t step = uint64_t(std::max(1, maxRead));
    std::vector<AddressRange> reads;
    for (const ImageSegment& segment : image.segments())
        for (uint64_t a = segment.address; a < segment.end(); a += step)
            reads.push_back({uint32_t(a), std::min(a + step, segment.end())});
    return reads;
}

std::vector<uint32_t> PagesTouched(const FirmwareImage& image, uint32_t base, uint32_t pageSize,
                                   uint32_t pageCount) {
    std::vector<uint32_t> pages;
    for (const ImageSegment& segment : image.segments())
        AppendPages(segment.address, segment.end(), base, pageSize, pageCount, &pages);
    return pages;
}

std::vector<uint32_t> PagesCovering(const AddressRange& range, uint32_t base, uint32_t pageSize,
                                    uint32_t pageCount) {
    std::vector<uint32_t> pages;
    AppendPages(range.begin, range.end, base, pageSize, pageCount, &pages);
    return pages;
}

}  // namespace praxon
