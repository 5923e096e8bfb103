#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "HelpLinks.h"
#include "Settings.h"
#include "Translations.h"

namespace {
// The values as "FileName|ADD|Erase Check ReadPortect|WriteMode EraseScope BinAddress|reset
// line, inverted, BOOT0 line, inverted (0 none, 1 DTR, 2 RTS)|Sequence|Baud RunAfterProgram
// FlashKB|Language", then " TurboBaud" when one is set.
QString flat(const praxon::ConfigValues& v) {
    const praxon::Wiring& w = v.wiring;
    return v.fileName + '|' + v.goAddress + '|' + QChar('0' + v.erase) + QChar('0' + v.check) +
           QChar('0' + v.readProtect) + '|' +
           (v.writeMode == praxon::WriteMode::Compatible ? "compatible "
            : v.writeMode == praxon::WriteMode::Turbo    ? "turbo "
                                                         : "fast ") +
           (v.erasePagesOnly ? "pages " : "chip ") + QString::number(v.binAddress, 16) +
           QString::asprintf("|%d%d%d%d|", int(w.reset), w.resetInverted, int(w.boot0),
                             w.boot0Inverted) +
           v.sequence + QString::asprintf("|%d%d %d|", v.baudRate, v.runAfterProgram, v.flashKB) +
           praxon::languageCode(v.language) +
           (v.turboBaudRate ? QString(" %1").arg(v.turboBaudRate) : QString());
}
}  // namespace

// The settings file, and where help is found. The window's trimming at exit is in its own test.
class TestSettings : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
private slots:
    void initTestCase() {
        QCoreApplication::setOrganizationName(QStringLiteral("Praxon"));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
        // Named after the executable, in the organization's folder.
        QCOMPARE(praxon::configFilePath(), dir_.filePath("Praxon/tst_settings.ini"));
        QVERIFY(QDir().mkpath(dir_.filePath("Praxon")));
    }
    void readAndWrite_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("values");
        QTest::newRow("damaged: unclosed section")
            << QByteArray("[Config\nADD=1\nJunk=2\n")
            << "|08000000|100|fast chip 8000000|0000||1152000 0|zh";
        QTest::newRow("empty values; only exactly 1 ticks; options")
            << QByteArray(
                   "[Config]\nADD=\nErase=\"1 \"\nCheck=\nReadPortect=true\n"
                   "WriteMode=compatible\nEraseScope=pages\nBinAddress=800\nResetLine=rts\n"
                   "ResetInverted=1\nBoot0Line=dtr\nSequence=\"dtr=1, wait : rts=1\"\nBaud=921600\n"
                   "RunAfterProgram=1\nFlashKB=65535\nLanguage=en\n")
            << "||000|compatible pages 800|2110|dtr=1, wait : rts=1|9216001 65535|en";
        QTest::newRow("a list kept as typed; only exact words, valid numbers, lines apart")
            << QByteArray(
                   "[Config]\nADD=08,00\nWriteMode=Compatible\nEraseScope=page\n"
                   "BinAddress=123456789\nResetLine=dtr\nBoot0Line=dtr\nSequence=dtr=2\n"
                   "Baud=9600.0\nRunAfterProgram=true\nFlashKB=65536\nLanguage=English\n")
            << "|08,00|100|fast chip 8000000|0000||1152000 0|zh";
        QTest::newRow("turbo with a faster line")
            << QByteArray("[Config]\nWriteMode=turbo\nTurboBaud=2000000\n")
            << "|08000000|100|turbo chip 8000000|0000||1152000 0|zh 2000000";
        QTest::newRow("turbo at a speed the loader is not offered at: the connect speed")
            << QByteArray("[Config]\nWriteMode=turbo\nTurboBaud=3000000\n")
            << "|08000000|100|turbo chip 8000000|0000||1152000 0|zh";
        QTest::newRow("turbo speed, a word")
            << QByteArray("[Config]\nWriteMode=Turbo\nTurboBaud=fast\n")
            << "|08000000|100|fast chip 8000000|0000||1152000 0|zh";
    }
    // Read as stored and written back; every key is written, and a damaged file is replaced
    // rather than kept. Odd text round trips through the window's test.
    void readAndWrite() {
        QFETCH(QByteArray, ini);
        QFile file(praxon::configFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ini) == ini.size());
        file.close();
        const praxon::ConfigValues read = praxon::readConfig();
        QTEST(flat(read), "values");
        // Changed on disk (one more line), so that the write reads the file anew.
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ini + '\n') == ini.size() + 1);
        file.close();
        praxon::writeConfig({});
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(),
                 "[Config]\nADD=08000000\nBaud=115200\nBinAddress=08000000\nBoot0Inverted=0\n"
                 "Boot0Line=none\nCheck=0\nErase=1\nEraseScope=chip\nFileName=\nFlashKB="
                 "\nLanguage=zh\nReadPortect=0\n"
                 "ResetInverted=0\nResetLine=none\nRunAfterProgram=0\nSequence=\nTurboBaud=\n"
                 "WriteMode=fast\n");
        praxon::writeConfig(read);
        QCOMPARE(flat(praxon::readConfig()), flat(read));
    }

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

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
