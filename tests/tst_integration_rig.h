#pragma once

// End-to-end rig: the engine with the real QSerialPort and a recording host in this (the Qt main)
// thread, the simulated board serving a pseudo-terminal from its own thread; file helpers.

#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "Board.h"
#include "Engine.h"
#include "IntelHex.h"
#include "QtSerialPort.h"
#include "RecordingHost.h"
#include "Simulator.h"

namespace rig {

// An instant board (no line pacing); faults as the simulator's KIND:CMD:K[:STEP], comma separated;
// id4: the four-byte Get ID answer and 20 KB RAM.
inline praxon::sim::SimulatorOptions boardOptions(const QString& faults = {}) {
    praxon::sim::SimulatorOptions o;
    o.instant = true;  // a late reply stays late in instant mode
    for (const QString& text : faults.split(',', Qt::SkipEmptyParts)) {
        std::string why;
        if (text == "id4")
            o.board.fourByteGetId = true, o.board.ramField = 0x14;
        else if (!praxon::sim::parseFault(text.toStdString(), &o.board.faults.emplace_back(), &why))
            qFatal("%s", why.c_str());
    }
    return o;
}

struct Rig {
    QTemporaryDir dir;
    RecordingHost host;
    praxon::QtSerialPort port;
    praxon::Engine engine{host, port};
    std::unique_ptr<praxon::sim::Simulator> board;

    QString portName;

    explicit Rig(const praxon::sim::SimulatorOptions& options = boardOptions(),
                 praxon::WriteMode mode = praxon::WriteMode::Compatible) {
        engine.initialise();
        engine.setMode(mode);
        portName = dir.filePath("board");
        start(options);
    }
    ~Rig() { port.close(); }
    // A fresh board on the same port name (a symlink), as after replugging the adapter.
    void start(praxon::sim::SimulatorOptions options) {
        board.reset();
        options.linkPath = portName.toStdString();
        board = std::make_unique<praxon::sim::Simulator>(options);
        std::string why;
        if (!board->start(&why)) qFatal("no pseudo-terminal: %s", why.c_str());
    }
    // Connects; the records are cleared so a test sees only what its own operation reported.
    bool connectAndClear() {
        const bool ok = engine.connect(portName);
        host.clearRecords();
        return ok;
    }
    QByteArray flash() const {
        const std::vector<uint8_t> image = board->flashImage();
        return QByteArray(reinterpret_cast<const char*>(image.data()), int(image.size()));
    }
    void preload(const QByteArray& b) { board->loadFlash(0, {b.begin(), b.end()}); }
    // Loads the file and programs it; false when either failed.
    bool program(const QString& path, const praxon::ProgramOptions& options) {
        const std::optional<praxon::FirmwareImage> image = engine.loadImage({path});
        return image && engine.program(*image, options);
    }
};

// Varied bytes (never all 0xFF), repeatable for a seed.
inline QByteArray pattern(int size, unsigned seed = 1) {
    QByteArray bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& b : bytes) b = char((x = x * 1664525u + 1013904223u) >> 24);
    return bytes;
}

inline QString dataLine(uint32_t address, const QByteArray& b) {
    const auto* p = reinterpret_cast<const uint8_t*>(b.constData());
    return QString::fromStdString(praxon::DataRecordLine(address, p, int(b.size())));
}

// Intel HEX lines for bytes at address (within one 64 KB segment) in records of recordSize.
inline QStringList hexLines(uint32_t address, const QByteArray& bytes, int recordSize) {
    QStringList lines{QString::fromStdString(praxon::ExtendedLinearAddressLine(address))};
    for (int i = 0; i < bytes.size(); i += recordSize)
        lines << dataLine(address + uint32_t(i), bytes.mid(i, recordSize));
    return lines << ":00000001FF";
}

inline QString writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? path : QString();
}

// Writes the lines with CR LF; returns the path.
inline QString writeLines(const QString& path, const QStringList& lines) {
    return writeFile(path, (lines.join("\r\n") + "\r\n").toLatin1());
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Reads an Intel HEX file (CR LF after every line, the end record last) into an image of size
// bytes from base; returns what is wrong, or empty.
inline QString parseHex(const QString& path, uint32_t base, int size, QByteArray* image,
                        QStringList* lines) {
    *lines = QString::fromLatin1(readFile(path)).split("\r\n");
    if (lines->takeLast() != "") return "the file does not end with CR LF";
    *image = QByteArray(size, char(0xFF));
    praxon::HexRecord r;
    praxon::HexLineError why;
    for (const QString& line : *lines) {
        if (!praxon::ParseHexLine(line.toStdString(), r, &why)) return "bad line " + line;
        const uint32_t at = uint32_t(r.Address) - base;
        if (r.RecType != 0) continue;
        if (at + r.DataLen > uint32_t(size)) return "record outside the flash: " + line;
        image->replace(int(at), r.DataLen, reinterpret_cast<const char*>(r.Data.data()), r.DataLen);
    }
    return lines->value(lines->size() - 1) == ":00000001FF" ? QString() : "no end record last";
}

// actual, with each entry whose expected text ends in "*" replaced by it if it starts with the
// rest: compare the result with expected.
inline QStringList masked(QStringList actual, const QStringList& expected) {
    for (int i = 0; i < std::min(actual.size(), expected.size()); ++i)
        if (expected[i].endsWith('*') && actual[i].startsWith(expected[i].chopped(1)))
            actual[i] = expected[i];
    return actual;
}

}  // namespace rig
