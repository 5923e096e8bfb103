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

// Intel HEX lines for bytes at address (within one 64 KB segment) in records of recordSize.
inline QStringList hexLines(uint32_t address, const QByteArray& bytes, int recordSize) {
    QStringList lines{QString::fromStdString(praxon::ExtendedLinearAddressLine(address))};
    for (int i = 0; i < bytes.size(); i += recordSize) {
        const QByteArray record = bytes.mid(i, recordSize);
        lines << QString::fromStdString(praxon::DataRecordLine(
            address + uint32_t(i), reinterpret_cast<const uint8_t*>(record.constData()),
            int(record.size())));
    }
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

// actual, with each entry whose expected text ends in "*" replaced by it if it starts with the
// rest: compare the result with expected.
inline QStringList masked(QStringList actual, const QStringList& expected) {
    for (int i = 0; i < std::min(actual.size(), expected.size()); ++i)
        if (expected[i].endsWith('*') && actual[i].startsWith(expected[i].chopped(1)))
            actual[i] = expected[i];
    return actual;
}

}  // namespace rig
