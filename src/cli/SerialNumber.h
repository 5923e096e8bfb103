#pragma once

#include <QByteArray>
#include <QLockFile>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "Event.h"
#include "FirmwareImage.h"

// Serial numbers for a production line: how a number becomes bytes of the image, and the state
// file that hands out each number once, however many boards and processes draw from it.
namespace praxon::cli {

// How a number is written into the image.
struct SerialFormat {
    enum Kind { U32LE, U32BE, U64LE, Decimal, Hex };
    Kind kind = U32LE;
    int width = 4;  // Decimal, Hex: the count of ASCII digits; the binary kinds: their bytes

    // Bytes the number takes in the image.
    int size() const { return width; }
};

// u32le, u32be, u64le, dec:W (1 to 20 digits) or hex:W (1 to 16 digits); none: not one of them.
std::optional<SerialFormat> ParseSerialFormat(const QString& text);
// The bytes of number in format; none when it does not fit (more than 32 bits for u32le/u32be,
// more digits than the width).
std::optional<QByteArray> EncodeSerial(uint64_t number, const SerialFormat& format);
// The first address in [address, address + size) where image holds a byte of its own.
std::optional<uint32_t> SerialOverlap(const FirmwareImage& image, uint32_t address, int size);
// A decimal number, or hexadecimal after 0x, up to 2^64 - 1.
std::optional<uint64_t> ParseSerialNumber(const QString& text);

// The state file: plain text, one "name=value" a line, "#" lines are comments.
//   next=N        every number below N is used
//   used=A,B      numbers at or above next that are used (out of order: a lower one was still
//                 pending when they were done)
//   pending=K@HOST:PID,...   numbers a run has taken and not finished yet
// A number is used once a board holding it was verified, or once a board that failed had
// already been erased or written (it may carry the number); a board that failed before its
// flash was touched gives its number back. A pending number whose process on this host has
// gone is taken as used: whether it was written is unknown, and a gap is better than a
// duplicate. Every change happens under a lock file beside the state file (FILE.lock), and the
// file is replaced whole (written beside it, then renamed).
class SerialStateFile {
public:
    // start: --serial-start; it creates the file, and with an existing file it is accepted as
    // long as the file has reached it (the same command line can run again and again).
    SerialStateFile(const QString& path, std::optional<uint64_t> start);

    // Whether a run can draw from the file; reported as an event when not. Changes nothing.
    // *next: the number the file (or --serial-start) would give first.
    bool check(EventSink& sink, uint64_t* next = nullptr);
    // Takes the lowest free number and marks it pending; none (reported) when the file cannot
    // be read, locked or written.
    std::optional<uint64_t> take(EventSink& sink);
    // Ends a pending number: used, or given back.
    bool finish(uint64_t number, bool used, EventSink& sink);

    const QString& path() const { return path_; }

    // The file's content as it stands: what the functions above change.
    struct State {
        uint64_t next = 0;
        std::set<uint64_t> used;
        std::map<uint64_t, QString> pending;  // number -> HOST:PID
    };
    // Parses the text of a state file; none with *badLine (1-based) set when a line is wrong.
    static std::optional<State> Parse(const QByteArray& text, int* badLine);
    static QByteArray Format(const State& state);

private:
    // Reads the file under the lock, lets change alter the state and writes it back.
    bool update(EventSink& sink, bool mayCreate, const std::function<bool(State&)>& change);
    // The state as the file holds it; a missing file starts at --serial-start when creating is
    // allowed.
    bool read(State* state, bool mayCreate, EventSink& sink);
    Event event(EventCode code) const;

    QString path_;
    std::optional<uint64_t> start_;
};

// "HOST:PID" of this process, as the pending entries name it.
QString SerialOwner();
// Takes lock, trying again and again for up to milliseconds; false when another process kept
// it or it cannot be made.
bool LockWithin(QLockFile& lock, int milliseconds);

}  // namespace praxon::cli
