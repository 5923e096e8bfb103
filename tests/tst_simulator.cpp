// The pty server and the praxon-sim executable, checked with a raw client and with stm32flash.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <QtTest>

#include "Simulator.h"

using namespace praxon::sim;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}
double nowMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
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
QByteArray pattern(int size, int seed) {
    QByteArray b(size, 0);
    uint32_t x = uint32_t(seed) * 2654435761u + 1;
    for (auto& c : b) c = char((x = x * 1103515245u + 12345u) >> 16);
    return b;
}

// A raw client on the pty slave that notes when each byte arrived.
struct Client {
    int fd;
    QList<double> arrivals;
    bool hungUp = false;
    explicit Client(const std::string& path)
        : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~Client() { ::close(fd); }
    // Reads until `want` bytes came, or 60 ms of quiet after a byte, or timeoutMs passed.
    QByteArray exchange(const QByteArray& out, int want = 0, double timeoutMs = 2000) {
        if (::write(fd, out.constData(), size_t(out.size())) != out.size()) return "write failed";
        QByteArray got;
        arrivals.clear();
        for (const double start = nowMs(); !(want > 0 && got.size() >= want) &&
                                           nowMs() - start < timeoutMs &&
                                           (got.isEmpty() || nowMs() - arrivals.last() < 60);) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 2) <= 0) continue;
            char buf[512];
            const ssize_t n = (p.revents & POLLIN) ? ::read(fd, buf, sizeof buf) : 0;
            for (ssize_t i = 0; i < n; ++i) arrivals.append(nowMs());
            got.append(buf, std::max<ssize_t>(n, 0));
            if (n <= 0 && (p.revents & (POLLHUP | POLLERR))) return hungUp = true, got;
        }
        return got;
    }
};

std::unique_ptr<Simulator> started(bool instant, uint16_t pid = 0x410, std::string link = {}) {
    SimulatorOptions o;
    o.instant = instant;
    o.board.pid = pid;
    o.linkPath = link;
    auto sim = std::make_unique<Simulator>(o);
    std::string error;
    if (!sim->start(&error)) qWarning("simulator: %s", error.c_str());
    return sim;
}

// Intel HEX of `bytes` at 0x08000000 + offset, 16 bytes a record, written to path.
QString hexFile(const QString& path, const QByteArray& bytes, uint32_t offset) {
    auto record = [](int type, uint32_t address, const QByteArray& payload) {
        QByteArray b = char(payload.size()) + QByteArray(1, char(address >> 8)) + char(address) +
                       char(type) + payload;
        uint8_t sum = 0;
        for (char c : b) sum = uint8_t(sum - uint8_t(c));
        return ":" + (b + char(sum)).toHex().toUpper() + "\n";
    };
    QByteArray text = record(4, 0, hex("0800"));
    for (int i = 0; i < bytes.size(); i += 16) text += record(0, offset + i, bytes.mid(i, 16));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text + record(1, 0, {})) < 0) return {};
    return path;
}

struct Run {
    int exitCode = -1;
    QString output;
};
Run stm32flash(const std::string& port, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("stm32flash", QStringList{"-m", "8n1", "-b", "115200"} + args +
                              QStringList{QString::fromStdString(port)});
    if (!p.waitForFinished(30000)) p.kill(), p.waitForFinished();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAll())};
}

}  // namespace

class TestSimulator : public QObject {
    Q_OBJECT

private slots:
    void rawLineAndLink();
    void pacing();
    void lateAndHangupFaults();
    void stm32flashIdentifies_data();
    void stm32flashIdentifies();
    void stm32flashWriteVerifyReadBack_data();
    void stm32flashWriteVerifyReadBack();
    void stm32flashEraseProtectGo();
    void cliBadOptions_data();
    void cliBadOptions();
    void cliServesDumpsAndCounts();
};

