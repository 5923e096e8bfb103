#include "RecordingHost.h"

using namespace praxon;

void RecordingHost::clearRecords() {
    events.clear();
    logMessages.clear();
    messages.clear();
    progressHistory.clear();
}

void RecordingHost::report(const Event& event) {
    events << event;
    if (event.code == EventCode::Progress) progressHistory << qMakePair(event.done, event.total);
    const LinkChange change = LinkChangeOf(event);
    if (change.lamp) lamp = *change.lamp;
    if (change.commands) commands = *change.commands;
    if (onEvent) onEvent(event);
    for (const Shown& shown : Render(event, Language::Chinese)) {
        if (shown.how == Presentation::Log) logMessages << shown.text;
        if (shown.how == Presentation::Message) messages << shown.text;
    }
}

Event RecordingHost::last(EventCode code) const {
    for (auto it = events.rbegin(); it != events.rend(); ++it)
        if (it->code == code) return *it;
    return Event();
}

bool RecordingHost::has(EventCode code) const {
    for (const Event& e : events)
        if (e.code == code) return true;
    return false;
}

QStringList Described(const QList<Event>& events, bool withReasons) {
    QStringList list;
    for (const Event& e : events) {
        if (e.code == EventCode::OperationBegun || e.code == EventCode::OperationEnded ||
            e.code == EventCode::Progress)
            continue;
        QString text = EventName(e.code);
        if (e.address)
            text += QStringLiteral("@%1").arg(*e.address, 8, 16, QLatin1Char('0')).toUpper();
        if (withReasons && e.step != Step::None) text += ' ' + StepName(e.step);
        if (withReasons && e.reply) text += ' ' + ReplyName(*e.reply);
        if (withReasons && e.actual) text += QString::asprintf("=%02X", *e.actual);
        list << text;
    }
    return list;
}
