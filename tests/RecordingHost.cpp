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
    progressHistory.clear();
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

void RecordingHost::setStatusText(praxon::StatusField field, const QString& text) {
    const int panel = field == praxon::StatusField::Progress ? 2
                      : field == praxon::StatusField::Device ? 4
                                                             : 6;
    if (panel == 2) progressTexts << text;
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
                  .arg(int(s.protect))
                  .arg(int(s.unprotect))
                  .arg(int(s.program))
                  .arg(int(s.erase))
                  .arg(int(s.go))
                  .arg(int(s.read));
}

