// The pty server and the praxon-sim executable, checked with a raw client and with stm32flash.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <QtTest>
#include <atomic>
#include <ctime>
#include <mutex>

#include "Simulator.h"

using namespace praxon::sim;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

double nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

QByteArray addr(uint32_t a) {
    QByteArray f;
    for (int s = 24; s >= 0; s -= 8) f.append(static_cast<char>(a >> s));
    f.append(static_cast<char>(f[0] ^ f[1] ^ f[2] ^ f[3]));
    return f;
}

QByteArray data(const QByteArray& bytes) {
    QByteArray f(1, static_cast<char>(bytes.size() - 1));
    char sum = f[0];
    for (char c : bytes) sum ^= c;
    return f + bytes + QByteArray(1, sum);
}

// A raw client on the pty slave that notes when each byte arrived.
struct Client {
    int fd = -1;
    QList<double> arrivals;
    bool hungUp = false;

    explicit Client(const std::string& path) {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    ~Client() {
        if (fd >= 0) ::close(fd);
    }
    void send(const QByteArray& bytes) const {
        QCOMPARE(::write(fd, bytes.constData(), bytes.size()), ssize_t(bytes.size()));
    }
    // Reads until `want` bytes came, or the line was quiet for idleMs after at least one
    // byte, or timeoutMs passed.
    QByteArray receive(int want = 0, double timeoutMs = 2000, double idleMs = 60) {
        QByteArray got;
        arrivals.clear();
        const double start = nowMs();
        for (;;) {
            const double now = nowMs();
            if (want > 0 && got.size() >= want) break;
            if (now - start > timeoutMs) break;
            if (!got.isEmpty() && now - arrivals.last() > idleMs) break;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 2) > 0) {
                if (p.revents & POLLIN) {
                    char buf[512];
                    ssize_t n = ::read(fd, buf, sizeof buf);
                    if (n > 0) {
                        const double t = nowMs();
                        for (ssize_t i = 0; i < n; ++i) arrivals.append(t);
                        got.append(buf, n);
                        continue;
                    }
                }
                if (p.revents & (POLLHUP | POLLERR)) {
                    hungUp = true;
                    break;
                }
            }
        }
        return got;
    }
    QByteArray exchange(const QByteArray& out, int want = 0, double timeoutMs = 2000) {
        send(out);
        return receive(want, timeoutMs);
    }
};

SimulatorOptions instantOptions() {
    SimulatorOptions o;
    o.instant = true;
    return o;
}

QString tempPath(const QTemporaryDir& dir, const char* name) {
    return dir.filePath(name);
}

// Intel HEX of `bytes` at 0x08000000 + offset, 16 bytes a record.
QByteArray hexFile(const QByteArray& bytes, uint32_t offset) {
    auto record = [](int type, uint16_t address, const QByteArray& payload) {
        QByteArray b;
        b.append(static_cast<char>(payload.size()));
        b.append(static_cast<char>(address >> 8));
        b.append(static_cast<char>(address));
        b.append(static_cast<char>(type));
        b.append(payload);
        uint8_t sum = 0;
        for (char c : b) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
        b.append(static_cast<char>(-sum));
        return ":" + b.toHex().toUpper() + "\n";
    };
    QByteArray text = record(4, 0, hex("0800"));
    for (int i = 0; i < bytes.size(); i += 16)
        text += record(0, static_cast<uint16_t>(offset + i), bytes.mid(i, 16));
    return text + record(1, 0, {});
}

QByteArray pattern(int size, int seed) {
    QByteArray b(size, 0);
    uint32_t x = static_cast<uint32_t>(seed) * 2654435761u + 1;
    for (auto& c : b) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return b;
}

struct Run {
    int exitCode = -1;
    QString output;
};

Run stm32flash(const std::string& port, const QStringList& args, int timeoutMs = 30000) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("stm32flash", QStringList{"-m", "8n1", "-b", "115200"} + args +
                              QStringList{QString::fromStdString(port)});
    Run r;
    if (!p.waitForStarted(5000)) {
        r.output = "stm32flash did not start";
        return r;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.output = QString::fromLocal8Bit(p.readAll());
    return r;
}

}  // namespace

