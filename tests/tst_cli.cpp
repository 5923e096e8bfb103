// praxon-cli's parts: argument parsing (options anywhere, defaults, usage errors), the terminal
// status line (bytes and rate, rewritten in place around other output) and the JSON lines. Pipes
// and Ctrl+C are checked on the real process by tst_cliprocess.
#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
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
    void json_data();
    void json();
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
    // Steps "MS OPERATION DONE/TOTAL" separated by "|": at clock MS, a progress event of the
    // operation (program, verify), or "MS programmed": the program's result.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("line");  // the status line as last drawn
    auto row = [](const char* name, const char* steps, const char* line) {
        QTest::newRow(name) << QString(steps) << QString(line);
    };
    // 27392 bytes in 2.5 s.
    row("KB/s from the first report", "1000 program 256/65536|3500 program 27648/65536",
        "完成42.19%. 27648/65536 bytes, 10.7 KB/s");
    // The verify counts from its own first report: 256 bytes in 0.5 s, not 256 in 5.5 s.
    row("verify restarts the rate",
        "0 program 256/1024|1000 program 1024/1024|5000 verify 256/1024|5500 verify 512/1024",
        "校验50.00%. 512/1024 bytes, 512 B/s");
    row("a result text drops the bytes", "0 program 512/1024|900 programmed", "下载结束.");
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
        if (f[1] == "programmed") {
            host.report(Event(EventCode::Programmed, Operation::Program));
            continue;
        }
        Event e(EventCode::Progress, f[1] == "verify" ? Operation::Verify : Operation::Program);
        e.done = f[2].section('/', 0, 0).toLongLong();
        e.total = f[2].section('/', 1).toLongLong();
        host.report(e);
    }
    Event chip(EventCode::ChipIdentified, Operation::Connect);  // only progress is shown
    chip.bytes = QByteArray::fromHex("0410");
    host.report(chip);
    QCOMPARE(QString::fromUtf8(err.data()).section("\r\x1b[K", -1), line);
    // Erased before a message or a log line (stdout) and drawn again after it.
    host.report(Event(EventCode::ProgramFailed, Operation::Program));
    host.report(Event(EventCode::ProgramBegun, Operation::Program));
    host.finish(false, 1);
    const QString c = "\r\x1b[K", redrawn = c + "下载失败。\n" + c + line + c + c + line + '\n';
    QVERIFY(QString::fromUtf8(err.data()).endsWith(redrawn));
}

// JSON mode: one object per line with its data, nothing else on stdout, and the result last.
void TestCli::json_data() {
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("lastEvent");  // the event of the line before the result
    QTest::newRow("verified program") << true << "operation_ended";
    QTest::newRow("refused start address") << false << "go_address_refused";
}

void TestCli::json() {
    QFETCH(bool, ok);
    QFETCH(QString, lastEvent);
    QBuffer out, err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    qint64 now = 0;
    CliHost host(out, err, true, [&now] { return now; });
    host.setJson(true);
    host.setLanguage(Language::English);
    host.setTimeSource([] { return QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 678), Qt::UTC); });
    Event chip(EventCode::ChipIdentified, Operation::Connect);
    chip.pid = 0x410;
    chip.family = "STM32F10x";
    chip.bytes = QByteArray::fromHex("0410");
    host.report(chip);
    Event size(EventCode::FlashSize, Operation::Connect);
    size.flashKB = 64;
    host.report(size);
    if (ok) {
        Event p(EventCode::Progress, Operation::Program);
        p.done = 512, p.total = 1024;
        host.report(p);
        Event written(EventCode::Programmed, Operation::Program);
        written.done = 1024, written.elapsedNs = 250'000'000;
        host.report(written);
        Event verified(EventCode::Verified, Operation::Verify);
        verified.done = 1024;
        host.report(verified);
        Event end(EventCode::OperationEnded, Operation::Program);
        end.ok = true;
        host.report(end);
    } else {
        Event refused(EventCode::GoAddressRefused, Operation::Go);
        refused.address = 0x12345678, refused.actual = 0x1F;
        host.report(refused);
    }
    now = 1500;
    host.finish(ok, ok ? 0 : 1);
    QVERIFY(err.data().isEmpty());
    QList<QJsonObject> lines;
    for (const QByteArray& line : out.data().split('\n')) {
        if (line.isEmpty()) continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        QVERIFY2(error.error == QJsonParseError::NoError && doc.isObject(), line.constData());
        QCOMPARE(doc.object()["time"].toString(), QString("2026-01-02T03:04:05.678Z"));
        lines << doc.object();
    }
    QCOMPARE(lines.size(), ok ? 7 : 4);
    QCOMPARE(lines[0]["event"].toString(), QString("chip_identified"));
    QCOMPARE(lines[0]["pid"].toString(), QString("0x410"));
    QCOMPARE(lines[0]["family"].toString(), QString("STM32F10x"));
    QCOMPARE(lines[lines.size() - 2]["event"].toString(), lastEvent);
    if (!ok) {
        QCOMPARE(lines[2]["address"].toString(), QString("0x12345678"));
        QCOMPARE(lines[2]["actual"].toString(), QString("0x1F"));
        QCOMPARE(lines[2]["operation"].toString(), QString("go"));
    } else {
        QCOMPARE(lines[2]["kind"].toString(), QString("progress"));
        QCOMPARE(lines[2]["done"].toInt(), 512);
        QCOMPARE(lines[2]["total"].toInt(), 1024);
    }
    const QJsonObject result = lines.last();
    QCOMPARE(result["kind"].toString(), QString("result"));
    QCOMPARE(result["ok"].toBool(), ok);
    QCOMPARE(result["exit_status"].toInt(), ok ? 0 : 1);
    QCOMPARE(result["duration_s"].toDouble(), 1.5);
    QCOMPARE(result["bytes_written"].toInt(), ok ? 1024 : 0);
    QCOMPARE(result["bytes_verified"].toInt(), ok ? 1024 : 0);
    QCOMPARE(result["chip"].toObject()["flash_kb"].toInt(), 64);
    QCOMPARE(result["chip"].toObject()["pid"].toString(), QString("0x410"));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
