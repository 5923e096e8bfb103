// praxon-cli as a process against praxon-sim as a process: exit codes, the log lines on stdout,
// whole sessions in each language and as JSON lines, the message texts on stderr, what the board's
// flash holds afterwards and what went over the line (the simulator's dump and counters), files
// read back, Ctrl+C during a wait, and a board whose reset and BOOT0 the adapter's lines drive.
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>
#include <csignal>

#include "tst_integration_rig.h"

namespace {
// A 64-byte HEX image at 0x08000000, a 1000-byte binary, and 64 KB of flash contents to preload.
const QByteArray kHexImage = rig::pattern(64), kBinImage = rig::pattern(1000, 2),
                 kFlash = rig::pattern(65536, 3);
// A HEX file whose second data record has a wrong checksum (DE would be right).
const QString kBadLine = ":0400040005060708DD";
const QStringList kBadHex{":020000040800F2", ":0400000001020304F2", kBadLine, ":00000001FF"};

QByteArray put(QByteArray flash, int at, const QByteArray& bytes) {
    return flash.replace(at, bytes.size(), bytes);
}

QString bin() {
    return QCoreApplication::applicationDirPath();
}

// Starts praxon-sim; the port of its first line, empty when it did not start.
QString startSim(QProcess& sim, const QStringList& args) {
    sim.start(bin() + "/praxon-sim", args);
    while (!sim.canReadLine() && sim.waitForReadyRead(10000)) continue;
    return QString(sim.readLine()).trimmed().mid(5);  // PORT=<path>
}

// The words arguments use for files written in dir, and for the port: HEX and BIN (the images
// above), BAD (the HEX file with a wrong checksum), ELF (the example program's ELF file under a
// name that says binary: its content decides) and PORT.
QMap<QString, QString> argumentFiles(const QTemporaryDir& dir, const QString& port) {
    return {
        {"HEX", rig::writeLines(dir.filePath("fw.hex"), rig::hexLines(0x08000000, kHexImage, 16))},
        {"BAD", rig::writeLines(dir.filePath("bad.hex"), kBadHex)},
        {"BIN", rig::writeFile(dir.filePath("fw.bin"), kBinImage)},
        {"ELF",
         rig::writeFile(dir.filePath("elf.bin"), rig::readFile(PRAXON_EXAMPLES "/elf/blink.elf"))},
        {"PORT", port},
    };
}

// praxon-cli against a fresh simulated board; returns the exit code, *output gets stdout and
// stderr. The words of argumentFiles() and DIR in the arguments are replaced.
int session(const QString& simArgs, const QString& cliArgs, QString* output) {
    QTemporaryDir dir;
    QProcess sim;
    const QString port =
        startSim(sim, QStringList{"--instant"} + simArgs.split(' ', Qt::SkipEmptyParts));
    if (port.isEmpty()) return -2;
    const QMap<QString, QString> files = argumentFiles(dir, port);
    QStringList args = cliArgs.split(' ');
    for (QString& a : args) a = files.value(a, a).replace("DIR", dir.path());
    QProcess cli;
    cli.start(bin() + "/praxon-cli", args);
    const bool finished = cli.waitForFinished(60000);
    *output = QString::fromUtf8(cli.readAllStandardOutput() + cli.readAllStandardError());
    sim.kill(), sim.waitForFinished(5000);
    return finished && cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
}
}  // namespace

class TestCliProcess : public QObject {
    Q_OBJECT
private slots:

