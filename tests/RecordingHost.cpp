#include "RecordingHost.h"

void RecordingHost::clearRecords() {
    log.clear();
    logLines.clear();
    logMessages.clear();
    logClears.clear();
    panelHistory.clear();
    lampHistory.clear();
    messages.clear();
    commandHistory.clear();
    progressTexts.clear();
    events.clear();
}

void RecordingHost::appendLog(const QString& line, bool clearFirst) {
    if (clearFirst) log.clear();
    log += line + QStringLiteral("\r\n");
    logLines << line;
    const int blank = line.indexOf(QLatin1Char(' '));
    const QString message = blank < 0 ? line : line.mid(blank + 1);
    logMessages << message;
    logClears << clearFirst;
    events << QStringLiteral("log:") + message;
    if (onLog) onLog(message);
}

void RecordingHost::setPanelText(int panel, const QString& text) {
    panels[panel] = text;
    panelHistory << qMakePair(panel, text);
    events << QStringLiteral("panel%1:%2").arg(panel).arg(text);
    if (onPanel) onPanel(panel, text);
}

void RecordingHost::setLamp(praxon::Lamp l) {
    lamp = l;
    lampHistory << l;
    events << (l == praxon::Lamp::Green ? QStringLiteral("lamp:green")
                                        : QStringLiteral("lamp:gray"));
}

void RecordingHost::showMessage(const QString& text) {
    messages << text;
    events << QStringLiteral("msg:") + text;
    if (onMessage) onMessage(text);
}

void RecordingHost::enableCommands(const praxon::CommandStates& s) {
    commands = s;
    commandHistory << s;
    events << QStringLiteral("enable:%1%2%3%4%5%6")
                  .arg(int(s.readProtect))
                  .arg(int(s.readUnprotect))
                  .arg(int(s.start))
                  .arg(int(s.erase))
                  .arg(int(s.go))
                  .arg(int(s.read));
}

QString RecordingHost::askOpenHexFile() {
    ++openDialogs;
    return openFileAnswers.isEmpty() ? QString() : openFileAnswers.takeFirst();
}

QString RecordingHost::askSaveFile() {
    ++saveDialogs;
    return saveFileAnswers.isEmpty() ? QString() : saveFileAnswers.takeFirst();
}
