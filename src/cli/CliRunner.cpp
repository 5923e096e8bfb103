#include "CliRunner.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <algorithm>

#include "CliHost.h"
#include "Engine.h"

namespace praxon::cli {

namespace {

// "512B", "2K", "1536K", "1M".
QString sizeText(uint64_t bytes) {
    if (bytes % (1024 * 1024) == 0) return QString::number(bytes >> 20) + 'M';
    if (bytes % 1024 == 0) return QString::number(bytes >> 10) + 'K';
    return QString::number(bytes) + 'B';
}

QString pidText(uint16_t pid) {
    return QString::asprintf("0x%03X", pid);
}

// The erase units as devices shows them: "1K", "16Kx4,64K,128Kx7", "2x(...)" for two banks
// alike, "@max" when they hold only for the line's largest flash, "whole" when none are known.
QString eraseUnitsText(const DeviceInfo& device) {
    if (device.units.empty()) return QStringLiteral("whole");
    QStringList runs;
    for (const EraseRun& run : device.units)
        runs << (run.count > 1 ? sizeText(run.size) + 'x' + QString::number(run.count)
                               : sizeText(run.size));
    QString text = runs.join(',');
    const qsizetype half = runs.size() / 2;
    if (half > 0 && runs.size() % 2 == 0 && runs.mid(0, half) == runs.mid(half))
        text = "2x(" + runs.mid(0, half).join(',') + ')';
    return device.unitsAtMaxOnly ? text + "@max" : text;
}

// The unique ID's 12 bytes in memory order, as the log and the JSON output give them.
QString uniqueIdText(const std::vector<uint8_t>& id) {
    if (id.size() != 12) return QStringLiteral("unknown");
    QString text;
    for (uint8_t byte : id) text += QString::asprintf("%02X", byte);
    return text;
}

// "none", or the write-protected units in runs: "pages or sectors 0-3,8".
QString unitListText(const std::vector<uint32_t>& units) {
    if (units.empty()) return QStringLiteral("none");
    return "pages or sectors " + QString::fromStdString(UnitRuns(units));
}

}  // namespace

QString DeviceListText(const std::vector<DeviceInfo>& devices) {
    qsizetype family = 6, line = 12;  // the headings
    for (const DeviceInfo& d : devices) {
        family = std::max(family, d.family.size());
        line = std::max(line, d.line.size());
    }
    const auto row = [&](const QString& pid, const QString& f, const QString& l,
                         const QString& flash, const QString& units) {
        return pid.leftJustified(7) + f.leftJustified(family + 2) + l.leftJustified(line + 2) +
               flash.leftJustified(7) + units + '\n';
    };
    QString text = row("PID", "FAMILY", "PRODUCT LINE", "FLASH", "ERASE UNITS");
    for (const DeviceInfo& d : devices)
        text += row(pidText(d.pid), d.family, d.line, sizeText(d.maxFlashBytes), eraseUnitsText(d));
    return text;
}

QString TargetSummaryText(const TargetInfo& target, int flashOverrideKB,
                          const std::optional<OptionBytesState>& options) {
    const TargetInfo& t = target;
    QString chip = QStringLiteral("not identified");
    if (t.device)
        chip = t.device->family + ' ' + t.device->line;
    else if (t.pid)
        chip = QStringLiteral("unknown: connects, but is not erased or programmed");
    QString version = QStringLiteral("unknown");
    if (t.version) {
        version = QString::asprintf("%X.%X", *t.version >> 4, *t.version & 0xF);
        if (t.commands.empty())
            version += QStringLiteral(", assumed: Get not sent or not answered");
    }
    QStringList commands;
    for (uint8_t c : t.commands) commands << QString::asprintf("%02X", c);
    QString flash = QStringLiteral("unknown");
    if (t.flashSizeKB > 0) {
        flash = QString::number(t.flashSizeKB) + " KB, ";
        flash += flashOverrideKB > 0 && t.flashSizeKB == flashOverrideKB
                     ? QStringLiteral("as stated with --flash-kb")
                 : t.flashSizeAssumed ? QStringLiteral("assumed: the size register told nothing")
                                      : QStringLiteral("from the chip's size register");
    }
    const auto line = [](const char* name, const QString& value) {
        return QString::fromLatin1(name).leftJustified(12) + value + '\n';
    };
    return line("Chip:", chip) + line("Product ID:", t.pid ? pidText(*t.pid) : "unknown") +
           line("Bootloader:", version) +
           line("Commands:", commands.isEmpty() ? QStringLiteral("unknown") : commands.join(' ')) +
           line("Flash:", flash) +
           line("RAM:", t.ramSizeKB > 0 ? QString::number(t.ramSizeKB) + " KB" : "unknown") +
           line("Unique ID:", uniqueIdText(t.uniqueId)) +
           line("Readout:", options ? "level " + QString::number(options->readoutLevel)
                                    : QStringLiteral("unknown: option bytes not read")) +
           line("Protected:", !options ? QStringLiteral("unknown: option bytes not read")
                              : !options->unitsKnown
                                  ? QStringLiteral("unknown: the erase units are not known")
                                  : unitListText(options->protectedUnits));
}

CliRunner::CliRunner(Engine& engine, CliHost& host, const CliOptions& options, QObject* parent)
    : QObject(parent), engine_(engine), host_(host), options_(options) {}

void CliRunner::stop() {
    stopped_ = true;
    engine_.stop();
}

int CliRunner::run() {
    if (options_.command == Command::Devices) {
        host_.print(DeviceListText(Devices()));
        host_.finish(true, ExitSuccess);
        return ExitSuccess;
    }
    QElapsedTimer clock;
    clock.start();
    outcome_.port = options_.port;
    engine_.setMode(options_.mode);
    engine_.setFlashSizeOverride(options_.flashKB);
    engine_.setLineOptions(options_.lines);  // before the port opens
    const bool ok = execute();
    if (stopped_) host_.note(QStringLiteral("Stopped."));
    const int status = ok && !stopped_ ? ExitSuccess : ExitFailure;
    noteTarget();
    outcome_.result = stopped_ ? BoardOutcome::Stopped
                      : ok     ? BoardOutcome::Ok
                               : BoardOutcome::Failed;
    outcome_.seconds = double(clock.nsecsElapsed()) / 1e9;
    outcome_.finished = QDateTime::currentDateTimeUtc();
    host_.finish(status == ExitSuccess, status);
    return status;
}

void CliRunner::noteTarget() {
    const TargetInfo& t = engine_.target();
    if (t.device)
        outcome_.chip = t.device->family + ' ' + t.device->line;
    else if (t.pid)
        outcome_.chip = pidText(*t.pid);
    outcome_.uniqueId = QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(t.uniqueId.data()), int(t.uniqueId.size()))
            .toHex()
            .toUpper());
}

