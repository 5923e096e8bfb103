#include "HelpLinks.h"

#include <QDir>
#include <QFileInfo>

namespace praxon {

QString helpFileName() {
#ifdef Q_OS_WIN
    return QStringLiteral("Praxon.chm");
#else
    return QStringLiteral("Praxon.html");
#endif
}

QString helpFilePath(const QString& programFolder) {
    const QDir folder(programFolder.trimmed());
    const QStringList candidates = {
        folder.filePath(helpFileName()),
        folder.filePath(QStringLiteral("../share/praxon/") + helpFileName()),
    };
    for (const QString& candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isFile()) return QDir::cleanPath(info.absoluteFilePath());
    }
    return QString();
}

QUrl webAddressUrl(const QString& bareAddress) {
    const QString address = bareAddress.trimmed();
    if (address.contains(QStringLiteral("://"))) return QUrl(address);
    return QUrl(QStringLiteral("http://") + address);
}

}  // namespace praxon
