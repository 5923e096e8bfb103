// praxon-cli as a process against praxon-sim as a process: whole sessions as JSON lines and in
// Chinese, with the exit codes, the log lines, the message texts on stderr, what the board's flash
// holds afterwards and what went over the line (the simulator's dump and counters), files read
// back, Ctrl+C during a wait, and a board whose reset and BOOT0 the adapter's lines drive.
#include <QDir>
#include <QtTest>

#include "tst_cli_rig.h"

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

// What one praxon-cli run against a fresh board holding kFlash came to.
struct Session {
    clirig::Run run;
    QByteArray flash;
    qint64 bytesIn = -1;  // bytes the board received
    QByteArray outFile;   // OUT afterwards
    QStringList outFiles;
};

// The words in cliArgs stand for files written in a fresh folder: HEX and BIN (the images above),
// BAD (the HEX file with a wrong checksum), ELF (the example program's ELF file under a name that
// says binary: its content decides), OUT.<suffix> (a file to read into, holding "previous image"
// before), DIR (the folder) and PORT. ctrlC: at line pace, Ctrl+C once the read has begun.
Session session(const QString& simArgs, const QString& cliArgs, bool ctrlC = false) {
    QTemporaryDir dir;
    const QString counters = dir.filePath("counters.json");
    clirig::Sim sim;
    Session s;
    if (!sim.start(QStringList{"--counters", counters, "--preload",
                               rig::writeFile(dir.filePath("in"), kFlash)} +
                       (ctrlC ? QStringList() : QStringList{"--instant"}) +
                       simArgs.split(' ', Qt::SkipEmptyParts),
                   dir.filePath("dump.bin")))
        return s;
    const QMap<QString, QString> files{
        {"HEX", rig::writeLines(dir.filePath("fw.hex"), rig::hexLines(0x08000000, kHexImage, 16))},
        {"BAD", rig::writeLines(dir.filePath("bad.hex"), kBadHex)},
        {"BIN", rig::writeFile(dir.filePath("fw.bin"), kBinImage)},
        {"ELF",
         rig::writeFile(dir.filePath("elf.bin"), rig::readFile(PRAXON_EXAMPLES "/elf/blink.elf"))},
        {"PORT", sim.ports[0]}};
    QString outPath;
    QStringList args = cliArgs.split(' ');
    for (QString& a : args) {
        if (a.startsWith("OUT."))
            a = outPath = rig::writeFile(dir.filePath("out" + a.mid(3)), "previous image");
        a = files.value(a, a).replace("DIR", dir.path());
    }
    // A 64 KB read takes seconds at line pace: Ctrl+C lands in one of its waits.
    const auto reading = [](const QString& out) { return out.contains("开始读取数据"); };
    s.run = clirig::cli(args, ctrlC ? reading : std::function<bool(const QString&)>());
    s.flash = sim.flash();
    s.bytesIn = QJsonDocument::fromJson(rig::readFile(counters))["bytes_in"].toInteger(-1);
    if (!outPath.isEmpty()) s.outFile = rig::readFile(outPath);
    s.outFiles = QDir(dir.path()).entryList({"out*"});
    return s;
}
}  // namespace

class TestCliProcess : public QObject {
    Q_OBJECT
private slots:
    void run_data() {
        QTest::addColumn<QString>("simArgs");
        QTest::addColumn<QString>("cliArgs");
        QTest::addColumn<bool>("ctrlC");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("event");  // in the JSON lines; empty: only the Chinese session
        // A text the Chinese session shows (a log line, or else on stderr); empty: nothing on
        // stdout, and not one byte went to the board, not even a sync.
        QTest::addColumn<QString>("zh");
        // The Chinese session's stderr; "*" at the end: starts with; "-": not checked.
        QTest::addColumn<QString>("err");
        // What OUT holds after a successful command (the flash must stay as it was), else the
        // board's flash afterwards; empty: not checked.
        QTest::addColumn<QByteArray>("bytes");
        const auto row = [](const char* name, const char* sim, const char* cli, int exitCode,
                            const char* event, const char* zh, const QString& err = "-",
                            const QByteArray& bytes = {}, bool ctrlC = false) {
            const QString args =
                QString(cli).startsWith("--port") ? cli : "--port PORT " + QString(cli);
            QTest::newRow(name) << QString(sim) << args << ctrlC << exitCode << QString(event)
                                << QString(zh) << err << bytes;
        };
        row("usage error", "", "--port x read OUT.bin --size 4KB", 2, "", "",
            "praxon-cli: --address and --size go together\n\n用法：praxon-cli --port 串口*");
        // The image covers 0x08000A00-0x08000DE7: pages 2 and 3 are erased, the others keep theirs.
        row("binary, erase=pages", "", "program BIN --address 08000A00 --erase=pages --verify", 0,
            "verified", "编程成功", "",
            put(put(kFlash, 0x800, QByteArray(2048, char(0xFF))), 0xA00, kBinImage));
        // The bytes objcopy wrote as Intel HEX from the same ELF file: 0x94 bytes at 0x08000000.
        QByteArray blink;
        for (QString line : QString(rig::readFile(PRAXON_EXAMPLES "/elf/blink.hex")).split('\n'))
            if ((line = line.trimmed()).mid(7, 2) == "00")
                blink += QByteArray::fromHex(line.mid(9, line.size() - 11).toLatin1());
        QCOMPARE(blink.size(), 0x94);
        row("ELF, erase, verify", "", "program ELF --erase --verify", 0, "verified", "编程成功", "",
            put(QByteArray(65536, char(0xFF)), 0, blink));
        // The file is read completely before connecting: its last record is wrong, nothing is sent.
        row("bad HEX", "", "program BAD --erase", 1, "hex_line_rejected", "",
            QString("校验和不正确，您给的串是：%1\nHEX数据有误，下载失败！%1\n下载失败。\n")
                .arg(kBadLine),
            kFlash);
        const QStringList hexOut = rig::hexLines(0x08001000, kFlash.mid(0x1000, 100), 64);
        row("read range, HEX, compatible", "",
            "--compatible read OUT.Hex --address 08001000 --size 100", 0, "read_done", "读取完成",
            "", (hexOut.join("\r\n") + "\r\n").toLatin1());
        row("Ctrl+C during a read", "", "read OUT.bin", 1, "",
            "读数据失败, 退出从芯片读取数据过程.", "Stopped.\n", {}, true);
        row("protected chip, erase", "--rdp", "erase", 1, "erase_failed",
            "擦除失败，请清除读保护......");
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
        row("no such port", "", "--port DIR/ttyNone info", 1, "port_open_failed",
            "指定的串口不存在或已被占用。");
    }

