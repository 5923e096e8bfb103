#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "HelpLinks.h"

class TestHelpLinks : public QObject {
    Q_OBJECT
private slots:
    void helpFile_data() {
        QTest::addColumn<QStringList>("files");  // created under a fresh folder; "/" ends a folder
        QTest::addColumn<QString>("programFolder");
        QTest::addColumn<QString>("found");
        const QString h = praxon::helpFileName(), s = "share/praxon/" + h;
        QTest::newRow("installed") << QStringList{s, "bin/"} << "bin" << s;
        QTest::newRow("beside first, blanks around") << QStringList{s, "bin/" + h} << " bin "
                                                     << "bin/" + h;
        QTest::newRow("folder is not the file") << QStringList{"bin/" + h + "/"} << "bin"
                                                << "";
    }
    void helpFile() {
        QFETCH(QStringList, files);
        QFETCH(QString, programFolder);
        QFETCH(QString, found);
        QTemporaryDir dir;
        for (const QString& f : files) {
            QDir().mkpath(QFileInfo(dir.filePath(f)).path());
            QFile file(dir.filePath(f));
            QVERIFY(f.endsWith('/') || file.open(QIODevice::WriteOnly));
        }
        const QString folder = programFolder.replace("bin", dir.filePath("bin"));
        QCOMPARE(praxon::helpFilePath(folder), found.isEmpty() ? found : dir.filePath(found));
    }
    // The two links themselves are followed in the window's test.
    void webAddress() {
        QCOMPARE(praxon::webAddressUrl(" www.st.com ").toString(), "http://www.st.com");
        QCOMPARE(praxon::webAddressUrl("https://example.org/a").toString(),
                 "https://example.org/a");
    }
};

QTEST_GUILESS_MAIN(TestHelpLinks)
#include "tst_helplinks.moc"
