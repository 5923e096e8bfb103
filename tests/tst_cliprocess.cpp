// praxon-cli as a process against praxon-sim as a process: exit codes, the exact log lines on
// standard output, message texts on standard error, programming and reading back, and Ctrl+C.
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

#include "tst_integration_rig.h"

namespace {

QString binary(const char* name) {
    return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

// A praxon-sim process; its port is parsed from its first line.
class SimProcess {
public:
    explicit SimProcess(const QStringList& args) {
        process.setProgram(binary("praxon-sim"));
        process.setArguments(args);
        process.start();
        QElapsedTimer clock;
        clock.start();
        while (port.isEmpty() && clock.elapsed() < 5000) {
            if (!process.waitForReadyRead(200) && process.state() != QProcess::Running) break;
            output += process.readAllStandardOutput();
            const auto m = QRegularExpression("^PORT=(\\S+)$", QRegularExpression::MultilineOption)
                               .match(QString::fromUtf8(output));
            if (m.hasMatch()) port = m.captured(1);
        }
    }
    ~SimProcess() {
        if (process.state() == QProcess::Running && process.processId() > 0) {
            ::kill(pid_t(process.processId()), SIGTERM);
            if (!process.waitForFinished(5000)) process.kill();
        }
        process.waitForFinished(5000);
    }
    // Reset with BOOT0 high: the next praxon-cli finds the bootloader waiting for 0x7F.
    void reset() {
        if (process.processId() <= 0) return;
        ::kill(pid_t(process.processId()), SIGUSR1);
        QTest::qWait(100);
    }
    QProcess process;
    QByteArray output;
    QString port;
};

struct CliResult {
    int exitCode = -1;
    QStringList out;  // stdout lines
    QString err;
};

// Log lines without their time stamps; fails the check if a line lacks a proper stamp.
QStringList messagesOf(const QStringList& lines) {
    static const QRegularExpression stamp("^\\d\\d:\\d\\d:\\d\\d (.*)$");
    QStringList result;
    for (const QString& line : lines) {
        const auto m = stamp.match(line);
        result << (m.hasMatch() ? m.captured(1) : "NO TIME STAMP: " + line);
    }
    return result;
}

CliResult runCli(const QStringList& args) {
    QProcess p;
    p.start(binary("praxon-cli"), args);
    CliResult r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    r.out = out.split('\n');
    if (r.out.last().isEmpty()) r.out.removeLast();
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

const QStringList kConnect{"连接目标板......", "连接成功，准备获取器件信息......",
                           "器件信息为STM32F10x, PID=0410", "FLASH容量为: 64K; RAM容量为: 未知."};

}  // namespace

class TestCliProcess : public QObject {
    Q_OBJECT
private slots:
    void usage_data();
    void usage();
    void commands_data();
    void commands();
    void programThenReadBack();
    void ctrlCDuringRead();
    void ctrlCDuringConnect();
};

void TestCliProcess::usage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outPart");
    QTest::addColumn<QString>("errPart");

    QTest::newRow("help") << QStringList{"--help"} << 0 << "Exit status"
                          << "";
    QTest::newRow("nothing") << QStringList{} << 2 << ""
                             << "Usage: praxon-cli";
    QTest::newRow("no port") << QStringList{"info"} << 2 << ""
                             << "--port is required";
    QTest::newRow("bad command") << QStringList{"--port", "x", "burn"} << 2 << ""
                                 << "unknown command burn";
    QTest::newRow("program without file") << QStringList{"--port", "x", "program"} << 2 << ""
                                          << "program needs a FILE";
    QTest::newRow("bad Go address") << QStringList{"--port", "x", "go", "zz"} << 2 << ""
                                    << "invalid address";
}

void TestCliProcess::usage() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, outPart);
    QFETCH(QString, errPart);
    const CliResult r = runCli(args);
    QCOMPARE(r.exitCode, exitCode);
    if (outPart.isEmpty())
        QVERIFY(r.out.isEmpty());
    else
        QVERIFY(r.out.join('\n').contains(outPart));
    if (errPart.isEmpty()) {
        QVERIFY(r.err.isEmpty());
    } else {
        QVERIFY2(r.err.contains(errPart), qPrintable(r.err));
        QVERIFY(r.err.contains("Usage: praxon-cli --port PORT COMMAND"));
    }
}

