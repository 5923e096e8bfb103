#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QtTest>

#include "ComPorts.h"

using praxon::EnumComPorts;
using praxon::ListPortMap;
using Entry = ListPortMap::Entry;

Q_DECLARE_METATYPE(std::vector<Entry>)

namespace {

QStringList emptyList(int n) {
    QStringList list;
    for (int i = 0; i < n; ++i) list.append(QString());
    return list;
}

// Counts the calls a caller makes, to see the map is opened and closed.
class CountingMap : public ListPortMap {
public:
    using ListPortMap::ListPortMap;
    bool open() override {
        ++opens;
        return ListPortMap::open();
    }
    void close() override {
        ++closes;
        ListPortMap::close();
    }
    int opens = 0;
    int closes = 0;
};

}  // namespace

class TestComPorts : public QObject {
    Q_OBJECT
private slots:
    void stripNulls_data();
    void stripNulls();
    void enumerate_data();
    void enumerate();
    void missingMapLeavesListUntouched();
    void mapIsClosedAfterReading();
    void capacityBelowOneStillReadsOne();
    void shortListIsNeverOverrun();
    void simulatedBoards();
    void systemMapListsSimulatedBoardsLast();
};

void TestComPorts::stripNulls_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("COM4 and 251 NULs")
        << (QStringLiteral("COM4") + QString(251, QChar(0))) << QStringLiteral("COM4");
    QTest::newRow("no NUL") << QStringLiteral("COM12") << QStringLiteral("COM12");
    QTest::newRow("NUL first") << (QString(QChar(0)) + QStringLiteral("COM1")) << QString();
    QTest::newRow("text after the NUL dropped")
        << (QStringLiteral("COM1") + QChar(0) + QStringLiteral("COM2")) << QStringLiteral("COM1");
    QTest::newRow("empty") << QString() << QString();
}

void TestComPorts::stripNulls() {
    QFETCH(QString, text);
    QTEST(praxon::StripNulls(text), "expected");
}

void TestComPorts::enumerate_data() {
    QTest::addColumn<std::vector<Entry>>("entries");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("two ports in the order enumerated")
        << std::vector<Entry>{{"\\Device\\Serial0", "COM1"}, {"\\Device\\Serial1", "COM3"}} << 10
        << 2 << QStringList{"COM1", "COM3"};
    QTest::newRow("no sorting") << std::vector<Entry>{{"a", "COM3"}, {"b", "COM1"}, {"c", "COM4"}}
                                << 10 << 3 << QStringList{"COM3", "COM1", "COM4"};
    std::vector<Entry> twelve;
    QStringList firstTen;
    for (int i = 0; i < 12; ++i) {
        twelve.push_back(
            {QStringLiteral("\\Device\\Serial%1").arg(i), QStringLiteral("COM%1").arg(i + 1)});
        if (i < 10) firstTen.append(QStringLiteral("COM%1").arg(i + 1));
    }
    QTest::newRow("twelve values, capacity 10") << twelve << 10 << 10 << firstTen;
    QTest::newRow("unreadable data is counted, entry empty")
        << std::vector<Entry>{{"a", "COM1"}, {"b", "", false}, {"c", "COM5"}} << 10 << 3
        << QStringList{"COM1", "", "COM5"};
    QTest::newRow("NULs in name and data are cut")
        << std::vector<Entry>{{QStringLiteral("a") + QString(254, QChar(0)),
                               QStringLiteral("COM7") + QString(251, QChar(0))}}
        << 10 << 1 << QStringList{"COM7"};
    QTest::newRow("duplicates kept") << std::vector<Entry>{{"a", "COM2"}, {"b", "COM2"}} << 10 << 2
                                     << QStringList{"COM2", "COM2"};
    QTest::newRow("empty map") << std::vector<Entry>{} << 10 << 0 << QStringList{};
}

void TestComPorts::enumerate() {
    QFETCH(std::vector<Entry>, entries);
    QFETCH(int, capacity);
    QFETCH(QStringList, names);
    ListPortMap map(entries);
    QStringList list = emptyList(capacity);
    const qint16 cap = qint16(capacity);
    QTEST(int(EnumComPorts(list, cap, map)), "count");
    QStringList expected = names;
    while (expected.size() < capacity) expected.append(QString());
    QCOMPARE(list, expected);
}

