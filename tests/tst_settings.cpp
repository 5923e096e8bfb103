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
           (v.erasePagesOnly ? "pages " : "chip ") +
           QString::number(v.binAddress, 16).rightJustified(8, '0');
}
}  // namespace

// The window's trimming at exit is in its own test.
class TestSettings : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    void writeRaw(const QByteArray& content) {
        QDir().mkpath(QFileInfo(praxon::configFilePath()).path());
        QFile file(praxon::configFilePath());
        QVERIFY(content.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write(content)));
    }
private slots:
    void initTestCase() {
        QCoreApplication::setOrganizationName(QStringLiteral("Praxon"));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
        // Named after the executable, in the organization's folder.
        QCOMPARE(praxon::configFilePath(), dir_.filePath("Praxon/tst_settings.ini"));
    }
    void init() {
        QDir(praxon::configFilePath()).removeRecursively();
        QFile::remove(praxon::configFilePath());
    }
    void load_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("values");
        const char* d = "|08000000|100|fast chip 08000000";
        QTest::newRow("first run") << QByteArray() << d;
        QTest::newRow("other section ignored") << QByteArray("[Other]\nADD=2\nErase=0\n") << d;
        QTest::newRow("address untrimmed, comma kept")
            << QByteArray("[Config]\nADD=\" 08,00 \"\n") << "| 08,00 |100|fast chip 08000000";
        QTest::newRow("empty values; only exactly 1 ticks")
            << QByteArray("[Config]\nADD=\nErase=\"1 \"\nCheck=\nReadPortect=true\n")
            << "||000|fast chip 08000000";
        QTest::newRow("options")
            << QByteArray("[Config]\nWriteMode=compatible\nEraseScope=pages\nBinAddress=800\n")
            << "|08000000|100|compatible pages 00000800";
        QTest::newRow("options: only the exact words, 1 to 8 hex digits")
            << QByteArray("[Config]\nWriteMode=Compatible\nEraseScope=page\nBinAddress=0x800\n")
            << d;
        QTest::newRow("address: too long") << QByteArray("[Config]\nBinAddress=123456789\n") << d;
        QTest::newRow("address: list, empty")
            << QByteArray("[Config]\nBinAddress=8,1\nWriteMode=\nEraseScope=\n") << d;
        QTest::newRow("damaged: unclosed section") << QByteArray("[Config\nADD=1\nErase=0\n") << d;
        QTest::newRow("damaged: binary") << QByteArray("\xff\xfe\x00\x01\x7f\x80", 6) << d;
    }
    void load() {
        QFETCH(QByteArray, ini);
        writeRaw(ini);
        QTEST(flat(praxon::readConfig()), "values");
    }
    // Every key is written at exit, and a damaged file is replaced rather than kept.
    void writeAndReadBack() {
        for (const QByteArray& before : {QByteArray(), QByteArray("[Config\nADD=1\nJunk=2\n")}) {
            writeRaw(before);
            for (const praxon::ConfigValues& v :
                 {praxon::ConfigValues{"/tmp/a\"b;c=1,d 带.hex", "", false, true, true, true, true,
                                       0x2000F00A},
                  praxon::ConfigValues{}}) {
                praxon::writeConfig(v);
                QCOMPARE(flat(praxon::readConfig()), flat(v));
            }
            QFile raw(praxon::configFilePath());
            QVERIFY(raw.open(QIODevice::ReadOnly));
            QCOMPARE(raw.readAll(),
                     "[Config]\nADD=08000000\nBinAddress=08000000\nCheck=0\nErase=1\n"
                     "EraseScope=chip\nFileName=\nReadPortect=0\nWriteMode=fast\n");
        }
    }
    void folderInPlaceOfFile() {
        QVERIFY(QDir().mkpath(praxon::configFilePath()));
        QCOMPARE(flat(praxon::readConfig()), "|08000000|100|fast chip 08000000");
        praxon::writeConfig({});  // neither crashes nor removes the folder
        QVERIFY(QFileInfo(praxon::configFilePath()).isDir());
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
