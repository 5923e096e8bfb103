// The settings file, where help is found, and the port list: the system's ports, the drop-down.
// Trimming at exit: the window's own test.
#include <QDir>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "ComPorts.h"
#include "HelpLinks.h"
#include "MainForm.h"
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

// A source whose list the test changes between listings.
struct ChangingSource : praxon::PortSource {
    std::vector<praxon::PortInfo>* list;
    explicit ChangingSource(std::vector<praxon::PortInfo>* l) : list(l) {}
    std::vector<praxon::PortInfo> ports() override { return *list; }
};
const QString kCp2102 = "CP2102 USB to UART Bridge Controller";
const praxon::PortInfo kUsb{"ttyUSB0", "/dev/ttyUSB0", kCp2102, "", 0x10C4, 0xEA60, "", false};
}  // namespace

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
                   "Baud=9600.0\nRunAfterProgram=true\nFlashKB=65536\nLanguage=English\n"
                   "TurboBaud=3000000\n")  // a speed the loader is not offered at
            << "|08,00|100|fast chip 8000000|0000||1152000 0|zh";
        QTest::newRow("turbo with a faster line")
            << QByteArray("[Config]\nWriteMode=turbo\nTurboBaud=2000000\n")
            << "|08000000|100|turbo chip 8000000|0000||1152000 0|zh 2000000";
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

    // Help is found beside the program first, else where it is installed; a folder named like
    // the file is not it; English asked and not there: none.
    void helpFile() {
        const QString h = praxon::helpFileName(), s = "share/praxon/" + h;
        const QString se = "share/praxon/" + praxon::helpFileName(praxon::Language::English);
        // The help for a program in bin/ among files made under a fresh folder ("/" ends a
        // folder), relative to that folder.
        const auto found = [](const QStringList& files, QString program, bool english) {
            QTemporaryDir dir;
            for (const QString& f : files) {
                QDir().mkpath(QFileInfo(dir.filePath(f)).path());
                QFile file(dir.filePath(f));
                if (!f.endsWith('/') && !file.open(QIODevice::WriteOnly)) return "not made: " + f;
            }
            const auto language = english ? praxon::Language::English : praxon::Language::Chinese;
            return praxon::helpFilePath(program.replace("bin", dir.filePath("bin")), language)
                .remove(dir.path() + '/');
        };
        QCOMPARE(found({s, se, "bin/"}, "bin", true), se);
        QCOMPARE(found({s, "bin/" + h}, " bin ", false), "bin/" + h);  // blanks around the folder
        QCOMPARE(found({"bin/" + h + "/"}, "bin", false), QString());
        QCOMPARE(found({s, "bin/" + h}, "bin", true), QString());
    }
    // Names and data are cut at the first NUL; a value whose data cannot be read is counted and
    // leaves its entry; the list handed in is never overrun.
    void enumerate() {
        const QString nuls(251, QChar(0));
        praxon::ListPortMap map({{"a" + nuls, "COM7" + nuls + "COM8"},
                                 {"b", "", false},
                                 {"c", nuls + "COM9"},
                                 {"d", "COM4"}});
        QStringList list(3, QStringLiteral("-"));
        QCOMPARE(praxon::EnumComPorts(list, 10, map), 4);
        QCOMPARE(list, QStringList({"COM7", "-", ""}));
    }
    // The system's map is built on a port source: each listing takes the ports afresh, in the
    // source's order, with what is known of each; the drop-down shows those details, and what
    // the user picks lands in the field as the plain name.
    void portSource() {
        std::vector<praxon::PortInfo> ports{{"ttyS0", "/dev/ttyS0", "", "", {}, {}, "", false},
                                            kUsb,
                                            {"/dev/pts/2", "/dev/pts/2", "", "", {}, {}, "", true}};
        praxon::PortSourceMap map(std::make_unique<ChangingSource>(&ports));
        QStringList names(10, QString()), details;
        QCOMPARE(praxon::EnumComPorts(names, 10, map), 3);
        for (const QString& name : names.mid(0, 3)) details << map.details(name);
        praxon::PortComboBox list;
        list.showNames(names.mid(0, 3), "ttyS0", details);
        const QString usb = "ttyUSB0  " + kCp2102 + " (10c4:ea60)";
        QCOMPARE(QStringList({list.shownText(0), list.shownText(1), list.shownText(2)}),
                 QStringList({"ttyS0", usb, "/dev/pts/2  praxon-sim"}));
        list.setCurrentIndex(1);
        QCOMPARE(list.currentText() + '|' + list.lineEdit()->text(), "ttyUSB0|ttyUSB0");
        ports = {kUsb};
        ports[0].name = "ttyACM0";  // plugged in again under another name, the others gone
        QCOMPARE(praxon::EnumComPorts(names, 10, map), 1);
        QCOMPARE(names.first() + '|' + map.details("ttyACM0") + '|' + map.details("ttyUSB0"),
                 "ttyACM0|" + kCp2102 + " (10c4:ea60)|");
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
