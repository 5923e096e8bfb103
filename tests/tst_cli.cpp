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
PortInfo simulatedPort(const char* path) {
    PortInfo p;
    p.name = p.location = path;
    p.simulated = true;
    return p;
}

// o's values for the keys of the "key=value" entries, in the same form ("a.b": b inside a).
QStringList fields(const QJsonObject& o, const QStringList& entries) {
    QStringList got;
    for (const QString& entry : entries) {
        const QString key = entry.section('=', 0, 0);
        QJsonValue value = o;
        for (const QString& k : key.split('.')) value = value.toObject()[k];
        got << key + '=' + value.toVariant().toString();
    }
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
        row("format hex", "--port|P|program|F.bin|--format|hex", "program P [F.bin] hex");
        row("format srec in capitals", "PF|--format=SREC", "program P [f] srec");
        row("format bin with its address", "--port|P|program|f.hex|--format|bin|--address|2000",
            "program P [f.hex] bin@00002000");
        row("address for a file that is not there", "--port|P|program|no.hex|--address|2000",
            "program P [no.hex] content@00002000");
        row("address for a HEX file by its content", "--port|P|program|@hex|--address|0",
            "usage: --address is for binary files; a HEX file carries its own addresses");
        row("address for a binary file by its content", "--port|P|program|@bin|--address|0",
            "program P [@bin] content@00000000");
        row("address for a HEX file read as binary",
            "--port|P|program|@hex|--address|0|--format|bin", "program P [@hex] bin@00000000");
        row("unknown format", "PF|--format|ihex",
            "usage: invalid --format ihex: give hex, srec, elf or bin");
        row("format on read", "--port|P|read|f|--format|hex",
            "usage: --format belongs to program, not read");
        row("format twice", "PF|--format|hex|--format=hex", "usage: --format given more");
        row("format without a value", "PF|--format", "usage: --format needs hex, srec");
        row("size hex k", "--port|P|read|f|--address|0|--size=0x2k", "read P [f] 00000000+2048");
        row("go address", "--port|P|go|2000100h", "go P [] go=02000100");
        row("help beats usage errors", "bogus|--help", "help");
        row("wiring, inverted",
            "--reset-line|RTS|--reset-inverted|--boot0-line=dtr|--boot0-inverted|--port|P|info",
            "info P [] lines=dtr=1,rts=0,wait,rts=1,wait:dtr=0,rts=0,wait,rts=1");
        row("sequence, speed", "--port|P|--sequence|DTR=1, wait=50:rts=0|--baud=921600|erase",
            "erase P [] baud=921600 lines=dtr=1,wait=50:rts=0");
        row("none: by hand", "--reset-line|none|--boot0-line|none|--port|P|info", "info P []");
        row("run elsewhere", "PF|--run|--go-address|8004000", "PF run@08004000");
        row("devices without a port", "devices", "devices  []");
        row("flash size stated", "--flash-kb=65535|--port|P|read|f", "read P [f] flash=65535K");

        row("no port", "info", "usage: --port is required");
        row("unknown option", "--port|P|info|--fast", "usage: unknown option --fast");
        row("erase apart", "PF|--erase|pages", "usage: unexpected argument pages");
        row("verify on read", "--port|P|read|f|--verify", "usage: --verify belongs to program");
        row("address with HEX", "PF|--format=hex|--address|0",
            "usage: --address is for binary files; a HEX file");
        row("address without size", "--port|P|read|f|--address|0",
            "usage: --address and --size go");
        row("zero size", "--port|P|erase|--address|0|--size|0x0K", "usage: must not be zero");
        row("range past the end", "--port|P|read|f|--address|FFFFFF00|--size|257",
            "usage: 257 bytes from FFFFFF00 pass 0xFFFFFFFF");
        row("size unit KB", "--port|P|read|f|--address|0|--size|4KB", "usage: invalid size 4KB");
        row("bad step", "--port|P|info|--sequence|dtr=1,wat:rts=0",
            "usage: position 7: unknown step");
        row("one line twice", "--port|P|info|--reset-line|dtr|--boot0-line|DTR",
            "usage: cannot share");
        row("sequence and wiring", "--port|P|info|--sequence|dtr=1|--boot0-line|rts",
            "usage: --sequence replaces");
        row("bad line", "--port|P|info|--reset-line|cts", "usage: invalid --reset-line cts");
        row("inversion alone", "--port|P|info|--boot0-inverted", "usage: --boot0-inverted needs");
        row("bad baud", "--port|P|info|--baud|250000", "usage: unsupported baud rate 250000: give");
        row("go address alone", "PF|--go-address|0", "usage: goes with --run");
        row("flash size zero", "--port|P|info|--flash-kb|0", "usage: invalid --flash-kb 0: give");
        row("flash size too large", "--port|P|info|--flash-kb=65536", "usage: --flash-kb 65536");

        row("ports, language, json", "--json|--lang=zh|ports", "ports  [] lang=zh json");
        row("language in capitals, last", "--port|P|info|--lang|EN", "info P [] lang=en");
        row("auto is a port name", "--port|auto|read|f", "read auto [f]");
        row("help in the language asked for after it", "-h|--port|P|--lang|zh", "help lang=zh");
        row("help in the language before it", "--lang=en|--help", "help lang=en");
        row("help: a bad language does not count", "--help|--lang|fr", "help");
        row("unknown language", "--lang|fr|--port|P|info",
            "usage: invalid --lang fr: give zh or en");

        row("compatible", "--port|P|--compatible|info", "info P [] compatible");
        row("turbo, connect speed", "PF|--turbo", "PF turbo");
        row("turbo, faster line", "--turbo|--turbo-baud=2000000|--port|P|program|f",
            "PF turbo turbo-baud=2000000");
        row("turbo speed between the offered", "--turbo|--turbo-baud|1200000|--port|P|program|f",
            "usage: unsupported --turbo-baud 1200000: give");
        row("turbo speed without turbo", "--turbo-baud|921600|--port|P|program|f",
            "usage: --turbo-baud goes with --turbo");
        row("turbo and compatible", "--turbo|--compatible|--port|P|program|f",
            "usage: --compatible and --turbo exclude each other");

        // Production line: several boards, serial numbers, the record.
        row("several ports", "--port|A|--port=B|--port|C|erase", "erase A [] ports=A,B,C");
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
        row("serial on erase", "--port|P|erase|--serial|0|--serial-state|s",
            "usage: --serial belongs to program, not erase");
        row("serial, bad address", "PV|--serial|0x8G|--serial-state|s",
            "usage: invalid address 0x8G");
        row("serial, decimal too wide", "PS|--serial-format|dec:21",
            "usage: invalid --serial-format dec:21");
        row("serial start past 32 bits", "PS|--serial-start|4294967296",
            "usage: --serial-start 4294967296 does not fit --serial-format u32le");
        row("serial start past the digits", "PS|--serial-start|1000|--serial-format|dec:3",
            "usage: --serial-start 1000 does not fit");
        row("serial start not a number", "PS|--serial-start|-1",
            "usage: invalid --serial-start -1");
        row("serial past the address space", "PV|--serial|FFFFFFFE|--serial-state|s",
            "usage: the serial number at FFFFFFFE would pass 0xFFFFFFFF");
        row("record", "--port|P|--port|Q|info|--record|log.csv",
            "info P [] ports=P,Q record=log.csv");
        row("record without a port", "devices|--record|log.csv",
            "usage: --record belongs to commands that open a port, not devices");
        // Option bytes and write protection
        row("option edits: --set, more after it",
            "--port|P|option-bytes|--set|WDG_SW=0|DATA0=0x12|--set=RDP=1",
            "option-bytes P [] set:WDG_SW=0 set:RDP=1 set:DATA0=0x12");
        row("level 2 allowed", "--port|P|option-bytes|--set|RDP=2|--allow-permanent",
            "option-bytes P [] set:RDP=2 permanent");
        row("allow-permanent alone", "--port|P|option-bytes|--allow-permanent",
            "usage: --allow-permanent goes with option-bytes --set");
        row("set without a value", "--port|P|option-bytes|--set", "usage: --set needs NAME=VALUE");
        row("set without =", "--port|P|option-bytes|--set|WDG_SW", "usage: invalid --set WDG_SW");
        row("set on info", "--port|P|info|--set|A=1", "usage: --set belongs to option-bytes");
        row("edit without --set", "--port|P|option-bytes|A=1", "usage: unexpected argument A=1");
        row("write-protect a range", "--port|P|write-protect|--address|0x08000000|--size|8K",
            "write-protect P [] 08000000+8192");
        row("write-protect all", "--port|P|write-protect|--all", "write-protect P [] all");
        row("write-protect, nothing said", "--port|P|write-protect",
            "usage: write-protect needs either");
        row("write-protect, both", "--port|P|write-protect|--all|--address|0|--size|1",
            "usage: write-protect needs either");
        row("all on erase", "--port|P|erase|--all", "usage: --all belongs to write-protect");
        row("write-unprotect", "--port|P|write-unprotect", "write-unprotect P []");
        row("write-unprotect, a range", "--port|P|write-unprotect|--address|0|--size|1",
            "usage: --address belongs to program, read, erase and write-protect");
    }

    void parse() {
        QFETCH(QString, args);
        QFETCH(QString, expected);
        // @hex, @srec, @elf and @bin stand for files with that content (their names say nothing).
        QTemporaryDir dir;
        const QList<QPair<QString, QByteArray>> contents = {{"@hex", ":00000001FF\n"},
                                                            {"@srec", "S9030000FC\n"},
                                                            {"@elf", "\177ELF"},
                                                            {"@bin", "\x01"}};
        QStringList arguments = args.split('|', Qt::SkipEmptyParts);
        for (const auto& [token, content] : contents) {
            if (!arguments.contains(token)) continue;
            QFile f(dir.filePath(token.mid(1)));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
            arguments.replace(arguments.indexOf(token), f.fileName());
            expected.replace(token, f.fileName());
        }
        const ParseResult r = parseArguments(arguments);
        const QString language = !r.options.language                        ? QString()
                                 : *r.options.language == Language::Chinese ? " lang=zh"
                                                                            : " lang=en";
        const QString actual = r.status == ParseResult::Help         ? "help" + language
                               : r.status == ParseResult::UsageError ? "usage: " + r.error
                                                                     : describe(r.options);
        const bool usage = expected.startsWith("usage: ");
        QVERIFY2(usage ? actual.startsWith("usage: ") && actual.contains(expected.mid(7))
                       : actual == expected,
                 qPrintable(actual));
    }

    void statusLine_data() {
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

    void statusLine() {
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

    void language_data() {
        // The values of LC_ALL, LC_MESSAGES and LANG ("-": unset), --lang, and the language chosen.
        QTest::addColumn<QStringList>("locale");
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("chosen");
        auto row = [](const char* name, const QStringList& locale, const char* lang,
                      const char* chosen) {
            QTest::newRow(name) << locale << QString(lang) << QString(chosen);
        };
        row("nothing set", {"-", "-", "-"}, "", "en");
        row("LANG Chinese", {"-", "-", "zh_CN.UTF-8"}, "", "zh");
        row("LANG bare zh", {"-", "-", "zh"}, "", "zh");
        row("LC_ALL before LANG", {"C.UTF-8", "-", "zh_CN.UTF-8"}, "", "en");
        row("LC_ALL Chinese", {"zh_TW.UTF-8", "en_US.UTF-8", "en_US.UTF-8"}, "", "zh");
        row("LC_MESSAGES before LANG", {"-", "zh_HK", "de_DE.UTF-8"}, "", "zh");
        row("empty values are skipped", {"", "", "zh_SG.GB2312"}, "", "zh");
        row("--lang en over the locale", {"-", "-", "zh_CN.UTF-8"}, "en", "en");
    }

    void language() {
        QFETCH(QStringList, locale);
        QFETCH(QString, lang);
        QFETCH(QString, chosen);
        const char* const names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
        const auto set = [](const char* name, const QString& value) {
            value == "-" ? qunsetenv(name) : qputenv(name, value.toUtf8());
        };
        QStringList saved;
        for (int i = 0; i < 3; ++i) {
            saved << (qEnvironmentVariableIsSet(names[i]) ? qEnvironmentVariable(names[i]) : "-");
            set(names[i], locale[i]);
        }
        const QStringList args =
            lang.isEmpty() ? QStringList{"devices"} : QStringList{"devices", "--lang", lang};
        const Language language = chosenLanguage(parseArguments(args).options);
        for (int i = 0; i < 3; ++i) set(names[i], saved[i]);
        QCOMPARE(language == Language::Chinese ? "zh" : "en", chosen);
    }

    void portLines_data() {
        QTest::addColumn<std::vector<PortInfo>>("ports");
        QTest::addColumn<QString>("lines");
        const auto row = [](const char* name, const std::vector<PortInfo>& ports,
                            const char* lines) { QTest::newRow(name) << ports << QString(lines); };
        row("description and IDs",
            {port("ttyUSB0", 0x10C4, 0xEA60, "CP2102 USB to UART Bridge Controller")},
            "ttyUSB0  CP2102 USB to UART Bridge Controller (10c4:ea60)\n");
        row("names aligned, nothing known, simulated",
            {port("ttyS0"), port("ttyACM10", 0x0483, 0x374B, "STM32 STLink", "STMicro"),
             simulatedPort("/dev/pts/3")},
            "ttyS0\nttyACM10    STM32 STLink, STMicro (0483:374b)\n/dev/pts/3  praxon-sim\n");
        // Two adapters alike differ only by their serial numbers.
        row("serial numbers",
            {port("ttyUSB0", 0x0403, 0x6001, "FT232R USB UART", "FTDI", "A50285BI"),
             port("ttyUSB1", 0x0403, 0x6001, "FT232R USB UART", "FTDI", "A10K3QX2")},
            "ttyUSB0  FT232R USB UART, FTDI (0403:6001) S/N A50285BI\n"
            "ttyUSB1  FT232R USB UART, FTDI (0403:6001) S/N A10K3QX2\n");
        // Drivers that name the maker by its vendor ID, or inside the description, say it once.
        row("maker repeated",
            {port("ttyUSB2", 0x1A86, 0x7523, "USB Serial", "1a86"),
             port("COM12", 0x067B, 0x2303, "Prolific USB-to-Serial Comm Port", "Prolific")},
            "ttyUSB2  USB Serial (1a86:7523)\n"
            "COM12    Prolific USB-to-Serial Comm Port (067b:2303)\n");
        row("IDs only", {port("ttyACM0", 0x2E8A, 0x000A)}, "ttyACM0  (2e8a:000a)\n");
        row("none", {}, "");
    }

    void portLines() {
        QFETCH(std::vector<PortInfo>, ports);
        QFETCH(QString, lines);
        QCOMPARE(PortListText(ports), lines);
        // The JSON form carries the same ports, one object per line.
        const QStringList objects = PortListJson(ports).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(objects.size(), qsizetype(ports.size()));
        for (size_t i = 0; i < ports.size(); ++i) {
            const QJsonObject o = QJsonDocument::fromJson(objects[qsizetype(i)].toUtf8()).object();
            QCOMPARE(o["name"].toString() + ' ' + o["vendorId"].toString() + ' ' +
                         o["usb"].toVariant().toString(),
                     ports[i].name + ' ' +
                         (ports[i].vendorId ? QString::asprintf("%04x", *ports[i].vendorId) : "") +
                         ' ' + (ports[i].isUsb() ? "true" : "false"));
        }
    }

    void autoPort_data() {
        QTest::addColumn<std::vector<PortInfo>>("ports");
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QString>("opened");     // empty: refused
        QTest::addColumn<QStringList>("named");  // the ports the message names
        const PortInfo adapter = port("ttyUSB1", 0x10C4, 0xEA60, "CP2102"),
                       other = port("ttyACM0", 0x0483, 0x5740, "STM32 Virtual COM Port");
        const auto row = [](const char* name, const std::vector<PortInfo>& ports,
                            const char* requested, const char* opened, const QStringList& named) {
            QTest::newRow(name) << ports << QString(requested) << QString(opened) << named;
        };
        row("none at all", {}, "auto", "", {});
        row("none USB", {port("ttyS0"), simulatedPort("/dev/pts/4")}, "auto", "",
            {"ttyS0", "/dev/pts/4"});
        row("one USB among others", {port("ttyS0"), simulatedPort("/dev/pts/4"), adapter}, "auto",
            "ttyUSB1", {"ttyUSB1"});
        row("several USB", {other, port("ttyS0"), adapter}, "auto", "", {"ttyACM0", "ttyUSB1"});
        row("a name is taken as it is", {adapter}, "/dev/ttyS3", "/dev/ttyS3", {});
    }

    void autoPort() {
        QFETCH(std::vector<PortInfo>, ports);
        QFETCH(QString, requested);
        QFETCH(QString, opened);
        QFETCH(QStringList, named);
        std::vector<QString> chosen;
        for (const PortInfo& p : ChooseAutoPort(ports).adapters) chosen.push_back(p.name);
        FixedPortSource source(ports);
        for (Language language : {Language::English, Language::Chinese}) {
            QBuffer err;
            err.open(QIODevice::WriteOnly);
            const std::optional<QString> port = ResolvePort(requested, source, language, err);
            QCOMPARE(port.value_or(QString()), opened);
            QStringList mentioned;
            for (const PortInfo& p : ports)
                if (QString::fromUtf8(err.data()).contains(p.name)) mentioned << p.name;
            QCOMPARE(mentioned, named);
        }
        if (requested == "auto") QCOMPARE(chosen.size() == 1 ? chosen.front() : QString(), opened);
    }

    // Every text exists in both languages, the English ones hold no Chinese, and the count of
    // adapters found lands in the text.
    void portTexts() {
        for (PortText t : {PortText::NoPorts, PortText::AutoPicked, PortText::AutoNone,
                           PortText::AutoSeveral, PortText::PortsPresent}) {
            const QString zh = portText(t, Language::Chinese), en = portText(t, Language::English);
            QVERIFY(!zh.isEmpty() && !en.isEmpty() && zh != en);
            QVERIFY(std::none_of(en.begin(), en.end(), [](QChar c) { return c.unicode() > 0x7F; }));
        }
        for (Language language : {Language::Chinese, Language::English})
            QVERIFY(portText(PortText::AutoSeveral, language).arg(7).contains(" 7 "));
    }

    void helpPages_data() {
        QTest::addColumn<Language>("language");
        QTest::newRow("Chinese") << Language::Chinese;
        QTest::newRow("English") << Language::English;
    }

    // Each page names every command and option the parser takes, and the usage shown with an error
    // is the top of the help.
    void helpPages() {
        QFETCH(Language, language);
        const QString help = helpText(language), usage = usageText(language);
        QStringList missing;
        const QStringList words =
            QString(
                "info program read erase go protect unprotect devices ports --port auto --baud "
                "--reset-line --reset-inverted --boot0-line --boot0-inverted --sequence "
                "--compatible --turbo --turbo-baud --flash-kb --lang --json --address --size "
                "--erase=pages --verify --run --go-address --format LC_ALL LC_MESSAGES LANG JSON "
                "--serial --serial-state --serial-start --serial-format u32le u32be u64le dec:W "
                "hex:W --record")
                .split(' ');
        for (const QString& word : words)
            if (!help.contains(QRegularExpression(QString("(^|[^-\\w])%1\\b").arg(word))))
                missing << word;
        QCOMPARE(missing, QStringList());
        const QString usageBlock = usage.section('\n', 0, -3);
        QVERIFY(help.contains(usageBlock + "\n\n"));
        const bool chinese =
            std::any_of(help.begin(), help.end(), [](QChar c) { return c.unicode() >= 0x4E00; });
        QCOMPARE(chinese, language == Language::Chinese);
    }

    // The help and the refusal of --baud name the speeds the engine takes, and the default.
    void lineSpeedsNamed() {
        const QString help = QString(helpText(Language::English)).replace('\n', ' ');
        for (int speed : kLineSpeeds)
            QVERIFY2(help.contains(QRegularExpression(QString("\\b%1\\b").arg(speed))),
                     qPrintable(QString::number(speed)));
        QVERIFY(help.contains(QString("%1 (the default)").arg(kDefaultLineSpeed)));
        const ParseResult r = parseArguments({"--port", "P", "info", "--baud", "250000"});
        QVERIFY(r.error.endsWith(QString::fromStdString(LineSpeedsText())));
    }

    // JSON mode: one object per line with its data, nothing else on stdout, and the result last.
    void json_data() {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("lastEvent");  // the event of the line before the result
        QTest::newRow("verified program") << true << "operation_ended";
        QTest::newRow("refused start address") << false << "go_address_refused";
    }

    void json() {
        QFETCH(bool, ok);
        QFETCH(QString, lastEvent);
        QBuffer out, err;
        out.open(QIODevice::WriteOnly);
        err.open(QIODevice::WriteOnly);
        qint64 now = 0;
        CliHost host(out, err, true, [&now] { return now; });
        host.setJson(true);
        host.setLanguage(Language::English);
        host.setTimeSource(
            [] { return QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 678), Qt::UTC); });
        Event chip(EventCode::ChipIdentified, Operation::Connect),
            size(EventCode::FlashSize, Operation::Connect),
            uid(EventCode::UniqueId, Operation::Connect),
            progress(EventCode::Progress, Operation::Program),
            written(EventCode::Programmed, Operation::Program),
            verified(EventCode::Verified, Operation::Verify),
            end(EventCode::OperationEnded, Operation::Program),
            refused(EventCode::GoAddressRefused, Operation::Go);
        chip.pid = 0x410, chip.family = "STM32F10x", chip.bytes = QByteArray::fromHex("0410");
        size.flashKB = 64;
        uid.address = 0x1FFFF7E8, uid.bytes = QByteArray::fromHex("0102030405060708090A0B0C");
        progress.done = 512, progress.total = 1024;
        written.done = 1024, written.elapsedNs = 250'000'000;
        verified.done = 1024, end.ok = true;
        refused.address = 0x12345678, refused.actual = 0x1F;
        for (const Event& e : ok ? QList<Event>{chip, size, uid, progress, written, verified, end}
                                 : QList<Event>{chip, size, uid, refused})
            host.report(e);
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
        QCOMPARE(lines.size(), ok ? 8 : 5);
        const QStringList chipLine{"event=chip_identified", "pid=0x410", "family=STM32F10x"},
            uidLine{"event=unique_id", "uid=0102030405060708090A0B0C"},
            fourth = ok ? QStringList{"kind=progress", "done=512", "total=1024"}
                        : QStringList{"address=0x12345678", "actual=0x1F", "operation=go"};
        QCOMPARE(fields(lines[0], chipLine), chipLine);
        QCOMPARE(fields(lines[2], uidLine), uidLine);
        QCOMPARE(fields(lines[3], fourth), fourth);
        QCOMPARE(lines[lines.size() - 2]["event"].toString(), lastEvent);
        const QString n = ok ? "1024" : "0";
        const QStringList result{"kind=result",
                                 ok ? "ok=true" : "ok=false",
                                 ok ? "exit_status=0" : "exit_status=1",
                                 "duration_s=1.5",
                                 "bytes_written=" + n,
                                 "bytes_verified=" + n,
                                 "chip.flash_kb=64",
                                 "chip.pid=0x410",
                                 "chip.uid=0102030405060708090A0B0C"};
        QCOMPARE(fields(lines.last(), result), result);
    }

    // A refused image file in JSON: its reason by name, the line and its number where there is one.
    void imageRefusalJson_data() {
        QTest::addColumn<Event>("event");
        QTest::addColumn<QStringList>("fields");  // "key=value", compared as strings
        Event srec(EventCode::SrecRefused, Operation::Load);
        srec.srecError = SrecError::CountMismatch, srec.value = 4, srec.text = "S5030002FA";
        QTest::newRow("S-record line")
            << srec
            << QStringList{"event=srec_refused", "srec_error=count_mismatch", "line_number=4",
                           "line=S5030002FA"};
        Event elf(EventCode::ElfRefused, Operation::Load);
        elf.elfError = ElfError::OverlappingSegments, elf.address = 0x08000002;
        QTest::newRow("ELF overlap")
            << elf
            << QStringList{"event=elf_refused", "elf_error=overlapping_segments",
                           "address=0x08000002"};
        // Option-byte events: their data under names of their own, never "path".
        Event field(EventCode::OptionFieldValue, Operation::OptionBytes);
        field.text = "WDG_SW", field.value = 0, field.detail = "hardware watchdog";
        QTest::newRow("option field")
            << field
            << QStringList{"event=option_field_value", "name=WDG_SW", "value=0",
                           "meaning=hardware watchdog", "operation=option_bytes"};
        Event refused(EventCode::UnitsWriteProtected, Operation::Erase);
        refused.address = 0x08000000, refused.value = 4, refused.text = "0-3";
        QTest::newRow("protected units") << refused
                                         << QStringList{"event=units_write_protected", "units=0-3",
                                                        "count=4", "address=0x08000000"};
        Event range(EventCode::WriteProtectedRange, Operation::Connect);
        range.address = 0x08001000, range.value = 0x1000, range.done = 4, range.total = 7;
        QTest::newRow("protected range")
            << range << QStringList{"first_unit=4", "last_unit=7", "length=4096"};
    }

    void imageRefusalJson() {
        QFETCH(Event, event);
        QFETCH(QStringList, fields);
        QBuffer out, err;
        out.open(QIODevice::WriteOnly);
        err.open(QIODevice::WriteOnly);
        CliHost host(out, err, false, [] { return qint64(0); });
        host.setJson(true);
        host.report(event);
        const QJsonObject o = QJsonDocument::fromJson(out.data().split('\n').first()).object();
        QCOMPARE(::fields(o, fields), fields);
        QVERIFY(!o.contains("path"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
