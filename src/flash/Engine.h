#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "Device.h"
#include "Event.h"
#include "FirmwareImage.h"
#include "ImageFormat.h"
#include "LineControl.h"
#include "LineSpeeds.h"  // IsSupportedBaudRate, kDefaultLineSpeed: the speeds offered
#include "OptionBytes.h"
#include "SerialPort.h"
#include "WritePlan.h"

namespace praxon {

// How replies are awaited and how an image is written.
//  Fast: a one-byte reply is taken on its first byte, a read at ACK + n bytes; images go out in
//        4-byte aligned blocks of up to 256 bytes, verified in 256-byte reads.
//  Compatible: a reply is complete only once the line has been quiet for the idle period after
//        it; one Write Memory transaction per HEX record, each read back on its own.
//  Turbo: program() writes through a loader of this project's own that runs from the chip's RAM
//        (STM32F0/F1/F3): compressed frames, pages whose CRC already matches left alone, verify
//        by the chip's CRC, optionally a faster line. Everything else runs as in Fast, and so
//        does program() for a chip the loader cannot serve.
enum class WriteMode { Fast, Compatible, Turbo };

// What program() erases first.
enum class EraseScope {
    None,
    Pages,  // only the pages the image touches: the rest of the flash keeps its contents
    Chip,   // the whole flash (global erase)
};

// Where an image comes from.
struct ImageSource {
    ImageSource(QString path = {}, std::optional<ImageFormat> format = {},
                uint32_t loadAddress = 0x08000000)
        : path(std::move(path)), format(format), loadAddress(loadAddress) {}
    QString path;
    std::optional<ImageFormat> format;  // none: told by the file's content (DetectImageFormat)
    uint32_t loadAddress;               // binary files
};

struct ProgramOptions {
    EraseScope erase = EraseScope::None;
    bool verify = false;
    bool protect = false;  // set the readout protection after a successful write
    bool run = false;      // then start the program: runProgram(goAddress)
    uint32_t goAddress = 0x08000000;
    // Turbo: the line speed once the loader runs (IsTurboLineSpeed); 0: the connect speed.
    int turboBaudRate = 0;
};

// The serial line and how the board is put into its bootloader.
struct LineOptions {
    int baudRate = kDefaultLineSpeed;  // always 8 data bits, even parity, 1 stop bit
    // The board's wiring of reset and BOOT0; none: both lines asserted at open and the user
    // resets the board into its bootloader by hand.
    std::optional<BootLines> boot;
};

// What connect() learnt about the chip.
struct TargetInfo {
    std::optional<uint16_t> pid;         // product ID from Get ID
    const DeviceInfo* device = nullptr;  // the device table's entry for pid; null when unknown
    // From Get: the bootloader's protocol version (0x31 = 3.1) and its command codes. Without
    // an answer to Get (compatible mode does not ask an STM32F10x) the version is the one the
    // table expects and the list is empty.
    std::optional<uint8_t> version;
    std::vector<uint8_t> commands;
    uint8_t eraseCommand = 0;       // 0x43 (Erase) or 0x44 (Extended Erase); 0: none known
    int flashSizeKB = -1;           // from the size register or as stated; -1 when unknown
    bool flashSizeAssumed = false;  // the register told nothing: the product line's largest
    int ramSizeKB = -1;             // -1 when unknown
    // The chip's 96-bit unique ID as read from its address (device table), 12 bytes in memory
    // order; empty when the family has none or it could not be read.
    std::vector<uint8_t> uniqueId;
};

// The chip's option bytes as a Read Memory of their area returned them, decoded.
struct OptionBytesState {
    const OptionLayout* layout = nullptr;  // the family's layout (optionbytes.tsv)
    uint32_t address = 0;                  // where the block lies
    std::vector<uint8_t> raw;              // the block, complements included
    std::vector<DecodedOption> fields;     // every field the chip has, in the layout's order
    int readoutLevel = 0;                  // 0, 1 or 2
    // The erase units (DeviceInfo::unit numbering) the write protection covers, in order;
    // meaningful only when unitsKnown (the chip's erase units are known).
    std::vector<uint32_t> protectedUnits;
    bool unitsKnown = false;
    // Where an option of kind bank decides the flash's layout: whether it has two banks; none
    // when no option decides it.
    std::optional<bool> dualBank;
};

// The user operations on one serial line. The window and the command line call these and
// nothing else, so both run the same code. Each takes its inputs as parameters and reports what
// happens as events (Event.h), beginning with OperationBegun and ending with OperationEnded.
//
// While one operation runs (its waits let the event loop run), every other operation is refused
// and returns false at once; only stop() acts.
class Engine : public QObject {
    Q_OBJECT
public:
    Engine(EventSink& sink, SerialPort& port, QObject* parent = nullptr);
    ~Engine() override;