bool CheckSerialPlan(const CliOptions& options, const FirmwareImage& image, SerialStateFile& state,
                     EventSink& sink) {
    if (const std::optional<uint32_t> overlap =
            SerialOverlap(image, *options.serialAddress, options.serialFormat.size())) {
        sink.report(Event(EventCode::SerialOverlapsImage, Operation::Program).at(*overlap));
        return false;
    }
    uint64_t next = 0;
    if (!state.check(sink, &next)) return false;
    // A series that has outgrown its format fails every board: said once, before any is touched.
    if (!EncodeSerial(next, options.serialFormat)) {
        sink.report(Event(EventCode::SerialTooWide, Operation::Program)
                        .withText(QString::number(qulonglong(next))));
        return false;
    }
    return true;
}

bool CliRunner::programNumbered(const FirmwareImage& image) {
    const uint32_t address = *options_.serialAddress;
    const int size = options_.serialFormat.size();
    // A chip the table lacks is refused by program() itself, before a number is taken.
    const TargetInfo& t = engine_.target();
    if (!t.device) return engine_.program(image, options_.program);
    // The chip's own flash, as connect learnt it: the line's largest only when the size is
    // unknown.
    const uint64_t flashEnd =
        uint64_t(t.device->flashBase) +
        (t.flashSizeKB > 0 ? uint64_t(t.flashSizeKB) * 1024 : t.device->maxFlashBytes);
    if (address < t.device->flashBase || uint64_t(address) + uint64_t(size) > flashEnd) {
        host_.report(Event(EventCode::SerialOutsideFlash, Operation::Program).at(address));
        return false;
    }
    const std::optional<uint64_t> number = serialState_->take(host_);
    if (!number) return false;
    outcome_.serial = number;
    const QString text = QString::number(qulonglong(*number));
    const std::optional<QByteArray> bytes = EncodeSerial(*number, options_.serialFormat);
    if (!bytes) {
        host_.report(Event(EventCode::SerialTooWide, Operation::Program).withText(text));
        serialState_->finish(*number, false, host_);
        return false;
    }
    FirmwareImage numbered = image;
    numbered.add(address, reinterpret_cast<const uint8_t*>(bytes->constData()), size_t(size));
    host_.report(
        Event(EventCode::SerialNumberTaken, Operation::Program).at(address).withText(text));
    bool ok = engine_.program(numbered, options_.program) && !stopped_;
    // A board that failed after its flash was touched may hold the number: never again.
    const bool used = ok || host_.flashTouched();
    if (!serialState_->finish(*number, used, host_)) return false;
    host_.report(Event(used ? EventCode::SerialNumberUsed : EventCode::SerialNumberReturned,
                       Operation::Program)
                     .withText(text));
    return ok;
}

bool CliRunner::execute() {
    std::optional<FirmwareImage> image = image_;
    if (options_.command == Command::Program && !image) {
        image = engine_.loadImage(options_.imageSource());
        if (!image) return false;
        if (serialState_ && !CheckSerialPlan(options_, *image, *serialState_, host_)) return false;
    }
    // Where the data go is checked before the board is touched.
    if (options_.command == Command::Read && !engine_.checkOutputFile(options_.file)) return false;
    // A stop during the connect may leave its later steps failing quietly; it must not go on
    // into the operation.
    if (!engine_.connect(options_.port) || stopped_) return false;
    switch (options_.command) {
        case Command::Info:
            host_.print(TargetSummaryText(engine_.target(), engine_.flashSizeOverride(),
                                          engine_.optionBytes()));
            return true;
        case Command::Program:
            return serialState_ ? programNumbered(*image)
                                : engine_.program(*image, options_.program);
        case Command::Read:
            return engine_.readToFile(
                options_.file, ImageFormatForFileName(options_.file.toStdString()), options_.range);
        case Command::Erase:
            return engine_.erase(options_.range);
        case Command::Go:
            return engine_.go(options_.goAddress);
        case Command::Protect:
            return engine_.protect();
        case Command::Unprotect:
            return engine_.unprotect();
        case Command::OptionBytes:
            if (options_.optionEdits.empty()) return engine_.readOptionBytes().has_value();
            return engine_.writeOptionBytes(options_.optionEdits, options_.allowPermanent);
        case Command::WriteProtect:
            return engine_.writeProtect(options_.protectAll ? std::nullopt : options_.range);
        case Command::WriteUnprotect:
            return engine_.writeUnprotect();
        case Command::Devices:
        case Command::Ports:
        case Command::None:
            break;
    }
    return false;
}

}  // namespace praxon::cli
