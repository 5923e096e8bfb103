// praxon-cli's parts: argument parsing (options anywhere, defaults, usage errors), the port list
// and --port auto, the help pages and the JSON lines of events. Whole runs, with their result
// line, exit status and Ctrl+C: tst_cliprocess.
#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include "CliHost.h"
#include "CliOptions.h"
#include "CliPorts.h"

using namespace praxon;
using namespace praxon::cli;

Q_DECLARE_METATYPE(praxon::Event)

namespace {
// "<command> <port> [<file>]" and what differs from the defaults.
QString describe(const CliOptions& o) {
    static const char* const names[] = {"none",           "info",  "program",      "read",
                                        "erase",          "go",    "protect",      "unprotect",
                                        "devices",        "ports", "option-bytes", "write-protect",
                                        "write-unprotect"};
    QStringList parts{names[int(o.command)], o.port, '[' + o.file + ']'};
    if (o.command == Command::Program) {
        const ImageSource s = o.imageSource();
        const char* const formats[] = {"hex", "bin", "srec", "elf"};
        parts << (!s.format ? QString::asprintf("content@%08X", s.loadAddress)
                  : *s.format == ImageFormat::Binary ? QString::asprintf("bin@%08X", s.loadAddress)
                                                     : QString(formats[int(*s.format)]));
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
    if (o.language) parts << (*o.language == Language::Chinese ? "lang=zh" : "lang=en");
    if (o.json) parts << "json";
    if (o.mode != WriteMode::Fast)
        parts << (o.mode == WriteMode::Turbo ? QString("turbo") : QString("compatible"));
    if (o.program.turboBaudRate) parts << QString("turbo-baud=%1").arg(o.program.turboBaudRate);
    if (o.ports.size() > 1) parts << "ports=" + o.ports.join(',');
    if (o.serialAddress) {
        const char* const kinds[] = {"u32le", "u32be", "u64le", "dec", "hex"};
        parts << QString::asprintf("serial@%08X:%s/%d", *o.serialAddress,
                                   kinds[int(o.serialFormat.kind)], o.serialFormat.width)
              << "state=" + o.serialState;
        if (o.serialStart) parts << QString("start=%1").arg(qulonglong(*o.serialStart));
    }
    if (!o.recordPath.isEmpty()) parts << "record=" + o.recordPath;
    for (const std::string& edit : o.optionEdits) parts << "set:" + QString::fromStdString(edit);
    if (o.allowPermanent) parts << "permanent";
    if (o.protectAll) parts << "all";
    return parts.join(' ');
}
// A port by its name; a USB adapter when it has a vendor ID.
PortInfo port(const char* name, std::optional<uint16_t> vid = {}, uint16_t pid = 0,
              const char* description = "", const char* maker = "", const char* serial = "") {
    PortInfo p;
    p.name = name;
    p.location = QString("/dev/") + name;
    p.description = description;
    p.manufacturer = maker;
    p.serialNumber = serial;
    if (vid) p.vendorId = vid, p.productId = pid;
    return p;
}

// o's values for the keys of the "key=value" entries, in the same form.
QStringList fields(const QJsonObject& o, const QStringList& entries) {
    QStringList got;
    for (const QString& entry : entries)
        got << entry.section('=', 0, 0) + '=' + o[entry.section('=', 0, 0)].toVariant().toString();
    return got;
}
}  // namespace

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void parse_data() {
        QTest::addColumn<QString>("args");  // separated by "|"
        // "help", "usage: <part of the error>", or what describe() gives.
        QTest::addColumn<QString>("expected");
        // PF stands for "--port P program f" and what it gives, PV for the same with --verify, PS
        // for PV with a serial number at 0 kept in the state file s.
        auto row = [](const char* name, const char* args, const char* expected) {
            QTest::newRow(name) << QString(args)
                                       .replace("PS", "PV|--serial|0|--serial-state|s")
                                       .replace("PV", "PF|--verify")
                                       .replace("PF", "--port|P|program|f")
                                << QString(expected)
                                       .replace("PV", "PF verify")
                                       .replace("PF", "program P [f] content@08000000");
        };
        row("flags anywhere, port with =", "--verify|program|my fw.hex|--port=P|--protect|--erase",
            "program P [my fw.hex] content@08000000 erase=all verify protect");
        row("file after --", "--port|P|program|--|--odd.hex",
            "program P [--odd.hex] content@08000000");
        // The name never decides: the content does when the file is read, or --format.
        row("format srec", "--port|P|program|F.bin|--format|srec", "program P [F.bin] srec");
        row("format bin with its address", "--port|P|program|f.hex|--format|BIN|--address|2000",
            "program P [f.hex] bin@00002000");
        row("address for a HEX file by its content", "--port|P|program|@hex|--address|0",
            "usage: --address is for binary files; a HEX file carries its own addresses");
        row("address for a binary file by its content", "--port|P|program|@bin|--address|0",
            "program P [@bin] content@00000000");
        row("address for a HEX file read as binary",
            "--port|P|program|@hex|--address|0|--format|bin", "program P [@hex] bin@00000000");
        row("format without a value", "PF|--format", "usage: --format needs hex, srec");
        row("help beats usage errors", "bogus|--help", "help");
        row("size hex k", "--port|P|read|f|--address|0|--size=0x2k", "read P [f] 00000000+2048");
        row("go address", "--port|P|go|2000100h", "go P [] go=02000100");
        row("wiring, inverted",
            "--reset-line|RTS|--reset-inverted|--boot0-line=dtr|--boot0-inverted|--port|P|info",
            "info P [] lines=dtr=1,rts=0,wait,rts=1,wait:dtr=0,rts=0,wait,rts=1");
        row("sequence, speed", "--port|P|--sequence|DTR=1, wait=50:rts=0|--baud=921600|erase",
            "erase P [] baud=921600 lines=dtr=1,wait=50:rts=0");
        row("none: by hand", "--reset-line|none|--boot0-line|none|--port|P|--compatible|info",
            "info P [] compatible");
        row("run elsewhere", "PF|--run|--go-address|8004000", "PF run@08004000");
        row("flash size stated", "--flash-kb=65535|--port|P|read|f", "read P [f] flash=65535K");

        row("no port", "info", "usage: --port is required");
        row("unknown option", "--port|P|info|--fast", "usage: unknown option --fast");
        row("erase apart", "PF|--erase|pages", "usage: unexpected argument pages");
        row("address without size", "--port|P|read|f|--address|0",
            "usage: --address and --size go");
        row("zero size", "--port|P|erase|--address|0|--size|0x0K", "usage: must not be zero");
        row("range past the end", "--port|P|read|f|--address|FFFFFF00|--size|257",
            "usage: 257 bytes from FFFFFF00 pass 0xFFFFFFFF");
        row("bad step", "--port|P|info|--sequence|dtr=1,wat:rts=0",
            "usage: position 7: unknown step");
        row("bad baud", "--port|P|info|--baud|250000", "usage: unsupported baud rate 250000: give");
        row("flash size too large", "--port|P|info|--flash-kb=65536", "usage: --flash-kb 65536");

        row("ports, language, json", "--json|--lang=ZH|ports", "ports  [] lang=zh json");
        row("auto is a port name", "--port|auto|read|f", "read auto [f]");

        row("turbo, faster line", "--turbo|--turbo-baud=2000000|--port|P|program|f",
            "PF turbo turbo-baud=2000000");
        row("turbo speed between the offered", "--turbo|--turbo-baud|1200000|--port|P|program|f",
            "usage: unsupported --turbo-baud 1200000: give");
        row("turbo and compatible", "--turbo|--compatible|--port|P|program|f",
            "usage: --compatible and --turbo exclude each other");

        // Production line: several boards, serial numbers, the record.
        row("several ports, record", "--port|A|--port=B|--port|C|erase|--record|log.csv",
            "erase A [] ports=A,B,C record=log.csv");
        row("several ports, auto among them", "--port|A|--port|auto|info",
            "usage: --port auto picks the only adapter present");
        row("the same port twice", "--port|A|--port|B|--port|A|info",
            "usage: --port A given twice");
        row("read from several boards", "--port|A|--port|B|read|f", "usage: read takes one --port");
        row("serial, defaults", "PV|--serial|0800F000|--serial-state|s",
            "PV serial@0800F000:u32le/4 state=s");
        row("serial, decimal digits, start",
            "PV|--serial=0800FFF8|--serial-format|dec:8|--serial-state|s|--serial-start|0x10",
            "PV serial@0800FFF8:dec/8 state=s start=16");
        row("serial, u64 from the largest start",
            "PV|--serial|0|--serial-format|U64LE|--serial-state|s|--serial-start|"
            "18446744073709551615",
            "PV serial@00000000:u64le/8 state=s start=18446744073709551615");
        row("serial without verify", "PF|--serial|0|--serial-state|s",
            "usage: --serial needs --verify");
        row("serial without state", "PV|--serial|0", "usage: --serial needs --serial-state FILE");
        row("serial state alone", "PV|--serial-state|s",
            "usage: --serial-state goes with --serial");
        row("serial, decimal too wide", "PS|--serial-format|dec:21",
            "usage: invalid --serial-format dec:21");
        row("serial start past 32 bits", "PS|--serial-start|4294967296",
            "usage: --serial-start 4294967296 does not fit --serial-format u32le");
        row("serial start not a number", "PS|--serial-start|-1",
            "usage: invalid --serial-start -1");
        row("serial past the address space", "PV|--serial|FFFFFFFE|--serial-state|s",
            "usage: the serial number at FFFFFFFE would pass 0xFFFFFFFF");
        // Option bytes and write protection
        row("option edits: --set, more after it",
            "--port|P|option-bytes|--set|WDG_SW=0|DATA0=0x12|--set=RDP=1",
            "option-bytes P [] set:WDG_SW=0 set:RDP=1 set:DATA0=0x12");
        row("level 2 allowed", "--port|P|option-bytes|--set|RDP=2|--allow-permanent",
            "option-bytes P [] set:RDP=2 permanent");
        row("set without =", "--port|P|option-bytes|--set|WDG_SW", "usage: invalid --set WDG_SW");
        row("write-protect a range", "--port|P|write-protect|--address|0x08000000|--size|8K",
            "write-protect P [] 08000000+8192");
        row("write-protect all", "--port|P|write-protect|--all", "write-protect P [] all");
        row("write-protect, nothing said", "--port|P|write-protect",
            "usage: write-protect needs either");
        row("write-protect, both", "--port|P|write-protect|--all|--address|0|--size|1",
            "usage: write-protect needs either");
        row("write-unprotect, a range", "--port|P|write-unprotect|--address|0|--size|1",
            "usage: --address belongs to program, read, erase and write-protect");
    }

