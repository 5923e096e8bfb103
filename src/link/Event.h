#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdint>
#include <optional>

#include "ElfImage.h"
#include "IntelHex.h"
#include "SRecord.h"

namespace praxon {

// How a wait for the bootloader ended.
enum class ReplyStatus {
    Ack,       // the reply is there and says ACK
    Nack,      // the reply is there and says something else (NACK or a stray byte)
    Timeout,   // nothing decisive within the reply time limit
    Stopped,   // the user pressed Stop
    LineLost,  // the port could not be written or the line went away
};

// Which step of a bootloader transaction failed.
enum class Step { None, Command, Address, Count, Data };

// Why a port did not open.
enum class PortError { None, NotFound, NoPermission, InUse, Other };

// The user operation an event belongs to.
enum class Operation {
    None,
    Connect,
    Load,  // reading the image file
    Program,
    Verify,
    Read,
    Erase,
    Go,
    Run,  // leaving the bootloader by the exit sequence
    Protect,
    Unprotect,
    // Option bytes and write protection
    OptionBytes,     // reading the option bytes
    OptionWrite,     // writing edited option bytes
    WriteProtect,    // Write Protect (0x63)
    WriteUnprotect,  // Write Unprotect (0x73)
};

// Everything the core reports. One value per distinct thing that happens; its data go in the
// Event's fields named beside it.
enum class EventCode {
    // Operation frame
    OperationBegun,  // operation
    OperationEnded,  // operation, ok
    Progress,        // operation (Program, Verify, Read), done, total

    // The link: lamp, offered operations
    LinkClosed,       // not connected: nothing is offered
    LinkReady,        // connected: every operation offered; readable: Read too
    PortOpenFailed,   // portError, text: port path, detail: the system's text
    PortLinesFailed,  // the port cannot drive DTR/RTS/break
    PortUnusable,     // a write failed or the line went away
    AddressRefused,   // actual: the reply byte to an address frame
    DataRefused,      // actual: the reply byte to a data frame

    // Connect
    ConnectBegun,
    ConnectPortFailed,  // portError
    AlreadySynchronised,
    Synchronised,
    BoardSilent,  // reply: how the synchronisation ended (none: the entry sequence failed)
    Connected,
    GetIdFailed,  // reply (fast mode only)
    IdUnrecognised,
    ChipIdentified,     // pid, family (empty: not in the device table), bytes: the ID bytes
    GetFailed,          // reply (fast mode only)
    BootloaderVersion,  // value: version byte (0x31 = 3.1)
    FlashSizeStated,    // flashKB
    FlashSizeAssumed,   // flashKB, value: the register's value (none: unreadable)
    FlashSizeUnknown,
    FlashSizeUnknownChip,
    FlashSize,  // flashKB, ramKB (-1: unknown)

    // Reads of the chip (Read Memory)
    ReadStepFailed,    // step, reply: one block of a read
    ReadReplyFailed,   // address, reply (fast mode only)
    VerifyStepFailed,  // step, reply: a record's read-back in compatible mode

    // Image file
    NoImageFile,
    ImageFileMissing,
    ImageFileUnreadable,  // text: path
    HexLineRejected,      // hexError, text: the line
    HexBadData,           // text: the line
    HexNoEndRecord,
    HexConflict,  // address
    ImageEmpty,
    BinaryLoadAddress,  // address: where a binary file's first byte goes
    ImageTooLarge,
    SrecRefused,   // srecError, value: line number (0: the whole file), text: the line
    SrecConflict,  // address
    ElfRefused,    // elfError (address: OverlappingSegments)

    // Program
    ChipUnknown,  // pid (none: the chip did not identify itself)
    EraseCommandMissing,
    EraseUnitsUnknown,
    OutsideMemory,  // address
    ProgramFailed,
    ProgramBegun,
    WriteFailed,       // address, reply (fast mode only)
    VerifyMismatch,    // compatible mode: a record read back differently
    VerifyMismatchAt,  // address, expected, actual
    VerifyReadFailed,  // address, reply
    Verified,          // done: bytes compared
    Programmed,        // elapsedNs, done: bytes written

