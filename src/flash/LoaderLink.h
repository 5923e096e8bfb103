#pragma once
// The host's side of the turbo loader (loader/PROTOCOL.md): started through the ROM bootloader,
// then a transport like the ROM's, on the same port and wait routine, with typed results. Frames
// go out in a window sized from HELLO's receive buffer; a NAK, a gap or a lost reply is repaired
// by sending again from the first frame not done.
#include <QByteArray>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "BootLink.h"
#include "Device.h"
#include "LoaderImage.h"

namespace praxon::flash {

// Command codes and reply codes of the loader's frames.
namespace loadercmd {
constexpr std::uint8_t kHello = 0x01, kErase = 0x02, kMassErase = 0x03, kWrite = 0x04,
                       kWriteDeflate = 0x05, kCrc = 0x06, kCompare = 0x07, kRead = 0x08,
                       kBaud = 0x09, kGo = 0x0A, kNak = 0xEE, kDup = 0xDD;
constexpr std::uint8_t kWriteLzma = 0x0B, kWriteLzmaMore = 0x0C;
}  // namespace loadercmd

// How a loader exchange ended.
enum class LoaderOutcome {
    Done,
    ChipError,     // the loader executed the command and answered with an error status
    NoAnswer,      // no good reply after every resend (the chip stopped answering)
    Stopped,       // the user pressed Stop
    LineLost,      // the port went away
    NotStarted,    // the ROM refused the image or Go, or the loader never answered HELLO
    BadRequest,    // the host's own arguments do not fit the loader (nothing was sent)
    VerifyFailed,  // a written range's CRC differs from the image's (the report says where)
};

struct LoaderResult {
    LoaderOutcome outcome = LoaderOutcome::Done;
    std::uint8_t status = 0;        // ChipError: the loader's status code
    std::uint32_t address = 0;      // ChipError: where it happened
    std::uint32_t flashStatus = 0;  // ChipError: the flash status register then
    std::uint8_t command = 0;       // the command that failed
    bool ok() const { return outcome == LoaderOutcome::Done; }
};

// What HELLO reports.
struct LoaderHello {
    std::uint8_t version = 0, family = 0, flags = 0;
    std::uint32_t rxSize = 0, maxPayload = 0, loadAddress = 0, ramEnd = 0, pageSize = 0,
                  flashSize = 0, flashSizeRegister = 0, bank2Start = 0, clockHz = 0, baud = 0;
    std::uint32_t lzmaTable = 0;  // entries of the chip's LZMA probability table
    bool canInflate() const { return flags & 2; }
    bool canLzma() const { return (flags & 4) && lzmaTable; }
};

// Counters of the repairs a session needed, for the log and for tests.
struct LoaderLinkStats {
    int framesSent = 0;  // every frame written, resends included
    int resends = 0;     // go-backs (NAK, gap, timeout)
    int naks = 0;
    int timeouts = 0;
    int dups = 0;
    int unanswered = 0;    // frames the chip executed whose reply (and status) was lost
    int splits = 0;        // raw writes sent on in two halves after repeated NAKs
    qint64 bytesSent = 0;  // on the wire, the line's escapes included
};

// How a line speed change ended.
enum class BaudOutcome { Changed, KeptOld, Failed };

// ram_end for the loader's parameter block: the end of the RAM of the smallest part with this
// product ID and flash size (loader/PROTOCOL.md 1.1); `ramEndFromTable` (the device table's end
// of usable RAM) for F0/F3. 0 when the chip is not one the loader serves.
std::uint32_t LoaderRamEnd(std::uint16_t pid, std::uint32_t flashBytes,
                           std::uint32_t ramEndFromTable);

// The loader binary and its parameter block for a chip.
struct LoaderChoice {
    const LoaderBinary* binary = nullptr;
    LoaderParameters parameters;
};

// The loader for a chip of the device table with flashBytes of flash at line speed baud;
// nullopt when none serves it: a family without a binary, erase units of unequal size, or less
// than 512 bytes of RAM left for the receive buffer.
std::optional<LoaderChoice> ChooseLoader(const DeviceInfo& device, std::uint16_t pid,
                                         std::uint32_t flashBytes, bool sizeKnown, int baud);

class LoaderLink {
public:
    // One command in a window of frames.
    struct Request {
        Request(std::uint8_t command = 0, QByteArray payload = {}, qint64 workNs = 0,
                qint64 bytes = 0, std::vector<std::pair<std::uint32_t, int>> cuts = {})
            : command(command),
              payload(std::move(payload)),
              workNs(workNs),
              bytes(bytes),
              cuts(std::move(cuts)) {}
        std::uint8_t command;
        QByteArray payload;
        qint64 workNs;  // the chip's own time for it
        qint64 bytes;   // the image bytes it writes, for progress reports
        // An LZMA write's inner points where its stream may be cut into two frames: output
        // bytes and stream bytes from its start.
        std::vector<std::pair<std::uint32_t, int>> cuts;
    };
    struct Response {
        std::uint8_t status = 0;
        QByteArray data;  // after the status byte
    };

