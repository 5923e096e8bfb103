#pragma once

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>

#include "Host.h"

// A Host that records everything the engine reports. Shared by the link, engine and end-to-end
// tests.
class RecordingHost : public praxon::Host {
public:
    // Log as the window holds it: each line followed by CR LF, emptied when asked.
    QString log;
    QStringList logMessages;  // every line without the time stamp and its blank
    QList<bool> logClears;    // clearFirst of each line
    // Status texts by the window panel that shows them: 2 progress, 4 device, 6 link.
    QMap<int, QString> panels;
    QStringList progressTexts;  // every Progress status text
    praxon::Lamp lamp = praxon::Lamp::Gray;
    QStringList messages;  // modal message texts, in order
    praxon::CommandStates commands;
    QList<QPair<qint64, qint64>> progressHistory;  // (done, total) of every progress report

    void clearRecords();

    void appendLog(const QString& line, bool clearFirst) override;
    void setStatusText(praxon::StatusField field, const QString& text) override;
    void setLamp(praxon::Lamp l) override { lamp = l; }
    void showMessage(const QString& text) override { messages << text; }
    void enableCommands(const praxon::CommandStates& states) override { commands = states; }
    void progress(qint64 done, qint64 total) override { progressHistory << qMakePair(done, total); }
};