    void parse() {
        QFETCH(QString, args);
        QFETCH(QString, expected);
        // @hex and @bin stand for files with that content (their names say nothing).
        QTemporaryDir dir;
        for (const auto& [token, content] :
             {std::pair{"@hex", ":00000001FF\n"}, {"@bin", "\x01"}}) {
            QFile f(dir.filePath(token + 1));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) > 0);
            args.replace(token, f.fileName()), expected.replace(token, f.fileName());
        }
        const QStringList arguments = args.split('|', Qt::SkipEmptyParts);
        const ParseResult r = parseArguments(arguments);
        const QString actual = r.status == ParseResult::Help         ? "help"
                               : r.status == ParseResult::UsageError ? "usage: " + r.error
                                                                     : describe(r.options);
        const bool usage = expected.startsWith("usage: ");
        QVERIFY2(usage ? actual.startsWith("usage: ") && actual.contains(expected.mid(7))
                       : actual == expected,
                 qPrintable(actual));
    }

    // ports: the names padded to one column, what is known of each (a maker the driver repeats
    // said once); --json: the same ports, one object per line, under the names scripts read.
    void portLines() {
        std::vector<PortInfo> ports{
            port("/dev/pts/3"),
            port("ttyUSB0", 0x0403, 0x6001, "FT232R USB UART", "FTDI", "A50285BI"),
            port("ttyUSB2", 0x1A86, 0x7523, "USB Serial", "1a86")};
        ports[0].simulated = true;
        QCOMPARE(PortListText(ports),
                 "/dev/pts/3  praxon-sim\n"
                 "ttyUSB0     FT232R USB UART, FTDI (0403:6001) S/N A50285BI\n"
                 "ttyUSB2     USB Serial (1a86:7523)\n");
        const QList<QByteArray> json = PortListJson(ports).toUtf8().split('\n');
        const QStringList usb{"name=ttyUSB0", "vendorId=0403", "usb=true", "serialNumber=A50285BI"};
        QCOMPARE(json.size(), 4);
        QCOMPARE(fields(QJsonDocument::fromJson(json[1]).object(), usb), usb);
        QCOMPARE(QJsonDocument::fromJson(json[0]).object()["usb"].toBool(true), false);
    }

    void autoPort_data() {
        QTest::addColumn<std::vector<PortInfo>>("ports");
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QString>("opened");     // empty: refused
        QTest::addColumn<QStringList>("named");  // the ports the message names
        const PortInfo adapter = port("ttyUSB1", 0x10C4, 0xEA60, "CP2102");
        const auto row = [](const char* name, const std::vector<PortInfo>& ports,
                            const char* requested, const char* opened, const QStringList& named) {
            QTest::newRow(name) << ports << QString(requested) << QString(opened) << named;
        };
        row("none at all", {}, "auto", "", {});
        row("one USB among others", {port("ttyS0"), port("ttyS1"), adapter}, "auto", "ttyUSB1",
            {"ttyUSB1"});
        row("several USB", {port("ttyACM0", 0x0483, 0x5740), port("ttyS0"), adapter}, "auto", "",
            {"ttyACM0", "ttyUSB1"});
        row("a name is taken as it is", {adapter}, "/dev/ttyS3", "/dev/ttyS3", {});
    }

    void autoPort() {
        QFETCH(std::vector<PortInfo>, ports);
        QFETCH(QString, requested);
        QFETCH(QString, opened);
        QFETCH(QStringList, named);
        FixedPortSource source(ports);
        QBuffer err;
        err.open(QIODevice::WriteOnly);
        const std::optional<QString> port = ResolvePort(requested, source, Language::English, err);
        QCOMPARE(port.value_or(QString()), opened);
        QStringList mentioned;
        for (const PortInfo& p : ports)
            if (QString::fromUtf8(err.data()).contains(p.name)) mentioned << p.name;
        QCOMPARE(mentioned, named);
    }

    // One event as a JSON line: its data under the names scripts read, never under "path".
    void jsonEvent_data() {
        QTest::addColumn<Event>("event");
        QTest::addColumn<QStringList>("fields");  // "key=value", compared as strings
        const auto row = [](const char* name, const Event& e, const QStringList& fields) {
            QTest::newRow(name) << e << fields;
        };
        Event chip(EventCode::ChipIdentified, Operation::Connect);
        chip.pid = 0x410, chip.family = "STM32F10x", chip.bytes = QByteArray::fromHex("0410");
        row("chip", chip, {"event=chip_identified", "pid=0x410", "family=STM32F10x"});
        Event uid(EventCode::UniqueId, Operation::Connect);
        uid.address = 0x1FFFF7E8, uid.bytes = QByteArray::fromHex("0102030405060708090A0B0C");
        row("unique ID", uid, {"event=unique_id", "uid=0102030405060708090A0B0C"});
        Event go(EventCode::GoAddressRefused, Operation::Go);
        go.address = 0x12345678, go.actual = 0x1F;
        row("start address", go, {"address=0x12345678", "actual=0x1F", "operation=go"});
        Event srec(EventCode::SrecRefused, Operation::Load);
        srec.srecError = SrecError::CountMismatch, srec.value = 4, srec.text = "S5030002FA";
        row("S-record line", srec,
            {"event=srec_refused", "srec_error=count_mismatch", "line_number=4",
             "line=S5030002FA"});
        Event field(EventCode::OptionFieldValue, Operation::OptionBytes);
        field.text = "WDG_SW", field.value = 0, field.detail = "hardware watchdog";
        row("option field", field,
            {"event=option_field_value", "name=WDG_SW", "value=0", "meaning=hardware watchdog"});
        Event units(EventCode::UnitsWriteProtected, Operation::Erase);
        units.address = 0x08000000, units.value = 4, units.text = "0-3";
        row("protected units", units, {"units=0-3", "count=4", "address=0x08000000"});
    }

    void jsonEvent() {
        QFETCH(Event, event);
        QFETCH(QStringList, fields);
        QBuffer out, err;
        QVERIFY(out.open(QIODevice::WriteOnly) && err.open(QIODevice::WriteOnly));
        CliHost host(out, err, false, [] { return qint64(0); });
        host.setJson(true);
        host.setTimeSource(
            [] { return QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 678), Qt::UTC); });
        host.report(event);
        const QList<QByteArray> lines = out.data().split('\n');
        QCOMPARE(lines.size() + err.size(), 2);  // one line, ended; nothing on stderr
        const QJsonObject o = QJsonDocument::fromJson(lines[0]).object();
        QCOMPARE(::fields(o, fields << "time=2026-01-02T03:04:05.678Z"), fields);
        QVERIFY(!o.contains("path"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