void TestCliProcess::commands_data() {
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("cliArgs");  // after --port PORT
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("err");

    const QStringList instant{"--instant"};
    QTest::newRow("info") << instant << QStringList{"info"} << 0 << kConnect << "";
    QTest::newRow("info, four-byte Get ID")
        << QStringList{"--instant", "--getid", "four", "--ram-field", "0x14"} << QStringList{"info"}
        << 0
        << QStringList{kConnect[0], kConnect[1], "器件信息为STM32F10x, PID=04100000",
                       "FLASH容量为: 64K; RAM容量为: 20K."}
        << "";
    QTest::newRow("board silent") << QStringList{"--instant", "--fault", "silent:0x7f:1"}
                                  << QStringList{"erase"} << 1
                                  << QStringList{kConnect[0],
                                                 "目标板未响应，检查连接情况，请复位后再次连接。"}
                                  << "";
    QTest::newRow("erase") << instant << QStringList{"erase"} << 0
                           << kConnect + QStringList{"开始整片擦除......", "擦除成功。"} << "";
    QTest::newRow("erase refused")
        << QStringList{"--instant", "--fault", "nack:0x43:1"} << QStringList{"erase"} << 1
        << kConnect + QStringList{"擦除失败，请清除读保护......"} << "";
    QTest::newRow("go default") << instant << QStringList{"go"} << 0
                                << kConnect + QStringList{"已运行。"} << "";
    QTest::newRow("protect") << instant << QStringList{"protect"} << 0
                             << kConnect + QStringList{"置读保护成功, 复位目标板后才能有效。"}
                             << "";
    QTest::newRow("unprotect refused")
        << QStringList{"--instant", "--fault", "nack:0x92:1"} << QStringList{"unprotect"} << 1
        << kConnect + QStringList{"清读保护失败."} << "";
    QTest::newRow("program a missing file")
        << instant << QStringList{"program", "/nonexistent/fw.hex"} << 1 << kConnect
        << "指定的文件不存在，请重新打开。\n下载失败。\n";
    QTest::newRow("program refused data")
        << QStringList{"--instant", "--fault", "nack:0x31:1:3"} << QStringList{"program", "EXAMPLE"}
        << 1 << kConnect + QStringList{"开始编程......"}
        << "传送数据时应答为非ACK，应答值=1F\n下载失败。\n";
}

void TestCliProcess::commands() {
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, cliArgs);
    QFETCH(int, exitCode);
    QFETCH(QStringList, log);
    QFETCH(QString, err);

    SimProcess sim(simArgs);
    QVERIFY2(!sim.port.isEmpty(), sim.output.constData());
    QTemporaryDir dir;
    if (cliArgs.contains("EXAMPLE"))
        cliArgs.replace(cliArgs.indexOf("EXAMPLE"),
                        rig::writeHex(dir.filePath("fw.hex"), 0x08000000, rig::pattern(64), 16));
    const CliResult r = runCli(QStringList{"--port", sim.port} + cliArgs);
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(messagesOf(r.out), log);
    // A missing file is refused by the engine's own check, with its message and no download.
    if (err.contains("不存在"))
        QCOMPARE(r.err, QString("指定的文件不存在，请重新打开。\n"));
    else
        QCOMPARE(r.err, err);
}

