#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "Settings.h"

namespace {
// The values as "FileName|ADD|Erase Check ReadPortect|WriteMode EraseScope BinAddress".
QString flat(const praxon::ConfigValues& v) {
    return v.fileName + '|' + v.goAddress + '|' + QChar('0' + v.erase) + QChar('0' + v.check) +
           QChar('0' + v.readProtect) + '|' + (v.compatibleWrite ? "compatible " : "fast ") +
           (v.erasePagesOnly ? "pages " : "chip ") + QString::number(v.binAddress, 16);
}
}  // namespace

// The window's trimming at exit is in its own test.
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
            << QByteArray("[Config\nADD=1\nJunk=2\n") << "|08000000|100|fast chip 8000000";
        QTest::newRow("empty values; only exactly 1 ticks; options")
            << QByteArray(
                   "[Config]\nADD=\nErase=\"1 \"\nCheck=\nReadPortect=true\n"
                   "WriteMode=compatible\nEraseScope=pages\nBinAddress=800\n")
            << "||000|compatible pages 800";
        QTest::newRow("a list kept as typed; options: only the exact words, 1 to 8 hex digits")
            << QByteArray(
                   "[Config]\nADD=08,00\nWriteMode=Compatible\nEraseScope=page\n"
                   "BinAddress=123456789\n")
            << "|08,00|100|fast chip 8000000";
    }
    // Read as stored; then every key is written, and a damaged file is replaced rather than kept.
    // Odd text round trips through the window's test.
    void readAndWrite() {
        QFETCH(QByteArray, ini);
        QFile file(praxon::configFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ini) == ini.size());
        file.close();
        QTEST(flat(praxon::readConfig()), "values");
        // Changed on disk (one more line), so that the write reads the file anew.
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ini + '\n') == ini.size() + 1);
        file.close();
        praxon::writeConfig({});
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(),
                 "[Config]\nADD=08000000\nBinAddress=08000000\nCheck=0\nErase=1\n"
                 "EraseScope=chip\nFileName=\nReadPortect=0\nWriteMode=fast\n");
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
