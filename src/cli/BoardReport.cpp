#include "BoardReport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QLockFile>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>

#include "SerialNumber.h"

namespace praxon::cli {

namespace {

constexpr int kLockWaitMs = 10000;

QString csvField(const QString& text) {
    if (!text.contains(QRegularExpression("[,\"\r\n]"))) return text;
    return '"' + QString(text).replace('"', "\"\"") + '"';
}

QString serialText(const BoardOutcome& board) {
    return board.serial ? QString::number(qulonglong(*board.serial)) : QString();
}

void reportFailure(EventSink& sink, const QString& path, const QString& why) {
    Event e(EventCode::RecordFailed);
    e.text = path;
    e.detail = why;
    sink.report(e);
}

}  // namespace

QString ResultName(BoardOutcome::Result result) {
    switch (result) {
        case BoardOutcome::Ok:
            return QStringLiteral("ok");
        case BoardOutcome::Failed:
            return QStringLiteral("failed");
        case BoardOutcome::Stopped:
            return QStringLiteral("stopped");
    }
    return {};
}

QString SummaryText(const std::vector<BoardOutcome>& boards) {
    const QStringList heading{"PORT", "CHIP", "UNIQUE ID", "SERIAL", "RESULT", "SECONDS"};
    std::vector<QStringList> rows{heading};
    for (const BoardOutcome& b : boards)
        rows.push_back({b.port, b.chip.isEmpty() ? "-" : b.chip,
                        b.uniqueId.isEmpty() ? "-" : b.uniqueId, b.serial ? serialText(b) : "-",
                        ResultName(b.result), QString::number(b.seconds, 'f', 2)});
    std::vector<qsizetype> widths(heading.size(), 0);
    for (const QStringList& row : rows)
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[size_t(c)] = std::max(widths[size_t(c)], row[c].size());
    QString text;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype c = 0; c < row.size(); ++c)
            line += c + 1 == row.size() ? row[c] : row[c].leftJustified(widths[size_t(c)] + 2);
        text += line + '\n';
    }
    return text;
}

QJsonObject SummaryJson(const std::vector<BoardOutcome>& boards, int exitStatus) {
    QJsonArray list;
    for (const BoardOutcome& b : boards) {
        QJsonObject o;
        o["port"] = b.port;
        o["chip"] = b.chip.isEmpty() ? QJsonValue() : QJsonValue(b.chip);
        o["unique_id"] = b.uniqueId.isEmpty() ? QJsonValue() : QJsonValue(b.uniqueId);
        // A string: JSON numbers lose digits beyond 2^53.
        o["serial"] = b.serial ? QJsonValue(serialText(b)) : QJsonValue();
        o["result"] = ResultName(b.result);
        o["seconds"] = b.seconds;
        list.append(o);
    }
    QJsonObject o;
    o["kind"] = "summary";
    o["ok"] = exitStatus == 0;
    o["exit_status"] = exitStatus;
    o["boards"] = list;
    return o;
}

QString RecordHeader() {
    return QStringLiteral("time,port,chip,unique_id,serial,file,sha256,result");
}

QString RecordLine(const BoardOutcome& board, const QString& file, const QString& sha256) {
    const QStringList fields{board.finished.toUTC().toString(Qt::ISODate),
                             board.port,
                             board.chip,
                             board.uniqueId,
                             serialText(board),
                             file,
                             sha256,
                             ResultName(board.result)};
    QStringList quoted;
    for (const QString& f : fields) quoted << csvField(f);
    return quoted.join(',');
}

bool CheckRecordPath(const QString& path, EventSink& sink) {
    const QFileInfo info(path);
    if (info.isDir()) {
        reportFailure(sink, path, QStringLiteral("a folder"));
        return false;
    }
    if (!QFileInfo(info.absolutePath()).isDir()) {
        reportFailure(sink, path, QStringLiteral("no such folder"));
        return false;
    }
    return true;
}

bool AppendRecord(const QString& path, const std::vector<BoardOutcome>& boards, const QString& file,
                  const QString& sha256, EventSink& sink) {
    QLockFile lock(path + ".lock");
    if (!LockWithin(lock, kLockWaitMs)) {
        reportFailure(sink, path, QStringLiteral("cannot lock %1.lock").arg(path));
        return false;
    }
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Append)) {
        reportFailure(sink, path, out.errorString());
        return false;
    }
    QString text;
    if (out.size() == 0) text = RecordHeader() + '\n';
    for (const BoardOutcome& b : boards) text += RecordLine(b, file, sha256) + '\n';
    const QByteArray bytes = text.toUtf8();
    if (out.write(bytes) != bytes.size() || !out.flush()) {
        reportFailure(sink, path, out.errorString());
        return false;
    }
    return true;
}

QString FileSha256(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) return {};
    return QString::fromLatin1(hash.result().toHex());
}

}  // namespace praxon::cli
