// The pty server and the praxon-sim executable, checked with a raw client and with stm32flash;
// the modem lines through libpraxon-lines.so in stm32flash and in a QSerialPort child.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <QSerialPort>
#include <QtTest>
#include <mutex>

#include "IntelHex.h"
#include "Simulator.h"

using namespace praxon::sim;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}
double nowMs() {
    return std::chrono::steady_clock::now().time_since_epoch() / std::chrono::microseconds(1) / 1e3;
}
QByteArray addr(uint32_t a) {
    QByteArray f;
    for (int s = 24; s >= 0; s -= 8) f.append(char(a >> s));
    return f + char(f[0] ^ f[1] ^ f[2] ^ f[3]);
}
QByteArray data(const QByteArray& bytes) {
    char sum = char(bytes.size() - 1);
    for (char c : bytes) sum ^= c;
    return char(bytes.size() - 1) + bytes + sum;
}
QByteArray pattern(int size) {
    QByteArray b(size, 0);
    for (int i = 0; i < size; ++i) b[i] = char(i * 13 + i / 256 + size);  // no 256-byte period
    return b;
}
QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : "unreadable";
}

// A raw client on the pty slave that notes when each byte arrived and where each read ended.
struct Client {
    int fd;
    QList<double> arrivals;
    QList<int> readEnds;
    explicit Client(const std::string& path)
        : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~Client() { ::close(fd); }
    // Writes, then reads until `want` bytes came or timeoutMs passed.
    QByteArray exchange(const QByteArray& out, int want, int timeoutMs = 2000) {
        QByteArray got;
        arrivals.clear();
        readEnds.clear();
        if (::write(fd, out.constData(), size_t(out.size())) != out.size()) return "write failed";
        for (const double start = nowMs(); got.size() < want && nowMs() - start < timeoutMs;) {
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

// Wiring "RESET BOOT0", each dtr, rts or - (unwired), ! for inverted.
Wiring wiring(const QString& text) {
    auto pin = [](const QString& t, bool* inverted) {
        *inverted = t.endsWith('!');
        return t.startsWith("dtr") ? Line::Dtr : t.startsWith("rts") ? Line::Rts : Line::None;
    };
    Wiring w;
    w.reset = pin(text.section(' ', 0, 0), &w.resetInverted);
    w.boot0 = pin(text.section(' ', 1, 1), &w.boot0Inverted);
    return w;
}

std::unique_ptr<Simulator> startedWith(const SimulatorOptions& o) {
    auto sim = std::make_unique<Simulator>(o);
    std::string error;
    if (!sim->start(&error)) qWarning("simulator: %s", error.c_str());
    return sim;
}

std::unique_ptr<Simulator> started(bool instant, uint16_t pid = 0x410, std::string link = {},
                                   int usbPacket = 0, int usbLatencyMs = 0,
                                   const QString& fault = {}) {
    SimulatorOptions o;
    o.board.pid = pid, o.instant = instant, o.linkPath = link;
    o.usbPacket = usbPacket, o.usbLatencyMs = usbLatencyMs;
    Fault f;
    if (!fault.isEmpty() && parseFault(fault.toStdString(), &f, nullptr)) o.board.faults = {f};
    return startedWith(o);
}

// The simulator's events as they come, from its thread.
struct EventLog {
    std::mutex mutex;
    QStringList events;
    void attach(Simulator& sim) {
        sim.setEventHandler([this](const std::string& e) {
            std::lock_guard<std::mutex> lock(mutex);
            events << QString::fromStdString(e);
        });
    }
    QString joined() {
        std::lock_guard<std::mutex> lock(mutex);
        return events.join('|');
    }
};

QProcessEnvironment withLines() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LD_PRELOAD", PRAXON_LINES_LIB);
    return env;
}

// Runs stm32flash on the port, with the lines library if asked; true when it exits with 0.
// Its output goes to *output.
bool stm32flash(const std::string& port, const QStringList& args, QString* output = nullptr,
                bool lines = false) {
    QProcess p;
    if (lines) p.setProcessEnvironment(withLines());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("stm32flash", QStringList{"-m", "8n1", "-b", "115200"} + args +
                              QStringList{QString::fromStdString(port)});
    if (!p.waitForFinished(30000)) p.kill(), p.waitForFinished();
    if (output) *output = args.join(' ') + "\n" + QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

}  // namespace

class TestSimulator : public QObject {
    Q_OBJECT

private slots:
    void rawLineAndLink();
    void pacing();
    void clientSpeed_data();
    void clientSpeed();
    void usbAdapter_data();
    void usbAdapter();
    void stm32flashSession_data();
    void stm32flashSession();
    void cliResetGoDumpAndCounters();
    void stm32flashWiring_data();
    void stm32flashWiring();
    void qtClient_data();
    void qtClient();
    void libraryLeavesOtherPtys();
};

// A raw line from the start (no echo, CR/LF/XON untouched), and a link that lives as long as the
// simulator and never replaces a regular file.
void TestSimulator::rawLineAndLink() {
    QTemporaryDir dir;
    const QString link = dir.filePath("ttySIM");
    QFile::link("/nonexistent", link);  // a stale link is replaced
    auto sim = started(true, 0x410, link.toStdString());
    QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromStdString(sim->portPath()));
    {
        Client c(link.toStdString());
        termios tio{};
        QCOMPARE(tcgetattr(c.fd, &tio), 0);
        QVERIFY(!(tio.c_lflag & (ECHO | ICANON | ISIG)) && !(tio.c_iflag & (ICRNL | IXON)) &&
                !(tio.c_oflag & OPOST));
        const QByteArray awkward = hex("0d0a1113ff000a0d");
        QCOMPARE(c.exchange(hex("7f 31ce") + addr(0x20000200) + data(awkward) + hex("11ee") +
                                addr(0x20000200) + hex("07f8"),
                            15),
                 hex("7979 79 79 7979 79") + awkward);
    }
    sim->stop();
    QVERIFY(!QFileInfo::exists(link) && !sim->serving());
    QFile plain(dir.filePath("plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    QVERIFY(!started(true, 0x410, plain.fileName().toStdString())->serving());
    QVERIFY(QFileInfo(plain.fileName()).isFile());
}

// At line pace a 257-byte reply takes its line time, without a gap a host would take for its
// end (2 ms of quiet).
void TestSimulator::pacing() {
    auto sim = started(false);
    Client c(sim->portPath());
    QCOMPARE(c.exchange(hex("7f"), 1), hex("79"));
    double bestGap = 1e9;
    for (int attempt = 0; attempt < 10 && bestGap >= 1.5; ++attempt) {  // the machine may be busy
        QCOMPARE(c.exchange(hex("11ee") + addr(0x08000000), 2), hex("7979"));
        const double start = nowMs();
        QCOMPARE(c.exchange(hex("ff00"), 257).size(), 257);
        QVERIFY(c.arrivals.last() - start >= 24.0);
        double gap = 0;
        for (int i = 1; i < c.arrivals.size(); ++i)
            gap = std::max(gap, c.arrivals[i] - c.arrivals[i - 1]);
        bestGap = std::min(bestGap, gap);
    }
    QVERIFY2(bestGap < 2.0, qPrintable(QString("largest gap %1 ms").arg(bestGap)));
}

void TestSimulator::clientSpeed_data() {
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("speed");  // the termios constant
    QTest::newRow("9600") << 9600 << int(B9600);
    QTest::newRow("38400") << 38400 << int(B38400);
}

// Bytes go at the speed the client set; the bootloader measured it from the 0x7F and loses what
// comes at another speed until it is reset.
void TestSimulator::clientSpeed() {
    QFETCH(int, baud);
    QFETCH(int, speed);
    auto sim = started(false);
    Client c(sim->portPath());
    auto setSpeed = [&](speed_t s) {
        termios tio{};
        return tcgetattr(c.fd, &tio) == 0 && cfsetspeed(&tio, s) == 0 &&
               tcsetattr(c.fd, TCSANOW, &tio) == 0;
    };
    QVERIFY(setSpeed(speed_t(speed)));
    QCOMPARE(c.exchange(hex("7f 11ee") + addr(0x08000000), 3), hex("797979"));
    const double start = nowMs();
    QCOMPARE(c.exchange(hex("ff00"), 257).size(), 257);
    const double minimumMs = 257 * 11 * 1000.0 / baud;
    QVERIFY2(c.arrivals.last() - start >= minimumMs,
             qPrintable(QString("%1 ms").arg(c.arrivals.last() - start)));
    QVERIFY(setSpeed(B115200));
    QCOMPARE(c.exchange(hex("02fd"), 1, 300), QByteArray());
    sim->reset();
    QCOMPARE(c.exchange(hex("7f 02fd"), 6), hex("79 7901041079"));
}

void TestSimulator::usbAdapter_data() {
    QTest::addColumn<bool>("instant");
    QTest::addColumn<int>("packet");  // 0: no adapter
    QTest::addColumn<int>("latencyMs");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("holdMs");  // the last partial packet waits at least this long
    const QByteArray read256 = hex("7f 11ee") + addr(0x08000000) + hex("ff00");
    const QByteArray readReply = hex("79797979") + pattern(1024).left(256);
    const QByteArray get = hex("79 790b22000102112131436373829279");
    QTest::newRow("ack alone") << false << 62 << 16 << "" << hex("7f") << hex("79") << 16;
    QTest::newRow("read: acks join the data packets")
        << false << 62 << 16 << "" << read256 << readReply << 16;
    QTest::newRow("instant read") << true << 64 << 30 << "" << read256 << readReply << 30;
    QTest::newRow("get joins the waiting ack")
        << false << 62 << 16 << "" << hex("7f 00ff") << get << 16;
    QTest::newRow("late ack held after its delay")
        << false << 62 << 16 << "late:0x7f:1" << hex("7f") << hex("79") << 716;
    QTest::newRow("hangup flushes the waiting ack")  // long before its timer
        << false << 62 << 5000 << "hangup:0x00:1" << hex("7f 00ff") << hex("79") << 0;
    QTest::newRow("no adapter") << false << 0 << 0 << "" << read256 << readReply << 0;
}

// Behind a USB adapter the host gets board bytes in whole packets, or a partial one after the
// latency timer; no byte may come before its packet is full or its timer ran out. Only lower
// time bounds: a busy machine may deliver anything later, and the client may merge packets.
void TestSimulator::usbAdapter() {
    QFETCH(bool, instant);
    QFETCH(int, packet);
    QFETCH(int, latencyMs);
    QFETCH(QString, fault);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, holdMs);
    auto sim = started(instant, 0x410, {}, packet, latencyMs, fault);
    const QByteArray flash = pattern(1024);
    sim->loadFlash(0, std::vector<uint8_t>(flash.begin(), flash.end()));
    Client c(sim->portPath());
    const double start = nowMs();
    QCOMPARE(c.exchange(request, int(reply.size())), reply);
    const double byteMs = instant ? 0 : kByteTimeNs / 1e6;
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
    if (packet >= n) QCOMPARE(c.readEnds.size(), 1);
    if (fault.startsWith("hangup")) QTRY_VERIFY(!sim->serving());
}

void TestSimulator::stm32flashSession_data() {
    QTest::addColumn<int>("pid");
    QTest::addColumn<bool>("instant");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("usb");  // behind an FTDI-like adapter: 62-byte packets, 16 ms
    QTest::newRow("410 real pace") << 0x410 << false << 3008 << false;
    QTest::newRow("410 usb adapter") << 0x410 << false << 1024 << true;
    for (int pid : {0x412, 0x414, 0x418, 0x420, 0x428})
        QTest::newRow(qPrintable(QString::number(pid, 16))) << pid << true << 12 * 1024 << false;
}

// stm32flash as a real client: it identifies the board, writes a HEX file (from our own writer)
// with verify and reads it back byte for byte (its 0x7F then finds the bootloader synchronised:
// a NACKed command), mass-erases, sets readout protection (flash kept), removes it (flash
// erased) and starts the program with Go.
void TestSimulator::stm32flashSession() {
    QFETCH(int, pid);
    QFETCH(bool, instant);
    QFETCH(int, size);
    QFETCH(bool, usb);
    QTemporaryDir dir;
    auto sim = started(instant, uint16_t(pid), {}, usb ? 62 : 0, usb ? 16 : 0);
    const std::string port = sim->portPath();
    const std::vector<uint8_t> erased(sim->flashImage().size(), 0xFF);
    const QByteArray image = pattern(size);
    const auto* bytes = reinterpret_cast<const uint8_t*>(image.constData());
    std::string text = praxon::ExtendedLinearAddressLine(0x08001000) + "\n";
    for (int i = 0; i < size; i += 64)
        text += praxon::DataRecordLine(0x08001000 + i, bytes + i, 64) + "\n";
    QFile hex(dir.filePath("i.hex"));
    QVERIFY(hex.open(QIODevice::WriteOnly) && hex.write((text + praxon::EndOfFileLine()).c_str()));
    hex.close();
    QString out;
    auto run = [&](const QStringList& args) { return stm32flash(port, args, &out); };
    QVERIFY2(run({"-w", hex.fileName(), "-v"}) && out.contains("Version      : 0x22") &&
                 out.contains(QString("Device ID    : 0x%1").arg(pid, 4, 16, QChar('0'))),
             qPrintable(out));
    QVERIFY2(run({"-S", QString("0x08001000:%1").arg(size), "-r", dir.filePath("b")}),
             qPrintable(out));
    QCOMPARE(fileBytes(dir.filePath("b")), image);
    QVERIFY2(run({"-o"}) && sim->flashImage() == erased, qPrintable(out));
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

// Refuses bad options with exit code 2; announces its port, reports Go, resets on SIGUSR1, and
// on SIGTERM writes the flash dump and the counters.
void TestSimulator::cliResetGoDumpAndCounters() {
    QTemporaryDir dir;
    const QString dump = dir.filePath("dump.bin"), counters = dir.filePath("c.json");
    QProcess p;
    for (const QStringList& bad : {QStringList{"--frob"},
                                   {"--fault", "nack:0x31"},
                                   {"--link"},
                                   {"--usb-packet", "62"},
                                   {"--reset-line", "cts"},
                                   {"--reset-line", "dtr", "--boot0-line", "dtr"}}) {
        p.start(PRAXON_SIM_EXE, bad);
        QVERIFY2(p.waitForFinished(10000) && p.exitCode() == 2 &&
                     p.readAllStandardOutput().isEmpty() && !p.readAllStandardError().isEmpty(),
                 qPrintable(bad.join(' ')));
    }
    p.start(PRAXON_SIM_EXE,
            {"--instant", "--flash-kb", "32", "--dump", dump, "--counters", counters});
    QTRY_VERIFY(p.canReadLine());
    const QString first = QString::fromLocal8Bit(p.readLine()).trimmed();
    QVERIFY2(first.startsWith("PORT=/dev/pts/"), qPrintable(first));
    QTRY_VERIFY(p.canReadLine());
    const QString env = QString::fromLocal8Bit(p.readLine()).trimmed();
    QCOMPARE(env, "CLIENT_ENV=LD_PRELOAD=" + QFileInfo(PRAXON_LINES_LIB).canonicalFilePath());
    Client c(first.mid(5).toStdString());
    QCOMPARE(c.exchange(hex("7f 31ce") + addr(0x08000100) + data(hex("a1b2c3d4")) + hex("21de") +
                            addr(0x08000000),
                        6),
             hex("797979797979"));
    ::kill(pid_t(p.processId()), SIGUSR1);
    QByteArray out;
    QTRY_VERIFY2((out += p.readAllStandardOutput()).contains("go 0x08000000\npraxon-sim: reset"),
                 out.constData());
    p.terminate();
    QVERIFY(p.waitForFinished(10000) && p.exitCode() == 0);
    QByteArray expected(32 * 1024, '\xff');
    QCOMPARE(fileBytes(dump), expected.replace(0x100, 4, hex("a1b2c3d4")));
    const QByteArray json = fileBytes(counters);
    QVERIFY2(json.contains("\"go_address\": \"0x08000000\"") && json.contains("\"resets\": 1"),
             json);
}

void TestSimulator::stm32flashWiring_data() {
    QTest::addColumn<QString>("wiring");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("lines");  // the library in stm32flash
    QTest::addColumn<bool>("connects");
    QTest::addColumn<QString>("events");  // once stm32flash closed the port
    QTest::addColumn<int>("state");
    const int held = int(Board::State::Held), user = int(Board::State::Running),
              boot = int(Board::State::WaitSync), command = int(Board::State::WaitCommand);
    // Entry: BOOT0 high, reset pulse; exit: BOOT0 low, reset pulse ("dtr" asserts, "-dtr"
    // releases; an asserted line pulls a direct pin low and drives an inverted one high).
    const QString dtrRts = "-rts&dtr,-dtr:rts&dtr,-dtr", rtsDtr = "-dtr&rts,-rts:dtr&rts,-rts";
    const QString direct = "held in reset|reset|held in reset|reset|running the user program";
    // Inverted, the released lines hold reset: at rest, and again once the port is closed.
    const QString inverted =
        "reset|held in reset|reset|held in reset|reset|running the user "
        "program|held in reset";
    QTest::newRow("reset DTR, BOOT0 RTS, direct")
        << "dtr rts" << QStringList{"-i", dtrRts, "-R"} << true << true << direct << user;
    QTest::newRow("reset RTS, BOOT0 DTR, direct")
        << "rts dtr" << QStringList{"-i", rtsDtr, "-R"} << true << true << direct << user;
    QTest::newRow("reset DTR, BOOT0 RTS, inverted")
        << "dtr! rts!" << QStringList{"-i", "rts&-dtr,dtr:-rts&-dtr,dtr", "-R"} << true << true
        << inverted << held;
    QTest::newRow("reset RTS, BOOT0 DTR, inverted")
        << "rts! dtr!" << QStringList{"-i", "dtr&-rts,rts:-dtr&-rts,rts", "-R"} << true << true
        << inverted << held;
    QTest::newRow("Go, then the exit sequence")
        << "dtr rts" << QStringList{"-i", dtrRts, "-g", "0x08000000"} << true << true
        << "held in reset|reset|go 0x08000000|held in reset|reset|running the user program" << user;
    // The open asserts both lines and nothing releases reset; the close does.
    QTest::newRow("direct, no sequence: held")
        << "dtr rts" << QStringList{} << true << false << "held in reset|reset" << boot;
    QTest::newRow("inverted, no sequence: the open starts the bootloader")
        << "dtr! rts!" << QStringList{} << true << true << "reset|held in reset" << held;
    QTest::newRow("no library: the lines stay released")
        << "dtr rts" << QStringList{} << false << true << "" << command;
    QTest::newRow("unwired: the lines do nothing")
        << "- -" << QStringList{"-i", dtrRts, "-R"} << true << true << "" << command;
}

// stm32flash as an independent client driving the lines: the library makes its real ioctl
// path reach the board, each change in effect before its next byte.
void TestSimulator::stm32flashWiring() {
    QFETCH(QString, wiring);
    QFETCH(QStringList, args);
    QFETCH(bool, lines);
    QFETCH(bool, connects);
    QFETCH(QString, events);
    QFETCH(int, state);
    SimulatorOptions o;
    o.instant = true;
    o.board.wiring = ::wiring(wiring);
    auto sim = startedWith(o);
    EventLog log;
    log.attach(*sim);
    QString out;
    QCOMPARE(stm32flash(sim->portPath(), args, &out, lines), connects);
    QVERIFY2(out.contains("Device ID    : 0x0410") == connects, qPrintable(out));
    // HUPCL: the close released the lines (once the simulator saw it, the events follow).
    QTRY_VERIFY(!sim->lines().dtr && !sim->lines().rts && !sim->lines().brk);
    QTRY_COMPARE(log.joined(), events);
    QCOMPARE(int(sim->state()), state);
}

void TestSimulator::qtClient_data() {
    QTest::addColumn<bool>("lines");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("expected");
    // Reset on DTR, BOOT0 on RTS, direct: the open holds the chip in reset.
    QTest::newRow("library") << true << "sync get rts=0 dtr=0 sync brk=1 sync brk=0 id get"
                             << "sync:|get:dtr=1 rts=1|rts=0:ok|dtr=0:ok|sync:79|brk=1:ok|sync:|"
                                "brk=0:ok|id:7901041079|get:dtr=0 rts=0";
    // The kernel takes a break on a pty and does nothing: the 0x7F gets through.
    QTest::newRow("no library: a plain pty") << false << "dtr=0 brk=1 sync"
                                             << "dtr=0:fail|brk=1:ok|sync:79";
}

// Praxon's own kind of client: QSerialPort sets the lines with TIOCMBIS/TIOCMBIC, reads them
// with TIOCMGET and breaks with TIOCSBRK/TIOCCBRK. A break holds the host's line low: the 0x7F
// sent meanwhile never reaches the board (else Get ID would be NACKed as its complement).
void TestSimulator::qtClient() {
    QFETCH(bool, lines);
    QFETCH(QString, steps);
    QFETCH(QString, expected);
    SimulatorOptions o;
    o.instant = true;
    o.board.wiring = ::wiring("dtr rts");
    auto sim = startedWith(o);
    QProcess child;
    QProcessEnvironment env = lines ? withLines() : QProcessEnvironment::systemEnvironment();
    env.insert("TST_SIMULATOR_QT_CLIENT", QString::fromStdString(sim->portPath()));
    env.insert("TST_SIMULATOR_STEPS", steps);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForFinished(20000));
    QCOMPARE(QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed(), expected);
}

// On a pty no simulator serves, stm32flash says the same with the library as without.
void TestSimulator::libraryLeavesOtherPtys() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    const std::string name = ptsname(master);
    const int slave = ::open(name.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    QVERIFY(slave >= 0 && tcgetattr(slave, &tio) == 0);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B115200);
    QVERIFY(tcsetattr(slave, TCSANOW, &tio) == 0);
    QString plain, preloaded;
    const QStringList args{"-i", "-rts&dtr,-dtr"};
    QVERIFY(!stm32flash(name, args, &plain, false));
    QVERIFY(!stm32flash(name, args, &preloaded, true));
    QVERIFY2(plain.contains("setting port signal rts to 0... Error!"), qPrintable(plain));
    QCOMPARE(preloaded, plain);
    ::close(slave);
    ::close(master);
}

// The child side of qtClient(): runs the steps on a QSerialPort and prints what each gave.
static int qtClientChild(const QString& port, const QStringList& steps) {
    QSerialPort p(port);
    if (!p.open(QIODevice::ReadWrite) || !p.setBaudRate(115200)) return 1;
    QStringList out;
    for (const QString& step : steps) {
        QString result;
        if (step == "sync" || step == "id") {
            p.write(step == "sync" ? QByteArray("\x7f") : QByteArray("\x02\xfd"));
            p.waitForBytesWritten(100);
            QByteArray got;
            // The first byte within 300 ms, the rest until 50 ms of quiet.
            while (p.waitForReadyRead(got.isEmpty() ? 300 : 50)) got += p.readAll();
            result = QString::fromLatin1(got.toHex());
        } else if (step == "get") {
            const auto s = p.pinoutSignals();
            result = QString("dtr=%1 rts=%2")
                         .arg(int(bool(s & QSerialPort::DataTerminalReadySignal)))
                         .arg(int(bool(s & QSerialPort::RequestToSendSignal)));
        } else {
            const bool on = step.endsWith('1');
            const bool ok = step.startsWith("dtr")   ? p.setDataTerminalReady(on)
                            : step.startsWith("rts") ? p.setRequestToSend(on)
                                                     : p.setBreakEnabled(on);
            result = ok ? "ok" : "fail";
        }
        out << step + ":" + result;
    }
    std::puts(qPrintable(out.join('|')));
    return 0;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString port = qEnvironmentVariable("TST_SIMULATOR_QT_CLIENT");
    if (!port.isEmpty())
        return qtClientChild(port, qEnvironmentVariable("TST_SIMULATOR_STEPS").split(' '));
    TestSimulator test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_simulator.moc"
