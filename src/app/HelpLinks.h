#pragma once

#include <QString>
#include <QUrl>

namespace praxon {

// Web addresses behind the two pictures, kept bare as the labels show them.
inline const QString kVendorAddress = QStringLiteral("www.st.com");             // Picture1, Label3
inline const QString kDistributorAddress = QStringLiteral("www.example.com");   // Picture2, Label1
inline const QString kTelephoneLabel = QStringLiteral("电话: 0755-0000 0000");  // Label4

// File name of the help document: the compiled help on Windows, an HTML page elsewhere.
QString helpFileName();

// Where the help document lies: beside the program or, after installation, in
// ../share/praxon. Empty when neither holds it.
QString helpFilePath(const QString& programFolder);

// A bare host name as an address the desktop opens in the browser.
QUrl webAddressUrl(const QString& bareAddress);

}  // namespace praxon
