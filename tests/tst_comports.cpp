#include <unistd.h>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "ComPorts.h"

using Entries = std::vector<praxon::ListPortMap::Entry>;
Q_DECLARE_METATYPE(Entries)

class TestComPorts : public QObject {
    Q_OBJECT
private slots:
    // The window's own table covers order, ten of twelve and an empty map.
    void enumerate_data() {
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<bool>("present");
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("size");  // size of the list handed in, "-" in each
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("names");
        const Entries three = {{"a", "COM1"}, {"b", "COM2"}, {"c", "COM3"}};
        const QString nuls(251, QChar(0));
        QTest::newRow("unreadable data counted, entry untouched")
            << Entries{{"a", "COM1"}, {"b", "", false}, {"c", "COM5"}} << true << 10 << 3 << 3
            << "COM1,-,COM5";
        QTest::newRow("cut at the first NUL in name and data")
            << Entries{{"a" + nuls, "COM7" + nuls + "COM8"}, {"b", QChar(0) + QString("COM9")}}
            << true << 10 << 3 << 2 << "COM7,,-";
        QTest::newRow("missing map") << three << false << 10 << 2 << 0 << "-,-";
        QTest::newRow("capacity below one reads one") << three << true << 0 << 2 << 1 << "COM1,-";
        QTest::newRow("short list never overrun") << three << true << 10 << 2 << 3 << "COM1,COM2";
    }
    void enumerate() {
        QFETCH(Entries, entries);
        QFETCH(bool, present);
        QFETCH(int, capacity);
        QFETCH(int, size);
        praxon::ListPortMap map(entries, present);
        QStringList list(size, QStringLiteral("-"));
        QTEST(int(praxon::EnumComPorts(list, qint16(capacity), map)), "count");
        QTEST(list.join(','), "names");
    }
    // Boards announced by live simulators are listed last; dead or stale notes are not.
    void simulatedBoards() {
        QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        const QString folder = praxon::simulatedBoardsFolder();
        QCOMPARE(folder, runtime.filePath("praxon-sim"));
        QVERIFY(QDir().mkpath(folder));
        const QString a = runtime.filePath("a");
        auto write = [&](const QString& name, const QString& content) {
            QFile f(name.startsWith('/') ? name : folder + '/' + name);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content.toUtf8()) >= 0);
        };
        write(a, "");
        write(QString("%1.port").arg(getpid()), a + "\nmore\n");
        write("4194312.port", a);  // above the kernel's pid limit: not running
        write("1.port", runtime.filePath("gone"));
        write("notapid.port", a);
        const QStringList expected{a};
        QCOMPARE(praxon::simulatedBoardPorts(), expected);
        QStringList list(10, QString());
        const int n = praxon::EnumComPorts(list, 10, *praxon::systemPortMap());
        if (n < 10) QCOMPARE(list.mid(n - 1, 1), expected);
        qunsetenv("XDG_RUNTIME_DIR");
    }
};

QTEST_GUILESS_MAIN(TestComPorts)
#include "tst_comports.moc"
