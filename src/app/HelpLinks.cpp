#include "HelpLinks.h"

#include <QDir>
#include <QFileInfo>

namespace praxon {

QString helpFileName(Language language) {
    const QString name =
        language == Language::English ? QStringLiteral("Praxon.en") : QStringLiteral("Praxon");
#ifdef Q_OS_WIN
    return name + QStringLiteral(".chm");
#else
    return name + QStringLiteral(".html");
#endif
}

QString helpFilePath(const QString& programFolder, Language language) {
    const QDir folder(programFolder.trimmed());
    const QStringList candidates = {
        folder.filePath(helpFileName(language)),
        folder.filePath(QStringLiteral("../share/praxon/") + helpFileName(language)),
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
