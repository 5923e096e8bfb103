#include "Engine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <fstream>
#include <iterator>

#include "EnginePrivate.h"

namespace praxon {

const QString kPlainSequenceFamily = QStringLiteral("STM32F10x");

Engine::Engine(EventSink& sink, SerialPort& port, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(*this, sink, port)) {}

Engine::~Engine() = default;

void Engine::initialise() {
    d->link.setStopped(true);
    d->link.reportClosed();
}

WriteMode Engine::mode() const {
    return d->mode;
}

void Engine::setMode(WriteMode mode) {
    d->mode = mode;
    d->link.setQuietReplies(mode == WriteMode::Compatible);
}

void Engine::setLineOptions(const LineOptions& options) {
    d->lines = options;
    d->link.setLineSettings(options.baudRate, options.boot ? options.boot->idle : LineSequence());
}

bool Engine::busy() const {
    return d->busy;
}

const TargetInfo& Engine::target() const {
    return d->target;
}

int Engine::flashSizeOverride() const {
    return d->flashOverrideKB;
}

void Engine::setFlashSizeOverride(int kilobytes) {
    d->flashOverrideKB = std::max(0, kilobytes);
}

void Engine::setReplyTimeout(int milliseconds) {
    d->link.setReplyTimeout(qint64(milliseconds) * 1'000'000);
}

void Engine::stop() {
    d->link.stop();
}

void Engine::Private::reportReason(EventCode code, const CommandResult& result,
                                   std::optional<uint32_t> address) {
    if (!fast() || result.ok()) return;
    Event e = event(code);
    e.address = address;
    e.step = result.failed;
    e.withReply(result.reply.status, result.reply.first);
    report(e);
}

bool Engine::Private::refuseUnknownChip() {
    if (target.device) return false;
    Event e = event(EventCode::ChipUnknown);
    e.pid = target.pid;
    report(e);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Image

std::optional<FirmwareImage> Engine::loadImage(const ImageSource& source) {
    Private::Running run(*d, Operation::Load);
    if (run.refused()) return std::nullopt;
    const QString path = source.path.trimmed();
    if (path.isEmpty()) {
        d->report(EventCode::NoImageFile);
        return std::nullopt;
    }
    if (!QFileInfo::exists(path)) {
        d->report(d->event(EventCode::ImageFileMissing).withText(path));
        return std::nullopt;
    }
    std::ifstream in;
    if (!QFileInfo(path).isDir()) in.open(QFile::encodeName(path).toStdString(), std::ios::binary);
    if (!in.is_open()) {
        d->report(d->event(EventCode::ImageFileUnreadable).withText(path));
        return std::nullopt;
    }
    FirmwareImage image;
    ImageLoadError error;
    ImageFormat format = ImageFormat::Binary;
    if (ReadImageFile(in, source.format, source.loadAddress, &image, &error, &format)) {
        // A binary carries no address of its own: the log says where it goes.
        if (format == ImageFormat::Binary) {
            Event e = d->event(EventCode::BinaryLoadAddress);
            e.address = source.loadAddress;
            d->report(e);
        }
        run.end(true);
        return image;
    }
    const QString line = QString::fromStdString(error.line);
    switch (error.kind) {
        case ImageLoadError::BadLine:
            if (error.lineError != HexLineError::None) {
                Event e = d->event(EventCode::HexLineRejected).withText(line);
                e.hexError = error.lineError;
                e.value = error.lineNumber;
                d->report(e);
            }
            d->report(d->event(EventCode::HexBadData).withText(line).withValue(error.lineNumber));
            break;
        case ImageLoadError::NoEndRecord:
            d->report(EventCode::HexNoEndRecord);
            break;
        case ImageLoadError::Conflict:
            d->report(d->event(format == ImageFormat::Srec ? EventCode::SrecConflict
                                                           : EventCode::HexConflict)
                          .at(error.address));
            break;
        case ImageLoadError::BadSrecLine: {
            Event e = d->event(EventCode::SrecRefused).withValue(error.lineNumber);
            // A line too long to be a record is most likely binary: it is not repeated.
            if (error.srecError != SrecError::TooLong) e.text = line;
            e.srecError = error.srecError;
            d->report(e);
            break;
        }
        case ImageLoadError::ElfRefused: {
            Event e = d->event(EventCode::ElfRefused);
            if (error.elfError == ElfError::OverlappingSegments) e.address = error.address;
            e.elfError = error.elfError;
            d->report(e);
            break;
        }
        case ImageLoadError::Empty:
            d->report(EventCode::ImageEmpty);
            break;
        case ImageLoadError::TooLarge:
            d->report(EventCode::ImageTooLarge);
            break;
        case ImageLoadError::None:
            break;
    }
    d->report(EventCode::ProgramFailed);
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Program

bool Engine::program(const FirmwareImage& image, const ProgramOptions& options) {
    Private::Running run(*d, Operation::Program);
    if (run.refused()) return false;
    BootLink& link = d->link;
    if (d->refuseUnknownChip() || !d->checkImage(image, options.erase)) {
        d->report(EventCode::ProgramFailed);
        return false;
    }
    std::vector<AddressRange> erased;
    const DeviceInfo* device = d->target.device;
    link.setStopped(false);
    if (d->refuseProtectedUnits(image, options.erase)) {
        d->report(EventCode::ProgramFailed);
        return false;
    }
    if (d->mode == WriteMode::Turbo) {
        if (const std::optional<bool> done = d->programTurbo(image, options)) return run.end(*done);
    }
    if (options.erase == EraseScope::Chip) {
        if (!d->eraseChip(&erased)) return false;
    } else if (options.erase == EraseScope::Pages) {
        const std::vector<uint32_t> units = device->unitsTouched(image, d->flashExtent());
        if (!units.empty() && !d->eraseUnits(units, false)) return false;
        for (uint32_t unit : units) erased.push_back(device->unit(unit, d->flashExtent()));
    }
    // A Stop that came with the erase's last answer ends the operation here.
    if (link.stopped()) {
        d->report(EventCode::ProgramFailed);
        return false;
    }
    d->report(EventCode::ProgramBegun);
    QElapsedTimer clock;
    clock.start();
    if (!d->writeImage(image, erased, options.verify)) {
        link.setStopped(true);
        d->report(EventCode::ProgramFailed);
        return false;
    }
    Event done = d->event(EventCode::Programmed);
    done.elapsedNs = clock.nsecsElapsed();
    done.done = d->written;
    d->report(done);
    // Part of the same operation, so these do not pass the busy guard again.
    if (options.protect && !d->readProtect()) return false;
    if (options.run) return run.end(d->runProgram(options.goAddress));
    return run.end(true);
}

// ---------------------------------------------------------------------------------------------
// Read, erase

bool Engine::readToFile(const QString& path, ImageFormat format,
                        const std::optional<AddressRange>& range) {
    Private::Running run(*d, Operation::Read);
    if (run.refused()) return false;
    return run.end(d->readToFile(path, format, range));
}

bool Engine::erase(const std::optional<AddressRange>& range) {
    Private::Running run(*d, Operation::Erase);
    if (run.refused()) return false;
    d->link.setStopped(false);
    if (d->refuseUnknownChip()) return false;
    if (!range) {
        if (d->refuseProtectedUnits(std::nullopt)) return false;
        return run.end(d->eraseChip(nullptr));
    }
    const DeviceInfo* device = d->target.device;
    if (!device->unitsKnown(d->flashBytes(), d->flashSizeKnown())) {
        d->report(d->unitsUnknownEvent());
        return false;
    }
    const std::vector<uint32_t> units = device->unitsCovering(*range, d->flashExtent());
    if (units.empty()) {
        d->report(EventCode::EraseOutsideFlash);
        return false;
    }
    if (d->refuseProtectedUnits(units)) return false;
    return run.end(d->eraseUnits(units, false));
}

// ---------------------------------------------------------------------------------------------
// Go, run, protection

bool Engine::go(uint32_t address) {
    Private::Running run(*d, Operation::Go);
    if (run.refused()) return false;
    BootLink& link = d->link;
    link.setStopped(false);
    const CommandResult r = Go(link, address);
    if (r.ok()) {
        d->report(d->event(EventCode::Started).at(address));
        link.reportClosed();  // the chip has left its bootloader
        return run.end(true);
    }
    if (r.failed == Step::Address && r.reply.status == ReplyStatus::Nack) {
        // Refused: the chip stays in its bootloader and the link stays usable.
        Event e = d->event(EventCode::GoAddressRefused).at(address);
        e.actual = r.reply.first;
        d->report(e);
        return false;
    }
    d->report(EventCode::GoSilent);
    d->reportReason(EventCode::GoReplyFailed, r);
    link.reportClosed();
    return false;
}

bool Engine::connect(const QString& port) {
    Private::Running run(*d, Operation::Connect);
    if (run.refused()) return false;
    return run.end(d->connect(port));
}

bool Engine::openPort(const QString& port) {
    // Reopening the port under a running operation would cut it off.
    if (d->busy) return false;
    return d->link.openPort(port);
}

bool Engine::runProgram(uint32_t address) {
    Private::Running run(*d, Operation::Run);
    if (run.refused()) return false;
    return run.end(d->runProgram(address));
}

bool Engine::Private::runProgram(uint32_t address) {
    link.setStopped(false);
    bool ok = false;
    if (lines.boot) {
        ok = link.runLines(lines.boot->exit);
        if (ok) report(EventCode::ResetIntoProgram);
    } else {
        const CommandResult r = Go(link, address);
        ok = r.ok();
        if (ok) {
            report(event(EventCode::Started).at(address));
        } else if (r.failed == Step::Address && r.reply.status == ReplyStatus::Nack) {
            Event e = event(EventCode::GoAddressRefused).at(address);
            e.actual = r.reply.first;
            report(e);
            return false;
        } else {
            report(EventCode::GoSilent);
            reportReason(EventCode::GoReplyFailed, r);
        }
    }
    // The board has left its bootloader either way.
    link.reportClosed();
    return ok;
}

bool Engine::protect() {
    Private::Running run(*d, Operation::Protect);
    if (run.refused()) return false;
    return run.end(d->readProtect());
}

bool Engine::Private::readProtect() {
    link.setStopped(false);
    const CommandResult r = ReadoutProtect(link, timeout::kOptionBytesNs);
    if (r.ok()) {
        report(EventCode::Protected);
        link.reportClosed();
    } else {
        report(EventCode::ProtectFailed);
        reportReason(EventCode::ProtectReplyFailed, r);
    }
    return r.ok();
}

bool Engine::unprotect() {
    Private::Running run(*d, Operation::Unprotect);
    if (run.refused()) return false;
    BootLink& link = d->link;
    link.setStopped(false);
    // The chip erases its flash before the second ACK or after it, while it resets.
    const qint64 eraseNs = d->target.device ? qint64(d->target.device->massEraseMs) * 1'000'000
                                            : timeout::kUnknownMassEraseNs;
    const CommandResult r = ReadoutUnprotect(link, timeout::kSlowFlashMargin * eraseNs);
    bool ok = r.ok();
    if (!ok) {
        d->report(EventCode::UnprotectFailed);
        d->reportReason(EventCode::UnprotectReplyFailed, r);
    } else {
        d->report(EventCode::UnprotectErasing);
        ok = link.pause(eraseNs);
        d->report(ok ? EventCode::Unprotected : EventCode::UnprotectPending);
    }
    link.reportClosed();
    return run.end(ok);
}

}  // namespace praxon
