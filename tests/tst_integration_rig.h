#pragma once

// End-to-end rig: the engine with the real QSerialPort and a recording host in this (the Qt main)
// thread, the simulated board serving a pseudo-terminal from its own thread.

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "Engine.h"
#include "QtSerialPort.h"
#include "RecordingHost.h"
#include "Simulator.h"

namespace rig {

// Board options: --instant unless timing matters; faults as the simulator's KIND:CMD:K[:STEP]
// texts, separated by commas.
praxon::sim::SimulatorOptions boardOptions(const QString& faults = {}, bool instant = true);

class Rig {
public:
    explicit Rig(const praxon::sim::SimulatorOptions& options);
    ~Rig();

    // Starts the board (false: the pty could not be made; error says why).
    bool start(QString* error);
    // A fresh board on the same port name (a symlink), as after replugging an adapter.
    bool replaceBoard(const praxon::sim::SimulatorOptions& options, QString* error);

    // Connects; true when CHECKCMD_Click succeeded. The records are cleared afterwards, so a
    // test sees only what its own operation reported.
    bool connectAndClear();

    praxon::sim::Simulator& board() { return *board_; }
    QString portPath() const { return linkPath_; }

    QTemporaryDir dir;
    RecordingHost host;
    praxon::QtSerialPort port;
    praxon::Engine engine{host, port};

private:
    praxon::sim::SimulatorOptions options_;
    QString linkPath_;
    std::unique_ptr<praxon::sim::Simulator> board_;
};

// An image of size bytes of varied content (never all 0xFF), repeatable for a seed.
QByteArray pattern(int size, unsigned seed = 1);
// Writes bytes placed at address as an Intel HEX file with records of recordSize bytes (CR LF
// line ends unless lf), with extended linear address records; returns the path or empty.
QString writeHex(const QString& path, uint32_t address, const QByteArray& bytes, int recordSize,
                 bool lf = false);
// Writes HEX lines as given (terminated with CR LF).
QString writeLines(const QString& path, const QStringList& lines);
// A data record line for bytes at the 16-bit offset.
QString dataLine(uint16_t offset, const QByteArray& bytes);
// An extended linear address line for the upper 16 bits.
QString linearLine(uint16_t upper);

// Parses an Intel HEX file independently of the code under test: checks every checksum and
// places data records into an image of size bytes from base (other bytes 0xFF). Records that
// lie outside are an error. Also returns the lines.
bool parseHexFile(const QString& path, uint32_t base, int size, QByteArray* image,
                  QStringList* lines, QString* error);

// The part of a board's flash image from offset, as a QByteArray.
QByteArray flashBytes(const praxon::sim::Simulator& board, int offset = 0, int size = -1);

// Compares texts; an expected entry ending in "*" matches any text that starts with the rest.
bool matches(const QStringList& actual, const QStringList& expected, QString* why);

}  // namespace rig

// QCOMPARE-like check for lists with "*" prefixes.
#define RIG_COMPARE_TEXTS(actual, expected)                                      \
    do {                                                                         \
        QString why_;                                                            \
        if (!rig::matches((actual), (expected), &why_)) QFAIL(qPrintable(why_)); \
    } while (0)
