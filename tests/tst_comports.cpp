#include <QAbstractItemView>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include "ComPorts.h"
#include "MainForm.h"

namespace {
// A source whose list the test changes between listings.
struct ChangingSource : praxon::PortSource {
    std::vector<praxon::PortInfo>* list;
    explicit ChangingSource(std::vector<praxon::PortInfo>* l) : list(l) {}
    std::vector<praxon::PortInfo> ports() override { return *list; }
};
praxon::PortInfo port(const char* name, bool usb = false, bool simulated = false) {
    praxon::PortInfo p;
    p.name = name;
    p.location = simulated ? QString(name) : QString("/dev/") + name;
    p.simulated = simulated;
    if (usb) {
        p.description = "CP2102 USB to UART Bridge Controller";
        p.vendorId = 0x10C4;
        p.productId = 0xEA60;
    }
    return p;
}
}  // namespace

class TestComPorts : public QObject {
    Q_OBJECT
private slots:
    // Names and data are cut at the first NUL; a value whose data cannot be read is counted and
    // leaves its entry; the list handed in is never overrun. The window's own test covers order,
    // ten of twelve and an empty map.
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
    // Boards announced by live simulators are listed last; dead or stale notes are not.
    void simulatedBoards() {
        QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        const QString folder = praxon::simulatedBoardsFolder(), a = runtime.filePath("a"),
                      b = runtime.filePath("b");
        QCOMPARE(folder, runtime.filePath("praxon-sim"));  // where praxon-sim leaves its notes
        QVERIFY(QDir().mkpath(folder));
        auto write = [&](const QString& name, const QString& content) {
            QFile f(name.startsWith('/') ? name : folder + '/' + name);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content.toUtf8()) >= 0);
        };
        write(a, "");
        write(b, "");
        // A simulator serving several boards names each: every one that exists is offered.
        write(QString("%1.port").arg(QCoreApplication::applicationPid()),
              a + "\nmore\n" + b + "\n");
        write("4194312.port", a);  // above the kernel's pid limit: not running
        write("1.port", runtime.filePath("gone"));
        write("notapid.port", a);
        QCOMPARE(praxon::simulatedBoardPorts(), QStringList({a, b}));
        QStringList list(10, QString());
        const int n = praxon::EnumComPorts(list, 10, *praxon::systemPortMap());
        if (n < 10) QCOMPARE(list.mid(n - 2, 2), QStringList({a, b}));
        qunsetenv("XDG_RUNTIME_DIR");
    }
    // The system's map is built on a port source: each listing takes the ports afresh, in the
    // source's order, and keeps what is known of each for the window's list.
    void portSource() {
        std::vector<praxon::PortInfo> ports{port("ttyS0"), port("ttyUSB0", true),
                                            port("/dev/pts/2", false, true)};
        praxon::PortSourceMap map(std::make_unique<ChangingSource>(&ports));
        QStringList names(10, QString());
        QCOMPARE(praxon::EnumComPorts(names, 10, map), 3);
        QCOMPARE(names.mid(0, 3), QStringList({"ttyS0", "ttyUSB0", "/dev/pts/2"}));
        QCOMPARE(
            QStringList({map.details("ttyS0"), map.details("ttyUSB0"), map.details("/dev/pts/2")}),
            QStringList({"", "CP2102 USB to UART Bridge Controller (10c4:ea60)", "praxon-sim"}));
        ports = {port("ttyACM0", true)};  // plugged in, the others gone
        QCOMPARE(praxon::EnumComPorts(names, 10, map), 1);
        QCOMPARE(names.first() + '|' + map.details("ttyACM0") + '|' + map.details("ttyUSB0"),
                 "ttyACM0|CP2102 USB to UART Bridge Controller (10c4:ea60)|");
    }
    // The drop-down shows each port with its details; what the user picks lands in the field
    // as the plain name.
    void portComboBox() {
        praxon::PortComboBox list;
        const QString details = "CP2102 USB to UART Bridge Controller (10c4:ea60)";
        list.showNames({"ttyUSB0", "ttyS0"}, "ttyS0", {details});
        QCOMPARE(QStringList({list.shownText(0), list.shownText(1), list.currentText()}),
                 QStringList({"ttyUSB0  " + details, "ttyS0", "ttyS0"}));
        QVERIFY(list.view()->sizeHintForColumn(0) >
                list.fontMetrics().horizontalAdvance("ttyUSB0  " + details));
        list.setCurrentIndex(0);
        QCOMPARE(list.currentText() + '|' + list.lineEdit()->text(), "ttyUSB0|ttyUSB0");
    }
};

QTEST_MAIN(TestComPorts)
#include "tst_comports.moc"