    void run() {
        QFETCH(QString, simArgs);
        QFETCH(QString, cliArgs);
        QFETCH(bool, ctrlC);
        QFETCH(int, exitCode);
        QFETCH(QString, event);
        QFETCH(QString, zh);
        QFETCH(QString, err);
        QFETCH(QByteArray, bytes);
        if (!event.isEmpty()) {
            // As a script sees it: every line of stdout one JSON object with its time, the event
            // that tells the outcome, the result last.
            const Session json = session(simArgs, "--json " + cliArgs);
            QCOMPARE(json.run.exitCode, exitCode);
            QStringList events;
            for (const QJsonObject& o : json.run.objects) {
                QVERIFY(QDateTime::fromString(o["time"].toString(), Qt::ISODateWithMs).isValid());
                events << o["event"].toString();
            }
            QVERIFY2(events.contains(event), qPrintable(json.run.out));
            const QJsonObject result = json.run.objects.value(json.run.objects.size() - 1);
            QCOMPARE(
                QStringList({result["kind"].toString(), result["ok"].toVariant().toString(),
                             result["exit_status"].toVariant().toString()}),
                QStringList({"result", exitCode ? "false" : "true", QString::number(exitCode)}));
            QVERIFY(result["duration_s"].toDouble(-1) >= 0);
            // A verified program: its byte counts, and the chip as connect learnt it.
            if (event == "verified") {
                QVERIFY(result["bytes_written"].toInt() > 0);
                QCOMPARE(
                    QStringList({result["bytes_written"].toVariant().toString(),
                                 result["chip"]["flash_kb"].toVariant().toString(),
                                 result["chip"]["pid"].toString()}),
                    QStringList({result["bytes_verified"].toVariant().toString(), "64", "0x410"}));
            }
        }
        // In Chinese, with the texts it has always shown.
        const Session s = session(simArgs, "--lang zh " + cliArgs, ctrlC);
        QCOMPARE(s.run.exitCode, exitCode);
        // Log lines as in the window: time of day, a space, the message.
        static const QRegularExpression logLine("^\\d\\d:\\d\\d:\\d\\d \\S");
        for (const QString& line : s.run.out.split('\n', Qt::SkipEmptyParts))
            if (line.contains(zh)) QVERIFY2(logLine.match(line).hasMatch(), qPrintable(line));
        if (zh.isEmpty()) QCOMPARE(s.run.out + QString::number(s.bytesIn), QString("0"));
        QVERIFY2((s.run.out + s.run.err).contains(zh), qPrintable(s.run.out + s.run.err));
        if (err != "-") QCOMPARE(rig::masked({s.run.err}, {err}), QStringList{err});
        const bool read = !s.outFiles.isEmpty();
        if (read || !bytes.isEmpty()) QVERIFY(s.flash == (read ? kFlash : bytes));
        if (!read) return;
        // A failed command leaves the previous file as it was, and nothing beside it.
        QVERIFY(s.outFile == (exitCode == 0 ? bytes : QByteArray("previous image")));
        QCOMPARE(s.outFiles.size(), 1);
    }

    // NRST on DTR, BOOT0 on RTS: praxon-cli sets the lines through the simulator's client library.
    void wired() {
        QTemporaryDir dir;
        const QString hex =
            rig::writeLines(dir.filePath("fw.hex"), rig::hexLines(0x08000000, kHexImage, 16));
        const QStringList wiring{"--reset-line", "dtr", "--boot0-line", "rts"};
        clirig::Sim sim;
        QVERIFY(sim.start(QStringList{"--instant"} + wiring, dir.filePath("dump.bin")));
        QTRY_VERIFY(sim.process.canReadLine());  // CLIENT_ENV=NAME=VALUE
        const QStringList clientEnv = QString(sim.process.readLine()).trimmed().mid(11).split('=');
        const QStringList port{"--port", sim.ports[0]};
        qputenv(qPrintable(clientEnv[0]), clientEnv.mid(1).join('=').toUtf8());
        QCOMPARE(clirig::cli(port + wiring + QStringList{"program", hex, "--run"}).exitCode, 0);
        QByteArray events;
        QTRY_VERIFY(
            (events += sim.process.readAllStandardOutput()).endsWith("running the user program\n"));
        // The program answers nothing: this info has to reset the board into its bootloader.
        QCOMPARE(clirig::cli(port + wiring + QStringList{"info"}).exitCode, 0);
        qunsetenv(qPrintable(clientEnv[0]));
        QVERIFY(sim.flash().startsWith(kHexImage));
    }
};

QTEST_GUILESS_MAIN(TestCliProcess)
#include "tst_cliprocess.moc"