    explicit LoaderLink(BootLink& link);
    ~LoaderLink();
    LoaderLink(const LoaderLink&) = delete;
    LoaderLink& operator=(const LoaderLink&) = delete;

    // Writes the image (parameters filled) with the ROM's Write Memory at its load address, Go,
    // then HELLO (every 100 ms, 10 times). From here on the port's bytes belong to the loader.
    LoaderResult start(const LoaderBinary& binary, const LoaderParameters& parameters);
    // HELLO, `tries` times every intervalMs until one is answered (the resync point).
    LoaderResult hello(int tries = 10, int intervalMs = 100);
    const LoaderHello& info() const { return hello_; }

    // Sends the requests in order, as many in flight as the chip's buffer holds, and collects
    // one response per request. Stops at the first error status (ChipError, its request's index
    // in *failedIndex). A request whose reply carries data and that the chip reports as a
    // duplicate is sent once more at the end, so its response never depends on later requests
    // of the same batch. A write NAKed twice goes on as two frames of about half its data (raw
    // writes, and LZMA writes at one of their cuts).
    LoaderResult run(const std::vector<Request>& requests, std::vector<Response>* responses,
                     int* failedIndex = nullptr);

    LoaderResult erasePages(std::uint32_t address, int count, int* erased = nullptr);
    LoaderResult massErase();
    // Programs data (even length; an odd one is completed with 0xFF) at address. With the chip's
    // inflater each piece goes compressed when that is shorter, its dictionary being `below`
    // (the bytes the flash holds just below address, up to 32 KB) and what this call wrote; with
    // its LZMA decoder all of data goes as one stream where that is shorter still.
    LoaderResult write(std::uint32_t address, QByteArray data, const QByteArray& below = {},
                       bool compress = true);
    LoaderResult crc(std::uint32_t address, std::uint32_t length, std::uint32_t* value);
    // Which blocks of blockSize from address differ from the expected CRCs.
    LoaderResult compare(std::uint32_t address, std::uint32_t blockSize,
                         const std::vector<std::uint32_t>& expected, std::vector<bool>* differs);
    LoaderResult read(std::uint32_t address, int length, QByteArray* out);
    // Both sides switch to baud; on failure both return to the old speed (KeptOld). Failed: the
    // chip no longer answers at either speed.
    BaudOutcome changeBaud(std::uint32_t baud, LoaderResult* result = nullptr);
    // GO: 0xFFFFFFFF resets the chip. The port returns to the speed and parity it had at start().
    LoaderResult go(std::uint32_t address);
    // Leaves a loader that a session left early (Stop, a failure) by a system reset: HELLO to
    // resynchronise (helloTries every 200 ms, at the loader's speed, then at the start speed),
    // then GO 0xFFFFFFFF. A Stop pressed before does not end these waits, a new one does. True
    // when the chip is back in its ROM bootloader (with BOOT0 high): the loader confirmed the
    // reset, or, with orRomAnswers, the ROM answers a synchronisation (the chip had restarted
    // already, or GO's reply was lost).
    bool resetChip(int helloTries = 15, bool orRomAnswers = true);
    // Go was taken: the loader may run, and not the ROM bootloader.
    bool mayRun() const { return receiving_; }
    // For a loader found running without start() (at connect, or started by the first stage):
    // the port's speed is its speed (its parity is dropped here); startBaud (0: the same) is
    // where go() returns the port.
    void adoptRunning(int baud, int startBaud = 0);

