#include "FirmwareImage.h"

#include <algorithm>
#include <iterator>

namespace praxon {

namespace {

// Longest line kept: an Intel HEX record has at most 521 characters, so a longer line is not one
// (a binary file chosen by mistake) and is not read further than this.
constexpr size_t kMaxHexLineLength = 1024;
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

// One line without its terminator; false at the end of input before the line started. A line
// longer than kMaxHexLineLength is cut there and *overlong set.
bool ReadLine(std::istream& in, std::string& line, bool* overlong) {
    using Traits = std::istream::traits_type;
    line.clear();
    *overlong = false;
    std::streambuf* buf = in.rdbuf();
    if (!in || buf == nullptr || Traits::eq_int_type(buf->sgetc(), Traits::eof())) return false;
    for (;;) {
        const Traits::int_type c = buf->sbumpc();
        if (Traits::eq_int_type(c, Traits::eof()) || c == '\n') return true;
        if (c == '\r') {
            if (buf->sgetc() == '\n') buf->sbumpc();
            return true;
        }
        if (line.size() == kMaxHexLineLength) {
            *overlong = true;
            return true;
        }
        line.push_back(Traits::to_char_type(c));
    }
}

bool Fail(ImageLoadError* error, ImageLoadError::Kind kind) {
    if (error != nullptr) {
        *error = ImageLoadError{};
        error->kind = kind;
    }
    return false;
}

bool FailConflict(ImageLoadError* error, uint32_t address) {
    Fail(error, ImageLoadError::Conflict);
    if (error != nullptr) error->address = address;
    return false;
}

}  // namespace

bool FirmwareImage::add(uint32_t address, const uint8_t* data, size_t n,
                        uint32_t* conflictAddress) {
    const uint64_t end = uint64_t{address} + n;
    // The record's size must fit its field, and nothing lies past the address space.
    if (end > kAddressSpace || n > UINT32_MAX) return false;
    if (n == 0) return true;

    // Usual case, ascending records: append to the last segment or start a new one after it.
    if (loose_.empty() && (segments_.empty() || address >= segments_.back().end())) {
        if (!segments_.empty() && address == segments_.back().end()) {
            std::vector<uint8_t>& bytes = segments_.back().bytes;
            bytes.insert(bytes.end(), data, data + n);
        } else {
            segments_.push_back(ImageSegment{address, std::vector<uint8_t>(data, data + n)});
        }
        copiedBytes_ += n;
        records_.push_back(ImageRecord{address, uint32_t(n)});
        return true;
    }

    // The runs holding bytes of [address, end), joined or loose, in address order.
    struct Run {
        uint32_t address;
        const std::vector<uint8_t>* bytes;
        uint64_t end() const { return uint64_t{address} + bytes->size(); }
    };
    std::vector<Run> overlapping;
    for (auto s = std::lower_bound(segments_.begin(), segments_.end(), address,
                                   [](const ImageSegment&s, uint32_t a) { return s.end() <= a; });
         s != segments_.end() && s->address < end; ++s)
        overlapping.push_back(Run{s->address, &s->bytes});
    auto l = loose_.upper_bound(address);
    if (l != loose_.begin() &&
        uint64_t{std::prev(l)->first} + std::prev(l)->second.size() > address)
        --l;
    for (; l != loose_.end() && l->first < end; ++l)
        overlapping.push_back(Run{l->first, &l->second});
    std::sort(overlapping.begin(), overlapping.end(),
              [](const Run& a, const Run& b) { return a.address < b.address; });

    // Check every overlap before changing anything; the first mismatch is the lowest.
    for (const Run& run : overlapping) {
        const uint64_t lo = std::max<uint64_t>(address, run.address);
        const uint64_t hi = std::min(end, run.end());
        for (uint64_t a = lo; a < hi; ++a) {
            if ((*run.bytes)[a - run.address] != data[a - address]) {
                if (conflictAddress != nullptr) *conflictAddress = uint32_t(a);
                return false;
            }
        }
    }

    // Only the bytes no run holds yet are stored, each gap as a loose run.
    uint64_t at = address;
    auto keepGap = [&](uint64_t gapEnd) {
        if (gapEnd <= at) return;
        const uint8_t* from = data + (at - address);
        loose_.emplace(uint32_t(at), std::vector<uint8_t>(from, from + (gapEnd - at)));
        copiedBytes_ += gapEnd - at;
    };
    for (const Run& run : overlapping) {
        keepGap(run.address);
        at = std::max(at, run.end());
    }
    keepGap(end);
    records_.push_back(ImageRecord{address, uint32_t(n)});
    return true;
}

void FirmwareImage::joinLoose() const {
    if (loose_.empty()) return;
    std::vector<ImageSegment> joined;
    joined.reserve(segments_.size() + loose_.size());
    auto s = segments_.begin();
    auto l = loose_.begin();
    // Both lists in address order, each run moved or appended to the one it touches.
    while (s != segments_.end() || l != loose_.end()) {
        ImageSegment next;
        if (l == loose_.end() || (s != segments_.end() && s->address < l->first)) {
            next = std::move(*s++);
        } else {
            next = ImageSegment{l->first, std::move(l->second)};
            ++l;
        }
        if (!joined.empty() && joined.back().end() == next.address) {
            std::vector<uint8_t>& bytes = joined.back().bytes;
            bytes.insert(bytes.end(), next.bytes.begin(), next.bytes.end());
            copiedBytes_ += next.bytes.size();
        } else {
            joined.push_back(std::move(next));
        }
    }
    segments_ = std::move(joined);
    loose_.clear();
}

const std::vector<ImageSegment>& FirmwareImage::segments() const {
    joinLoose();
    return segments_;
}

std::optional<uint8_t> FirmwareImage::byteAt(uint32_t address) const {
    const std::vector<ImageSegment>& runs = segments();
    // The last segment starting at or below address.
    auto it = std::upper_bound(runs.begin(), runs.end(), address,
                               [](uint32_t a, const ImageSegment& s) { return a < s.address; });
    if (it == runs.begin()) return std::nullopt;
    --it;
    if (uint64_t{address} >= it->end()) return std::nullopt;
    return it->bytes[address - it->address];
}

bool ReadHexImage(std::istream& in, FirmwareImage* image, ImageLoadError* error) {
    FirmwareImage result;
    HexRecord record;
    std::string line;
    bool overlong = false;
    int lineNumber = 0;
    bool ended = false;
    while (!ended && ReadLine(in, line, &overlong)) {
        ++lineNumber;
        // Some Windows editors save text with a UTF-8 byte order mark in front of it.
        if (lineNumber == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        HexLineError lineError = HexLineError::None;
        if (overlong || !ParseHexLine(line, record, &lineError)) {
            Fail(error, ImageLoadError::BadLine);
            if (error != nullptr) {
                error->lineError = overlong ? HexLineError::None : lineError;
                error->line = line;
                error->lineNumber = lineNumber;
            }
            return false;
        }
        if (record.RecType == 0x00) {
            uint32_t conflict = 0;
            if (!result.add(uint32_t(record.Address), record.Data.data(), record.DataLen,
                            &conflict))
                return FailConflict(error, conflict);
        } else if (record.RecType == 0x01) {
            ended = true;
        }
    }
    if (!ended) return Fail(error, ImageLoadError::NoEndRecord);
    if (result.empty()) return Fail(error, ImageLoadError::Empty);
    result.segments();  // join the runs now: the image handed over is complete
    *image = std::move(result);
    if (error != nullptr) *error = ImageLoadError{};
    return true;
}

bool ReadBinaryImage(std::istream& in, uint32_t loadAddress, FirmwareImage* image,
                     ImageLoadError* error) {
    const uint64_t room = kAddressSpace - loadAddress;
    std::vector<uint8_t> bytes;
    std::vector<char> chunk(65536);
    // Read in pieces so that a file too large for its load address is not read whole.
    while (in) {
        in.read(chunk.data(), std::streamsize(chunk.size()));
        const size_t got = size_t(in.gcount());
        if (bytes.size() + got > room || bytes.size() + got > UINT32_MAX)
            return Fail(error, ImageLoadError::TooLarge);
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + std::ptrdiff_t(got));
    }
    if (bytes.empty()) return Fail(error, ImageLoadError::Empty);
    FirmwareImage result;
    result.add(loadAddress, bytes.data(), bytes.size());
    *image = std::move(result);
    if (error != nullptr) *error = ImageLoadError{};
    return true;
}

void HexRangeWriter::addData(uint32_t address, const uint8_t* data, size_t n,
                             std::vector<std::string>* lines) {
    const size_t recordSize = size_t(std::clamp(recordSize_, 1, 255));
    uint64_t a = address;
    const uint64_t end = std::min(a + n, kAddressSpace);
    while (a < end) {
        const uint16_t upper = uint16_t(a >> 16);
        if (!upper_ || *upper_ != upper) {
            lines->push_back(ExtendedLinearAddressLine(uint32_t(a)));
            upper_ = upper;
        }
        // Up to the record size, never across a 64 KB boundary.
        const uint64_t boundary = (a | 0xFFFF) + 1;
        const size_t count = size_t(std::min<uint64_t>({recordSize, end - a, boundary - a}));
        lines->push_back(DataRecordLine(uint32_t(a), data + (a - address), int(count)));
        a += count;
    }
}

}  // namespace praxon
