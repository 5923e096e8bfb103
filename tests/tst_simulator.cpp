// The pty server, checked with a raw client and with stm32flash; the modem lines through
// libpraxon-lines.so in stm32flash and in a QSerialPort child; a program run on the emulated core
// through the port. (praxon-sim as a process serves
// tst_cliprocess: its port line, --preload, --dump and --counters are checked there.)
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <QScopeGuard>
#include <QSerialPort>
#include <QtTest>

#include "IntelHex.h"
#include "LineProtocol.h"
#include "Simulator.h"
#include "cortexm_programs.h"

using namespace praxon::sim;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}
double nowMs() {
    return std::chrono::steady_clock::now().time_since_epoch() / std::chrono::microseconds(1) / 1e3;
}

// A raw client on the pty slave that notes when each byte arrived and where each read ended.
struct Client {
    int fd;
    QList<double> arrivals;
    QList<int> readEnds;
    explicit Client(const std::string& path)
        : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~Client() { ::close(fd); }
    // Writes, then reads until `want` bytes came or 2 s passed.
    QByteArray exchange(const QByteArray& out, int want) {
        QByteArray got;
        if (::write(fd, out.constData(), size_t(out.size())) != out.size()) return "write failed";
        for (const double start = nowMs(); got.size() < want && nowMs() - start < 2000;) {
            pollfd p{fd, POLLIN, 0};
            char buf[512];
            const ssize_t n = ::poll(&p, 1, 2) > 0 ? ::read(fd, buf, sizeof buf) : 0;
            for (ssize_t i = 0; i < n; ++i) arrivals.append(nowMs());
            got.append(buf, std::max<ssize_t>(n, 0));
            if (n > 0) readEnds.append(int(got.size()));
        }
        return got;
    }
};

// The events go to *events from the server thread: read them after stop().
std::unique_ptr<Simulator> started(bool instant, std::string link = {}, int usbPacket = 0,
                                   int usbLatencyMs = 0, const QString& fault = {},
                                   const Wiring& wiring = {}, QStringList* events = nullptr) {
    SimulatorOptions o;
    o.instant = instant, o.linkPath = link, o.board.wiring = wiring;
    o.usbPacket = usbPacket, o.usbLatencyMs = usbLatencyMs;
    Fault f;
    if (!fault.isEmpty() && parseFault(fault.toStdString(), &f, nullptr)) o.board.faults = {f};
    auto sim = std::make_unique<Simulator>(o);
    if (events) sim->setEventHandler([events](const std::string& e) { *events << e.c_str(); });
    std::string error;
    if (!sim->start(&error)) qWarning("simulator: %s", error.c_str());
    return sim;
}

// Runs stm32flash on the port, with the lines library if asked; true when it exits with 0.
bool stm32flash(const std::string& port, const QStringList& args, QString* out,
                bool lines = false) {
    QProcess p;
    if (lines) p.setEnvironment(QProcess::systemEnvironment() << "LD_PRELOAD=" PRAXON_LINES_LIB);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("stm32flash", QStringList{"-m", "8n1", "-b", "115200"} + args +
                              QStringList{QString::fromStdString(port)});
    if (!p.waitForFinished(30000)) p.kill(), p.waitForFinished();
    *out = args.join(' ') + "\n" + QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

}  // namespace

