// praxon-cli's parts: argument parsing (options anywhere, defaults, usage errors) and the terminal
// status line (bytes and rate, rewritten in place around other output). Pipes and Ctrl+C are
// checked on the real process by tst_cliprocess.
#include <QBuffer>
#include <QtTest>

#include "CliHost.h"
#include "CliOptions.h"

using namespace praxon;
using namespace praxon::cli;

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void statusLine_data();
    void statusLine();
    void lineSpeedsNamed();
};

namespace {
// "<command> <port> [<file>]" and what differs from the defaults.
QString describe(const CliOptions& o) {
    static const char* const names[] = {"none", "info",    "program",   "read",   "erase",
                                        "go",   "protect", "unprotect", "devices"};
    QStringList parts{names[int(o.command)], o.port, '[' + o.file + ']'};
    if (o.command == Command::Program) {
        const ImageSource s = o.imageSource();
        parts << (s.format == ImageFormat::Hex ? QString("hex")
                                               : QString::asprintf("bin@%08X", s.loadAddress));
    }
    if (o.range)
        parts << QString::asprintf("%08X+%llu", o.range->begin,
                                   qulonglong(o.range->end - o.range->begin));
    if (o.command == Command::Go) parts << QString::asprintf("go=%08X", o.goAddress);
    if (o.program.erase == EraseScope::Chip) parts << "erase=all";
    if (o.program.verify) parts << "verify";
    if (o.program.protect) parts << "protect";
    if (o.program.run) parts << QString::asprintf("run@%08X", o.program.goAddress);
    if (o.lines.baudRate != 115200) parts << QString("baud=%1").arg(o.lines.baudRate);
    if (o.lines.boot) parts << "lines=" + SequenceText(*o.lines.boot);
    if (o.flashKB) parts << QString("flash=%1K").arg(o.flashKB);
    return parts.join(' ');
}
}  // namespace

void TestCli::parse_data() {
    QTest::addColumn<QString>("args");  // separated by "|"
    // "help", "usage: <part of the error>", or what describe() gives.
    QTest::addColumn<QString>("expected");
    auto row = [](const char* name, const char* args, const char* expected) {
        QTest::newRow(name) << QString(args) << QString(expected);
    };
    row("flags anywhere, port with =", "--verify|program|my fw.hex|--port=P|--protect|--erase",
        "program P [my fw.hex] hex erase=all verify protect");
    row("file after --", "--port|P|program|--|--odd.hex", "program P [--odd.hex] hex");
    row("HEX in any case", "--port|P|program|F.Hex", "program P [F.Hex] hex");
    row("binary by default", "--port|P|program|f.hex.b", "program P [f.hex.b] bin@08000000");
    row("size hex k", "--port|P|read|f|--address|0|--size=0x2k", "read P [f] 00000000+2048");
    row("go address", "--port|P|go|2000100h", "go P [] go=02000100");
    row("help beats usage errors", "bogus|--help", "help");
    row("wiring, inverted",
        "--reset-line|RTS|--reset-inverted|--boot0-line=dtr|--boot0-inverted|"
        "--port|P|info",
        "info P [] lines=dtr=1,rts=0,wait,rts=1,wait:dtr=0,rts=0,wait,rts=1");
    row("sequence, speed", "--port|P|--sequence|DTR=1, wait=50:rts=0|--baud=921600|erase",
        "erase P [] baud=921600 lines=dtr=1,wait=50:rts=0");
    row("none: by hand", "--reset-line|none|--boot0-line|none|--port|P|info", "info P []");
    row("run elsewhere", "--port|P|program|f|--run|--go-address|8004000",
        "program P [f] bin@08000000 run@08004000");
    row("devices without a port", "devices", "devices  []");
    row("flash size stated", "--flash-kb=65535|--port|P|read|f", "read P [f] flash=65535K");

    row("no port", "info", "usage: --port is required");
    row("unknown option", "--port|P|info|--fast", "usage: unknown option --fast");
    row("erase apart", "--port|P|program|f|--erase|pages", "usage: unexpected argument pages");
    row("verify on read", "--port|P|read|f|--verify", "usage: --verify belongs to program");
    row("address with HEX", "--port|P|program|f.HEX|--address|0", "usage: --address is for binary");
    row("address without size", "--port|P|read|f|--address|0", "usage: --address and --size go");
    row("zero size", "--port|P|erase|--address|0|--size|0x0K", "usage: must not be zero");
    row("range past the end", "--port|P|read|f|--address|FFFFFF00|--size|257",
        "usage: 257 bytes from FFFFFF00 pass 0xFFFFFFFF");
    row("size unit KB", "--port|P|read|f|--address|0|--size|4KB", "usage: invalid size 4KB");
    row("bad step", "--port|P|info|--sequence|dtr=1,wat:rts=0", "usage: position 7: unknown step");
    row("one line twice", "--port|P|info|--reset-line|dtr|--boot0-line|DTR", "usage: cannot share");
    row("sequence and wiring", "--port|P|info|--sequence|dtr=1|--boot0-line|rts",
        "usage: --sequence replaces");
    row("bad line", "--port|P|info|--reset-line|cts", "usage: invalid --reset-line cts");
    row("inversion alone", "--port|P|info|--boot0-inverted", "usage: --boot0-inverted needs");
    row("bad baud", "--port|P|info|--baud|250000", "usage: unsupported baud rate 250000: give");
    row("go address alone", "--port|P|program|f|--go-address|0", "usage: goes with --run");
    row("run on read", "--port|P|read|f|--run", "usage: --run belongs to program, not read");
    row("devices, an argument", "devices|0x410", "usage: unexpected argument 0x410");
    row("flash size zero", "--port|P|info|--flash-kb|0", "usage: invalid --flash-kb 0: give");
    row("flash size, unit", "--port|P|info|--flash-kb|64K", "usage: invalid --flash-kb 64K");
    row("flash size too large", "--port|P|info|--flash-kb=65536", "usage: --flash-kb 65536");
    row("flash size twice", "--flash-kb|8|--port|P|info|--flash-kb|8", "usage: --flash-kb given");
}

