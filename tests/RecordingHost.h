#pragma once

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>

#include "Host.h"

// A Host that records everything the engine reports and answers its questions from fields.
// Shared by the engine, window and command-line tests.
class RecordingHost : public praxon::Host {
public:
    // Log as the window holds it: each line followed by CR LF, emptied when asked.
    QString log;
    QStringList logLines;     // every line as given (time stamp, blank, message)
    QStringList logMessages;  // the same without the time stamp and its blank
    QList<bool> logClears;    // clearFirst of each line
    // Status texts by the window panel that shows them: 2 progress, 4 device, 6 link.
    QMap<int, QString> panels;
    QList<QPair<int, QString>> panelHistory;
    praxon::Lamp lamp = praxon::Lamp::Gray;
    QList<praxon::Lamp> lampHistory;
    QStringList messages;  // modal message texts, in order
    praxon::CommandStates commands;
    QList<praxon::CommandStates> commandHistory;
    QStringList progressTexts;  // every Progress status text
    // Everything in order: "log:<message>", "msg:<text>", "panel<N>:<text>", "lamp:gray|green",
    // "enable:<0/1 for protect,unprotect,program,erase,go,read>".
    QStringList events;

    QList<QPair<qint64, qint64>> progressHistory;  // (done, total) of every progress report

    // Hooks run after an event was recorded (e.g. to press Stop while a message box is "open").
    std::function<void(const QString&)> onMessage;
    std::function<void(const QString&)> onLog;
    std::function<void(int, const QString&)> onPanel;
    std::function<void(qint64, qint64)> onProgress;

    void clearRecords();
    // Messages logged (without time stamps) that contain text.
    bool logged(const QString& message) const { return logMessages.contains(message); }

    void appendLog(const QString& line, bool clearFirst) override;
    void setStatusText(praxon::StatusField field, const QString& text) override;
    void setLamp(praxon::Lamp lamp) override;
    void showMessage(const QString& text) override;
    void enableCommands(const praxon::CommandStates& states) override;
    void progress(qint64 done, qint64 total) override {
        progressHistory << qMakePair(done, total);
        if (onProgress) onProgress(done, total);
    }
};