void TestComPorts::missingMapLeavesListUntouched() {
    ListPortMap map({{"a", "COM1"}}, /*present=*/false);
    QStringList list = emptyList(10);
    list[0] = QStringLiteral("keep");
    QCOMPARE(int(EnumComPorts(list, 10, map)), 0);
    QCOMPARE(list.at(0), QStringLiteral("keep"));
}

void TestComPorts::mapIsClosedAfterReading() {
    CountingMap map(std::vector<Entry>{{"a", "COM1"}});
    QStringList list = emptyList(10);
    EnumComPorts(list, 10, map);
    QCOMPARE(map.opens, 1);
    QCOMPARE(map.closes, 1);
}

void TestComPorts::capacityBelowOneStillReadsOne() {
    ListPortMap map({{"a", "COM1"}, {"b", "COM2"}});
    QStringList list = emptyList(1);
    QCOMPARE(int(EnumComPorts(list, 0, map)), 1);
    QCOMPARE(list, QStringList{"COM1"});
}

void TestComPorts::shortListIsNeverOverrun() {
    ListPortMap map({{"a", "COM1"}, {"b", "COM2"}, {"c", "COM3"}});
    QStringList list = emptyList(2);
    QCOMPARE(int(EnumComPorts(list, 10, map)), 3);
    QCOMPARE(list, (QStringList{"COM1", "COM2"}));
}

void TestComPorts::simulatedBoards() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile target(dir.filePath(QStringLiteral("pty-a")));
    QVERIFY(target.open(QIODevice::WriteOnly));
    target.close();
    QFile other(dir.filePath(QStringLiteral("pty-b")));
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.close();
    auto announce = [&](const QString& file, const QByteArray& content) {
        QFile f(dir.filePath(file));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    };
    const QByteArray self = QByteArray::number(qint64(getpid()));
    const QByteArray parent = QByteArray::number(qint64(getppid()));
    // A pid that cannot be running: above the kernel's limit.
    announce(QStringLiteral("%1.port").arg(4194305 + 7), dir.filePath("pty-a").toUtf8() + "\n");
    announce(QString::fromLatin1(self) + ".port", dir.filePath("pty-a").toUtf8() + "\nmore\n");
    announce(QString::fromLatin1(parent) + ".port", dir.filePath("pty-b").toUtf8());
    announce(QStringLiteral("1.port"), dir.filePath("gone").toUtf8() + "\n");  // path missing
    announce(QStringLiteral("notapid.port"), dir.filePath("pty-a").toUtf8());
    announce(QStringLiteral("12.txt"), dir.filePath("pty-a").toUtf8());

    QStringList expected;
    if (getppid() < getpid())
        expected = {dir.filePath("pty-b"), dir.filePath("pty-a")};
    else
        expected = {dir.filePath("pty-a"), dir.filePath("pty-b")};
    QCOMPARE(praxon::simulatedBoardPorts(dir.path()), expected);
    QCOMPARE(praxon::simulatedBoardPorts(dir.filePath("absent")), QStringList());
}

void TestComPorts::systemMapListsSimulatedBoardsLast() {
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    QCOMPARE(praxon::simulatedBoardsFolder(), runtime.filePath("praxon-sim"));
    QVERIFY(QDir().mkpath(praxon::simulatedBoardsFolder()));
    QFile port(runtime.filePath("board"));
    QVERIFY(port.open(QIODevice::WriteOnly));
    port.close();
    QFile note(praxon::simulatedBoardsFolder() + QStringLiteral("/%1.port").arg(getpid()));
    QVERIFY(note.open(QIODevice::WriteOnly));
    note.write(runtime.filePath("board").toUtf8() + "\n");
    note.close();

    if (QSerialPortInfo::availablePorts().size() >= 10)
        QSKIP("ten or more real ports fill the list");
    auto map = praxon::systemPortMap();
    QStringList list = emptyList(10);
    const int n = EnumComPorts(list, 10, *map);
    QVERIFY(n >= 1);
    QCOMPARE(list.at(n - 1), runtime.filePath("board"));
    for (int i = 0; i + 1 < n - 1; ++i) QVERIFY(list.at(i) <= list.at(i + 1));  // real ports sorted
    qunsetenv("XDG_RUNTIME_DIR");
}

QTEST_GUILESS_MAIN(TestComPorts)
#include "tst_comports.moc"