class TestSimulator : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void rawLineBeforeClientOpens();
    void linkFollowsLifetime();
    void clientCloseDoesNotSpin();
    void resetWaitsForSync();
    void pacedReply();
    void pacedHostBytes();
    void instantMode();
    void lateAndHangupFaults();
    void goEvent();
    void stm32flashIdentifies_data();
    void stm32flashIdentifies();
    void stm32flashWriteVerifyReadBack_data();
    void stm32flashWriteVerifyReadBack();
    void stm32flashSecondRunWithoutReset();
    void stm32flashMassErase();
    void stm32flashReadoutProtection();
    void stm32flashGo();
    void cliBadOptions_data();
    void cliBadOptions();
    void cliServesDumpsAndCounts();
    void cliHangupExits();

  private:
    QString simExe_;
};

void TestSimulator::initTestCase() {
    simExe_ = QStringLiteral(PRAXON_SIM_EXE);
    QVERIFY2(QFileInfo(simExe_).isExecutable(), qPrintable(simExe_));
    QVERIFY2(!QStandardPaths::findExecutable("stm32flash").isEmpty(),
             "stm32flash is not installed (Debian package stm32flash)");
}

void TestSimulator::rawLineBeforeClientOpens() {
    Simulator sim(instantOptions());
    std::string error;
    QVERIFY2(sim.start(&error), error.c_str());
    QVERIFY(sim.portPath().rfind("/dev/pts/", 0) == 0);
    Client c(sim.portPath());
    QVERIFY(c.fd >= 0);
    termios tio{};
    QCOMPARE(tcgetattr(c.fd, &tio), 0);
    QVERIFY(!(tio.c_lflag & (ECHO | ICANON | ISIG)));
    QVERIFY(!(tio.c_iflag & (ICRNL | IXON)));
    QVERIFY(!(tio.c_oflag & OPOST));
    QCOMPARE(c.exchange(hex("7f")), hex("79"));  // no echo of 0x7F
    // CR, LF, XON/XOFF and 0xFF pass untouched both ways.
    const QByteArray awkward = hex("0d0a1113ff000a0d");
    QCOMPARE(c.exchange(hex("31ce")), hex("79"));
    QCOMPARE(c.exchange(addr(0x20000200)), hex("79"));
    QCOMPARE(c.exchange(data(awkward)), hex("79"));
    QCOMPARE(c.exchange(hex("11ee")), hex("79"));
    QCOMPARE(c.exchange(addr(0x20000200)), hex("79"));
    QCOMPARE(c.exchange(hex("07f8"), 9), hex("79") + awkward);
}

