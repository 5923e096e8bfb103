#pragma once

#include <QString>
#include <QUrl>

#include "Language.h"

namespace praxon {

// Web addresses behind the two pictures, kept bare as the labels show them.
inline const QString kVendorAddress = QStringLiteral("www.st.com");            // Picture1, Label3
inline const QString kDistributorAddress = QStringLiteral("www.example.com");  // Picture2, Label1

// File name of the help document in one language: the compiled help on Windows, an HTML page
// elsewhere; the English one carries ".en" before its extension.
QString helpFileName(Language language = Language::Chinese);

// Where the help document of that language lies: beside the program or, after installation, in
// ../share/praxon. Empty when neither holds it.
QString helpFilePath(const QString& programFolder, Language language = Language::Chinese);

// A bare host name as an address the desktop opens in the browser.
QUrl webAddressUrl(const QString& bareAddress);

}  // namespace praxon
