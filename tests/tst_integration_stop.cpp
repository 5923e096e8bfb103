// Stop pressed while each kind of wait is waiting on the simulated board, and the 0.5 s limit of
// the waits, through a real pseudo-terminal. Bounds are generous: they only tell "ended at
// Stop" from "ran into the 0.5 s limit" and "waited the limit" from "gave up early".
#include <QTimer>
#include <QtTest>

#include "tst_integration_rig.h"

using rig::Rig;

namespace {

bool runOperation(Rig& r, const QString& operation) {
    if (operation == "connect") return r.engine.CHECKCMD_Click();
    if (operation == "program" || operation == "verify") return r.engine.CmdStart_Click();
    if (operation == "read") return r.engine.CmdRead_Click();
    if (operation == "erase") return r.engine.Command_ER_Click();
    if (operation == "go") return r.engine.Command_GO_Click();
    if (operation == "protect") return r.engine.CmdReadProtect_Click();
    if (operation == "unprotect") return r.engine.CmdReadUnProtect_Click();
    qFatal("unknown operation");
}

void prepare(Rig& r, const QString& operation) {
    r.host.downloadFile =
        rig::writeHex(r.dir.filePath("fw.hex"), 0x08000000, rig::pattern(64, 1), 16);
    r.host.verify = operation == "verify";
    r.host.saveFileAnswers << r.dir.filePath("out.bin");
}

}  // namespace

class TestIntegrationStop : public QObject {
    Q_OBJECT
private slots:
    void stopDuringWait_data();
    void stopDuringWait();
    void stopWhileIdleReachesNoWait();
    void limits_data();
    void limits();
};

void TestIntegrationStop::stopDuringWait_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("faults");
    QTest::addColumn<QStringList>("log");  // after the operation's first lines
    QTest::addColumn<QStringList>("messages");

    const QStringList failed{"下载失败。"};
    QTest::newRow("command wait (Write Memory)")
        << "program"
        << "silent:0x31:2:1" << QStringList{"开始编程......"} << failed;
    QTest::newRow("address wait (Write Memory)")
        << "program"
        << "silent:0x31:2:2" << QStringList{"开始编程......"} << failed;
    QTest::newRow("data frame wait")
        << "program"
        << "silent:0x31:2:3" << QStringList{"开始编程......"} << failed;
    QTest::newRow("verify command wait")
        << "verify"
        << "silent:0x11:3:1" << QStringList{"开始编程......", "下发送命令失败"} << failed;
    QTest::newRow("verify data wait")
        << "verify"
        << "short:0x11:3:3" << QStringList{"开始编程......", "超时."} << failed;
    QTest::newRow("read command wait") << "read"
                                       << "silent:0x11:3:1"
                                       << QStringList{"开始读取数据......", "下发读命令失败。",
                                                      "读数据失败, 退出从芯片读取数据过程."}
                                       << QStringList();
    QTest::newRow("read address wait") << "read"
                                       << "silent:0x11:3:2"
                                       << QStringList{"开始读取数据......", "下发地址命令失败。",
                                                      "读数据失败, 退出从芯片读取数据过程."}
                                       << QStringList();
    QTest::newRow("read count wait") << "read"
                                     << "silent:0x11:3:3"
                                     << QStringList{"开始读取数据......", "下发读个数失败。",
                                                    "读数据失败, 退出从芯片读取数据过程."}
                                     << QStringList();
    QTest::newRow("read data wait") << "read"
                                    << "short:0x11:3:3"
                                    << QStringList{"开始读取数据......", "读存储器内容超时.",
                                                   "读数据失败, 退出从芯片读取数据过程."}
                                    << QStringList();
    QTest::newRow("erase code wait")
        << "erase"
        << "silent:0x43:1:2" << QStringList{"开始整片擦除......", "擦除失败，请清除读保护......"}
        << QStringList();
    QTest::newRow("Go command wait")
        << "go"
        << "silent:0x21:1:1" << QStringList{"目标板无响应。"} << QStringList();
    QTest::newRow("protect wait") << "protect"
                                  << "silent:0x82:1:1,silent:0x82:1:2"
                                  << QStringList{"置读保护失败。"} << QStringList();
    QTest::newRow("unprotect wait")
        << "unprotect"
        << "silent:0x92:1:1,silent:0x92:1:2" << QStringList{"清读保护失败."} << QStringList();
}

