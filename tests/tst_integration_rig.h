#pragma once

// End-to-end rig: the engine with the real QSerialPort and a recording host in this (the Qt main)
// thread, the simulated board serving a pseudo-terminal from its own thread.

#include <QTemporaryDir>
#include <memory>

#include "Engine.h"
#include "QtSerialPort.h"
#include "RecordingHost.h"
#include "Simulator.h"

namespace rig {

// An instant board (no line pacing); faults as the simulator's KIND:CMD:K[:STEP], comma separated.
praxon::sim::SimulatorOptions boardOptions(const QString& faults = {});

class Rig {
public:
    explicit Rig(const praxon::sim::SimulatorOptions& options = boardOptions());
    ~Rig();
    // A fresh board on the same port name (a symlink), as after replugging the adapter.
    // Returns why the pty could not be made, or empty.
    QString start(const praxon::sim::SimulatorOptions& options);
    // Connects; the records are cleared so a test sees only what its own operation reported.
    bool connectAndClear();
    praxon::sim::Simulator& board() { return *board_; }
    QByteArray flash(int offset = 0, int size = -1) const;
    void preload(const QByteArray& b) { board_->loadFlash(0, {b.begin(), b.end()}); }

    QTemporaryDir dir;
    RecordingHost host;
    praxon::QtSerialPort port;
    praxon::Engine engine{host, port};
    QString error;  // of the first start

private:
    std::unique_ptr<praxon::sim::Simulator> board_;
};

// Varied bytes (never all 0xFF), repeatable for a seed.
QByteArray pattern(int size, unsigned seed = 1);
// Intel HEX lines for bytes at address: records of recordSize bytes, extended linear address
// records where needed, the end record last.
QStringList hexLines(uint32_t address, const QByteArray& bytes, int recordSize);
// Writes the lines with CR LF; returns the path.
QString writeLines(const QString& path, const QStringList& lines);
QString writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);
// Parses an Intel HEX file independently of the code under test (checksums, CR LF, the end
// record last) into an image of size bytes from base; returns what is wrong, or empty.
QString parseHex(const QString& path, uint32_t base, int size, QByteArray* image,
                 QStringList* lines);
// Compares texts; an expected entry ending in "*" matches any text that starts with the rest.
bool matches(const QStringList& actual, const QStringList& expected, QString* why);

}  // namespace rig

#define RIG_COMPARE_TEXTS(actual, expected)                                      \
    do {                                                                         \
        QString why_;                                                            \
        if (!rig::matches((actual), (expected), &why_)) QFAIL(qPrintable(why_)); \
    } while (0)
