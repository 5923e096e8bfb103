#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "IntelHex.h"

// A firmware image: every byte a file gives, by address, read completely before anything is sent
// to a board. Plain C++ (no Qt), texts UTF-8.
namespace praxon {

// A run of consecutive bytes. end() is one past the last byte (may be 2^32).
struct ImageSegment {
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
    uint64_t end() const { return uint64_t(address) + bytes.size(); }
};

// One data record of the file, in file order: what the compatible write mode sends, one
// transaction each. Its bytes are the image's bytes over [address, address + size).
struct ImageRecord {
    uint32_t address = 0;
    uint32_t size = 0;
};

class FirmwareImage {
public:
    // Adds n bytes at address (address + n must not pass 2^32) and records them as one record.
    // A byte given before with another value is a conflict: returns false with *conflictAddress set
    // to the lowest such address, and the image is left as it was. Giving a byte again with the
    // same value is fine. Bytes that do not extend the highest run are kept apart and joined to
    // their neighbours at the next segments(), so that building costs time in proportion to the
    // bytes given whatever the order of the records.
    bool add(uint32_t address, const uint8_t* data, size_t n, uint32_t* conflictAddress = nullptr);

    // Address-sorted, neither overlapping nor touching (touching runs are merged).
    const std::vector<ImageSegment>& segments() const;
    const std::vector<ImageRecord>& records() const { return records_; }
    bool empty() const { return segments_.empty() && loose_.empty(); }
    // The byte given at address, if any.
    std::optional<uint8_t> byteAt(uint32_t address) const;

    // For tests: bytes copied into the image's storage so far (each byte given is copied in once,
    // and once more when its run is joined to a lower one).
    uint64_t copiedBytes() const { return copiedBytes_; }

private:
    void joinLoose() const;

    // Joined runs, plus runs added out of order since the last join (by first address; they
    // overlap neither each other nor the joined runs, but may touch them).
    mutable std::vector<ImageSegment> segments_;
    mutable std::map<uint32_t, std::vector<uint8_t>> loose_;
    mutable uint64_t copiedBytes_ = 0;
    std::vector<ImageRecord> records_;
};

// Why an image file was refused.
struct ImageLoadError {
    enum Kind {
        None,
        BadLine,      // a HEX line the line reader rejected: lineError (None: overlong) and line
        NoEndRecord,  // the HEX file ended without an end-of-file record
        Conflict,     // two records give different values for address
        Empty,        // no data at all
        TooLarge,     // a binary file that would reach past 0xFFFFFFFF from its load address
    };
    Kind kind = None;
    HexLineError lineError = HexLineError::None;  // BadLine: the reader's reason
    std::string line;      // BadLine: the rejected line as it stands in the file
    int lineNumber = 0;    // BadLine: 1-based
    uint32_t address = 0;  // Conflict: lowest address with two values
};

// Reads a whole Intel HEX file into image. Lines end at CR LF, a lone CR or a lone LF; a UTF-8
// byte order mark before the first line is skipped; a line longer than 1024 characters is
// refused as a bad line (without a reader's reason); reading ends at the end-of-file record. Empty
// data records give nothing. False with *error filled at the first problem. On success *image is
// replaced by what was read; on failure it is left as it was.
bool ReadHexImage(std::istream& in, FirmwareImage* image, ImageLoadError* error);

// Reads a raw binary file into image as one record at loadAddress (image as above).
bool ReadBinaryImage(std::istream& in, uint32_t loadAddress, FirmwareImage* image,
                     ImageLoadError* error);

// Writes Intel HEX data records for a memory range, any start address: records of at most
// recordSize bytes that never cross a 64 KB boundary, each preceded by an extended linear address
// record whenever its upper 16 address bits differ from the last ones written (always before the
// first record).
class HexRangeWriter {
public:
    explicit HexRangeWriter(int recordSize = 64) : recordSize_(recordSize) {}
    // Lines without terminators for n bytes at address, appended to lines.
    void addData(uint32_t address, const uint8_t* data, size_t n, std::vector<std::string>* lines);

private:
    int recordSize_;
    std::optional<uint16_t> upper_;
};

}  // namespace praxon
