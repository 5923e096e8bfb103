// praxon-cli's parts: argument parsing (commands, options, defaults, usage errors), the terminal
// host (log lines on stdout exactly, messages and notes on stderr, progress as one status line
// with bytes and rate, rewritten in place on a terminal only) and Ctrl+C as one stop request.
#include <QBuffer>
#include <QSignalSpy>
#include <QtTest>
#include <csignal>

#include "CliHost.h"
#include "CliOptions.h"
#include "StopSignal.h"

using namespace praxon;
using namespace praxon::cli;

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void hostOutput_data();
    void hostOutput();
    void statusLine_data();
    void statusLine();
    void stopRequest();
};

namespace {
QString hex8(uint64_t value) {
    return QString::number(value, 16).toUpper().rightJustified(8, '0');
}

// "<command> <port> [<file>]" and what differs from the defaults.
QString describe(const CliOptions& o) {
    static const char* const names[] = {"none",  "info", "program", "read",
                                        "erase", "go",   "protect", "unprotect"};
    QStringList parts{names[int(o.command)], o.port, '[' + o.file + ']'};
    if (o.mode == WriteMode::Compatible) parts << "compatible";
    if (o.command == Command::Program) {
        const ImageSource s = o.imageSource();
        parts << (s.format == ImageFormat::Hex ? QString("hex") : "bin@" + hex8(s.loadAddress));
    }
    if (o.range)
        parts << hex8(o.range->begin) + '+' + QString::number(o.range->end - o.range->begin);
    if (o.command == Command::Go) parts << "go=" + hex8(o.goAddress);
    if (o.program.erase != EraseScope::None)
        parts << (o.program.erase == EraseScope::Chip ? "erase=all" : "erase=pages");
    if (o.program.verify) parts << "verify";
    if (o.program.protect) parts << "protect";
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
    row("info, defaults", "--port|P|info", "info P []");
    row("port after the command, with =", "erase|--port=COM10", "erase COM10 []");
    row("flags anywhere", "--verify|--port|P|program|my fw.hex|--protect|--erase",
        "program P [my fw.hex] hex erase=all verify protect");
    row("file after --", "--port|P|program|--|--odd.hex", "program P [--odd.hex] hex");
    row("HEX in any case", "--port|P|program|FW.Hex", "program P [FW.Hex] hex");
    row("binary at the default address", "--port|P|program|fw.hex.bin",
        "program P [fw.hex.bin] bin@08000000");
    row("binary at an address", "--port|P|program|fw|--address|0x8004000",
        "program P [fw] bin@08004000");
    row("address with = and h", "--port|P|program|fw.bin|--address=8004000h",
        "program P [fw.bin] bin@08004000");
    row("erase=all", "--port|P|program|f.hex|--erase=all", "program P [f.hex] hex erase=all");
    row("erase=pages", "--port|P|program|f.hex|--erase=pages", "program P [f.hex] hex erase=pages");
    row("compatible program", "--compatible|--port|P|program|f.hex|--verify",
        "program P [f.hex] compatible hex verify");
    row("compatible info", "--port|P|info|--compatible", "info P [] compatible");
    row("read whole flash", "--port|P|read|f.bin", "read P [f.bin]");
    row("read range, K", "--port|P|read|f.hex|--address|08001000|--size|4K",
        "read P [f.hex] 08001000+4096");
    row("size decimal", "--port|P|read|f|--address|0|--size|1000", "read P [f] 00000000+1000");
    row("size hex", "--port|P|read|f|--address|0|--size|0x1F0", "read P [f] 00000000+496");
    row("size hex k", "--port|P|read|f|--address|0|--size=0x2k", "read P [f] 00000000+2048");
    row("size M", "--port|P|read|f|--address|0|--size|1M", "read P [f] 00000000+1048576");
    row("range to the last byte", "--port|P|read|f|--address|FFFFFF00|--size|256",
        "read P [f] FFFFFF00+256");
    row("erase range", "--port|P|erase|--address|08000500|--size|0x400",
        "erase P [] 08000500+1024");
    row("go address", "--port|P|go|2000100h", "go P [] go=02000100");
    row("go default", "--port|P|go", "go P [] go=08000000");
    row("unprotect", "--port|P|unprotect", "unprotect P []");
    row("-h", "-h", "help");
    row("help beats usage errors", "bogus|--help", "help");

    row("nothing", "", "usage: no command");
    row("no port", "info", "usage: --port is required");
    row("port without value", "info|--port", "usage: needs a port");
    row("port blank", "--port= |info", "usage: needs a port");
    row("port twice", "--port|P|--port|P|info", "usage: --port given more than once");
    row("command case", "--port|P|INFO", "usage: unknown command INFO");
    row("unknown option", "--port|P|info|--fast", "usage: unknown option --fast");
    row("program blank file", "--port|P|program| ", "usage: program needs a FILE");
    row("read without file", "--port|P|read", "usage: read needs a FILE");
    row("two files", "--port|P|program|a.hex|b.hex", "usage: unexpected argument b.hex");
    row("erase value apart", "--port|P|program|f.hex|--erase|pages",
        "usage: unexpected argument pages");
    row("erase value unknown", "--port|P|program|f.hex|--erase=chip",
        "usage: invalid --erase=chip");
    row("erase twice", "--port|P|program|f.hex|--erase|--erase=pages",
        "usage: --erase given more than once");
    row("verify on read", "--port|P|read|f|--verify",
        "usage: --verify belongs to program, not read");
    row("erase on erase", "--port|P|erase|--erase", "usage: --erase belongs to program, not erase");
    row("protect on info", "--port|P|info|--protect", "usage: --protect belongs to program");
    row("address with a HEX file", "--port|P|program|f.HEX|--address|08000000",
        "usage: --address is for binary files");
    row("address on go", "--port|P|go|--address|0", "usage: --address belongs to program, read");
    row("size on program", "--port|P|program|f.bin|--size|4", "usage: --size belongs to read");
    row("address twice", "--port|P|program|f|--address|0|--address=0",
        "usage: --address given more than once");
    row("address without size", "--port|P|read|f|--address|08000000",
        "usage: --address and --size go together");
    row("size without address", "--port|P|erase|--size|1K", "usage: go together");
    row("size without value", "--port|P|erase|--address|0|--size", "usage: --size needs");
    row("zero size", "--port|P|erase|--address|0|--size|0x0K", "usage: must not be zero");
    row("range past the end", "--port|P|read|f|--address|FFFFFF00|--size|257",
        "usage: 257 bytes from FFFFFF00 pass 0xFFFFFFFF");
    row("size past the end", "--port|P|read|f|--address|1|--size|4096M", "usage: pass 0xFFFFFFFF");
    row("size unit KB", "--port|P|read|f|--address|0|--size|4KB", "usage: invalid size 4KB");
    row("size bare 0x", "--port|P|read|f|--address|0|--size|0x", "usage: invalid size 0x");
    row("size negative", "--port|P|read|f|--address|0|--size|-1", "usage: invalid size -1");
    row("size too many digits", "--port|P|read|f|--address|0|--size|18446744073709551617",
        "usage: invalid size");
    row("address nine digits", "--port|P|read|f|--address|080000000|--size|1",
        "usage: invalid address 080000000");
    row("go not hex", "--port|P|go|zz", "usage: invalid address zz");
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

void TestCli::hostOutput_data() {
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<QString>("err");
    const QString s = "\r\x1b[K完成07.50%.", c = "\r\x1b[K";  // status line; erase it
    const QString p = s + " 256/65536 bytes";                 // with the bytes
    QTest::newRow("pipe") << false << "下载失败。\nStopped.\n";
    // Erased before each other output and drawn again after it; ended with a newline.
    QTest::newRow("terminal") << true
                              << s + p + c + p + c + p + c + "下载失败。\n" + p + c + "Stopped.\n" +
                                     p + "\n";
}

void TestCli::hostOutput() {
    QFETCH(bool, terminal);
    QFETCH(QString, err);
    QBuffer out, errOut;
    out.open(QIODevice::WriteOnly);
    errOut.open(QIODevice::WriteOnly);
    CliHost host(out, errOut, terminal, [] { return qint64(0); });
    host.setStatusText(StatusField::Progress, "完成07.50%.");
    host.progress(256, 65536);
    host.setStatusText(StatusField::Device, "STM32F10x, PID=0410");  // only progress is shown
    host.setStatusText(StatusField::Link, "已连接.");
    host.appendLog("10:00:00 连接目标板......", false);
    host.appendLog("10:00:01 编程成功", true);  // the window would empty its log; not here
    host.showMessage("下载失败。");
    host.note("Stopped.");
    host.finish();
    QCOMPARE(QString::fromUtf8(out.data()),
             QString("10:00:00 连接目标板......\n10:00:01 编程成功\n"));
    QCOMPARE(QString::fromUtf8(errOut.data()), err);
}

void TestCli::statusLine_data() {
    // Steps "MS TEXT [DONE/TOTAL]" separated by "|": at clock MS, the progress text, then (when
    // given) progress(DONE, TOTAL).
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("line");  // the status line as last drawn
    auto row = [](const char* name, const char* steps, const char* line) {
        QTest::newRow(name) << QString(steps) << QString(line);
    };
    row("first report: no time, no rate", "0 完成00.39%. 256/65536", "完成00.39%. 256/65536 bytes");
    // 27392 bytes in 2.5 s.
    row("KB/s from the first report", "1000 完成00.39%. 256/65536|3500 完成42.19%. 27648/65536",
        "完成42.19%. 27648/65536 bytes, 10.7 KB/s");
    row("B/s", "0 完成04.00%. 4/100|2000 完成54.00%. 54/100", "完成54.00%. 54/100 bytes, 25 B/s");
    // 2621440 bytes in 1 s.
    row("MB/s", "0 完成00.01%. 256/4194304|1000 完成62.51%. 2621696/4194304",
        "完成62.51%. 2621696/4194304 bytes, 2.5 MB/s");
    // The verify counts from its own first report: 256 bytes in 0.5 s, not 256 in 5.5 s.
    row("verify restarts the rate",
        "0 完成25.00%. 256/1024|1000 完成100.00%. 1024/1024|5000 校验25.00%. 256/1024|"
        "5500 校验50.00%. 512/1024",
        "校验50.00%. 512/1024 bytes, 512 B/s");
    row("a new total restarts the rate", "0 完成50.00%. 512/1024|1000 完成12.50%. 1024/8192",
        "完成12.50%. 1024/8192 bytes");
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
    const QString written = QString::fromUtf8(err.data());
    QCOMPARE(written.section("\r\x1b[K", -1), line);
    host.finish();
    QVERIFY(QString::fromUtf8(err.data()).endsWith(line + '\n'));
    QVERIFY(out.data().isEmpty());
}

// SIGINT and SIGTERM become one stopRequested signal delivered by the event loop, never acted on
// inside the signal handler; the previous action comes back afterwards.
void TestCli::stopRequest() {
    struct sigaction ignore {
    }, before{}, after{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGINT, &ignore, &before);
    {
        StopSignal stop;
        QVERIFY(stop.installed());
        QSignalSpy spy(&stop, &StopSignal::stopRequested);
        for (int i = 0; i < 3; ++i) ::raise(SIGINT);
        QCOMPARE(spy.count(), 0);  // nothing happens inside the handler itself
        QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 1, 5000);
        QTest::qWait(50);
        QCOMPARE(spy.count(), 1);  // signals that arrive together are one request
        ::raise(SIGTERM);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 5000);
    }
    ::sigaction(SIGINT, nullptr, &after);
    QVERIFY(after.sa_handler == SIG_IGN);
    ::sigaction(SIGINT, &before, nullptr);
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
