#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "ComPorts.h"

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
        const QString folder = praxon::simulatedBoardsFolder(), a = runtime.filePath("a");
        QCOMPARE(folder, runtime.filePath("praxon-sim"));  // where praxon-sim leaves its notes
        QVERIFY(QDir().mkpath(folder));
        auto write = [&](const QString& name, const QString& content) {
            QFile f(name.startsWith('/') ? name : folder + '/' + name);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content.toUtf8()) >= 0);
        };
        write(a, "");
        write(QString("%1.port").arg(QCoreApplication::applicationPid()), a + "\nmore\n");
        write("4194312.port", a);  // above the kernel's pid limit: not running
        write("1.port", runtime.filePath("gone"));
        write("notapid.port", a);
        QCOMPARE(praxon::simulatedBoardPorts(), QStringList{a});
        QStringList list(10, QString());
        const int n = praxon::EnumComPorts(list, 10, *praxon::systemPortMap());
        if (n < 10) QCOMPARE(list.mid(n - 1, 1), QStringList{a});
        qunsetenv("XDG_RUNTIME_DIR");
    }
};

QTEST_GUILESS_MAIN(TestComPorts)
#include "tst_comports.moc"
