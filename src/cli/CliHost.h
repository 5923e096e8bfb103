#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QIODevice>
#include <QJsonObject>
#include <QString>
#include <functional>

#include "Event.h"
#include "Language.h"

namespace praxon::cli {

// What praxon-cli makes of the engine's events on a terminal or in a script.
//  Text: log lines (time stamp, blank, text) go to out, message texts to err, and progress to
//        err only when err is a terminal (one status line, rewritten in place, with the bytes
//        done and the rate). Texts in the chosen language.
//  JSON: one object per line on out for every event, and a closing result object; nothing else
//        goes to out.
class CliHost : public EventSink {
public:
    // clockMs: a monotonic clock in milliseconds for the rate and the duration (default: the
    // process's own).
    CliHost(QIODevice& out, QIODevice& err, bool errIsTerminal,
            std::function<qint64()> clockMs = {});

    void setLanguage(Language language) { language_ = language; }
    Language language() const { return language_; }
    void setJson(bool json) { json_ = json; }
    // For tests: the time of day stamped on log lines and JSON objects.
    void setTimeSource(std::function<QDateTime()> now) { now_ = std::move(now); }

    void report(const Event& event) override;

    // A note of the command line itself (not the engine's), on err.
    void note(const QString& text);
    // The command line's own output (info's summary, devices' list), on out; in JSON mode as
    // an object of kind "text".
    void print(const QString& text);
    // Ends the status line, if one is shown, so the shell prompt starts on a fresh line; in JSON
    // mode writes the result object.
    void finish(bool ok, int exitStatus);

    // The JSON object of one event (without its time).
    static QJsonObject eventObject(const Event& event, Language language);

private:
    void progress(qint64 done, qint64 total);
    void writeOut(const QJsonObject& object);
    void writeErr(const QString& text);
    void clearStatusLine();
    void drawStatusLine();

    QIODevice& out_;
    QIODevice& err_;
    bool errIsTerminal_;
    std::function<qint64()> clockMs_;
    std::function<QDateTime()> now_;
    QElapsedTimer monotonic_;
    Language language_ = Language::Chinese;
    bool json_ = false;
    QString status_;  // the engine's progress text
    QString bytes_;   // what progress() adds to it: bytes and rate
    bool statusShown_ = false;
    // The running operation's progress: where its rate counts from, and the last report.
    qint64 startMs_ = 0, startDone_ = 0, lastDone_ = -1, lastTotal_ = -1;
    // For the result: when the session began and what it achieved.
    qint64 sessionStartMs_ = 0;
    qint64 bytesWritten_ = 0, bytesVerified_ = 0, bytesRead_ = 0;
    std::optional<uint16_t> pid_;
    QString family_;
    int flashKB_ = -1;
    QString uniqueId_;  // hex, from UniqueId
};

// "27648/65536 bytes, 10.8 KB/s"; the rate is left out while no time has passed.
QString ProgressBytesText(qint64 done, qint64 total, qint64 bytes, qint64 milliseconds);

}  // namespace praxon::cli
