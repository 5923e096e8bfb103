// Reading the chip into a file.
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSaveFile>

#include "EnginePrivate.h"
#include "IntelHex.h"

namespace praxon {

bool Engine::checkOutputFile(const QString& path) {
    const QString name = path.trimmed();
    if (name.isEmpty()) return false;
    const QFileInfo info(name);
    if (!info.dir().exists()) {
        d->report(d->event(EventCode::OutputFolderMissing).withText(info.absolutePath()));
        return false;
    }
    // Trying is the one sure test: the new file is written beside the old one, so the folder
    // must take a new file; nothing is left behind.
    QSaveFile file(name);
    if (info.isDir() || !file.open(QIODevice::WriteOnly)) {
        Event e = d->event(EventCode::OutputNotWritable).withText(name);
        e.detail = info.isDir() ? QString() : file.errorString();
        d->report(e);
        return false;
    }
    file.cancelWriting();
    return true;
}

bool Engine::Private::readBlock(uint32_t address, int n, uint8_t* out) {
    const CommandResult r = ReadMemory(link, address, n, out);
    if (r.ok()) return true;
    Event e = event(EventCode::ReadStepFailed).at(address);
    e.step = r.failed;
    e.withReply(r.reply.status, r.reply.first);
    report(e);
    reportReason(EventCode::ReadReplyFailed, r, address);
    return false;
}

bool Engine::Private::readToFile(const QString& path, ImageFormat format,
                                 const std::optional<AddressRange>& range) {
    uint32_t address = 0x08000000u;
    qint64 length = 0;
    if (!range) {
        if (target.flashSizeKB < 1) {
            // The flash size is unknown (the window keeps the button disabled then).
            report(EventCode::FlashSizeUnknown);
            return false;
        }
        length = qint64(target.flashSizeKB) * 1024;
    } else {
        if (range->end <= range->begin || range->end > 0x100000000ull) {
            report(EventCode::ReadRangeInvalid);
            return false;
        }
        // A range that starts in the flash ends where writes end, before anything is read.
        if (target.device) {
            const uint32_t base = target.device->flashBase;
            const uint64_t flashEnd = uint64_t(base) + flashExtent();
            if (range->begin >= base && range->begin < flashEnd && range->end > flashEnd) {
                Event e = event(EventCode::ReadPastFlashEnd).at(uint32_t(flashEnd));
                e.value = qint64(range->end);
                report(e);
                return false;
            }
        }
        address = range->begin;
        length = qint64(range->end - range->begin);
    }
    link.setStopped(false);
    const QString name = path.trimmed();
    if (name.isEmpty() || !engine.checkOutputFile(name)) return false;
    // The new file is written beside the old one and replaces it only when complete.
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) {
        report(event(EventCode::OutputNotWritable).withText(name));
        return false;
    }
    report(EventCode::ReadBegun);
    QElapsedTimer clock;
    clock.start();
    bool ok = readRange(file, format, address, length, !range);
    if (!ok) {
        // A failed read has been reported already; a failed write of the file (disk full) not yet.
        if (file.error() != QFileDevice::NoError) {
            Event e = event(EventCode::OutputNotWritable).withText(name);
            e.detail = file.errorString();
            report(e);
        }
        file.cancelWriting();
    } else if (!file.commit()) {
        Event e = event(EventCode::OutputNotWritable).withText(name);
        e.detail = file.errorString();
        report(e);
        ok = false;
    } else {
        Event e = event(EventCode::ReadDone);
        e.elapsedNs = clock.nsecsElapsed();
        e.done = length;
        report(e);
    }
    return ok;
}

bool Engine::Private::readRange(QIODevice& out, ImageFormat format, uint32_t address, qint64 length,
                                bool wholeFlash) {
    const bool hex = format == ImageFormat::Hex;
    const auto writeLine = [&out](const std::string& line) {
        QByteArray bytes = QByteArray::fromStdString(line);
        bytes.append("\r\n", 2);
        return out.write(bytes) == bytes.size();
    };
    // The whole flash goes out in whole blocks (64-byte records in HEX, 256-byte reads in
    // binary); a range in reads of up to 256 bytes that end on 256-byte boundaries.
    const int blockSize = hex && wholeFlash ? 64 : 256;
    if (wholeFlash) length -= length % blockSize;
    if (hex && wholeFlash && !writeLine(StartLinearAddressLine())) return false;
    HexRangeWriter writer(64);
    std::vector<std::string> lines;
    uint8_t block[256];
    qint64 done = 0;
    while (done < length) {
        const uint32_t at = address + uint32_t(done);
        const int n =
            int(std::min<qint64>(length - done, blockSize - qint64(at % uint32_t(blockSize))));
        if (!readBlock(at, n, block)) {
            report(EventCode::ReadAborted);
            return false;
        }
        done += n;
        Event e = event(EventCode::Progress);
        e.done = done;
        e.total = length;
        report(e);
        if (hex) {
            lines.clear();
            writer.addData(at, block, size_t(n), &lines);
            for (const std::string& line : lines)
                if (!writeLine(line)) return false;
        } else if (out.write(reinterpret_cast<const char*>(block), n) != n) {
            return false;
        }
    }
    return !hex || writeLine(EndOfFileLine());
}

}  // namespace praxon
