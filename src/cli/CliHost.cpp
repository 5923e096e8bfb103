#include "CliHost.h"

#include <QJsonDocument>

#include "Messages.h"

namespace praxon::cli {

namespace {
// Carriage return and "erase to end of line": rewrites the status line in place.
constexpr char kEraseLine[] = "\r\x1b[K";

QString hexText(uint32_t value, int digits) {
    return QStringLiteral("0x%1")
        .arg(value, digits, 16, QLatin1Char('0'))
        .toUpper()
        .replace(QLatin1String("0X"), QLatin1String("0x"));
}

// The name under which an event's value goes out.
QString valueName(EventCode code) {
    switch (code) {
        case EventCode::PagesEraseBegun:
            return QStringLiteral("pages");
        case EventCode::PageOutOfRange:
            return QStringLiteral("page");
        case EventCode::BootloaderVersion:
            return QStringLiteral("version");
        case EventCode::FlashSizeAssumed:
            return QStringLiteral("size_register");
        case EventCode::ReadPastFlashEnd:
            return QStringLiteral("range_end");
        case EventCode::HexLineRejected:
        case EventCode::HexBadData:
        case EventCode::SrecRefused:
        case EventCode::SerialStateInvalid:
            return QStringLiteral("line_number");
        case EventCode::SerialStartAhead:
            return QStringLiteral("next");
        case EventCode::OptionBytesRead:
        case EventCode::OptionBytesWritten:
            return QStringLiteral("readout_level");
        case EventCode::WriteProtection:
        case EventCode::WriteProtectDone:
        case EventCode::WriteUnprotectDone:
            return QStringLiteral("protected_units");
        case EventCode::WriteProtectedRange:
            return QStringLiteral("length");
        case EventCode::UnitsWriteProtected:
            return QStringLiteral("count");
        case EventCode::ResetBoardRequest:
            return QStringLiteral("wait_s");
        case EventCode::BankLayout:
            return QStringLiteral("banks");
        case EventCode::OptionValueInvalid:
        case EventCode::OptionLevelInvalid:
            return QStringLiteral("max");
        case EventCode::WriteProtectBegun:
            return QStringLiteral("group_count");
        default:
            return QStringLiteral("value");
    }
}
// The name under which an event's bytes go out.
QString bytesName(EventCode code) {
    switch (code) {
        case EventCode::UniqueId:
            return QStringLiteral("uid");
        case EventCode::OptionBytesRead:
        case EventCode::OptionBytesWriting:
            return QStringLiteral("option_bytes");
        case EventCode::WriteProtectBegun:
            return QStringLiteral("groups");
        default:
            return QStringLiteral("id");
    }
}

// The name under which an event's text goes out (HEX lines aside).
QString textName(EventCode code) {
    switch (code) {
        case EventCode::OptionBytesRead:
            return QStringLiteral("layout");
        case EventCode::OptionFieldValue:
        case EventCode::OptionNameUnknown:
            return QStringLiteral("name");
        case EventCode::OptionEditMalformed:
        case EventCode::OptionValueInvalid:
        case EventCode::OptionLevelInvalid:
            return QStringLiteral("edit");
        case EventCode::UnitsWriteProtected:
            return QStringLiteral("units");
        default:
            return QStringLiteral("path");
    }
}
}  // namespace

QString ProgressBytesText(qint64 done, qint64 total, qint64 bytes, qint64 milliseconds) {
    QString text = QString("%1/%2 bytes").arg(done).arg(total);
    if (milliseconds <= 0) return text;
    const double perSecond = double(bytes) * 1000.0 / double(milliseconds);
    if (perSecond < 1024) return text + QString(", %1 B/s").arg(qint64(perSecond));
    if (perSecond < 1024 * 1024)
        return text + QString(", %1 KB/s").arg(perSecond / 1024, 0, 'f', 1);
    return text + QString(", %1 MB/s").arg(perSecond / (1024 * 1024), 0, 'f', 1);
}

CliHost::CliHost(QIODevice& out, QIODevice& err, bool errIsTerminal,
                 std::function<qint64()> clockMs)
    : out_(out), err_(err), errIsTerminal_(errIsTerminal), clockMs_(std::move(clockMs)) {
    if (!clockMs_) {
        monotonic_.start();
        clockMs_ = [this] { return monotonic_.elapsed(); };
    }
    now_ = [] { return QDateTime::currentDateTime(); };
    sessionStartMs_ = clockMs_();
}

QJsonObject CliHost::eventObject(const Event& e, Language language) {
    QJsonObject o;
    o["kind"] = e.code == EventCode::Progress ? "progress" : "event";
    o["operation"] = OperationName(e.operation);
    o["event"] = EventName(e.code);
    if (e.address) o["address"] = hexText(*e.address, 8);
    if (e.expected) o["expected"] = hexText(*e.expected, 2);
    if (e.actual) o["actual"] = hexText(*e.actual, 2);
    if (e.pid) o["pid"] = hexText(*e.pid, 3);
    if (e.value) {
        if (e.code == EventCode::BootloaderVersion)
            o["version"] = QString::asprintf("%X.%X", int(*e.value >> 4), int(*e.value & 0xF));
        else if (e.code == EventCode::FlashSizeAssumed || e.code == EventCode::ReadPastFlashEnd)
            o[valueName(e.code)] =
                hexText(uint32_t(*e.value), e.code == EventCode::ReadPastFlashEnd ? 8 : 4);
        else
            o[valueName(e.code)] = double(*e.value);
    }
    if (e.reply) o["reply"] = ReplyName(*e.reply);
    if (e.step != Step::None) o["step"] = StepName(e.step);
    if (e.portError != PortError::None) o["port_error"] = PortErrorName(e.portError);
    if (e.hexError != HexLineError::None) o["hex_error"] = HexLineErrorName(e.hexError);
    if (e.srecError != SrecError::None) o["srec_error"] = SrecErrorName(e.srecError);
    if (e.elfError != ElfError::None) o["elf_error"] = ElfErrorName(e.elfError);
    if (e.flashKB >= 0) o["flash_kb"] = e.flashKB;
    if (e.code == EventCode::FlashSize)
        o["ram_kb"] = e.ramKB >= 0 ? QJsonValue(e.ramKB) : QJsonValue();
    if (e.code == EventCode::ChipIdentified)
        o["family"] = e.family.isEmpty() ? QJsonValue() : QJsonValue(e.family);
    if (!e.bytes.isEmpty()) o[bytesName(e.code)] = QString::fromLatin1(e.bytes.toHex().toUpper());
    const bool serialEvent =
        e.code == EventCode::SerialNumberTaken || e.code == EventCode::SerialNumberUsed ||
        e.code == EventCode::SerialNumberReturned || e.code == EventCode::SerialTooWide;
    if (serialEvent) {
        o["serial"] = e.text;  // a string: JSON numbers lose digits beyond 2^53
    } else if (!e.text.isEmpty()) {
        const bool hexLine = e.code == EventCode::HexLineRejected ||
                             e.code == EventCode::HexBadData || e.code == EventCode::SrecRefused;
        o[hexLine ? QStringLiteral("line") : textName(e.code)] = e.text;
    }
    if (!e.detail.isEmpty())
        o[e.code == EventCode::OptionFieldValue    ? "meaning"
          : e.code == EventCode::OptionNameUnknown ? "names"
                                                   : "system_error"] = e.detail;
    if (e.code == EventCode::WriteProtection) o["units"] = double(e.total);
    if (e.code == EventCode::WriteProtectedRange) {
        o["first_unit"] = double(e.done);
        o["last_unit"] = double(e.total);
    }
    if (e.code == EventCode::Progress || e.code == EventCode::Verified ||
        e.code == EventCode::Programmed || e.code == EventCode::ReadDone)
        o["done"] = double(e.done);
    if (e.code == EventCode::Progress) o["total"] = double(e.total);
    if (e.code == EventCode::Programmed || e.code == EventCode::ReadDone)
        o["elapsed_s"] = double(e.elapsedNs) / 1e9;
    if (e.code == EventCode::OperationEnded || e.code == EventCode::TurboChipReset) o["ok"] = e.ok;
    if (e.code == EventCode::LinkReady) o["readable"] = e.readable;
    QStringList texts;
    for (const Shown& shown : Render(e, language))
        if (shown.how != Presentation::Status && !shown.text.isEmpty()) texts << shown.text;
    if (!texts.isEmpty()) o["message"] = texts.join('\n');
    return o;
}

void CliHost::report(const Event& e) {
    switch (e.code) {
        case EventCode::ChipIdentified:
            pid_ = e.pid;
            family_ = e.family;
            break;
        case EventCode::FlashSize:
        case EventCode::FlashSizeStated:
        case EventCode::FlashSizeAssumed:
            flashKB_ = e.flashKB;
            break;
        case EventCode::Programmed:
            bytesWritten_ += e.done;
            break;
        case EventCode::Verified:
            bytesVerified_ += e.done;
            break;
        case EventCode::ReadDone:
            bytesRead_ += e.done;
            break;
        case EventCode::ChipEraseBegun:
        case EventCode::PagesEraseBegun:
        case EventCode::ProgramBegun:
        case EventCode::TurboStarted:  // the loader writes pages of its own accord
            flashTouched_ = true;
            break;
        case EventCode::SerialNumberTaken:
            serial_ = e.text;
            break;
        case EventCode::UniqueId:
            uniqueId_ = QString::fromLatin1(e.bytes.toHex().toUpper());
            break;
        default:
            break;
    }
    if (json_) {
        writeOut(eventObject(e, language_));
        return;
    }
    for (const Shown& shown : Render(e, language_)) {
        switch (shown.how) {
            case Presentation::Log:
                // A terminal keeps its scroll-back; the window's size limit does not apply here.
                clearStatusLine();
                out_.write((now_().toString(QStringLiteral("hh:mm:ss")) + ' ' + shown.text + '\n')
                               .toUtf8());
                drawStatusLine();
                break;
            case Presentation::Message:
                note(shown.text);
                break;
            case Presentation::Status:
                // Device and link texts repeat what the log already says.
                if (shown.field != StatusField::Progress || !errIsTerminal_) break;
                status_ = shown.text;
                bytes_.clear();  // the progress event follows with the bytes
                drawStatusLine();
                break;
        }
    }
    if (e.code == EventCode::Progress) progress(e.done, e.total);
}

void CliHost::progress(qint64 done, qint64 total) {
    if (!errIsTerminal_) return;
    const qint64 now = clockMs_();
    // Progress that goes back or changes its total belongs to the next operation (the verify
    // after a write, say): its rate counts from here.
    if (done <= lastDone_ || total != lastTotal_) startMs_ = now, startDone_ = done;
    lastDone_ = done;
    lastTotal_ = total;
    bytes_ = ProgressBytesText(done, total, done - startDone_, now - startMs_);
    drawStatusLine();
}

void CliHost::note(const QString& text) {
    clearStatusLine();
    writeErr(text + '\n');
    drawStatusLine();
}

void CliHost::print(const QString& text) {
    if (json_) {
        QJsonObject o;
        o["kind"] = "text";
        o["text"] = text;
        writeOut(o);
        return;
    }
    clearStatusLine();
    out_.write(text.toUtf8());
    drawStatusLine();
}

void CliHost::finish(bool ok, int exitStatus) {
    if (statusShown_) writeErr("\n");
    statusShown_ = false;
    status_.clear();
    bytes_.clear();
    lastDone_ = lastTotal_ = -1;
    if (!json_) return;
    QJsonObject o;
    o["kind"] = "result";
    o["ok"] = ok;
    o["exit_status"] = exitStatus;
    o["duration_s"] = double(clockMs_() - sessionStartMs_) / 1000.0;
    o["bytes_written"] = double(bytesWritten_);
    o["bytes_verified"] = double(bytesVerified_);
    o["bytes_read"] = double(bytesRead_);
    if (pid_) {
        QJsonObject chip;
        chip["pid"] = hexText(*pid_, 3);
        chip["family"] = family_.isEmpty() ? QJsonValue() : QJsonValue(family_);
        chip["flash_kb"] = flashKB_ > 0 ? QJsonValue(flashKB_) : QJsonValue();
        // The 12 bytes in memory order; null when the chip has none or it was not read.
        chip["uid"] = uniqueId_.isEmpty() ? QJsonValue() : QJsonValue(uniqueId_);
        o["chip"] = chip;
    } else {
        o["chip"] = QJsonValue();
    }
    if (!serial_.isEmpty()) o["serial"] = serial_;
    writeOut(o);
}

void CliHost::writeOut(const QJsonObject& object) {
    QJsonObject stamped = object;
    stamped["time"] = now_().toUTC().toString(Qt::ISODateWithMs);
    if (!port_.isEmpty()) stamped["port"] = port_;
    out_.write(QJsonDocument(stamped).toJson(QJsonDocument::Compact) + '\n');
}

void CliHost::writeErr(const QString& text) {
    err_.write(text.toUtf8());
}

void CliHost::clearStatusLine() {
    if (!statusShown_) return;
    writeErr(kEraseLine);
    statusShown_ = false;
}

void CliHost::drawStatusLine() {
    if (!errIsTerminal_ || status_.isEmpty()) return;
    writeErr(kEraseLine + (bytes_.isEmpty() ? status_ : status_ + ' ' + bytes_));
    statusShown_ = true;
}

}  // namespace praxon::cli
