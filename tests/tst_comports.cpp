#include <unistd.h>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "ComPorts.h"

using praxon::ListPortMap;
using Entries = std::vector<ListPortMap::Entry>;
Q_DECLARE_METATYPE(Entries)

class TestComPorts : public QObject {
    Q_OBJECT
private slots:
    void stripNulls() {
        QCOMPARE(praxon::StripNulls("COM4" + QString(251, QChar(0))), QStringLiteral("COM4"));
        QCOMPARE(praxon::StripNulls(QStringLiteral("COM1") + QChar(0) + "COM2"), "COM1");
        QCOMPARE(praxon::StripNulls(QChar(0) + QStringLiteral("COM1")), QString());
        QCOMPARE(praxon::StripNulls(QStringLiteral("COM12")), QStringLiteral("COM12"));
    }
    // The window's own table covers order, ten of twelve and an empty map.
    void enumerate_data() {
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<bool>("present");
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("size");  // size of the list handed in, "-" in each
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("names");
        const Entries three = {{"a", "COM1"}, {"b", "COM2"}, {"c", "COM3"}};
        QTest::newRow("unreadable data counted, entry untouched")
            << Entries{{"a", "COM1"}, {"b", "", false}, {"c", "COM5"}} << true << 10 << 3 << 3
            << "COM1,-,COM5";
        QTest::newRow("NULs in name and data cut")
            << Entries{{"a" + QString(254, QChar(0)), "COM7" + QString(251, QChar(0))}} << true
            << 10 << 2 << 1 << "COM7,-";
        QTest::newRow("missing map") << three << false << 10 << 2 << 0 << "-,-";
        QTest::newRow("capacity below one reads one") << three << true << 0 << 2 << 1 << "COM1,-";
        QTest::newRow("short list never overrun") << three << true << 10 << 2 << 3 << "COM1,COM2";
    }
    void enumerate() {
        QFETCH(Entries, entries);
        QFETCH(bool, present);
        QFETCH(int, size);
        ListPortMap map(entries, present);
        QStringList list;
        for (int i = 0; i < size; ++i) list << QStringLiteral("-");
        QFETCH(int, capacity);
        QTEST(int(praxon::EnumComPorts(list, qint16(capacity), map)), "count");
        QTEST(list.join(','), "names");
    }
    // Boards announced by live simulators are listed last, by pid; dead or stale notes are not.
    void simulatedBoards() {
        QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        const QString folder = praxon::simulatedBoardsFolder();
        QCOMPARE(folder, runtime.filePath("praxon-sim"));
        QVERIFY(QDir().mkpath(folder));
        auto write = [](const QString& path, const QByteArray& content) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) >= 0);
        };
        write(runtime.filePath("a"), "");
        write(runtime.filePath("b"), "");
        const QByteArray a = runtime.filePath("a").toUtf8(), b = runtime.filePath("b").toUtf8();
        write(folder + QStringLiteral("/%1.port").arg(getpid()), a + "\nmore\n");
        write(folder + QStringLiteral("/%1.port").arg(getppid()), b);
        write(folder + "/4194312.port", a);  // above the kernel's pid limit: not running
        write(folder + "/1.port", runtime.filePath("gone").toUtf8());
        write(folder + "/notapid.port", a);
        const QStringList expected = getppid() < getpid() ? QStringList{b, a} : QStringList{a, b};
        QCOMPARE(praxon::simulatedBoardPorts(), expected);
        QStringList list;
        for (int i = 0; i < 10; ++i) list << QString();
        const int n = praxon::EnumComPorts(list, 10, *praxon::systemPortMap());
        if (n < 10) QCOMPARE(list.mid(n - 2, 2), expected);
        qunsetenv("XDG_RUNTIME_DIR");
    }
};

QTEST_GUILESS_MAIN(TestComPorts)
#include "tst_comports.moc"
