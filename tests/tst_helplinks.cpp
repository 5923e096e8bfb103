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
        QTest::newRow("beside") << QStringList{"bin/" + h} << "bin"
                                << "bin/" + h;
        QTest::newRow("installed") << QStringList{s, "bin/"} << "bin" << s;
        QTest::newRow("beside first") << QStringList{s, "bin/" + h} << "bin"
                                      << "bin/" + h;
        QTest::newRow("folder is not the file") << QStringList{"bin/" + h + "/"} << "bin"
                                                << "";
        QTest::newRow("blanks around") << QStringList{"bin/" + h} << " bin "
                                       << "bin/" + h;
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
    void webAddress_data() {
        QTest::addColumn<QString>("bare");
        QTest::addColumn<QString>("url");
        QTest::newRow("vendor") << praxon::kVendorAddress << "http://www.st.com";
        QTest::newRow("distributor") << praxon::kDistributorAddress << "http://www.example.com";
        QTest::newRow("blanks") << " www.st.com "
                                << "http://www.st.com";
        QTest::newRow("scheme kept") << "https://example.org/a"
                                     << "https://example.org/a";
    }
    void webAddress() {
        QFETCH(QString, bare);
        QTEST(praxon::webAddressUrl(bare).toString(), "url");
    }
};

QTEST_GUILESS_MAIN(TestHelpLinks)
#include "tst_helplinks.moc"