void TestCli::parse() {
    QFETCH(QString, args);
    QFETCH(QString, expected);
    const ParseResult r = parseArguments(args.split('|', Qt::SkipEmptyParts));
    const QString actual = r.status == ParseResult::Help         ? QString("help")
                           : r.status == ParseResult::UsageError ? "usage: " + r.error
                                                                 : describe(r.options);
    const bool usage = expected.startsWith("usage: ");
    QVERIFY2(usage ? actual.startsWith("usage: ") && actual.contains(expected.mid(7))
                   : actual == expected,
             qPrintable(actual));
}

void TestCli::statusLine_data() {
    // Steps "MS TEXT [DONE/TOTAL]" separated by "|": at clock MS, the progress text, then (when
    // given) progress(DONE, TOTAL).
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("line");  // the status line as last drawn
    auto row = [](const char* name, const char* steps, const char* line) {
        QTest::newRow(name) << QString(steps) << QString(line);
    };
    // 27392 bytes in 2.5 s.
    row("KB/s from the first report", "1000 完成00.39%. 256/65536|3500 完成42.19%. 27648/65536",
        "完成42.19%. 27648/65536 bytes, 10.7 KB/s");
    // The verify counts from its own first report: 256 bytes in 0.5 s, not 256 in 5.5 s.
    row("verify restarts the rate",
        "0 完成25.00%. 256/1024|1000 完成100.00%. 1024/1024|5000 校验25.00%. 256/1024|"
        "5500 校验50.00%. 512/1024",
        "校验50.00%. 512/1024 bytes, 512 B/s");
    row("a result text drops the bytes", "0 完成50.00%. 512/1024|900 下载结束.", "下载结束.");
}

void TestCli::statusLine() {
    QFETCH(QString, steps);
    QFETCH(QString, line);
    QBuffer out, err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    qint64 now = 0;
    CliHost host(out, err, true, [&now] { return now; });
    for (const QString& step : steps.split('|')) {
        const QStringList f = step.split(' ');
        now = f[0].toLongLong();
        host.setStatusText(StatusField::Progress, f[1]);
        if (f.size() > 2)
            host.progress(f[2].section('/', 0, 0).toLongLong(), f[2].section('/', 1).toLongLong());
    }
    host.setStatusText(StatusField::Device, "STM32F10x, PID=0410");  // only progress is shown
    QCOMPARE(QString::fromUtf8(err.data()).section("\r\x1b[K", -1), line);
    // Erased before a message or a log line (stdout) and drawn again after it.
    host.showMessage("下载失败。");
    host.appendLog("10:00:01 编程成功", false);
    host.finish();
    const QString c = "\r\x1b[K", redrawn = c + "下载失败。\n" + c + line + c + c + line + '\n';
    QVERIFY(QString::fromUtf8(err.data()).endsWith(redrawn));
}

// The help and the refusal of --baud name the speeds the engine takes, and the default.
void TestCli::lineSpeedsNamed() {
    const QString help = QString(helpText()).replace('\n', ' ');
    for (int speed : kLineSpeeds)
        QVERIFY2(help.contains(QRegularExpression(QString("\\b%1\\b").arg(speed))),
                 qPrintable(QString::number(speed)));
    QVERIFY(help.contains(QString("%1 (the default)").arg(kDefaultLineSpeed)));
    const ParseResult r = parseArguments({"--port", "P", "info", "--baud", "250000"});
    QVERIFY(r.error.endsWith(QString::fromStdString(LineSpeedsText())));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
