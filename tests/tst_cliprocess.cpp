// praxon-cli as a process against praxon-sim as a process: exit codes, the exact log lines on
// stdout, the message texts on stderr, reading a file back, and Ctrl+C during a wait.
#include <QDir>
#include <QProcess>
#include <QtTest>
#include <csignal>

#include "tst_integration_rig.h"

namespace {
QString binary(const char* name) {
    return QCoreApplication::applicationDirPath() + '/' + name;
}

// A praxon-sim process; its port comes from its first line, PORT=<path>.
struct SimProcess {
    QProcess process;
    QByteArray output;
    QString port;
    explicit SimProcess(const QStringList& args) {
        process.start(binary("praxon-sim"), args);
        while (!output.contains('\n') && process.waitForReadyRead(5000))
            output += process.readAllStandardOutput();
        if (output.startsWith("PORT=")) port = output.mid(5, output.indexOf('\n') - 5);
    }
    ~SimProcess() { process.terminate(), process.waitForFinished(5000); }  // else killed
};

// Log lines without their time stamps; a line without a proper stamp is marked.
QStringList messagesOf(const QByteArray& out) {
    QStringList lines = QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
    for (QString& l : lines)
        l = QRegularExpression("^\\d\\d:\\d\\d:\\d\\d ").match(l).hasMatch() ? l.mid(9)
                                                                             : "NO STAMP: " + l;
    return lines;
}

const QStringList kConnect{"连接目标板......", "连接成功，准备获取器件信息......",
                           "器件信息为STM32F10x, PID=0410", "FLASH容量为: 64K; RAM容量为: 未知."};
}  // namespace

class TestCliProcess : public QObject {
    Q_OBJECT
private slots:
    void run_data();
    void run();
    void ctrlCDuringRead();
};

void TestCliProcess::run_data() {
    QTest::addColumn<QString>("simArgs");  // empty: no simulator
    QTest::addColumn<QString>("cliArgs");  // PORT, HEX (64 bytes at 0x08000000), OUT replaced
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("err");  // "*" at the end: starts with
    auto row = [](const char* name, const char* sim, const char* cli, int exitCode,
                  const QStringList& log, const QString& err) {
        QTest::newRow(name) << QString(sim) << QString(cli) << exitCode << log << err;
    };
    row("usage error", "", "--port x go zz", 2, {},
        "praxon-cli: invalid address zz: give 1 to 8 hexadecimal digits\n\n"
        "Usage: praxon-cli --port PORT COMMAND*");
    row("info", "--instant", "--port PORT info", 0, kConnect, "");
    row("board silent", "--instant --fault silent:0x7f:1", "--port PORT erase", 1,
        {kConnect[0], "目标板未响应，检查连接情况，请复位后再次连接。"}, "");
    row("program, erase, verify", "--instant", "--port PORT program HEX --erase --verify", 0,
        kConnect +
            QStringList{"开始整片擦除......", "擦除成功。", "开始编程......", "编程成功, 用时共*"},
        "");
    row("program, data refused", "--instant --fault nack:0x31:1:3", "--port PORT program HEX", 1,
        kConnect + QStringList{"开始编程......"}, "传送数据时应答为非ACK，应答值=1F\n下载失败。\n");
    row("read", "--instant --preload HEX", "--port PORT read OUT", 0,
        kConnect + QStringList{"开始读取数据......", "读取完成, 读取时间为:*"}, "");
}

void TestCliProcess::run() {
    QFETCH(QString, simArgs);
    QFETCH(QString, cliArgs);
    QFETCH(int, exitCode);
    QFETCH(QStringList, log);
    QFETCH(QString, err);
    QTemporaryDir dir;
    const QByteArray image = rig::pattern(64);
    const QString hex =
        rig::writeLines(dir.filePath("fw.hex"), rig::hexLines(0x08000000, image, 16));
    const QString out = dir.filePath("out.bin");
    std::unique_ptr<SimProcess> sim;
    auto fill = [&](const QString& args) {
        QStringList list = args.split(' ', Qt::SkipEmptyParts);
        for (QString& a : list)
            a = a == "HEX" ? hex : a == "OUT" ? out : a == "PORT" ? sim->port : a;
        return list;
    };
    if (!simArgs.isEmpty()) sim = std::make_unique<SimProcess>(fill(simArgs));
    if (sim) QVERIFY2(!sim->port.isEmpty(), sim->output.constData());
    QProcess cli;
    cli.start(binary("praxon-cli"), fill(cliArgs));
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1, exitCode);
    QCOMPARE(rig::masked(messagesOf(cli.readAllStandardOutput()), log), log);
    QCOMPARE(rig::masked({QString::fromUtf8(cli.readAllStandardError())}, {err}), QStringList{err});
    if (cliArgs.endsWith("OUT"))
        QCOMPARE(rig::readFile(out), image + QByteArray(65536 - 64, char(0xFF)));
}

void TestCliProcess::ctrlCDuringRead() {
    // At line pace a 64 KB read takes seconds: Ctrl+C lands in one of its waits.
    QTemporaryDir dir;
    SimProcess sim({});
    QVERIFY2(!sim.port.isEmpty(), sim.output.constData());
    const QString out = rig::writeFile(dir.filePath("flash.bin"), "previous image");
    QProcess cli;
    cli.start(binary("praxon-cli"), {"--port", sim.port, "read", out});
    QByteArray stdoutText;
    QTRY_VERIFY_WITH_TIMEOUT((stdoutText += cli.readAllStandardOutput()).contains("开始读取数据"),
                             10000);
    QTest::qWait(300);
    QVERIFY(cli.processId() > 0);  // kill(0) would hit this test's own process group
    ::kill(pid_t(cli.processId()), SIGINT);
    QVERIFY(cli.waitForFinished(5000));
    QCOMPARE(cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1, 1);
    const QStringList log = messagesOf(stdoutText + cli.readAllStandardOutput());
    QCOMPARE(log.last(), QString("读数据失败, 退出从芯片读取数据过程."));
    QCOMPARE(QString::fromUtf8(cli.readAllStandardError()), QString("Stopped.\n"));
    // The previous file is intact and nothing else was left beside it.
    QCOMPARE(rig::readFile(out), QByteArray("previous image"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"flash.bin"});
}

QTEST_GUILESS_MAIN(TestCliProcess)
#include "tst_cliprocess.moc"
