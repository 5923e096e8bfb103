#include "RecordingHost.h"

void RecordingHost::clearRecords() {
    log.clear();
    logMessages.clear();
    logClears.clear();
    progressTexts.clear();
    messages.clear();
    progressHistory.clear();
}

void RecordingHost::appendLog(const QString& line, bool clearFirst) {
    if (clearFirst) log.clear();
    log += line + QStringLiteral("\r\n");
    const int blank = line.indexOf(QLatin1Char(' '));
    logMessages << (blank < 0 ? line : line.mid(blank + 1));
    logClears << clearFirst;
}

void RecordingHost::setStatusText(praxon::StatusField field, const QString& text) {
    const int panel = field == praxon::StatusField::Progress ? 2
                      : field == praxon::StatusField::Device ? 4
                                                             : 6;
    if (panel == 2) progressTexts << text;
    panels[panel] = text;
}