    const LoaderLinkStats& stats() const { return stats_; }
    // Called as run() gets replies: image bytes written so far and in all of its requests.
    void setProgress(std::function<void(qint64 done, qint64 total)> progress) {
        progress_ = std::move(progress);
    }
    // The payload pieces write() would send for data (for tests): command and payload each.
    std::vector<Request> writeRequests(std::uint32_t address, const QByteArray& data,
                                       const QByteArray& below, bool compress) const;

private:
    // The bytes it put on the line (escapes included); 0 when the port refused them.
    qint64 sendFrame(std::uint8_t seq, std::uint8_t command, const QByteArray& payload);
    qint64 wireNs(qint64 bytes) const;
    // The port back at the speed and parity it had at start() (the ROM bootloader's line).
    void useStartLine();

    BootLink& link_;
    LoaderHello hello_;
    LoaderLinkStats stats_;
    QByteArray received_;
    std::uint8_t seq_ = 0;
    int startBaud_ = 0;
    int baud_ = 0;
    bool receiving_ = false;
    std::function<void(qint64, qint64)> progress_;
};

// Deflate (raw, 32 KB window, level 9) of data with a preset dictionary: what WRITE_DEFLATE
// inflates. Empty on a zlib failure.
QByteArray DeflateRaw(const QByteArray& data, const QByteArray& dictionary);

// The CRCs of each block of blockSize in image (the last one padded with 0xFF).
std::vector<std::uint32_t> BlockCrcs(const QByteArray& image, std::uint32_t blockSize);

// The frames that erase and write one run of whole pages at address (`pages`: their bytes as
// the image gives them; `below`: the image bytes just below, in flash already): the writes as one
// stream over the run, each page group's ERASE ahead of the first write that reaches into it, the
// run's trailing 0xFF not sent. Empty when `pages` is not whole pages of the loader's size.
std::vector<LoaderLink::Request> RunWriteRequests(const LoaderLink& loader, std::uint32_t address,
                                                  const QByteArray& pages, const QByteArray& below);

// What programming through the loader did.
struct LoaderProgramReport {
    int pages = 0;            // pages the image covers
    int pagesSkipped = 0;     // found equal by their CRC and left alone
    int pagesWritten = 0;     // erased and written
    qint64 bytesSkipped = 0;  // image bytes in the skipped pages
    qint64 bytesOnWire = 0;   // frames sent for erase and write
    struct Range {
        std::uint32_t address = 0, length = 0;
    };
    std::vector<Range> written;
    // Verify: the first range whose CRC differs, and the first differing address in it
    // (found by reading it back; 0 when the read-back itself failed).
    bool verifyFailed = false;
    Range mismatch;
    std::uint32_t firstDifference = 0;
};

// Programs image at address (page-aligned) through a started loader. skipUnchanged: the pages
// whose CRC already equals the image's (padded with 0xFF) are left alone, the others are erased
// and written; otherwise every page is. Erase and writes go in one window, so the line keeps the
// chip's buffer filled while it erases. verify: each written range is checked by the chip's CRC.
LoaderResult ProgramThroughLoader(LoaderLink& loader, std::uint32_t address,
                                  const QByteArray& image, bool skipUnchanged, bool verify,
                                  LoaderProgramReport* report);

}  // namespace praxon::flash