// A raw line from the start (no echo, CR/LF/XON untouched), a link that lives as long as the
// simulator and never replaces a regular file, and no busy loop once the client has gone.
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
        QCOMPARE(c.exchange(hex("7f 31ce")), hex("7979"));
        QCOMPARE(c.exchange(addr(0x20000200)), hex("79"));
        QCOMPARE(c.exchange(data(awkward)), hex("79"));
        QCOMPARE(c.exchange(hex("11ee") + addr(0x20000200) + hex("07f8"), 11),
                 hex("7979 79") + awkward);
    }
    const double cpu0 = std::clock() * 1000.0 / CLOCKS_PER_SEC, wall0 = nowMs();
    QTest::qSleep(400);
    QVERIFY(std::clock() * 1000.0 / CLOCKS_PER_SEC - cpu0 < (nowMs() - wall0) / 4);
    sim->stop();
    QVERIFY(!QFileInfo::exists(link) && !sim->serving());
    QFile plain(dir.filePath("plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    QVERIFY(!started(true, 0x410, plain.fileName().toStdString())->serving());
    QVERIFY(QFileInfo(plain.fileName()).isFile());
}

// At line pace: a 257-byte reply has no gap a host would take for its end (2 ms of quiet), and
// the ACK of a 256-byte write comes after the bytes' line time plus the programming time.
void TestSimulator::pacing() {
    auto sim = started(false);
    Client c(sim->portPath());
    QCOMPARE(c.exchange(hex("7f")), hex("79"));
    double bestGap = 1e9;
    for (int attempt = 0; attempt < 5 && bestGap >= 1.5; ++attempt) {  // the machine may be busy
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
    QCOMPARE(c.exchange(hex("31ce") + addr(0x08000000), 2), hex("7979"));
    const double start = nowMs();
    QCOMPARE(c.exchange(data(pattern(256, 1)), 1), hex("79"));
    QVERIFY2(c.arrivals.first() - start >= 30.0, "ACK before 258 bytes and 128 half-words");
}

void TestSimulator::lateAndHangupFaults() {
    auto sim = started(true);  // a late reply stays late in instant mode
    sim->setFaults({Fault{FaultKind::Late, 0x02, 1, 1}, Fault{FaultKind::Hangup, 0x31, 1, 2}});
    Client c(sim->portPath());
    QCOMPARE(c.exchange(hex("7f")), hex("79"));
    const double start = nowMs();
    QCOMPARE(c.exchange(hex("02fd"), 5), hex("7901041079"));
    QVERIFY(c.arrivals.first() - start >= 600.0);
    QCOMPARE(c.exchange(hex("31ce")), hex("79"));
    QCOMPARE(c.exchange(addr(0x08000000), 0, 1000), QByteArray());
    QVERIFY(c.hungUp);
    QTRY_VERIFY(!sim->serving());
}

void TestSimulator::stm32flashIdentifies_data() {
    QTest::addColumn<int>("pid");
    QTest::addColumn<bool>("instant");
    QTest::newRow("0x410 real pace") << 0x410 << false;
    for (int pid : {0x412, 0x414, 0x418, 0x420, 0x428})
        QTest::newRow(qPrintable(QString::number(pid, 16))) << pid << true;
}

void TestSimulator::stm32flashIdentifies() {
    QFETCH(int, pid);
    QFETCH(bool, instant);
    auto sim = started(instant, uint16_t(pid));
    const Run r = stm32flash(sim->portPath(), {});
    QVERIFY2(r.exitCode == 0 &&
                 r.output.contains(QString("Device ID    : 0x%1").arg(pid, 4, 16, QChar('0'))),
             qPrintable(r.output));
    QVERIFY(r.output.contains("Version      : 0x22"));
    // A second run finds the bootloader still synchronised: its 0x7F is a command byte, NACKed.
    QVERIFY(stm32flash(sim->portPath(), {}).output.contains("Version      : 0x22"));
    QCOMPARE(sim->counters().syncs, uint64_t(1));
}

void TestSimulator::stm32flashWriteVerifyReadBack_data() {
    QTest::addColumn<bool>("instant");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("offset");
    QTest::newRow("real pace") << false << 3000 << 0;
    QTest::newRow("instant, 20 KB at 0x08001000") << true << 20 * 1024 << 0x1000;
}

void TestSimulator::stm32flashWriteVerifyReadBack() {
    QFETCH(bool, instant);
    QFETCH(int, size);
    QFETCH(int, offset);
    QTemporaryDir dir;
    const QByteArray image = pattern(size, size);
    auto sim = started(instant);
    Run r =
        stm32flash(sim->portPath(), {"-w", hexFile(dir.filePath("i.hex"), image, offset), "-v"});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    const std::vector<uint8_t> flash = sim->flashImage();
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(flash.data()) + offset, size), image);
    QVERIFY(sim->counters().readBytes >= uint64_t(size));  // the verify
    sim->reset();                                          // the user presses reset between runs
    r = stm32flash(sim->portPath(),
                   {"-S", QString("0x%1:%2").arg(0x08000000 + offset, 0, 16).arg(size), "-r",
                    dir.filePath("b.bin")});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QFile in(dir.filePath("b.bin"));
    QVERIFY(in.open(QIODevice::ReadOnly));
    QCOMPARE(in.readAll(), image);
}

