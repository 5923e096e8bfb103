#pragma once

#include <QElapsedTimer>
#include <QIODevice>
#include <QString>
#include <functional>

#include "Host.h"

namespace praxon::cli {

// The engine's host on a terminal or in a script: log lines go to out exactly as the window's
// log holds them, message texts to err, and progress to err only when err is a terminal (one
// status line, rewritten in place, with the bytes done and the rate).
class CliHost : public Host {
public:
    // clockMs: a monotonic clock in milliseconds for the rate (default: the process's own).
    CliHost(QIODevice& out, QIODevice& err, bool errIsTerminal,
            std::function<qint64()> clockMs = {});

    void appendLog(const QString& line, bool clearFirst) override;
    void setStatusText(StatusField field, const QString& text) override;
    void setLamp(Lamp lamp) override;
    void showMessage(const QString& text) override;
    void enableCommands(const CommandStates& states) override;
    void progress(qint64 done, qint64 total) override;

    // A note of the command line itself (not the engine's), on err.
    void note(const QString& text);
    // The command line's own output (info's summary, devices' list), on out.
    void print(const QString& text);
    // Ends the status line, if one is shown, so the shell prompt starts on a fresh line.
    void finish();

    const CommandStates& commandStates() const { return states_; }

private:
    void writeErr(const QString& text);
    void clearStatusLine();
    void drawStatusLine();

    QIODevice& out_;
    QIODevice& err_;
    bool errIsTerminal_;
    std::function<qint64()> clockMs_;
    QElapsedTimer monotonic_;
    QString status_;  // the engine's progress text
    QString bytes_;   // what progress() adds to it: bytes and rate
    bool statusShown_ = false;
    // The running operation's progress: where its rate counts from, and the last report.
    qint64 startMs_ = 0, startDone_ = 0, lastDone_ = -1, lastTotal_ = -1;
    CommandStates states_;
};

// "27648/65536 bytes, 10.8 KB/s"; the rate is left out while no time has passed.
QString ProgressBytesText(qint64 done, qint64 total, qint64 bytes, qint64 milliseconds);

}  // namespace praxon::cli