    // Turbo: programming through the loader in the chip's RAM
    TurboUnavailable,     // value: 0 the loader serves neither this chip nor this image, 1 it
                          // did not start; the fast mode follows, nothing was written yet
    TurboStarted,         // value: the loader's receive buffer in bytes
    TurboSpeed,           // value: the line speed asked; ok: both sides run at it, else both
                          // stayed at the connect speed
    TurboSkipped,         // value: pages left alone, total: pages the image covers, done: their
                          // bytes of the image
    TurboFailed,          // address, value: the loader's status code; none: it stopped answering
    TurboVerifyMismatch,  // address: where the range starts, value: its length in bytes

    // Erase
    ChipEraseBegun,
    PagesEraseBegun,  // value: number of pages or sectors
    PageOutOfRange,   // value: page number
    EraseOutsideFlash,
    Erased,
    EraseFailed,
    EraseReplyFailed,  // reply (fast mode only)

    // Read
    ReadRangeInvalid,
    ReadPastFlashEnd,     // address: where the flash ends, value: the range's end
    OutputFolderMissing,  // text: path
    OutputNotWritable,    // text: path, detail: the system's text
    ReadBegun,
    ReadAborted,
    ReadDone,  // elapsedNs, done: bytes

    // Go and run
    Started,
    GoSilent,
    GoReplyFailed,     // reply (fast mode only)
    GoAddressRefused,  // address, actual
    ResetIntoProgram,

    // Protection
    Protected,
    ProtectFailed,
    ProtectReplyFailed,  // reply (fast mode only)
    Unprotected,
    UnprotectFailed,
    UnprotectReplyFailed,  // reply (fast mode only)
    UnprotectErasing,
    UnprotectPending,

