#include "Format.h"

namespace praxon {

QString SecondsText(qint64 nanoseconds) {
    QString s = QString::number(double(nanoseconds) / 1e9, 'f', 2);
    if (s.startsWith(QLatin1String("0."))) s.remove(0, 1);
    return s;
}

QString DownloadProgressText(qint64 charactersRead, qint64 fileSize) {
    const double percent = fileSize > 0 ? 100.0 * double(charactersRead) / double(fileSize) : 0.0;
    return QStringLiteral("完成") + QString::asprintf("%05.2f", percent) + QStringLiteral("%.");
}

QString UploadProgressText(qint64 blocksDone, qint64 blocks) {
    const double percent = blocks > 0 ? 100.0 * double(blocksDone) / double(blocks) : 0.0;
    return QStringLiteral("已读") + QString::number(percent, 'f', 2) + QStringLiteral("%.");
}

}  // namespace praxon