void TestCliProcess::programThenReadBack() {
    QTemporaryDir dir;
    const QByteArray image = rig::pattern(4096, 21);
    const QString hex = rig::writeHex(dir.filePath("fw.hex"), 0x08000000, image, 16);
    const QString dump = dir.filePath("dump.bin");
    SimProcess sim({"--instant", "--preload", hex, "--dump", dump, "--flash-kb", "16"});
    QVERIFY(!sim.port.isEmpty());

    CliResult r = runCli({"--port", sim.port, "program", hex, "--erase", "--verify"});
    QCOMPARE(r.exitCode, 0);
    RIG_COMPARE_TEXTS(
        messagesOf(r.out).mid(4),
        (QStringList{"开始整片擦除......", "擦除成功。", "开始编程......", "编程成功, 用时共*"}));
    QCOMPARE(r.err, QString());

    for (const char* name : {"back.hex", "back.bin"}) {
        sim.reset();
        const QString out = dir.filePath(name);
        r = runCli({"--port", sim.port, "read", out});
        QCOMPARE(r.exitCode, 0);
        RIG_COMPARE_TEXTS(messagesOf(r.out).mid(4),
                          (QStringList{"开始读取数据......", "读取完成, 读取时间为:*"}));
        QByteArray back;
        if (QByteArray(name).endsWith("hex")) {
            QStringList lines;
            QString error;
            QVERIFY2(rig::parseHexFile(out, 0x08000000, 16384, &back, &lines, &error),
                     qPrintable(error));
        } else {
            QFile f(out);
            QVERIFY(f.open(QIODevice::ReadOnly));
            back = f.readAll();
        }
        QCOMPARE(back.size(), 16384);
        QCOMPARE(back.left(image.size()), image);
        QCOMPARE(back.mid(image.size()), QByteArray(16384 - image.size(), char(0xFF)));
    }
}

void TestCliProcess::ctrlCDuringRead() {
    // At line pace a 64 KB read takes several seconds: Ctrl+C lands in one of its waits.
    QTemporaryDir dir;
    SimProcess sim({});
    QVERIFY(!sim.port.isEmpty());
    const QString out = dir.filePath("flash.bin");
    {
        QFile f(out);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("previous image");
    }
    QProcess cli;
    cli.start(binary("praxon-cli"), {"--port", sim.port, "read", out});
    QVERIFY(cli.waitForStarted());
    QByteArray stdoutText;
    QElapsedTimer clock;
    clock.start();
    while (!stdoutText.contains("开始读取数据") && clock.elapsed() < 10000) {
        cli.waitForReadyRead(100);
        stdoutText += cli.readAllStandardOutput();
    }
    QVERIFY2(stdoutText.contains("开始读取数据"), stdoutText.constData());
    QTest::qWait(300);
    QVERIFY(cli.processId() > 0);  // kill(0) would hit this test's own process group
    ::kill(pid_t(cli.processId()), SIGINT);
    QVERIFY(cli.waitForFinished(5000));
    stdoutText += cli.readAllStandardOutput();
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 1);
    const QStringList log =
        messagesOf(QString::fromUtf8(stdoutText).split('\n', Qt::SkipEmptyParts));
    QCOMPARE(log.last(), QString("读数据失败, 退出从芯片读取数据过程."));
    QVERIFY(!log.contains("读取完成, 读取时间为:"));
    QVERIFY(QString::fromUtf8(cli.readAllStandardError()).contains("Stopped."));
    // The previous file is intact and nothing else was left beside it.
    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("previous image"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"flash.bin"});
}

void TestCliProcess::ctrlCDuringConnect() {
    // Stopped while Get ID waits on a silent board: the connect ends, the erase never starts.
    SimProcess sim({"--fault", "late:0x02:1"});
    QVERIFY(!sim.port.isEmpty());
    QProcess cli;
    cli.start(binary("praxon-cli"), {"--port", sim.port, "erase"});
    QVERIFY(cli.waitForStarted());
    QByteArray stdoutText;
    QElapsedTimer clock;
    clock.start();
    while (!stdoutText.contains("连接成功") && clock.elapsed() < 10000) {
        cli.waitForReadyRead(50);
        stdoutText += cli.readAllStandardOutput();
    }
    QVERIFY2(stdoutText.contains("连接成功"), stdoutText.constData());
    QVERIFY(cli.processId() > 0);
    ::kill(pid_t(cli.processId()), SIGINT);
    QVERIFY(cli.waitForFinished(5000));
    stdoutText += cli.readAllStandardOutput();
    QCOMPARE(cli.exitCode(), 1);
    QVERIFY2(!stdoutText.contains("开始整片擦除"), stdoutText.constData());
    QVERIFY(QString::fromUtf8(cli.readAllStandardError()).contains("Stopped."));
    QTest::qWait(100);
    QVERIFY(!sim.process.readAllStandardOutput().contains("mass"));
}

QTEST_GUILESS_MAIN(TestCliProcess)
#include "tst_cliprocess.moc"
