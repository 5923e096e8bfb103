#pragma once

// The engine's state and the steps its operations share. Split by concern: EngineConnect.cpp
// (identify the chip), EngineErase.cpp (erase planning), EngineWrite.cpp (write and verify),
// EngineRead.cpp (read to a file); Engine.cpp holds the rest.

#include <algorithm>
#include <iterator>

#include "BootLink.h"
#include "Commands.h"
#include "Engine.h"

namespace praxon {

// The family whose chips compatible mode treats with the shortest sequence: no Get, the size
// register read as four bytes at its fixed address.
extern const QString kPlainSequenceFamily;
// Where an STM32F10x keeps its flash size, for a chip that did not say what it is.
constexpr uint32_t kF1FlashSizeRegister = 0x1FFFF7E0;

struct Engine::Private {
    Private(Engine& e, EventSink& s, SerialPort& p) : engine(e), sink(s), link(s, p) {}

    Engine& engine;
    EventSink& sink;
    BootLink link;
    TargetInfo target;
    WriteMode mode = WriteMode::Fast;
    LineOptions lines;
    int flashOverrideKB = 0;
    bool busy = false;
    Operation current = Operation::None;      // of the events reported now
    qint64 written = 0;                       // bytes of the image written by the last program
    std::optional<OptionBytesState> options;  // as last read
    bool optionsTried = false;                // since the connect: none means unreadable
    // Where an option bit decides the erase units and banks: the table's entry with the units
    // the chip's option bytes give (target.device points here), or with none when they are
    // unknown (banksUnknown: page and bank erase refused).
    DeviceInfo optionLayout;
    bool banksFromOptions = false;
    bool banksUnknown = false;
    qint64 resetWaitNs = 60'000'000'000;  // the wait for a board reset by hand

    // Marks one user operation as running and reports its beginning and end; a second one is
    // refused until it ends.
    class Running {
    public:
        Running(Private& d, Operation operation) : d_(d), started_(!d.busy) {
            if (!started_) return;
            d_.busy = true;
            d_.current = operation;
            d_.report(EventCode::OperationBegun);
            emit d_.engine.busyChanged(true);
        }
        ~Running() {
            if (!started_) return;
            d_.link.setStopped(true);
            Event e = d_.event(EventCode::OperationEnded);
            e.ok = ok_;
            d_.sink.report(e);
            d_.current = Operation::None;
            d_.busy = false;
            emit d_.engine.busyChanged(false);
        }
        bool refused() const { return !started_; }
        // The operation's result, reported when it ends.
        bool end(bool ok) { return ok_ = ok; }

    private:
        Private& d_;
        bool started_;
        bool ok_ = false;
    };

    Event event(EventCode code) const { return Event(code, current); }
    void report(const Event& e) { sink.report(e); }
    void report(EventCode code) { sink.report(event(code)); }
    // In fast mode the log says why a step failed; compatible mode keeps to its shorter lines.
    void reportReason(EventCode code, const CommandResult& result,
                      std::optional<uint32_t> address = std::nullopt);

    bool fast() const { return mode != WriteMode::Compatible; }
    bool readable() const { return target.flashSizeKB > 0; }
    // An STM32F10x or a chip that did not say what it is: compatible mode keeps to the shortest
    // sequence for it.
    bool plainSequence() const {
        return !target.pid || (target.device && target.device->family == kPlainSequenceFamily);
    }
    // The chip's flash as known (no more than the line has, unless stated), or the line's largest.
    uint32_t flashBytes() const {
        return target.flashSizeKB > 0 ? std::min(uint32_t(target.flashSizeKB) * 1024, flashExtent())
                                      : target.device->maxFlashBytes;
    }
    bool flashSizeKnown() const { return target.flashSizeKB > 0 && !target.flashSizeAssumed; }
    // What may be written, erased and read: the product line's flash, or more when the user said
    // so.
    uint32_t flashExtent() const {
        return std::max(target.device->maxFlashBytes, uint32_t(flashOverrideKB) * 1024);
    }
    // Erase and program need the table's entry: refused (reported) without.
    bool refuseUnknownChip();

    // EngineConnect.cpp
    bool connect(const QString& port);
    // 0x7F until the ROM bootloader answers it, or shows it was synchronised before, or a turbo
    // loader left running was reset through it (board without reset wiring).
    Reply synchronise();
    bool resetLoaderFound();
    void identify();
    void askBootloader();
    void learnFlashSize();
    // EngineErase.cpp
    bool eraseChip(std::vector<AddressRange>* erased);
    bool massErase();
    bool eraseUnits(const std::vector<uint32_t>& units, bool wholeChip);
    bool eraseFailed(const CommandResult& r);
    // EngineWrite.cpp
    bool checkImage(const FirmwareImage& image, EraseScope scope);
    bool writeImage(const FirmwareImage& image, const std::vector<AddressRange>& erased,
                    bool verify);
    bool verifyBlock(const AlignedBlock& block);
    bool verifyImage(const FirmwareImage& image);
    // EngineRead.cpp
    bool readBlock(uint32_t address, int n, uint8_t* out);
    bool readToFile(const QString& path, ImageFormat format,
                    const std::optional<AddressRange>& range);
    bool readRange(QIODevice& out, ImageFormat format, uint32_t address, qint64 length,
                   bool wholeFlash);
    // EngineTurbo.cpp: programs, verifies, protects and runs through the turbo loader; none when
    // it could not start before anything was written (reported; the fast mode follows).
    std::optional<bool> programTurbo(const FirmwareImage& image, const ProgramOptions& options);
    // EngineOptions.cpp
    void learnUniqueId();
    // What fetchOptions found.
    enum class OptionsRead { Ok, Unsupported, Protected, Failed };
    // Reads and decodes the option bytes into options; loud: every outcome but Ok is reported.
    OptionsRead fetchOptions(bool loud);
    // At connect, and before an erase when the connect left them out: read quietly once.
    void learnOptions();
    void reportProtection();
    // Points target.device at the table's entry or, where an option bit decides the layout, at
    // optionLayout as the option bytes read (or not) say.
    void applyBankLayout();
    // EraseUnitsUnknown, or BankLayoutUnknown where the unknown option bytes are the reason.
    EventCode unitsUnknownEvent() const {
        return banksUnknown ? EventCode::BankLayoutUnknown : EventCode::EraseUnitsUnknown;
    }
    // The erase units of the connected chip as the option-byte code numbers them; empty when
    // they are not known.
    std::vector<FlashUnit> flashUnits() const;
    // Bank 2's first address, 0 for one bank; none when an option bit decides and the option
    // bytes are unknown.
    std::optional<uint32_t> bank2Address() const;
    // Refused (UnitsWriteProtected) when the option bytes protect any of units.
    bool refuseProtected(const std::vector<uint32_t>& units);
    // Before anything is erased: the units an erase or a program touches (none: the whole
    // flash), checked against the option bytes, which are read first when the connect left
    // them out.
    bool refuseProtectedUnits(const std::optional<std::vector<uint32_t>>& units);
    bool refuseProtectedUnits(const FirmwareImage& image, EraseScope scope);
    // After the reset that loads new option bytes: synchronised again, or reported.
    bool reconnectAfterReset();
    // Engine.cpp
    bool readProtect();
    bool runProgram(uint32_t address);
};

}  // namespace praxon