void TestIntegrationStop::stopDuringWait() {
    QFETCH(QString, operation);
    QFETCH(QString, faults);
    QFETCH(QStringList, log);
    QFETCH(QStringList, messages);

    Rig r(rig::boardOptions(faults));
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    prepare(r, operation);
    QVERIFY(r.connectAndClear());

    QElapsedTimer clock;
    qint64 stoppedAt = -1;
    QTimer stop;
    stop.setSingleShot(true);
    QObject::connect(&stop, &QTimer::timeout, [&] {
        stoppedAt = clock.elapsed();
        r.engine.CmdStop_Click();
    });
    // The faulty step comes within milliseconds (instant board); Stop finds it waiting.
    stop.start(150);
    clock.start();
    QVERIFY(!runOperation(r, operation));
    const qint64 endedAt = clock.elapsed();
    QVERIFY2(stoppedAt >= 0, "Stop never fired during the operation");
    // Ended by Stop, well before the 0.5 s limit of the wait it interrupted.
    QVERIFY2(endedAt - stoppedAt < 300,
             qPrintable(QString("stopped at %1 ms, ended at %2 ms").arg(stoppedAt).arg(endedAt)));
    RIG_COMPARE_TEXTS(r.host.logMessages, log);
    RIG_COMPARE_TEXTS(r.host.messages, messages);
    // Stop marks the link as not connected.
    QVERIFY(!r.host.commands.start);
    QCOMPARE(r.host.panels.value(6), QString("未连接"));
    QVERIFY(!r.engine.busy());
    QVERIFY(!QFile::exists(r.dir.filePath("out.bin")));
}

void TestIntegrationStop::stopWhileIdleReachesNoWait() {
    // Stop between operations only disconnects; the next operation starts cleanly.
    Rig r(rig::boardOptions());
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    QVERIFY(r.connectAndClear());
    r.engine.CmdStop_Click();
    QVERIFY(!r.host.commands.start);
    QVERIFY(r.engine.Command_ER_Click());
    QCOMPARE(r.host.logMessages, (QStringList{"开始整片擦除......", "擦除成功。"}));
}

void TestIntegrationStop::limits_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("faults");
    QTest::addColumn<int>("waits");  // waits that run into their limit

    QTest::newRow("synchronisation") << "connect"
                                     << "silent:0x7f:1" << 1;
    QTest::newRow("command frame (erase)") << "erase"
                                           << "silent:0x43:1:1" << 1;
    QTest::newRow("erase code") << "erase"
                                << "silent:0x43:1:2" << 1;
    QTest::newRow("address frame") << "read"
                                   << "silent:0x11:2:2" << 1;
    QTest::newRow("read count") << "read"
                                << "silent:0x11:2:3" << 1;
    QTest::newRow("read data") << "read"
                               << "short:0x11:2:3" << 1;
    QTest::newRow("write data frame") << "program"
                                      << "silent:0x31:1:3" << 1;
    QTest::newRow("verify data") << "verify"
                                 << "short:0x11:2:3" << 1;
}

void TestIntegrationStop::limits() {
    QFETCH(QString, operation);
    QFETCH(QString, faults);
    QFETCH(int, waits);

    Rig r(rig::boardOptions(faults));
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    prepare(r, operation);
    if (operation != "connect") QVERIFY(r.connectAndClear());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!runOperation(r, operation));
    const qint64 ms = clock.elapsed();
    // Never gives up before the limit; ends soon after it.
    QVERIFY2(ms >= 500 * waits, qPrintable(QString::number(ms)));
    QVERIFY2(ms < 500 * waits + 1500, qPrintable(QString::number(ms)));
}

QTEST_GUILESS_MAIN(TestIntegrationStop)
#include "tst_integration_stop.moc"