void TestSimulator::linkFollowsLifetime() {
    QTemporaryDir dir;
    SimulatorOptions o = instantOptions();
    o.linkPath = tempPath(dir, "ttySIM").toStdString();
    QFile::link("/nonexistent", QString::fromStdString(o.linkPath));  // stale link is replaced
    Simulator sim(o);
    std::string error;
    QVERIFY2(sim.start(&error), error.c_str());
    QCOMPARE(QFileInfo(QString::fromStdString(o.linkPath)).symLinkTarget(),
             QString::fromStdString(sim.portPath()));
    {
        Client c(o.linkPath);
        QCOMPARE(c.exchange(hex("7f")), hex("79"));
    }
    sim.stop();
    QVERIFY(!QFileInfo::exists(QString::fromStdString(o.linkPath)));
    QVERIFY(!sim.serving());
    sim.stop();

    // A regular file is never replaced.
    QFile f(tempPath(dir, "plain"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    o.linkPath = f.fileName().toStdString();
    Simulator other(o);
    QVERIFY(!other.start(&error));
    QVERIFY(!error.empty());
    QVERIFY(QFileInfo(f.fileName()).isFile());
}

void TestSimulator::clientCloseDoesNotSpin() {
    Simulator sim(instantOptions());
    std::string error;
    QVERIFY2(sim.start(&error), error.c_str());
    {
        Client c(sim.portPath());
        QCOMPARE(c.exchange(hex("7f")), hex("79"));
    }
    const double cpu0 = cpuMs(), wall0 = nowMs();
    QTest::qSleep(400);
    const double cpu = cpuMs() - cpu0, wall = nowMs() - wall0;
    QVERIFY2(cpu < wall / 4, qPrintable(QString("cpu %1 ms in %2 ms").arg(cpu).arg(wall)));
    Client again(sim.portPath());
    QCOMPARE(again.exchange(hex("01fe")), hex("7922000079"));  // still synchronised
}

void TestSimulator::resetWaitsForSync() {
    Simulator sim(instantOptions());
    std::string error;
    QVERIFY2(sim.start(&error), error.c_str());
    Client c(sim.portPath());
    QCOMPARE(c.exchange(hex("7f")), hex("79"));
    sim.reset();
    QCOMPARE(sim.state(), Board::State::WaitSync);
    c.send(hex("01fe"));
    QCOMPARE(c.receive(0, 200), QByteArray());
    QCOMPARE(c.exchange(hex("7f")), hex("79"));
    QCOMPARE(sim.counters().resets, uint64_t(1));
}

void TestSimulator::pacedReply() {
    Simulator sim;  // real pace
    std::string error;
    QVERIFY2(sim.start(&error), error.c_str());
    Client c(sim.portPath());
    QCOMPARE(c.exchange(hex("7f")), hex("79"));
    // A 256-byte read: 257 bytes at 95.5 us each, without a pause the host would take for the
    // end of the reply (2 ms of quiet). The gap check gets five tries: the machine may be busy.
    double bestGap = 1e9, elapsed = 0;
    for (int attempt = 0; attempt < 5 && bestGap >= 1.5; ++attempt) {
        QCOMPARE(c.exchange(hex("11ee")), hex("79"));
        QCOMPARE(c.exchange(addr(0x08000000)), hex("79"));
        const double start = nowMs();
        const QByteArray got = c.exchange(hex("ff00"), 257);
        elapsed = c.arrivals.isEmpty() ? 0 : c.arrivals.last() - start;
        QCOMPARE(got.size(), 257);
        double gap = 0;
        for (int i = 1; i < c.arrivals.size(); ++i)
            gap = std::max(gap, c.arrivals[i] - c.arrivals[i - 1]);
        bestGap = std::min(bestGap, gap);
        QVERIFY2(elapsed >= 24.0, qPrintable(QString("257 bytes in %1 ms").arg(elapsed)));
    }
    QVERIFY2(bestGap < 2.0, qPrintable(QString("largest gap %1 ms").arg(bestGap)));
}

void TestSimulator::pacedHostBytes() {
    Simulator sim;
    std::string error;
    QVERIFY2(sim.start(&error), error.c_str());
    Client c(sim.portPath());
    QCOMPARE(c.exchange(hex("7f")), hex("79"));
    QCOMPARE(c.exchange(hex("31ce")), hex("79"));
    QCOMPARE(c.exchange(addr(0x08000000)), hex("79"));
    // 258 host bytes take 24.6 ms on the line, then 128 half-words take 6.7 ms.
    const double start = nowMs();
    QCOMPARE(c.exchange(data(pattern(256, 1)), 1), hex("79"));
    const double elapsed = c.arrivals.first() - start;
    QVERIFY2(elapsed >= 30.0, qPrintable(QString("ACK after %1 ms").arg(elapsed)));
    // Mass erase: 20-40 ms before the ACK.
    QCOMPARE(c.exchange(hex("43bc")), hex("79"));
    const double eraseStart = nowMs();
    QCOMPARE(c.exchange(hex("ff00"), 1), hex("79"));
    QVERIFY(c.arrivals.first() - eraseStart >= 20.0);
}

void TestSimulator::instantMode() {
    Simulator sim(instantOptions());
    std::string error;
    QVERIFY2(sim.start(&error), error.c_str());
    Client c(sim.portPath());
    QCOMPARE(c.exchange(hex("7f")), hex("79"));
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(c.exchange(hex("43bc")), hex("79"));
        const double start = nowMs();
        QCOMPARE(c.exchange(hex("ff00"), 1), hex("79"));
        best = std::min(best, c.arrivals.first() - start);
    }
    QVERIFY2(best < 15.0, qPrintable(QString("instant erase took %1 ms").arg(best)));
    QCOMPARE(sim.counters().massErases, uint64_t(3));
    QCOMPARE(sim.counters().eraseTimeNs, uint64_t(3) * 30'000'000);  // modelled all the same
}

void TestSimulator::lateAndHangupFaults() {
    Simulator sim(instantOptions());
    std::string error;
    QVERIFY2(sim.start(&error), error.c_str());
    sim.setFaults({Fault{FaultKind::Late, 0x02, 1, 1}, Fault{FaultKind::Hangup, 0x31, 1, 2}});
    Client c(sim.portPath());
    QCOMPARE(c.exchange(hex("7f")), hex("79"));
    const double start = nowMs();
    QCOMPARE(c.exchange(hex("02fd"), 5), hex("7901041079"));
    QVERIFY(c.arrivals.first() - start >= 600.0);
    QCOMPARE(c.exchange(hex("31ce")), hex("79"));
    c.send(addr(0x08000000));
    QCOMPARE(c.receive(0, 1000), QByteArray());
    QVERIFY(c.hungUp);
    QTRY_VERIFY(!sim.serving());
}

void TestSimulator::goEvent() {
    Simulator sim(instantOptions());
    std::mutex m;
    std::vector<std::string> events;
    sim.setEventHandler([&](const std::string& e) {
        std::lock_guard<std::mutex> lock(m);
        events.push_back(e);
    });
    std::string error;
    QVERIFY2(sim.start(&error), error.c_str());
    Client c(sim.portPath());
    QCOMPARE(c.exchange(hex("7f")), hex("79"));
    QCOMPARE(c.exchange(hex("21de")), hex("79"));
    QCOMPARE(c.exchange(addr(0x08000200)), hex("79"));
    QTRY_VERIFY([&] {
        std::lock_guard<std::mutex> lock(m);
        return events == std::vector<std::string>{"go 0x08000200"};
    }());
    QCOMPARE(sim.state(), Board::State::Running);
}

void TestSimulator::stm32flashIdentifies_data() {
    QTest::addColumn<int>("pid");
    QTest::addColumn<bool>("instant");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0x410 real pace") << 0x410 << false << "Device ID    : 0x0410";
    QTest::newRow("0x412") << 0x412 << true << "Device ID    : 0x0412";
    QTest::newRow("0x414") << 0x414 << true << "Device ID    : 0x0414";
    QTest::newRow("0x418") << 0x418 << true << "Device ID    : 0x0418";
    QTest::newRow("0x420") << 0x420 << true << "Device ID    : 0x0420";
    QTest::newRow("0x428") << 0x428 << true << "Device ID    : 0x0428";
}

void TestSimulator::stm32flashIdentifies() {
    QFETCH(int, pid);
    QFETCH(bool, instant);
    QFETCH(QString, expected);
    SimulatorOptions o;
    o.instant = instant;
    o.board.pid = static_cast<uint16_t>(pid);
    Simulator sim(o);
    std::string error;
    QVERIFY2(sim.start(&error), error.c_str());
    const Run r = stm32flash(sim.portPath(), {});
    QVERIFY2(r.exitCode == 0 && r.output.contains(expected), qPrintable(r.output));
    QVERIFY(r.output.contains("Version      : 0x22"));
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
    QFile hexOut(tempPath(dir, "image.hex"));
    QVERIFY(hexOut.open(QIODevice::WriteOnly));
    hexOut.write(hexFile(image, static_cast<uint32_t>(offset)));
    hexOut.close();

    SimulatorOptions o;
    o.instant = instant;
    Simulator sim(o);
    std::string error;
    QVERIFY2(sim.start(&error), error.c_str());
    Run r = stm32flash(sim.portPath(), {"-w", hexOut.fileName(), "-v"});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    const std::vector<uint8_t> flash = sim.flashImage();
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(flash.data()) + offset, size), image);
    QVERIFY(sim.counters().writeBytes >= uint64_t(size));
    QVERIFY(sim.counters().readBytes >= uint64_t(size));  // the verify

    sim.reset();  // the user presses reset between runs
    const QString back = tempPath(dir, "back.bin");
    r = stm32flash(
        sim.portPath(),
        {"-S", QString("0x%1:%2").arg(0x08000000 + offset, 0, 16).arg(size), "-r", back});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QFile in(back);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QCOMPARE(in.readAll(), image);
}

