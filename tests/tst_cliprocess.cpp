// praxon-cli as a process against praxon-sim as a process: exit codes, the exact log lines on
// stdout, the message texts on stderr, what the board's flash holds afterwards and what went over
// the line (the simulator's dump and counters), files read back, and Ctrl+C during a wait.
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
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
    // Stops it so it writes its --dump and --counters files.
    bool stop() { return process.terminate(), process.waitForFinished(5000); }
    ~SimProcess() { stop(); }  // else killed
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
const QStringList kProgram{"开始编程......", "编程成功, 用时共*"};
const QStringList kEraseAll{"开始整片擦除......", "擦除成功。"};
const QStringList kErase2Pages{"开始擦除2页......", "擦除成功。"};
const QStringList kRead{"开始读取数据......", "读取完成, 读取时间为:*"};

// The test files: a 64-byte HEX image at 0x08000000, a 1000-byte binary, a HEX file broken in its
// last data record, and 64 KB of flash contents to preload.
const QByteArray kHexImage = rig::pattern(64), kBinImage = rig::pattern(1000, 2),
                 kFlash = rig::pattern(65536, 3), kBlank(65536, char(0xFF));

// kHexImage's records with a data digit of the last one changed: its checksum no longer fits.
QStringList badHexLines() {
    QStringList lines = rig::hexLines(0x08000000, kHexImage, 16);
    QString& last = lines[lines.size() - 2];
    last[9] = last[9] == '0' ? '1' : '0';
    return lines;
}

QByteArray put(QByteArray flash, int at, const QByteArray& bytes) {
    return flash.replace(at, bytes.size(), bytes);
}
}  // namespace

class TestCliProcess : public QObject {
    Q_OBJECT
private slots:
    void run_data();
    void run();
    void ctrlCDuringRead();
};

void TestCliProcess::run_data() {
    // Arguments: PORT, HEX, BIN, BAD, PRE (the files above) and OUT.<suffix> (a file to read
    // into) are replaced.
    QTest::addColumn<QString>("simArgs");  // empty: no simulator
    QTest::addColumn<QString>("cliArgs");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("err");       // "*" at the end: starts with
    QTest::addColumn<QByteArray>("flash");  // the board's flash afterwards; empty: not checked
    QTest::addColumn<QString>("counters");  // "name=value ..." of the simulator's counters
    QTest::addColumn<QByteArray>("out");    // what OUT holds (a HEX file: the bytes it gives)
    QTest::addColumn<uint>("outAddress");   // where a HEX OUT starts
    auto row = [](const char* name, const char* sim, const char* cli, int exitCode,
                  const QStringList& log, const QString& err, const QByteArray& flash = {},
                  const char* counters = "", const QByteArray& out = {}, uint outAddress = 0) {
        QTest::newRow(name) << QString(sim) << QString(cli) << exitCode << log << err << flash
                            << QString(counters) << out << outAddress;
    };
    const QByteArray hexFlash = put(kBlank, 0, kHexImage), binFlash = put(kBlank, 0xA00, kBinImage);
    row("usage error", "", "--port x read OUT.bin --size 4KB", 2, {},
        "praxon-cli: --address and --size go together\n\nUsage: praxon-cli --port PORT*");
    row("info", "--instant", "--port PORT info", 0, kConnect, "");
    row("board silent", "--instant --fault silent:0x7f:1", "--port PORT erase", 1,
        {kConnect[0], "目标板未响应，检查连接情况，请复位后再次连接。"}, "");
    row("HEX, erase, verify", "--instant", "--port PORT program HEX --erase --verify", 0,
        kConnect + kEraseAll + kProgram, "", hexFlash, "mass_erases=1");
    row("HEX, erase, verify, compatible", "--instant",
        "--port PORT --compatible program HEX --erase --verify", 0, kConnect + kEraseAll + kProgram,
        "", hexFlash, "mass_erases=1");
    row("binary, verify", "--instant", "--port PORT program BIN --address 08000A00 --verify", 0,
        kConnect + kProgram, "", binFlash, "mass_erases=0 page_erases=0");
    row("binary, verify, compatible", "--instant",
        "--port PORT program BIN --address 0x8000A00 --verify --compatible", 0, kConnect + kProgram,
        "", binFlash);
    // The image covers 0x08000A00-0x08000DE7: pages 2 and 3 are erased, the others keep theirs.
    row("binary, erase=pages", "--instant --preload PRE",
        "--port PORT program BIN --address 08000A00 --erase=pages --verify", 0,
        kConnect + kErase2Pages + kProgram, "",
        put(put(kFlash, 0x800, QByteArray(2048, char(0xFF))), 0xA00, kBinImage),
        "mass_erases=0 page_erases=2");
    row("binary, erase all", "--instant --preload PRE",
        "--port PORT program BIN --address 08000A00 --erase", 0, kConnect + kEraseAll + kProgram,
        "", binFlash, "mass_erases=1 page_erases=0");
    row("data refused", "--instant --fault nack:0x31:1:3", "--port PORT program HEX", 1,
        kConnect + QStringList{"开始编程......", "写入08000000失败: *"},
        "传送数据时应答为非ACK，应答值=1F\n下载失败。\n");
    // The file is read completely before connecting: its last record is wrong, nothing is sent.
    const QString badLine = badHexLines().at(4);
    row("bad HEX", "--instant --preload PRE", "--port PORT program BAD --erase", 1, {},
        "校验和不正确，您给的串是：" + badLine + "\nHEX数据有误，下载失败！" + badLine +
            "\n下载失败。\n",
        kFlash, "syncs=0 commands=0 bytes_in=0");
    row("read all", "--instant --preload PRE", "--port PORT read OUT.bin", 0, kConnect + kRead, "",
        kFlash, "", kFlash);
    row("read range, binary", "--instant --preload PRE",
        "--port PORT read OUT.bin --address 08000100 --size 0x300", 0, kConnect + kRead, "", {},
        "read_bytes=772", kFlash.mid(0x100, 0x300));  // with the size register
    row("read range, HEX", "--instant --preload PRE",
        "--port PORT read OUT.Hex --address 08000FF0 --size 100", 0, kConnect + kRead, "", {}, "",
        kFlash.mid(0xFF0, 100), 0x08000FF0u);
    row("erase range", "--instant --preload PRE", "--port PORT erase --address 08000500 --size 1K",
        0, kConnect + kErase2Pages, "", put(kFlash, 0x400, QByteArray(2048, char(0xFF))),
        "mass_erases=0 page_erases=2");
}

