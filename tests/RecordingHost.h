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
    QMap<int, QString> panels;
    QList<QPair<int, QString>> panelHistory;
    praxon::Lamp lamp = praxon::Lamp::Gray;
    QList<praxon::Lamp> lampHistory;
    QStringList messages;  // modal message texts, in order
    praxon::CommandStates commands;
    QList<praxon::CommandStates> commandHistory;
    QStringList progressTexts;
    // Everything in order: "log:<message>", "msg:<text>", "panel<N>:<text>", "lamp:gray|green",
    // "enable:<0/1 for readProtect,readUnprotect,start,erase,go,read>".
    QStringList events;

    // Option values.
    QString port = QStringLiteral("ttyS0");
    QString goAddress = QStringLiteral("08000000");
    QString downloadFile;
    bool erase = true;
    bool verify = false;
    bool protect = false;
    // Dialog answers, taken from the front; an empty queue answers "cancelled".
    QStringList openFileAnswers;
    QStringList saveFileAnswers;
    int openDialogs = 0;
    int saveDialogs = 0;

    // Hooks run after an event was recorded (e.g. to press Stop while a message box is "open").
    std::function<void(const QString&)> onMessage;
    std::function<void(const QString&)> onLog;
    std::function<void(int, const QString&)> onPanel;

    void clearRecords();
    // Messages logged (without time stamps) that contain text.
    bool logged(const QString& message) const { return logMessages.contains(message); }

    void appendLog(const QString& line, bool clearFirst) override;
    void setPanelText(int panel, const QString& text) override;
    void setLamp(praxon::Lamp lamp) override;
    void showMessage(const QString& text) override;
    void enableCommands(const praxon::CommandStates& states) override;
    QString portText() const override { return port; }
    QString goAddressText() const override { return goAddress; }
    QString downloadFileText() const override { return downloadFile; }
    void setDownloadFileText(const QString& path) override { downloadFile = path; }
    bool eraseChecked() const override { return erase; }
    bool verifyChecked() const override { return verify; }
    bool protectChecked() const override { return protect; }
    QString askOpenHexFile() override;
    QString askSaveFile() override;
    void progress(const QString& panelText) override { progressTexts << panelText; }
};