class TestSimulator : public QObject {
    Q_OBJECT

private slots:
    // The link lives as long as the simulator, replaces a stale link and never a regular file.
    void link() {
        QTemporaryDir dir;
        const QString link = dir.filePath("ttySIM");
        QFile::link("/nonexistent", link);
        auto sim = started(true, link.toStdString());
        QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromStdString(sim->portPath()));
        sim->stop();
        QVERIFY(!QFileInfo::exists(link) && !sim->serving());
        QVERIFY(QFile(dir.filePath("plain")).open(QIODevice::WriteOnly));
        QVERIFY(!started(true, dir.filePath("plain").toStdString())->serving());
        QVERIFY(QFileInfo(dir.filePath("plain")).isFile());
    }

    // A pty number whose line socket another process still holds (it exits a moment after its
    // pty closed) is skipped, not a failed start.
    void socketNameTaken() {
        // The pty the simulator would get next, and its socket name held here.
        const int probe = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(probe >= 0);
        char name[128] = {};
        QVERIFY(grantpt(probe) == 0 && unlockpt(probe) == 0 &&
                ptsname_r(probe, name, sizeof name) == 0);
        struct stat pty {};
        const int slave = open(name, O_RDWR | O_NOCTTY);
        QVERIFY(slave >= 0 && fstat(slave, &pty) == 0);
        close(slave);
        close(probe);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        QVERIFY(praxon_lines_socket_name(pty.st_rdev, addr.sun_path + 1, sizeof addr.sun_path - 1));
        const int holder = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        const auto closeHolder = qScopeGuard([holder] { close(holder); });
        const auto length =
            socklen_t(offsetof(sockaddr_un, sun_path) + 1 + std::strlen(addr.sun_path + 1));
        QVERIFY(bind(holder, reinterpret_cast<sockaddr*>(&addr), length) == 0);
        auto sim = started(true);
        QVERIFY(sim->serving());
        QVERIFY(sim->portPath() != name);
    }

    void usbAdapter_data() {
        QTest::addColumn<int>("packet");  // 0: no adapter
        QTest::addColumn<int>("latencyMs");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("holdMs");  // the last partial packet waits at least this long
        QTest::addColumn<int>("baud");    // set by the client on the port
        const QByteArray read256 = hex("7f 11ee 0800000008 ff00");
        const QByteArray readReply = hex("79797979") + QByteArray(256, char(0xFF));
        QTest::newRow("read: acks join the data packets")
            << 62 << 16 << "" << read256 << readReply << 16 << 115200;
        QTest::newRow("hangup flushes the waiting ack")  // long before its timer
            << 62 << 5000 << "hangup:0x00:1" << hex("7f 00ff") << hex("79") << 0 << 115200;
        QTest::newRow("no adapter at 9600") << 0 << 0 << "" << read256 << readReply << 0 << 9600;
    }

    // Behind a USB adapter the host gets board bytes in whole packets, or a partial one after the
    // latency timer; no byte may come before its packet is full or its timer ran out. Only lower
    // time bounds: a busy machine may deliver anything later, and the client may merge packets.
    // Bytes go at the speed the client set on the port.
    void usbAdapter() {
        QFETCH(int, packet);
        QFETCH(int, latencyMs);
        QFETCH(QString, fault);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(int, holdMs);
        QFETCH(int, baud);
        auto sim = started(false, {}, packet, latencyMs, fault);
        Client c(sim->portPath());
        termios tio{};
        QVERIFY(tcgetattr(c.fd, &tio) == 0 &&
                cfsetspeed(&tio, baud == 9600 ? B9600 : B115200) == 0 &&
                tcsetattr(c.fd, TCSANOW, &tio) == 0);
        const double start = nowMs();
        QCOMPARE(c.exchange(request, int(reply.size())), reply);
        const double byteMs = 11 * 1000.0 / baud;
        const int n = int(reply.size());
        const int held = packet ? n - n % packet : n;  // first byte of the last partial packet
        for (int i = 0; i < n; ++i) {
            const int whole = packet ? (i / packet + 1) * packet : i + 1;
            const double earliest = i >= held ? held * byteMs + holdMs : whole * byteMs;
            QVERIFY2(c.arrivals[i] - start >= earliest - 1,
                     qPrintable(QString("byte %1 after %2 ms").arg(i).arg(c.arrivals[i] - start)));
        }
        for (int i = 0; packet && i + 1 < c.readEnds.size(); ++i)
            QVERIFY2(c.readEnds[i] % packet == 0, qPrintable(QString::number(c.readEnds[i])));
        if (fault.startsWith("hangup")) QTRY_VERIFY(!sim->serving());
    }

    // stm32flash as a real client at line pace behind a USB adapter: it identifies the board,
    // writes a HEX file (from our own writer) with verify and reads it back byte for byte (its 0x7F
    // then finds the bootloader synchronised: a NACKed command), sets readout protection (flash
    // kept), removes it (flash erased) and starts the program with Go.
    void stm32flashSession() {
        QTemporaryDir dir;
        auto sim = started(false, {}, 62, 16);
        const std::vector<uint8_t> erased(sim->flashImage().size(), 0xFF);
        QByteArray image(1024, 0);
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 13 + i / 256);  // no 256-byte period
        const auto* bytes = reinterpret_cast<const uint8_t*>(image.constData());
        std::string text = praxon::ExtendedLinearAddressLine(0x08001000) + "\n";
        for (int i = 0; i < image.size(); i += 64)
            text += praxon::DataRecordLine(0x08001000 + i, bytes + i, 64) + "\n";
        QFile hex(dir.filePath("i.hex"));
        QVERIFY(hex.open(QIODevice::WriteOnly) &&
                hex.write((text + praxon::EndOfFileLine()).c_str()));
        hex.close();
        QString out;
        auto run = [&](const QStringList& args) { return stm32flash(sim->portPath(), args, &out); };
        QVERIFY2(run({"-w", hex.fileName(), "-v"}) && out.contains("Version      : 0x22") &&
                     out.contains("Device ID    : 0x0410"),
                 qPrintable(out));
        QVERIFY2(run({"-S", "0x08001000:1024", "-r", dir.filePath("b")}), qPrintable(out));
        QFile back(dir.filePath("b"));
        QVERIFY(back.open(QIODevice::ReadOnly) && back.readAll() == image);
        sim->loadFlash(0, std::vector<uint8_t>(1024, 0x42));
        QVERIFY2(run({"-j"}) && sim->readoutProtected(), qPrintable(out));
        QCOMPARE(sim->flashImage()[0], uint8_t(0x42));
        sim->reset();  // the user presses reset between runs
        QVERIFY2(run({"-k"}) && !sim->readoutProtected() && sim->flashImage() == erased,
                 qPrintable(out));
        sim->reset();
        QVERIFY2(run({"-g", "0x08000400"}), qPrintable(out));
        QCOMPARE(sim->counters().goAddress.value_or(0), 0x08000400u);
    }

    void stm32flashWiring_data() {
        QTest::addColumn<Wiring>("wiring");
        QTest::addColumn<QString>("sequence");  // stm32flash -i, then -R; none: plain stm32flash
        QTest::addColumn<QString>("events");    // once stm32flash closed the port
        const Wiring dr{Line::Dtr, false, Line::Rts, false};
        const Wiring drInv{Line::Dtr, true, Line::Rts, true};
        // Entry: BOOT0 high, reset pulse; exit: BOOT0 low, reset pulse. An asserted line ("dtr")
        // pulls a direct pin low and drives an inverted one high.
        const QString direct = "held in reset|reset|held in reset|reset|running the user program";
        // Inverted, the released lines hold reset: the open starts the bootloader, the close holds
        // the chip again.
        const QString inverted = "reset|" + direct + "|held in reset";
        QTest::newRow("reset DTR, BOOT0 RTS") << dr << "-rts&dtr,-dtr:rts&dtr,-dtr" << direct;
        QTest::newRow("inverted DTR, RTS") << drInv << "rts&-dtr,dtr:-rts&-dtr,dtr" << inverted;
        // The open asserts both lines and nothing releases reset until the close.
        QTest::newRow("no sequence: held") << dr << QString() << "held in reset|reset";
    }

    // stm32flash as an independent client driving the lines through the library: each change is in
    // effect on the board before its next byte.
    void stm32flashWiring() {
        QFETCH(Wiring, wiring);
        QFETCH(QString, sequence);
        QFETCH(QString, events);
        QStringList log;
        auto sim = started(true, {}, 0, 0, {}, wiring, &log);
        const QStringList args =
            sequence.isEmpty() ? QStringList{} : QStringList{"-i", sequence, "-R"};
        QString out;
        QVERIFY2(stm32flash(sim->portPath(), args, &out, true) == !sequence.isEmpty(),
                 qPrintable(out));
        QTRY_VERIFY(!sim->lines().dtr && !sim->lines().rts);  // HUPCL: the close released them
        sim->stop();
        QCOMPARE(log.join('|'), events);
    }

    // stm32flash's write unprotect and reads of the option area, run after each other, on an F1
    // whose block 0 is write-protected from power-up (each protection command resets the board,
    // the next run synchronises again; -j and -k: stm32flashSession). A step: stm32flash's
    // arguments, "=>", then "ok", "fail" or the hex of what -r F read.
    void stm32flashProtection() {
        if (QStandardPaths::findExecutable("stm32flash").isEmpty()) QSKIP("stm32flash is missing");
        const QString options = "-r F -S 0x1FFFF800:16 => ";
        const QStringList steps{options + "a55aff00ff00ff00fe01ff00ff00ff00", "-w W => fail",
                                "-u => ok", options + "a55aff00ff00ff00ff00ff00ff00ff00",
                                "-w W => ok"};
        QTemporaryDir dir;
        QFile image(dir.filePath("W"));
        QVERIFY(image.open(QIODevice::WriteOnly) && image.write(QByteArray(2048, 'w')) == 2048);
        image.close();
        SimulatorOptions o;
        o.instant = true;
        o.board.optionEdits = {"WRP0=0xFE"};
        Simulator sim(o);
        std::string error;
        QVERIFY2(sim.start(&error), error.c_str());
        for (const QString& step : steps) {
            const QStringList parts = step.split(" => ");
            QStringList args = parts[0].split(' ');
            args.replaceInStrings(QRegularExpression("^F$"), dir.filePath("F"));
            args.replaceInStrings(QRegularExpression("^W$"), image.fileName());
            QFile::remove(dir.filePath("F"));
            QString out;
            const bool ok = stm32flash(sim.portPath(), args, &out);
            QString result = ok ? "ok" : "fail";
            QFile read(dir.filePath("F"));
            if (ok && parts[0].startsWith("-r") && read.open(QIODevice::ReadOnly))
                result = read.readAll().toHex();
            QCOMPARE(result, parts[1]);
        }
    }

    // praxon-sim --boards N as a process: one PORT= line per board, each board with its own unique
    // ID (given: counted up; else random), flash and counters file (one board's: tst_cliprocess).
    void boards_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("uids");  // per board; "random": any, all different
        QTest::addColumn<QStringList>("counters");
        QTest::newRow("three boards counted up with a carry")
            << QStringList{"--boards", "3", "--uid", "0011223344556677889900FF"}
            << QStringList{"0011223344556677889900FF", "001122334455667788990100",
                           "001122334455667788990101"}
            << QStringList{"c-1", "c-2", "c-3"};
        QTest::newRow("two boards, random IDs")
            << QStringList{"--boards", "2"} << QStringList{"random", "random"}
            << QStringList{"c-1", "c-2"};
    }

    void boards() {
        QFETCH(QStringList, args);
        QFETCH(QStringList, uids);
        QFETCH(QStringList, counters);
        QTemporaryDir dir;
        QProcess sim;
        sim.start(PRAXON_SIM_EXE, QStringList{"--instant", "--counters", dir.filePath("c")} + args);
        auto stop = qScopeGuard([&] {
            sim.kill();
            sim.waitForFinished();
        });
        QStringList ports, banners;
        for (const double start = nowMs(); nowMs() - start < 5000;) {
            if (!sim.canReadLine() && !sim.waitForReadyRead(100)) continue;
            const QString line = QString::fromUtf8(sim.readLine()).trimmed();
            if (line.startsWith("PORT=")) ports << line.mid(5);
            if (line.contains("serving")) banners << line;
            if (banners.size() == uids.size()) break;
        }
        QCOMPARE(ports.size(), uids.size());
        QStringList seen;
        for (int k = 0; k < ports.size(); ++k) {
            Client c(ports[k].toStdString());
            QCOMPARE(c.exchange(hex("7f"), 1), hex("79"));
            // Read Memory of the unique ID at 0x1FFFF7E8.
            const QByteArray reply = c.exchange(hex("11ee 1ffff7e8 ff 0b f4"), 15);
            QCOMPARE(reply.left(3), hex("797979"));
            const QString uid = reply.mid(3).toHex().toUpper();
            QVERIFY2(banners[k].contains("unique ID " + uid), qPrintable(banners[k]));
            if (uids[k] != "random") QCOMPARE(uid, uids[k]);
            QVERIFY2(!seen.contains(uid), "two boards with one ID");
            seen << uid;
            // Each board its own flash: board 1 writes, the others stay erased.
            if (k == 0)
                QCOMPARE(c.exchange(hex("31ce 08000000 08 03 12345678 0b"), 3), hex("797979"));
            if (k > 0)
                QCOMPARE(c.exchange(hex("11ee 08000000 08 03 fc"), 7), hex("797979 ffffffff"));
        }
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        stop.dismiss();
        QCOMPARE(sim.exitCode(), 0);
        for (const QString& name : counters)
            QVERIFY2(QFile::exists(dir.filePath(name)), qPrintable(name));
    }

    void badOptions_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const char* args, const char* message) {
            QTest::newRow(name) << QString(args).split(' ') << message;
        };
        row("no boards", "--boards 0", "--boards must be 1 to 64");
        row("too many boards", "--boards 65", "--boards must be 1 to 64");
        row("short ID", "--uid 0011", "--uid must be 24 hex digits (12 bytes)");
        row("option the chip lacks", "--option BFB2=0",
            "--option: 'BFB2': no such option on STM32F10x medium-density (it has RDP, WDG_SW, "
            "nRST_STOP, nRST_STDBY, DATA0, DATA1, WRP0, WRP1, WRP2, WRP3)");
        row("family without a layout", "--pid 0x452 --option RDP=1",
            "--option: the option bytes of STM32F7xx F72x/F73x are not modelled");
    }

    // Refused before any port is made: exit status 2 and one message.
    void badOptions() {
        QFETCH(QStringList, args);
        QProcess sim;
        sim.start(PRAXON_SIM_EXE, args);
        auto stop = qScopeGuard([&] {
            sim.kill();
            sim.waitForFinished();
        });
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 2);
        QVERIFY(sim.readAllStandardOutput().isEmpty());
        QFETCH(QString, message);
        QCOMPARE(QString::fromUtf8(sim.readAllStandardError()).section('\n', 0, 0),
                 "praxon-sim: " + message);
    }

    // Praxon's own kind of client: QSerialPort sets the lines with TIOCMBIS/TIOCMBIC and reads them
    // with TIOCMGET. Reset on DTR, BOOT0 on RTS, direct: the open holds the chip in reset;
    // releasing BOOT0, then reset, starts the bootloader.
    void qtClient() {
        auto sim = started(true, {}, 0, 0, {}, Wiring{Line::Dtr, false, Line::Rts, false});
        QProcess child;
        child.setEnvironment(QProcess::systemEnvironment() << "LD_PRELOAD=" PRAXON_LINES_LIB);
        child.start(QCoreApplication::applicationFilePath(),
                    {"-qtclient", QString::fromStdString(sim->portPath())});
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.readAllStandardOutput().trimmed(), "44: 0:79");
    }

    void served_data() {
        QTest::addColumn<bool>("instant");
        QTest::newRow("instant") << true;
        QTest::newRow("real pace") << false;
    }

    // Write Memory puts a program in SRAM, Go starts it on the emulated core, it echoes, 'R' makes
    // it reset the chip, and the bootloader answers 0x7F again.
    void served() {
        QFETCH(bool, instant);
        QStringList events;
        auto sim = started(instant, {}, 0, 0, {}, {}, &events);
        Client c(sim->portPath());
        QByteArray image =
            hex("00500020 09020020");  // stack top; the entry (Thumb) after the vectors
        image.append(reinterpret_cast<const char*>(programs::echoreset.data()),
                     qsizetype(programs::echoreset.size()));
        while (image.size() % 4) image.append(char(0));
        char sum = char(image.size() - 1);
        for (char byte : image) sum ^= byte;
        const QByteArray at = hex("20000200 22");
        QCOMPARE(c.exchange(hex("7f"), 1).toHex(), QByteArray("79"));
        QCOMPARE(c.exchange(hex("31ce") + at, 2).toHex(), QByteArray("7979"));
        QCOMPARE(c.exchange(char(image.size() - 1) + image + sum, 1).toHex(), QByteArray("79"));
        QCOMPARE(c.exchange(hex("21de") + at, 2).toHex(), QByteArray("7979"));
        QCOMPARE(sim->state(), Board::State::RamCode);
        QCOMPARE(c.exchange("hello, loader", 13), QByteArray("hello, loader"));
        QCOMPARE(c.exchange("R", 0), QByteArray());
        QTRY_COMPARE(sim->state(), Board::State::WaitSync);
        QCOMPARE(c.exchange(hex("7f"), 1).toHex(), QByteArray("79"));
        sim->stop();
        QVERIFY2(events.contains("loader runs from 0x20000200") &&
                     events.contains("system reset request"),
                 qPrintable(events.join(", ")));
    }
};

// The child side of qtClient(): the lines QSerialPort reads (DTR 0x04, RTS 0x40) and what a 0x7F
// gets, after the open and after the release.
static int qtClientChild(const char* port) {
    QSerialPort p(QString::fromLocal8Bit(port));
    if (!p.open(QIODevice::ReadWrite) || !p.setBaudRate(115200)) return 1;
    for (int step = 0; step < 2; ++step) {
        if (step == 1 && !(p.setRequestToSend(false) && p.setDataTerminalReady(false))) return 2;
        p.write("\x7f");
        p.waitForReadyRead(300);
        std::printf("%x:%s ", unsigned(p.pinoutSignals()), p.readAll().toHex().constData());
    }
    return 0;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "-qtclient") == 0) return qtClientChild(argv[2]);
    TestSimulator test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_simulator.moc"
