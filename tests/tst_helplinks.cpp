#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "HelpLinks.h"

class TestHelpLinks : public QObject {
    Q_OBJECT
private slots:
    void helpBesideProgram();
    void helpInstalledUnderShare();
    void besideWinsOverShare();
    void noHelpFile();
    void folderWithSurroundingSpaces();
    void webAddress_data();
    void webAddress();
};

namespace {
void touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}
}  // namespace

void TestHelpLinks::helpBesideProgram() {
    QTemporaryDir dir;
    touch(dir.filePath("bin/" + praxon::helpFileName()));
    QCOMPARE(praxon::helpFilePath(dir.filePath("bin")),
             dir.filePath("bin/" + praxon::helpFileName()));
}

void TestHelpLinks::helpInstalledUnderShare() {
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("bin"));
    touch(dir.filePath("share/praxon/" + praxon::helpFileName()));
    QCOMPARE(praxon::helpFilePath(dir.filePath("bin")),
             dir.filePath("share/praxon/" + praxon::helpFileName()));
}

void TestHelpLinks::besideWinsOverShare() {
    QTemporaryDir dir;
    touch(dir.filePath("bin/" + praxon::helpFileName()));
    touch(dir.filePath("share/praxon/" + praxon::helpFileName()));
    QCOMPARE(praxon::helpFilePath(dir.filePath("bin")),
             dir.filePath("bin/" + praxon::helpFileName()));
}

void TestHelpLinks::noHelpFile() {
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("bin"));
    QDir().mkpath(dir.filePath("bin/" + praxon::helpFileName()));  // a folder is not the file
    QCOMPARE(praxon::helpFilePath(dir.filePath("bin")), QString());
}

void TestHelpLinks::folderWithSurroundingSpaces() {
    QTemporaryDir dir;
    touch(dir.filePath(praxon::helpFileName()));
    QCOMPARE(praxon::helpFilePath(QStringLiteral("  ") + dir.path() + QStringLiteral(" ")),
             dir.filePath(praxon::helpFileName()));
}

void TestHelpLinks::webAddress_data() {
    QTest::addColumn<QString>("bare");
    QTest::addColumn<QString>("url");
    QTest::newRow("vendor") << praxon::kVendorAddress << QStringLiteral("http://www.st.com");
    QTest::newRow("distributor") << praxon::kDistributorAddress
                                 << QStringLiteral("http://www.example.com");
    QTest::newRow("blanks") << QStringLiteral(" www.st.com ")
                            << QStringLiteral("http://www.st.com");
    QTest::newRow("scheme kept") << QStringLiteral("https://example.org/a")
                                 << QStringLiteral("https://example.org/a");
}

void TestHelpLinks::webAddress() {
    QFETCH(QString, bare);
    const QUrl url = praxon::webAddressUrl(bare);
    QVERIFY(url.isValid());
    QTEST(url.toString(), "url");
}

QTEST_GUILESS_MAIN(TestHelpLinks)
#include "tst_helplinks.moc"
