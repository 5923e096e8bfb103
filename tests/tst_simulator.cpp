// The pty server, checked with a raw client and with stm32flash. (praxon-sim as a process serves
// tst_cliprocess: its port line, --preload, --dump and --counters are checked there.)
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QtTest>

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

std::unique_ptr<Simulator> started(bool instant, std::string link = {}, int usbPacket = 0,
                                   int usbLatencyMs = 0, const QString& fault = {}) {
    SimulatorOptions o;
    o.instant = instant, o.linkPath = link;
    o.usbPacket = usbPacket, o.usbLatencyMs = usbLatencyMs;
    Fault f;
    if (!fault.isEmpty() && parseFault(fault.toStdString(), &f, nullptr)) o.board.faults = {f};
    auto sim = std::make_unique<Simulator>(o);
    std::string error;
    if (!sim->start(&error)) qWarning("simulator: %s", error.c_str());
    return sim;
}

}  // namespace

class TestSimulator : public QObject {
    Q_OBJECT

private slots:
    void link();
    void usbAdapter_data();
    void usbAdapter();
    void stm32flashSession();
};

// The link lives as long as the simulator, replaces a stale link and never a regular file.
void TestSimulator::link() {
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

void TestSimulator::usbAdapter_data() {
    QTest::addColumn<int>("packet");  // 0: no adapter
    QTest::addColumn<int>("latencyMs");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("holdMs");  // the last partial packet waits at least this long
    const QByteArray read256 = hex("7f 11ee 0800000008 ff00");
    const QByteArray readReply = hex("79797979") + QByteArray(256, char(0xFF));
    QTest::newRow("read: acks join the data packets")
        << 62 << 16 << "" << read256 << readReply << 16;
    QTest::newRow("get joins the waiting ack")
        << 62 << 16 << "" << hex("7f 00ff") << hex("79 790b22000102112131436373829279") << 16;
    QTest::newRow("hangup flushes the waiting ack")  // long before its timer
        << 62 << 5000 << "hangup:0x00:1" << hex("7f 00ff") << hex("79") << 0;
    QTest::newRow("no adapter: line pace") << 0 << 0 << "" << read256 << readReply << 0;
}

// Behind a USB adapter the host gets board bytes in whole packets, or a partial one after the
// latency timer; no byte may come before its packet is full or its timer ran out. Only lower
// time bounds: a busy machine may deliver anything later, and the client may merge packets.
void TestSimulator::usbAdapter() {
    QFETCH(int, packet);
    QFETCH(int, latencyMs);
    QFETCH(QString, fault);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, holdMs);
    auto sim = started(false, {}, packet, latencyMs, fault);
    Client c(sim->portPath());
    const double start = nowMs();
    QCOMPARE(c.exchange(request, int(reply.size())), reply);
    const double byteMs = kByteTimeNs / 1e6;
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

// stm32flash as a real client at line pace behind a USB adapter: it identifies the board, writes
// a HEX file (from our own writer) with verify and reads it back byte for byte (its 0x7F then
// finds the bootloader synchronised: a NACKed command), sets readout protection (flash kept),
// removes it (flash erased) and starts the program with Go.
void TestSimulator::stm32flashSession() {
    QTemporaryDir dir;
    auto sim = started(false, {}, 62, 16);
    const std::vector<uint8_t> erased(sim->flashImage().size(), 0xFF);
    QByteArray image(1024, 0);
    for (int i = 0; i < image.size(); ++i) image[i] = char(i * 13 + i / 256);  // no 256-byte period
    const auto* bytes = reinterpret_cast<const uint8_t*>(image.constData());
    std::string text = praxon::ExtendedLinearAddressLine(0x08001000) + "\n";
    for (int i = 0; i < image.size(); i += 64)
        text += praxon::DataRecordLine(0x08001000 + i, bytes + i, 64) + "\n";
    QFile hex(dir.filePath("i.hex"));
    QVERIFY(hex.open(QIODevice::WriteOnly) && hex.write((text + praxon::EndOfFileLine()).c_str()));
    hex.close();
    QString out;
    auto run = [&](const QStringList& args) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start("stm32flash", QStringList{"-m", "8n1", "-b", "115200"} + args +
                                  QStringList{QString::fromStdString(sim->portPath())});
        if (!p.waitForFinished(30000)) p.kill(), p.waitForFinished();
        out = args.join(' ') + "\n" + QString::fromLocal8Bit(p.readAll());
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    };
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

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