void TestSimulator::stm32flashSecondRunWithoutReset() {
    // stm32flash leaves the bootloader synchronised; its next 0x7F is a command byte, which the
    // chip NACKs once a second 0x7F follows. stm32flash copes with exactly that.
    Simulator sim(instantOptions());
    std::string error;
    QVERIFY2(sim.start(&error), error.c_str());
    QCOMPARE(stm32flash(sim.portPath(), {}).exitCode, 0);
    const uint64_t nacks = sim.counters().nacks;
    const Run r = stm32flash(sim.portPath(), {});
    QVERIFY2(r.exitCode == 0 && r.output.contains("0x0410"), qPrintable(r.output));
    QCOMPARE(sim.counters().nacks, nacks + 1);
    QCOMPARE(sim.counters().syncs, uint64_t(1));
}

void TestSimulator::stm32flashMassErase() {
    Simulator sim(instantOptions());
    sim.loadFlash(0, std::vector<uint8_t>(4096, 0x00));
    std::string error;
    QVERIFY2(sim.start(&error), error.c_str());
    const Run r = stm32flash(sim.portPath(), {"-o"});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    const std::vector<uint8_t> flash = sim.flashImage();
    QVERIFY(std::all_of(flash.begin(), flash.end(), [](uint8_t b) { return b == 0xFF; }));
    QCOMPARE(sim.counters().massErases, uint64_t(1));
}