    void run_data() {
        // Arguments: PORT, HEX, BIN, BAD (the files above) and OUT.<suffix> (a file to read into,
        // holding "previous image" before) are replaced. The board starts with kFlash.
        QTest::addColumn<QString>("cliArgs");
        QTest::addColumn<bool>("ctrlC");  // at line pace, once the read started
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("lastLog");  // how the log's last message starts; empty: no log
        QTest::addColumn<QString>("err");      // "*" at the end: starts with
        // What OUT holds after a successful command (the flash must stay as it was), else the
        // board's flash afterwards.
        QTest::addColumn<QByteArray>("bytes");
        auto row = [](const char* name, const char* cli, int exitCode, const char* lastLog,
                      const QString& err, const QByteArray& bytes, bool ctrlC = false) {
            QTest::newRow(name) << QString(cli) << ctrlC << exitCode << QString(lastLog) << err
                                << bytes;
        };
        row("usage error", "--port x read OUT.bin --size 4KB", 2, "",
            "praxon-cli: --address and --size go together\n\n用法：praxon-cli --port 串口*",
            kFlash);
        // The image covers 0x08000A00-0x08000DE7: pages 2 and 3 are erased, the others keep theirs.
        row("binary, erase=pages",
            "--port PORT program BIN --address 08000A00 --erase=pages --verify", 0, "编程成功", "",
            put(put(kFlash, 0x800, QByteArray(2048, char(0xFF))), 0xA00, kBinImage));
        // The file is read completely before connecting: its last record is wrong, nothing is sent.
        // The bytes objcopy wrote as Intel HEX from the same ELF file: 0x94 bytes at 0x08000000.
        QByteArray blink;
        for (QString line : QString(rig::readFile(PRAXON_EXAMPLES "/elf/blink.hex")).split('\n')) {
            line = line.trimmed();
            if (line.mid(7, 2) == "00")
                blink += QByteArray::fromHex(line.mid(9, line.size() - 11).toLatin1());
        }
        QCOMPARE(blink.size(), 0x94);
        row("ELF, erase, verify", "--port PORT program ELF --erase --verify", 0, "编程成功", "",
            put(QByteArray(65536, char(0xFF)), 0, blink));
        row("bad HEX", "--port PORT program BAD --erase", 1, "",
            QString("校验和不正确，您给的串是：%1\nHEX数据有误，下载失败！%1\n下载失败。\n")
                .arg(kBadLine),
            kFlash);
        row("read range, binary", "--port PORT read OUT.bin --address 08000100 --size 0x300", 0,
            "读取完成", "", kFlash.mid(0x100, 0x300));
        const QStringList hexOut = rig::hexLines(0x08001000, kFlash.mid(0x1000, 100), 64);
        row("read range, HEX, compatible",
            "--port PORT --compatible read OUT.Hex --address 08001000 --size 100", 0, "读取完成",
            "", (hexOut.join("\r\n") + "\r\n").toLatin1());
        row("Ctrl+C during a read", "--port PORT read OUT.bin", 1,
            "读数据失败, 退出从芯片读取数据过程.", "Stopped.\n", {}, true);
    }

    void run() {
        QFETCH(QString, cliArgs);
        QFETCH(bool, ctrlC);
        QFETCH(int, exitCode);
        QFETCH(QString, lastLog);
        QFETCH(QString, err);
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QString dump = dir.filePath("dump.bin"), countersPath = dir.filePath("counters.json");
        QProcess sim;
        const QString port =
            startSim(sim, QStringList{"--dump", dump, "--counters", countersPath, "--preload",
                                      rig::writeFile(dir.filePath("in"), kFlash)} +
                              (ctrlC ? QStringList() : QStringList{"--instant"}));
        QVERIFY(!port.isEmpty());
        const QMap<QString, QString> files = argumentFiles(dir, port);
        QString outPath;
        QStringList args = cliArgs.split(' ');
        for (QString& a : args) {
            if (a.startsWith("OUT."))
                a = outPath = rig::writeFile(dir.filePath("out" + a.mid(3)), "previous image");
            a = files.value(a, a);
        }
        QProcess cli;
        // These rows hold the Chinese texts; the English ones: languages().
        cli.start(bin() + "/praxon-cli", QStringList{"--lang", "zh"} + args);
        if (ctrlC) {  // a 64 KB read takes seconds at line pace: Ctrl+C lands in one of its waits
            QTRY_VERIFY_WITH_TIMEOUT(QString::fromUtf8(cli.peek(4096)).contains("开始读取数据"),
                                     10000);
            QTest::qWait(300);
            QVERIFY(cli.processId() > 0);  // kill(0) would hit this test's own process group
            ::kill(pid_t(cli.processId()), SIGINT);
        }
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1, exitCode);
        // Log lines as in the window: time of day, a space, the message.
        const QString log = QString::fromUtf8(cli.readAllStandardOutput()),
                      t = "\\d\\d:\\d\\d:\\d\\d ";
        const QRegularExpression form(
            lastLog.isEmpty() ? "^$" : "^(" + t + "\\S.*\n)*" + t + lastLog + ".*\n$");
        QVERIFY2(form.match(log).hasMatch(), qPrintable(log));
        QCOMPARE(rig::masked({QString::fromUtf8(cli.readAllStandardError())}, {err}),
                 QStringList{err});

