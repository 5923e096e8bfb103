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
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("found");
        const QString h = praxon::helpFileName(), s = "share/praxon/" + h;
        const QString e = praxon::helpFileName(praxon::Language::English), se = "share/praxon/" + e;
        QTest::newRow("installed") << QStringList{s, se, "bin/"} << "bin" << false << s;
        QTest::newRow("beside first, blanks around")
            << QStringList{s, "bin/" + h} << " bin " << false << "bin/" + h;
        QTest::newRow("folder is not the file")
            << QStringList{"bin/" + h + "/"} << "bin" << false << "";
        QTest::newRow("English installed") << QStringList{s, se, "bin/"} << "bin" << true << se;
        QTest::newRow("English beside")
            << QStringList{se, "bin/" + h, "bin/" + e} << "bin" << true << "bin/" + e;
        QTest::newRow("English asked, only Chinese there")
            << QStringList{s, "bin/" + h} << "bin" << true << "";
    }
    void helpFile() {
        QFETCH(QStringList, files);
        QFETCH(QString, programFolder);
        QFETCH(bool, english);
        QFETCH(QString, found);
        QTemporaryDir dir;
        for (const QString& f : files) {
            QDir().mkpath(QFileInfo(dir.filePath(f)).path());
            QFile file(dir.filePath(f));
            QVERIFY(f.endsWith('/') || file.open(QIODevice::WriteOnly));
        }
        const QString folder = programFolder.replace("bin", dir.filePath("bin"));
        const auto language = english ? praxon::Language::English : praxon::Language::Chinese;
        QCOMPARE(praxon::helpFilePath(folder, language),
                 found.isEmpty() ? found : dir.filePath(found));
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