void TestSimulator::stm32flashReadoutProtection() {
    Simulator sim(instantOptions());
    sim.loadFlash(0, std::vector<uint8_t>(1024, 0x42));
    std::string error;
    QVERIFY2(sim.start(&error), error.c_str());
    Run r = stm32flash(sim.portPath(), {"-j"});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QVERIFY(sim.readoutProtected());
    QCOMPARE(sim.flashImage()[0], uint8_t(0x42));

    QTemporaryDir dir;
    r = stm32flash(sim.portPath(), {"-S", "0x08000000:16", "-r", tempPath(dir, "x.bin")});
    QVERIFY2(r.exitCode != 0, qPrintable(r.output));  // reads are refused

    sim.reset();
    r = stm32flash(sim.portPath(), {"-k"});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QVERIFY(!sim.readoutProtected());
    const std::vector<uint8_t> flash = sim.flashImage();
    QVERIFY(std::all_of(flash.begin(), flash.end(), [](uint8_t b) { return b == 0xFF; }));
    QCOMPARE(sim.counters().massErases, uint64_t(1));
}

void TestSimulator::stm32flashGo() {
    Simulator sim(instantOptions());
    std::string error;
    QVERIFY2(sim.start(&error), error.c_str());
    const Run r = stm32flash(sim.portPath(), {"-g", "0x08000400"});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QCOMPARE(sim.counters().goAddress.value_or(0), 0x08000400u);
    QCOMPARE(sim.state(), Board::State::Running);
}