        sim.terminate();  // it writes its --dump and --counters files
        QVERIFY(sim.waitForFinished(5000));
        QVERIFY(rig::readFile(dump) == (outPath.isEmpty() ? bytes : kFlash));
        // Without a log line nothing went to the board, not even a sync.
        if (lastLog.isEmpty())
            QCOMPARE(QJsonDocument::fromJson(rig::readFile(countersPath))["bytes_in"].toInteger(-1),
                     0);
        if (outPath.isEmpty()) return;
        // A failed command leaves the previous file as it was, and nothing beside it.
        QVERIFY(rig::readFile(outPath) == (exitCode == 0 ? bytes : QByteArray("previous image")));
        QCOMPARE(QDir(dir.path()).entryList({"out*"}), QStringList{QFileInfo(outPath).fileName()});
    }

    // NRST on DTR, BOOT0 on RTS: praxon-cli sets the lines through the simulator's client library.
    void wired() {
        QTemporaryDir dir;
        const QString dump = dir.filePath("dump.bin"), hex = argumentFiles(dir, "")["HEX"];
        const QStringList wiring{"--reset-line", "dtr", "--boot0-line", "rts"};
        QProcess sim;
        const QString port = startSim(sim, QStringList{"--instant", "--dump", dump} + wiring);
        QTRY_VERIFY(sim.canReadLine());  // CLIENT_ENV=NAME=VALUE
        const QString clientEnv = QString(sim.readLine()).trimmed().mid(11);
        const auto cli = [&](const QStringList& args, bool lines) {
            QProcess p;
            p.setEnvironment(QProcess::systemEnvironment() +
                             (lines ? QStringList{clientEnv} : QStringList()));
            p.start(bin() + "/praxon-cli", QStringList{"--port", port} + args);
            return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit ? p.exitCode()
                                                                                      : -1;
        };
        QCOMPARE(cli(wiring + QStringList{"program", hex, "--run"}, true), 0);
        QByteArray events;
        QTRY_VERIFY((events += sim.readAllStandardOutput()).endsWith("running the user program\n"));
        // The program answers nothing: this info has to reset the board into its bootloader.
        QCOMPARE(cli(wiring + QStringList{"info"}, true), 0);
        // No lines at all: the bootloader synchronised by the last info takes this one as it is.
        QCOMPARE(cli({"info"}, false), 0);
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000) && rig::readFile(dump).startsWith(kHexImage));
    }

    // info ends with its summary (on stdout, after the log); devices needs no port.
    void infoAndDevices() {
        QProcess sim, cli;
        const QString port = startSim(sim, {"--instant", "--pid", "0x414", "--ram-field", "0x40"});
        QString out;
        for (const QString& args :
             {"--port " + port + " --flash-kb=384 info", QString("devices")}) {
            cli.start(bin() + "/praxon-cli", ("--lang zh " + args).split(' '));
            QVERIFY(cli.waitForFinished(60000) && cli.exitCode() == 0);
            out += cli.readAllStandardOutput();
        }
        sim.kill(), sim.waitForFinished(5000);
        const QRegularExpression form(  // two alike banks folded
            " 64K.\n[^\n]*芯片唯一ID\\(1FFFF7E8处\\): [0-9A-F]{24}\n[^\n]*没有写保护的页或扇区。\n"
            "Chip:       STM32F10x high-density\nProduct ID: 0x414\nBootloader: "
            "2.2\nCommands:"
            "   00 01 02 11 21 31 43 63 73 82 92\nFlash:      384 KB, as stated with "
            "--flash-kb\nRAM:"
            "        64 KB\nUnique ID:  [0-9A-F]{24}\nReadout:    level 0\nProtected:  none\nPID "
            ".*\n0x410  STM32F10x  medium-density +128K +1K\n.*\n0x413  "
            "STM32F4xx"
            "  F405/F407/F415/F417 +1M +16Kx4,64K,128Kx7\n0x419 .* 2M "
            "+2x\\(16Kx4,64K,128Kx7\\)@max\n",
            QRegularExpression::DotMatchesEverythingOption);
        QVERIFY2(out.contains(form), qPrintable(out));
    }

    // Whole sessions three times: as a script sees them (--json: every line of stdout one JSON
    // object with its time, the event that tells the outcome, the result last), in English (not
    // one Chinese character, on stdout or stderr) and in Chinese (with a text it has always
    // shown). Every event's English: tst_messages.
    void sessions_data() {
        QTest::addColumn<QString>("simArgs");
        QTest::addColumn<QString>("cliArgs");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("event");    // in the JSON lines
        QTest::addColumn<QString>("chinese");  // a text the Chinese session shows
        const auto row = [](const char* name, const char* sim, const char* cli, int code,
                            const char* event, const char* zh) {
            QTest::newRow(name) << QString(sim) << "--port PORT " + QString(cli) << code
                                << QString(event) << QString(zh);
        };
        row("program, verify", "", "program HEX --erase --verify", 0, "verified",
            "编程成功, 用时共");
        row("program, compatible", "", "--compatible program HEX --erase=pages --verify", 0,
            "programmed", "开始擦除1页......");
        row("read", "", "read DIR/out.hex", 0, "read_done", "读取完成, 读取时间为:");
        row("bad HEX", "", "program BAD", 1, "hex_line_rejected", "HEX数据有误，下载失败！");
        row("protected chip, erase", "--rdp", "erase", 1, "erase_failed",
            "擦除失败，请清除读保护......");
        row("option bytes shown", "", "option-bytes", 0, "option_field_value",
            "选项字节(1FFFF800, F1布局)");
        row("an option set", "", "option-bytes --set DATA0=0x12", 0, "option_bytes_written",
            "选项字节已写入，并经回读核对无误。");
        row("level 2 refused", "--pid 0x440", "option-bytes --set RDP=2", 1,
            "readout_level_two_refused", "拒绝设置读保护级别2");
        row("a range protected", "", "write-protect --address 08000000 --size 4K", 0,
            "write_protect_done", "写保护已设置，并经回读核对。");
        row("unprotected", "--option WRP0=0x00", "write-unprotect", 0, "write_unprotect_done",
            "已解除写保护，并经回读核对。");
        row("info", "--uid 0102030405060708090A0B0C", "info", 0, "unique_id",
            "芯片唯一ID(1FFFF7E8处): 0102030405060708090A0B0C");
        QTest::newRow("no such port") << ""
                                      << "--port DIR/ttyNone info" << 1 << "port_open_failed"
                                      << "指定的串口不存在或已被占用。";
    }

    void sessions() {
        QFETCH(QString, simArgs);
        QFETCH(QString, cliArgs);
        QFETCH(int, exitCode);
        QFETCH(QString, event);
        QFETCH(QString, chinese);
        QString json, en, zh;
        QCOMPARE(session(simArgs, "--json " + cliArgs, &json), exitCode);
        QStringList events;
        QJsonObject result;
        for (const QString& line : json.split('\n', Qt::SkipEmptyParts)) {
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
            QVERIFY2(error.error == QJsonParseError::NoError && doc.isObject(), qPrintable(line));
            result = doc.object();
            QVERIFY(QDateTime::fromString(result["time"].toString(), Qt::ISODateWithMs).isValid());
            events << result["event"].toString();
        }
        QVERIFY2(events.contains(event), qPrintable(json));
        QCOMPARE(result["kind"].toString(), QString("result"));
        QCOMPARE(result["ok"].toBool(), exitCode == 0);
        if (simArgs.startsWith("--uid"))
            QCOMPARE(result["chip"].toObject()["uid"].toString(),
                     QString("0102030405060708090A0B0C"));
        static const QRegularExpression cjk("[\\x{3000}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]");
        QCOMPARE(session(simArgs, "--lang en " + cliArgs, &en), exitCode);
        QVERIFY2(!cjk.match(en).hasMatch(), qPrintable(en));
        QVERIFY2(!en.trimmed().isEmpty(), "nothing said");
        QCOMPARE(session(simArgs, "--lang zh " + cliArgs, &zh), exitCode);
        QVERIFY2(zh.contains(chinese), qPrintable(zh));
    }
};

QTEST_GUILESS_MAIN(TestCliProcess)
#include "tst_cliprocess.moc"
