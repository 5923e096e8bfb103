#pragma once

#include <QString>
#include <QtGlobal>

namespace praxon {

// Seconds with the ".00" pattern: two decimals, no digit before the point below one second
// (0.57 s gives ".57", 12.345 s gives "12.35").
QString SecondsText(qint64 nanoseconds);
// Download progress: "完成" + percentage with at least two integer digits ("07.50") + "%.".
QString DownloadProgressText(qint64 charactersRead, qint64 fileSize);
// Upload progress: "已读" + percentage with at least one integer digit ("0.39") + "%.".
QString UploadProgressText(qint64 blocksDone, qint64 blocks);

}  // namespace praxon