void TestSimulator::cliBadOptions_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown") << QStringList{"--frob"} << "unknown option";
    QTest::newRow("pid") << QStringList{"--pid", "0x999"} << "--pid";
    QTest::newRow("flash size") << QStringList{"--flash-kb", "0"} << "--flash-kb";
    QTest::newRow("odd large flash") << QStringList{"--flash-kb", "257"} << "--flash-kb";
    QTest::newRow("getid") << QStringList{"--getid", "two"} << "--getid";
    QTest::newRow("fault") << QStringList{"--fault", "nack:0x31"} << "bad fault";
    QTest::newRow("missing value") << QStringList{"--link"} << "--link";
    QTest::newRow("preload missing")
        << QStringList{"--preload", "/nonexistent/x.hex"} << "--preload";
}

void TestSimulator::cliBadOptions() {
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QProcess p;
    p.start(simExe_, args);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 2);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(err.contains(message), qPrintable(err));
    QVERIFY(p.readAllStandardOutput().isEmpty());
}

void TestSimulator::cliServesDumpsAndCounts() {
    QTemporaryDir dir;
    const QByteArray image = pattern(2048, 7);
    QFile hexOut(tempPath(dir, "pre.hex"));
    QVERIFY(hexOut.open(QIODevice::WriteOnly));
    hexOut.write(hexFile(image, 0));
    hexOut.close();
    const QString dump = tempPath(dir, "dump.bin"), counters = tempPath(dir, "c.json"),
                  link = tempPath(dir, "ttyBoard");

    QProcess p;
    p.start(simExe_, {"--instant", "--flash-kb", "32", "--preload", hexOut.fileName(), "--dump",
                      dump, "--counters", counters, "--link", link});
    QVERIFY(p.waitForStarted());
    QTRY_VERIFY(p.canReadLine());
    const QString first = QString::fromLocal8Bit(p.readLine()).trimmed();
    QVERIFY2(first.startsWith("PORT=/dev/pts/"), qPrintable(first));
    const std::string port = first.mid(5).toStdString();
    QTRY_VERIFY(p.canReadLine());
    QVERIFY(QString::fromLocal8Bit(p.readLine()).contains("(PID 0x410, 32 KB flash)"));

    Run r = stm32flash(link.toStdString(), {"-S", "0x08000000:2048", "-r", tempPath(dir, "r.bin")});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QFile readBack(tempPath(dir, "r.bin"));
    QVERIFY(readBack.open(QIODevice::ReadOnly));
    QCOMPARE(readBack.readAll(), image);

    QByteArray out;
    ::kill(static_cast<pid_t>(p.processId()), SIGUSR1);  // reset: the next run synchronises anew
    QTRY_VERIFY2((out += p.readAllStandardOutput()).contains("praxon-sim: reset"), out.constData());
    r = stm32flash(port, {"-g", "0x08000000"});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QTRY_VERIFY2((out += p.readAllStandardOutput()).contains("praxon-sim: go 0x08000000"),
                 out.constData());

    p.terminate();
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(link));
    QFile d(dump);
    QVERIFY(d.open(QIODevice::ReadOnly));
    const QByteArray flash = d.readAll();
    QCOMPARE(flash.size(), 32 * 1024);
    QCOMPARE(flash.left(2048), image);
    QCOMPARE(flash.mid(2048), QByteArray(30 * 1024, '\xff'));
    QFile c(counters);
    QVERIFY(c.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(c.readAll()).object();
    QCOMPARE(json.value("go_address").toString(), QString("0x08000000"));
    QCOMPARE(json.value("read_bytes").toInt(), 2048);
    QCOMPARE(json.value("resets").toInt(), 1);
    QCOMPARE(json.value("per_command").toObject().value("0x21").toInt(), 1);
}

void TestSimulator::cliHangupExits() {
    QTemporaryDir dir;
    QProcess p;
    p.start(simExe_,
            {"--instant", "--fault", "hangup:0x02:1", "--counters", tempPath(dir, "c.json")});
    QVERIFY(p.waitForStarted());
    QTRY_VERIFY(p.canReadLine());
    const std::string port = QString::fromLocal8Bit(p.readLine()).trimmed().mid(5).toStdString();
    const Run r = stm32flash(port, {});
    QVERIFY(r.exitCode != 0);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(QFileInfo::exists(tempPath(dir, "c.json")));
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
