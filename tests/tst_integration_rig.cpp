#include "tst_integration_rig.h"

#include <QFile>

#include "Board.h"

namespace rig {

praxon::sim::SimulatorOptions boardOptions(const QString& faults, bool instant) {
    praxon::sim::SimulatorOptions o;
    o.instant = instant;
    for (const QString& text : faults.split(',', Qt::SkipEmptyParts)) {
        praxon::sim::Fault f;
        std::string error;
        if (!praxon::sim::parseFault(text.trimmed().toStdString(), &f, &error))
            qFatal("bad fault in a test table: %s", error.c_str());
        o.board.faults.push_back(f);
    }
    return o;
}

Rig::Rig(const praxon::sim::SimulatorOptions& options) : options_(options) {
    linkPath_ = dir.filePath("board");
    engine.initialise();
    host.port = linkPath_;
    host.erase = false;
}

Rig::~Rig() {
    port.close();
    if (board_) board_->stop();
}

bool Rig::start(QString* error) {
    return replaceBoard(options_, error);
}

bool Rig::replaceBoard(const praxon::sim::SimulatorOptions& options, QString* error) {
    if (board_) board_->stop();
    board_.reset();
    praxon::sim::SimulatorOptions o = options;
    o.linkPath = linkPath_.toStdString();
    board_ = std::make_unique<praxon::sim::Simulator>(o);
    std::string why;
    if (!board_->start(&why)) {
        if (error) *error = QString::fromStdString(why);
        return false;
    }
    return true;
}

bool Rig::connectAndClear() {
    const bool ok = engine.CHECKCMD_Click();
    host.clearRecords();
    return ok;
}

QByteArray pattern(int size, unsigned seed) {
    QByteArray bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = char(x >> 24);
    }
    return bytes;
}

namespace {

QString record(uint8_t type, uint16_t offset, const QByteArray& data) {
    QByteArray raw;
    raw.append(char(data.size()));
    raw.append(char(offset >> 8));
    raw.append(char(offset & 0xFF));
    raw.append(char(type));
    raw.append(data);
    uint8_t sum = 0;
    for (char c : raw) sum = uint8_t(sum + uint8_t(c));
    raw.append(char(uint8_t(0x100 - sum)));
    return ':' + QString::fromLatin1(raw.toHex().toUpper());
}

}  // namespace

QString dataLine(uint16_t offset, const QByteArray& bytes) {
    return record(0x00, offset, bytes);
}

QString linearLine(uint16_t upper) {
    QByteArray d;
    d.append(char(upper >> 8));
    d.append(char(upper & 0xFF));
    return record(0x04, 0, d);
}

QString writeLines(const QString& path, const QStringList& lines, bool lf) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return {};
    for (const QString& line : lines) f.write((line + (lf ? "\n" : "\r\n")).toLatin1());
    return f.flush() ? path : QString();
}

QString writeLines(const QString& path, const QStringList& lines) {
    return writeLines(path, lines, false);
}

QString writeHex(const QString& path, uint32_t address, const QByteArray& bytes, int recordSize,
                 bool lf) {
    QStringList lines;
    uint32_t upper = 0xFFFFFFFF;
    for (int i = 0; i < bytes.size(); i += recordSize) {
        const uint32_t a = address + uint32_t(i);
        if ((a >> 16) != upper) {
            upper = a >> 16;
            lines << linearLine(uint16_t(upper));
        }
        // A record does not cross a 64 KB boundary.
        int n = std::min<int>(recordSize, int(bytes.size()) - i);
        n = std::min<int>(n, int(0x10000 - (a & 0xFFFF)));
        lines << dataLine(uint16_t(a & 0xFFFF), bytes.mid(i, n));
        if (n < recordSize) i -= recordSize - n;
    }
    lines << ":00000001FF";
    return writeLines(path, lines, lf);
}

bool parseHexFile(const QString& path, uint32_t base, int size, QByteArray* image,
                  QStringList* lines, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = "cannot open " + path;
        return false;
    }
    const QByteArray all = f.readAll();
    if (!all.endsWith("\r\n")) {
        *error = "the last line does not end with CR LF";
        return false;
    }
    *lines = QString::fromLatin1(all.left(all.size() - 2)).split("\r\n");
    *image = QByteArray(size, char(0xFF));
    uint32_t upper = 0;
    bool ended = false;
    for (const QString& line : *lines) {
        if (ended) {
            *error = "a line after the end-of-file record";
            return false;
        }
        if (!line.startsWith(':') || line.size() % 2 != 1) {
            *error = "malformed line " + line;
            return false;
        }
        const QByteArray raw = QByteArray::fromHex(line.mid(1).toLatin1());
        if (raw.size() < 5 || raw.size() != uint8_t(raw[0]) + 5) {
            *error = "bad length in " + line;
            return false;
        }
        uint8_t sum = 0;
        for (char c : raw) sum = uint8_t(sum + uint8_t(c));
        if (sum != 0) {
            *error = "bad checksum in " + line;
            return false;
        }
        const uint8_t type = uint8_t(raw[3]);
        const uint32_t offset = uint32_t(uint8_t(raw[1])) << 8 | uint8_t(raw[2]);
        const QByteArray data = raw.mid(4, uint8_t(raw[0]));
        if (type == 0x00) {
            const uint32_t a = (upper << 16) + offset;
            if (a < base || a - base + uint32_t(data.size()) > uint32_t(size)) {
                *error = "record outside the flash: " + line;
                return false;
            }
            image->replace(int(a - base), data.size(), data);
        } else if (type == 0x04) {
            upper = uint32_t(uint8_t(data[0])) << 8 | uint8_t(data[1]);
        } else if (type == 0x01) {
            ended = true;
        } else if (type != 0x05) {
            *error = "unexpected record type in " + line;
            return false;
        }
    }
    if (!ended) {
        *error = "no end-of-file record";
        return false;
    }
    return true;
}

QByteArray flashBytes(const praxon::sim::Simulator& board, int offset, int size) {
    const std::vector<uint8_t> image = board.flashImage();
    if (size < 0) size = int(image.size()) - offset;
    return QByteArray(reinterpret_cast<const char*>(image.data()) + offset, size);
}

bool matches(const QStringList& actual, const QStringList& expected, QString* why) {
    bool ok = actual.size() == expected.size();
    for (int i = 0; ok && i < actual.size(); ++i) {
        const QString& e = expected.at(i);
        ok = e.endsWith('*') ? actual.at(i).startsWith(e.left(e.size() - 1)) : actual.at(i) == e;
    }
    if (!ok && why)
        *why = QString("\n   Actual:   [%1]\n   Expected: [%2]")
                   .arg(actual.join(" | "), expected.join(" | "));
    return ok;
}

}  // namespace rig