    // Production line (praxon-cli): serial numbers written into the image, the run record
    SerialNumberTaken,     // text: the number (decimal), address: where it is written
    SerialNumberUsed,      // text: the number; the state file counts it as used
    SerialNumberReturned,  // text: the number; nothing was written, the next run takes it again
    SerialTooWide,         // text: the number, which the format's width cannot hold
    SerialOverlapsImage,   // address: the first byte the file's own data hold
    SerialOutsideFlash,    // address: where the number would go
    SerialStateMissing,    // text: the state file's path (and no --serial-start)
    SerialStateInvalid,    // text: path, value: the line number at fault (0: no next= line)
    SerialStateFailed,     // text: path, detail: why it could not be locked, read or written
    SerialStartAhead,      // text: path, value: the file's next number, below --serial-start
    RecordFailed,          // text: the record file's path, detail: the system's text
    // Unique ID, option bytes, bank layout and write protection
    UniqueId,                // address: where it was read, bytes: the 12 bytes in memory order
    UniqueIdUnreadable,      // address, reply (the connect goes on)
    OptionBytesUnsupported,  // family: the engine knows no option area or layout for the chip
    OptionBytesProtected,    // the chip's readout protection keeps its option bytes unreadable
    OptionBytesReadFailed,   // address, step, reply
    OptionBytesRead,         // address, value: readout level (0-2), text: layout name, bytes: block
    OptionFieldValue,        // text: field name, value, detail: its meaning as the table has it
    WriteProtection,         // value: protected units (0: none), total: units of the chip
    WriteProtectedRange,     // address: first byte, value: length, done/total: first/last unit
    OptionEditMalformed,     // text: the edit (NAME=VALUE expected)
    OptionNameUnknown,       // text: the name, detail: the chip's option names, comma-separated
    OptionValueInvalid,      // text: the edit, value: the largest value the field takes
    OptionLevelInvalid,      // text: the edit, value: the highest readout level the family has
    ReadoutLevel2Refused,    // the edits set level 2 (permanent) without the caller allowing it
    OptionBytesUnchanged,    // the edits leave the block as it is: nothing written
    OptionBytesWriting,      // address, bytes: the block being written
    OptionBytesWriteFailed,  // step, reply
    ChipResetting,           // the chip resets to load its option bytes; the engine reconnects
    ResetBoardRequest,       // value: seconds waited at most: reset the board into its bootloader
    ReconnectFailed,         // the board did not come back within the wait (or Stop)
    OptionBytesMismatch,     // address: offset in the block, expected, actual (read back)
    OptionBytesWritten,      // value: readout level; read back and equal (level 1: the chip
                             // refuses the read; level 2: its bootloader is off, not read)
    WriteProtectUnsupported,  // the family protects by page areas, not groups: option-bytes --set
    WriteProtectOutside,      // the range holds no flash unit
    WriteProtectBegun,        // value: groups, bytes: the group codes sent
    WriteProtectFailed,       // step, reply
    WriteProtectDone,         // value: protected units after the reset (read back)
    WriteUnprotectBegun,
    WriteUnprotectFailed,  // step, reply
    WriteUnprotectDone,    // value: protected units after the reset (0 unless unreadable: -1)
    UnitsWriteProtected,   // before any erase: address: first protected byte touched, value:
                           // units, text: their numbers ("4-7,9"); the fix is write-unprotect
    BankLayout,            // value: 1 or 2 banks, address: bank 2's start (0: one bank)
    BankLayoutUnknown,     // page and bank erase refused: options decide the banks, unreadable
    // Turbo recovery: the RAM loader left running by a stopped or failed session
    TurboChipReset,        // ok: the chip is back in its ROM bootloader (reset by the loader, or
                           // restarted already); else it answered as neither
    LoaderFoundAtConnect,  // connect met the RAM loader, not the ROM bootloader, and reset the
                           // chip through it
    // Option bytes the engine can decode but not write
    OptionBytesReadOnly,  // family
    // Turbo two-stage start: a first stage takes the loader at the fast line speed
    TurboStageStarted,   // value: the line speed the loader was started at
    TurboStageFallback,  // value: why (flash::StageFailure); the loader goes through the ROM
    // Turbo on a poor line: the session succeeded, but frames had to be sent again
    TurboLineRepaired,  // value: frames sent again, total: frames sent in all
};

// One thing that happened, with its data. Never text for people: text and detail hold data only
// (a path, a HEX line, the system's error text).
struct Event {
    EventCode code = EventCode::OperationBegun;
    Operation operation = Operation::None;
    std::optional<uint32_t> address;
    std::optional<uint8_t> expected;
    std::optional<uint8_t> actual;
    std::optional<uint16_t> pid;
    std::optional<qint64> value;
    std::optional<ReplyStatus> reply;
    Step step = Step::None;
    PortError portError = PortError::None;
    HexLineError hexError = HexLineError::None;
    SrecError srecError = SrecError::None;
    ElfError elfError = ElfError::None;
    int flashKB = -1;
    int ramKB = -1;
    QString family;
    QString text;
    QString detail;
    QByteArray bytes;
    qint64 done = 0;
    qint64 total = 0;
    qint64 elapsedNs = 0;
    bool ok = false;
    bool readable = false;

    Event() = default;
    Event(EventCode c, Operation op = Operation::None) : code(c), operation(op) {}
    Event& at(uint32_t a) {
        address = a;
        return *this;
    }
    Event& withReply(ReplyStatus status, uint8_t byte) {
        reply = status;
        if (status == ReplyStatus::Nack) actual = byte;
        return *this;
    }
    Event& withValue(qint64 v) {
        value = v;
        return *this;
    }
    Event& withText(const QString& t) {
        text = t;
        return *this;
    }
};

// Whoever presents what the core reports: the window, praxon-cli, a test. The core never touches
// a widget, never prints and never exits; it reports through this only.
class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void report(const Event& event) = 0;
};

}  // namespace praxon