    // Idle, not connected, operations disabled.
    void initialise();

    WriteMode mode() const;
    void setMode(WriteMode mode);
    // Takes effect when the port is next opened.
    void setLineOptions(const LineOptions& options);

    // Opens the port named as the user wrote it (ttyUSB0, /dev/ttyUSB0, COM3), runs the entry
    // sequence when the wiring is known, synchronises and identifies the chip: Get ID, Get (the
    // version and commands; compatible mode leaves it out for an STM32F10x) and its flash-size
    // register. True when the bootloader answered (also
    // when it was synchronised already), whether or not the device table knows the chip.
    bool connect(const QString& port);
    // Opens the port (when another one is chosen); the result is only shown on failure.
    bool openPort(const QString& port);

    // Reads the whole file into an image. Every problem is reported, ending with ProgramFailed;
    // nothing is sent.
    std::optional<FirmwareImage> loadImage(const ImageSource& source);
    // Erases as asked, writes the image, verifies and protects. The image is checked against the
    // connected chip's memory before anything is erased. Refused for a chip the device table
    // does not know: its erase units, write unit and erased value would be guesses.
    bool program(const FirmwareImage& image, const ProgramOptions& options);
    // Reads the whole flash (no range) or [begin, end) into a file, which is replaced only when
    // the read succeeded. A range that starts in the flash and runs past its end is refused
    // before anything is read.
    bool readToFile(const QString& path, ImageFormat format,
                    const std::optional<AddressRange>& range = std::nullopt);
    // Erases the whole flash (no range) or the pages or sectors covering the range; a bank they
    // cover whole goes in one bank erase. Refused for a chip the device table does not know.
    bool erase(const std::optional<AddressRange>& range = std::nullopt);
    // False when the chip refused the address (it stays in its bootloader) or did not answer.
    bool go(uint32_t address);
    // Whether a file can be written at path (its folder exists and takes a new file); reported
    // when not. Nothing is left behind.
    bool checkOutputFile(const QString& path);
    // Leaves the bootloader for the user program: the exit sequence when the wiring is known,
    // otherwise Go to address.
    bool runProgram(uint32_t address);
    // Both end once the chip's second ACK came; Unprotect then waits the family's mass-erase
    // time, for the erase and reset that follow.
    bool protect();
    bool unprotect();

    // Option bytes and write protection. Each of the writing operations ends with the chip's
    // reset that loads the new option bytes: the engine reconnects (the entry sequence when the
    // wiring is known; otherwise a sync, and when the chip stays silent ResetBoardRequest and
    // further syncs until it answers, the reset wait ends (ReconnectFailed) or Stop), reads the
    // option bytes back and compares them with what was meant; a difference fails loudly
    // (OptionBytesMismatch).
    //
    // Reads, decodes and reports them (OptionBytesRead, one OptionFieldValue per field,
    // WriteProtection with a WriteProtectedRange per run of protected units). None, reported,
    // when the chip's option area or layout is unknown (OptionBytesUnsupported), the chip is
    // readout-protected (OptionBytesProtected) or the read failed.
    std::optional<OptionBytesState> readOptionBytes();
    // Applies "NAME=VALUE" edits (EncodeOptionEdits) to the option bytes as read now and writes
    // the block to the option area (Write Memory). Refused before anything is written: a
    // malformed edit, an unknown name, a value that does not fit, and a result that sets readout
    // level 2 (permanent: the chip can never be read or reprogrammed through the bootloader
    // again) unless allowPermanent. Edits that change nothing: OptionBytesUnchanged, true.
    bool writeOptionBytes(const std::vector<std::string>& edits, bool allowPermanent);
    // Write Protect (0x63) of the groups (ProtectionGroupOfUnit) covering range, or of every
    // group when none. Refused for families that protect page areas (WriteProtectUnsupported:
    // their WRP fields go through writeOptionBytes).
    bool writeProtect(const std::optional<AddressRange>& range);
    // Write Unprotect (0x73): the write protection of every unit is removed.
    bool writeUnprotect();
    // The option bytes as the last connect or option operation read them; none when unread.
    // Protected units, the readout level and the bank layout shown by info come from here.
    const std::optional<OptionBytesState>& optionBytes() const;
    // How long the writing operations wait for the board's reset by hand (default 60 s).
    void setResetWait(int milliseconds);
    // Ends the running wait; always acts.
    void stop();

    bool busy() const;  // an operation is running: a close request must be refused
    const TargetInfo& target() const;

    // The chip's flash in KB when its size register lies (clones); 0: the register's value.
    // Takes effect at the next connect.
    int flashSizeOverride() const;
    void setFlashSizeOverride(int kilobytes);

    // For tests: the limit of every reply wait (default 500 ms).
    void setReplyTimeout(int milliseconds);

signals:
    void busyChanged(bool busy);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

}  // namespace praxon