// Mass erase; readout protection refuses reads and keeps the flash, removing it erases the
// flash; Go starts the program at the address given.
void TestSimulator::stm32flashEraseProtectGo() {
    auto sim = started(true);
    auto erased = [&] {
        const auto f = sim->flashImage();
        return std::all_of(f.begin(), f.end(), [](uint8_t b) { return b == 0xFF; });
    };
    sim->loadFlash(0, std::vector<uint8_t>(4096, 0x42));
    Run r = stm32flash(sim->portPath(), {"-o"});
    QVERIFY2(r.exitCode == 0 && erased(), qPrintable(r.output));
    sim->loadFlash(0, std::vector<uint8_t>(1024, 0x42));
    sim->reset();
    QVERIFY2((r = stm32flash(sim->portPath(), {"-j"})).exitCode == 0, qPrintable(r.output));
    QVERIFY(sim->readoutProtected() && sim->flashImage()[0] == 0x42);
    QTemporaryDir dir;
    QVERIFY(stm32flash(sim->portPath(), {"-S", "0x08000000:16", "-r", dir.filePath("x.bin")})
                .exitCode != 0);
    sim->reset();
    QVERIFY2((r = stm32flash(sim->portPath(), {"-k"})).exitCode == 0, qPrintable(r.output));
    QVERIFY(!sim->readoutProtected() && erased());
    QCOMPARE(sim->counters().massErases, uint64_t(2));
    sim->reset();
    QVERIFY2((r = stm32flash(sim->portPath(), {"-g", "0x08000400"})).exitCode == 0,
             qPrintable(r.output));
    QCOMPARE(sim->counters().goAddress.value_or(0), 0x08000400u);
    QCOMPARE(sim->state(), Board::State::Running);
}

void TestSimulator::cliBadOptions_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown") << QStringList{"--frob"} << "unknown option";
    QTest::newRow("pid") << QStringList{"--pid", "0x999"} << "--pid";
    QTest::newRow("odd large flash") << QStringList{"--flash-kb", "257"} << "--flash-kb";
    QTest::newRow("fault") << QStringList{"--fault", "nack:0x31"} << "bad fault";
    QTest::newRow("missing value") << QStringList{"--link"} << "--link";
    QTest::newRow("preload missing")
        << QStringList{"--preload", "/nonexistent/x.hex"} << "--preload";
}

void TestSimulator::cliBadOptions() {
    QFETCH(QStringList, args);
    QProcess p;
    p.start(PRAXON_SIM_EXE, args);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 2);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QFETCH(QString, message);
    QVERIFY2(err.contains(message), qPrintable(err));
    QVERIFY(p.readAllStandardOutput().isEmpty());
}

// Serves a preloaded image, resets on SIGUSR1, reports Go, and on SIGTERM removes its link and
// writes the flash dump and the counters.
void TestSimulator::cliServesDumpsAndCounts() {
    QTemporaryDir dir;
    const QByteArray image = pattern(2048, 7);
    const QString dump = dir.filePath("dump.bin"), counters = dir.filePath("c.json"),
                  link = dir.filePath("ttyBoard");
    QProcess p;
    p.start(PRAXON_SIM_EXE,
            {"--instant", "--flash-kb", "32", "--preload", hexFile(dir.filePath("p.hex"), image, 0),
             "--dump", dump, "--counters", counters, "--link", link});
    QTRY_VERIFY(p.canReadLine());
    const QString first = QString::fromLocal8Bit(p.readLine()).trimmed();
    QVERIFY2(first.startsWith("PORT=/dev/pts/"), qPrintable(first));
    QTRY_VERIFY(p.canReadLine());
    QVERIFY(QString::fromLocal8Bit(p.readLine()).contains("(PID 0x410, 32 KB flash)"));
    Run r = stm32flash(link.toStdString(), {"-S", "0x08000000:2048", "-r", dir.filePath("r.bin")});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QFile readBack(dir.filePath("r.bin"));
    QVERIFY(readBack.open(QIODevice::ReadOnly));
    QCOMPARE(readBack.readAll(), image);
    QByteArray out;
    ::kill(pid_t(p.processId()), SIGUSR1);
    QTRY_VERIFY2((out += p.readAllStandardOutput()).contains("praxon-sim: reset"), out.constData());
    QCOMPARE(stm32flash(first.mid(5).toStdString(), {"-g", "0x08000000"}).exitCode, 0);
    QTRY_VERIFY2((out += p.readAllStandardOutput()).contains("praxon-sim: go 0x08000000"),
                 out.constData());
    p.terminate();
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(link));
    QFile d(dump), c(counters);
    QVERIFY(d.open(QIODevice::ReadOnly) && c.open(QIODevice::ReadOnly));
    QCOMPARE(d.readAll(), image + QByteArray(30 * 1024, '\xff'));
    const QJsonObject json = QJsonDocument::fromJson(c.readAll()).object();
    QCOMPARE(json.value("go_address").toString(), QString("0x08000000"));
    QCOMPARE(json.value("read_bytes").toInt(), 2048);
    QCOMPARE(json.value("resets").toInt(), 1);
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
