#include "tst_integration_rig.h"

#include <QFile>

#include "Board.h"

namespace rig {

praxon::sim::SimulatorOptions boardOptions(const QString& faults) {
    praxon::sim::SimulatorOptions o;
    o.instant = true;  // a late reply stays late in instant mode
    for (const QString& text : faults.split(',', Qt::SkipEmptyParts)) {
        praxon::sim::Fault f;
        std::string why;
        if (!praxon::sim::parseFault(text.toStdString(), &f, &why)) qFatal("%s", why.c_str());
        o.board.faults.push_back(f);
    }
    return o;
}

Rig::Rig(const praxon::sim::SimulatorOptions& options) {
    engine.initialise();
    host.port = dir.filePath("board");
    host.erase = false;
    error = start(options);
}

Rig::~Rig() {
    port.close();
    if (board_) board_->stop();
}

QString Rig::start(const praxon::sim::SimulatorOptions& options) {
    if (board_) board_->stop();
    praxon::sim::SimulatorOptions o = options;
    o.linkPath = host.port.toStdString();
    board_ = std::make_unique<praxon::sim::Simulator>(o);
    std::string why;
    return board_->start(&why) ? QString() : QString::fromStdString(why);
}

bool Rig::connectAndClear() {
    const bool ok = engine.CHECKCMD_Click();
    host.clearRecords();
    return ok;
}

QByteArray Rig::flash(int offset, int size) const {
    const std::vector<uint8_t> image = board_->flashImage();
    if (size < 0) size = int(image.size()) - offset;
    return QByteArray(reinterpret_cast<const char*>(image.data()) + offset, size);
}

QByteArray pattern(int size, unsigned seed) {
    QByteArray bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& b : bytes) b = char((x = x * 1664525u + 1013904223u) >> 24);
    return bytes;
}

static QString record(uint8_t type, uint16_t offset, const QByteArray& data) {
    QByteArray raw =
        QByteArray(1, char(data.size())) + char(offset >> 8) + char(offset) + char(type) + data;
    uint8_t sum = 0;
    for (char c : raw) sum = uint8_t(sum + uint8_t(c));
    return ':' + QString::fromLatin1((raw + char(-sum)).toHex().toUpper());
}

static QString dataLine(uint16_t offset, const QByteArray& bytes) {
    return record(0x00, offset, bytes);
}

static QString linearLine(uint16_t upper) {
    return record(0x04, 0, QByteArray(1, char(upper >> 8)) + char(upper));
}

QStringList hexLines(uint32_t address, const QByteArray& bytes, int recordSize) {
    QStringList lines;
    for (int i = 0; i < bytes.size(); i += recordSize) {  // records never cross 64 KB
        const uint32_t a = address + uint32_t(i);
        if (i == 0 || (a & 0xFFFF) < uint32_t(recordSize)) lines << linearLine(uint16_t(a >> 16));
        lines << dataLine(uint16_t(a), bytes.mid(i, recordSize));
    }
    return lines << ":00000001FF";
}

QString writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? path : QString();
}

QString writeLines(const QString& path, const QStringList& lines) {
    return writeFile(path, (lines.join("\r\n") + "\r\n").toLatin1());
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString parseHex(const QString& path, uint32_t base, int size, QByteArray* image,
                 QStringList* lines) {
    const QByteArray all = readFile(path);
    if (!all.endsWith("\r\n")) return "the file does not end with CR LF";
    *lines = QString::fromLatin1(all.chopped(2)).split("\r\n");
    *image = QByteArray(size, char(0xFF));
    uint32_t upper = 0;
    for (const QString& line : *lines) {
        const QByteArray raw = QByteArray::fromHex(line.mid(1).toLatin1());
        uint8_t sum = 0;
        for (char c : raw) sum = uint8_t(sum + uint8_t(c));
        if (!line.startsWith(':') || line.size() != 2 * raw.size() + 1 || raw.size() < 5 ||
            raw.size() != uint8_t(raw[0]) + 5 || sum != 0)
            return "malformed line " + line;
        const QByteArray data = raw.mid(4, uint8_t(raw[0]));
        const uint32_t a = (upper << 16) + (uint32_t(uint8_t(raw[1])) << 8 | uint8_t(raw[2]));
        if (raw[3] == 4) upper = uint32_t(uint8_t(data[0])) << 8 | uint8_t(data[1]);
        if (raw[3] != 0) continue;
        if (a < base || a - base + uint32_t(data.size()) > uint32_t(size))
            return "record outside the flash: " + line;
        image->replace(int(a - base), data.size(), data);
    }
    return lines->last() == ":00000001FF" ? QString() : "the end record is not last";
}

bool matches(const QStringList& actual, const QStringList& expected, QString* why) {
    bool ok = actual.size() == expected.size();
    for (int i = 0; ok && i < actual.size(); ++i) {
        const QString& e = expected.at(i);
        ok = e.endsWith('*') ? actual.at(i).startsWith(e.chopped(1)) : actual.at(i) == e;
    }
    if (!ok)
        *why = QString("\n   Actual:   [%1]\n   Expected: [%2]")
                   .arg(actual.join(" | "), expected.join(" | "));
    return ok;
}

}  // namespace rig