void TestCliProcess::run() {
    QFETCH(QString, simArgs);
    QFETCH(QString, cliArgs);
    QFETCH(int, exitCode);
    QFETCH(QStringList, log);
    QFETCH(QString, err);
    QFETCH(QByteArray, flash);
    QFETCH(QString, counters);
    QFETCH(QByteArray, out);
    QFETCH(uint, outAddress);
    QTemporaryDir dir;
    const QMap<QString, QString> files{
        {"HEX", rig::writeLines(dir.filePath("fw.hex"), rig::hexLines(0x08000000, kHexImage, 16))},
        {"BAD", rig::writeLines(dir.filePath("bad.hex"), badHexLines())},
        {"BIN", rig::writeFile(dir.filePath("fw.bin"), kBinImage)},
        {"PRE", rig::writeFile(dir.filePath("flash.bin"), kFlash)},
    };
    QString outPath;
    std::unique_ptr<SimProcess> sim;
    auto fill = [&](const QString& args) {
        QStringList list = args.split(' ', Qt::SkipEmptyParts);
        for (QString& a : list) {
            if (a.startsWith("OUT.")) a = outPath = dir.filePath("out" + a.mid(3));
            a = a == "PORT" ? sim->port : files.value(a, a);
        }
        return list;
    };
    const QString dump = dir.filePath("dump.bin"), countersPath = dir.filePath("counters.json");
    if (!simArgs.isEmpty()) {
        sim = std::make_unique<SimProcess>(fill(simArgs) +
                                           QStringList{"--dump", dump, "--counters", countersPath});
        QVERIFY2(!sim->port.isEmpty(), sim->output.constData());
    }
    QProcess cli;
    cli.start(binary("praxon-cli"), fill(cliArgs));
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1, exitCode);
    QCOMPARE(rig::masked(messagesOf(cli.readAllStandardOutput()), log), log);
    QCOMPARE(rig::masked({QString::fromUtf8(cli.readAllStandardError())}, {err}), QStringList{err});

    if (!sim) return;
    QVERIFY(sim->stop());
    if (!flash.isEmpty()) QVERIFY(rig::readFile(dump) == flash);
    const QJsonObject json = QJsonDocument::fromJson(rig::readFile(countersPath)).object();
    QVERIFY(!json.isEmpty());
    for (const QString& pair : counters.split(' ', Qt::SkipEmptyParts))
        QCOMPARE(pair.section('=', 0, 0) + '=' +
                     QString::number(json.value(pair.section('=', 0, 0)).toInteger(-1)),
                 pair);
    if (out.isEmpty()) return;
    if (outPath.endsWith("hex", Qt::CaseInsensitive)) {
        QByteArray image;
        QStringList lines;
        const QString why = rig::parseHex(outPath, outAddress, int(out.size()), &image, &lines);
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QVERIFY(image == out);
    } else {
        QVERIFY(rig::readFile(outPath) == out);
    }
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
