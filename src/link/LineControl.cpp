#include "LineControl.h"

#include <QRegularExpression>

namespace praxon {
namespace {

LineStep lineStep(WiredLine line, bool asserted) {
    LineStep s;
    s.kind = line == WiredLine::Dtr ? LineStep::Dtr : LineStep::Rts;
    s.on = asserted;
    return s;
}

LineStep pause(int ms = kDefaultPauseMs) {
    LineStep s;
    s.kind = LineStep::Pause;
    s.ms = ms;
    return s;
}

QString stepText(const LineStep& step) {
    switch (step.kind) {
        case LineStep::Dtr:
            return step.on ? QStringLiteral("dtr=1") : QStringLiteral("dtr=0");
        case LineStep::Rts:
            return step.on ? QStringLiteral("rts=1") : QStringLiteral("rts=0");
        case LineStep::Break:
            return step.on ? QStringLiteral("brk=1") : QStringLiteral("brk=0");
        case LineStep::Pause:
            return step.ms == kDefaultPauseMs ? QStringLiteral("wait")
                                              : QStringLiteral("wait=%1").arg(step.ms);
    }
    return {};
}

// Parses one part (entry or exit) that starts at 0-based offset `at` of the whole text.
bool parsePart(const QString& part, int at, LineSequence* steps, SequenceError* error) {
    static const QRegularExpression form(
        QStringLiteral("^(dtr|rts|brk)=([01])$|^wait(?:=(\\d{1,5}))?$"));
    if (part.trimmed().isEmpty()) return true;
    int offset = 0;
    for (const QString& raw : part.split(QLatin1Char(','))) {
        const QString token = raw.trimmed().toLower();
        int lead = 0;
        while (lead < raw.size() && raw.at(lead).isSpace()) ++lead;
        if (lead == raw.size()) lead = 0;
        const int position = at + offset + lead + 1;
        offset += int(raw.size()) + 1;
        const auto fail = [&](const QString& message) {
            if (error) *error = {position, message};
            return false;
        };
        if (token.isEmpty()) return fail(QStringLiteral("empty step"));
        const QRegularExpressionMatch m = form.match(token);
        if (!m.hasMatch())
            return fail(QStringLiteral("unknown step \"%1\" (use dtr=0/1, rts=0/1, brk=0/1, "
                                       "wait or wait=MS)")
                            .arg(raw.trimmed()));
        LineStep step;
        if (m.captured(1).isEmpty()) {
            step.kind = LineStep::Pause;
            step.ms = m.captured(3).isEmpty() ? kDefaultPauseMs : m.captured(3).toInt();
            if (step.ms > 10000) return fail(QStringLiteral("a pause is at most 10000 ms"));
        } else {
            const QString line = m.captured(1);
            step.kind = line == QLatin1String("dtr")   ? LineStep::Dtr
                        : line == QLatin1String("rts") ? LineStep::Rts
                                                       : LineStep::Break;
            step.on = m.captured(2) == QLatin1String("1");
        }
        steps->push_back(step);
    }
    return true;
}

}  // namespace

std::optional<BootLines> LinesForWiring(const Wiring& w, QString* error) {
    if (w.reset == WiredLine::None && w.boot0 == WiredLine::None) return std::nullopt;
    if (w.reset == w.boot0) {
        if (error) *error = QStringLiteral("reset and BOOT0 cannot share one line");
        return std::nullopt;
    }
    // Direct: an asserted line pulls its pin low. Through an inverting transistor: the opposite.
    const auto holdReset = [&](bool hold) { return lineStep(w.reset, hold != w.resetInverted); };
    const auto boot0High = [&](bool high) { return lineStep(w.boot0, high == w.boot0Inverted); };
    const bool hasReset = w.reset != WiredLine::None, hasBoot0 = w.boot0 != WiredLine::None;
    BootLines lines;
    if (hasReset) lines.idle.push_back(holdReset(false));
    if (hasBoot0) lines.idle.push_back(boot0High(false));
    for (const bool bootloader : {true, false}) {
        LineSequence& s = bootloader ? lines.entry : lines.exit;
        if (hasBoot0) s.push_back(boot0High(bootloader));
        if (hasReset) {
            s.push_back(holdReset(true));
            s.push_back(pause());
            s.push_back(holdReset(false));
            // The bootloader needs a moment after reset before it listens.
            if (bootloader) s.push_back(pause());
        }
    }
    return lines;
}

std::optional<BootLines> ParseSequence(const QString& text, SequenceError* error) {
    const int colon = int(text.indexOf(QLatin1Char(':')));
    const int second = colon < 0 ? -1 : int(text.indexOf(QLatin1Char(':'), colon + 1));
    if (second >= 0) {
        if (error) *error = {second + 1, QStringLiteral("only one ':' may part entry and exit")};
        return std::nullopt;
    }
    BootLines lines;
    const QString entry = colon < 0 ? text : text.left(colon);
    if (!parsePart(entry, 0, &lines.entry, error)) return std::nullopt;
    if (colon >= 0 && !parsePart(text.mid(colon + 1), colon + 1, &lines.exit, error))
        return std::nullopt;
    return lines;
}

QString SequenceText(const BootLines& lines) {
    QStringList entry, exit;
    for (const LineStep& s : lines.entry) entry << stepText(s);
    for (const LineStep& s : lines.exit) exit << stepText(s);
    return entry.join(QLatin1Char(',')) + QLatin1Char(':') + exit.join(QLatin1Char(','));
}

}  // namespace praxon
