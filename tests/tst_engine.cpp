// The engine on a fake target, for what the end-to-end tests against the simulated board
// (tst_integration_*) cannot reach well: the HEX file's line handling and pending word tails,
// operations refused from inside a running wait, and a disk that fills up during a read.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

#include "Engine.h"
#include "FakePort.h"
#include "IntelHex.h"
#include "RecordingHost.h"

using namespace praxon;

namespace {
constexpr uint32_t kFlash = 0x08000000;

QByteArray rec(uint16_t offset, const char* hex) {
    const QByteArray b = bytesFromHex(hex);
    return QByteArray::fromStdString(
        DataRecordLine(offset, reinterpret_cast<const uint8_t*>(b.constData()), int(b.size())));
}

// A small bootloader: Get ID, Read Memory, Write Memory (4-byte aligned only, as the chip), any
// other frame acknowledged. replies[n] replaces the answer to frame n (counted from 0).
struct Target {
    FakePort& port;
    std::vector<uint8_t> flash;
    QMap<int, QByteArray> replies;
    int frames = 0;
    int delayMs = 0;
    char state = 'c';  // c: command, r/w: address of Read/Write Memory, n: count, d: data
    uint32_t address = 0;

    Target(FakePort& p, int kb) : port(p), flash(size_t(kb) * 1024, 0xFF) {
        port.responder = [this](const QByteArray& f) {
            QByteArray out = answer(reinterpret_cast<const uint8_t*>(f.constData()), f);
            if (replies.contains(frames)) out = replies.value(frames);
            ++frames;
            if (!out.isEmpty()) port.deliverLater(out, delayMs);
        };
    }
    uint8_t byteAt(uint32_t a) const {
        const size_t kb = flash.size() / 1024;
        const uint8_t size[4] = {uint8_t(kb), uint8_t(kb >> 8), 20, 0};
        if (a - 0x1FFFF7E0u < 4) return size[a - 0x1FFFF7E0u];
        return a - kFlash < flash.size() ? flash[a - kFlash] : 0;
    }
    QByteArray answer(const uint8_t* b, const QByteArray& f) {
        const QByteArray ack = bytesFromHex("79");
        const char was = state;
        state = 'c';
        if (was == 'r' || was == 'w') {
            address = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
            state = was == 'r' ? 'n' : 'd';
        } else if (was == 'n') {
            QByteArray out = ack;
            for (uint32_t i = 0; i <= b[0]; ++i) out += char(byteAt(address + i));
            return out;
        } else if (was == 'd') {
            const int n = b[0] + 1;
            if (address % 4 || n % 4 || address - kFlash + uint32_t(n) > flash.size())
                return bytesFromHex("1F");
            std::copy(b + 1, b + 1 + n, flash.begin() + (address - kFlash));
        } else if (f == bytesFromHex("02FD")) {
            return bytesFromHex("7901041079");
        } else {
            state = f == bytesFromHex("11EE") ? 'r' : f == bytesFromHex("31CE") ? 'w' : 'c';
        }
        return ack;
    }
};

struct Rig {
    RecordingHost host;
    FakePort port;
    Engine engine{host, port};
    Target target;
    QTemporaryDir dir;
    explicit Rig(int kb = 4) : target(port, kb) { host.erase = false; }
    bool connect() {
        const bool ok = engine.CHECKCMD_Click();
        host.clearRecords();
        port.written.clear();
        target.frames = 0;
        return ok;
    }
    QString file(const QString& name, const QByteArray& content) {
        QFile f(dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(content);
        return f.fileName();
    }
};
}  // namespace

class TestEngine : public QObject {
    Q_OBJECT
private slots:
    void download_data();
    void download();
    void operationsRefusedInsideAWait();
    void diskFullDuringReadKeepsOldFile();
};

void TestEngine::download_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("nackFrame");  // frame answered with NACK (-1: none)
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QByteArray>("flash");  // expected from 0x08000000 (empty: not checked)
    QTest::addColumn<QStringList>("progress");
    const QByteArray base = ":020000040800F2\n", eof = ":00000001FF\r\n";
    const QByteArray six = base + rec(0, "010203040506") + "\r\n";
    const QByteArray bad = ":0400100001020304FF";
    const QString failed = QStringLiteral("下载失败。");
    // Progress counts the characters of the lines read, without line ends, over the file size.
    QTest::newRow("CR, LF and CR LF line ends; empty record skipped")
        << base + rec(0, "01020304") + "\r" + ":00001000F0\n" + rec(4, "05060708") + "\r\n" + eof
        << -1 << QStringList() << bytesFromHex("0102030405060708FF")
        << QStringList{QStringLiteral("完成41.46%."), QStringLiteral("完成54.88%."),
                       QStringLiteral("完成78.05%.")};
    QTest::newRow("UTF-8 byte order mark")
        << "\xEF\xBB\xBF" + base + rec(0, "A1A2A3A4") + "\n" + eof << -1 << QStringList()
        << bytesFromHex("A1A2A3A4") << QStringList();
    QTest::newRow("overlong line cut and refused")
        << ":" + QByteArray(5000, '0') + "\r\n" + eof << -1
        << QStringList{QStringLiteral("HEX文件中包含非法格式数据."),
                       QStringLiteral("HEX数据有误，下载失败！:") + QString(1023, QLatin1Char('0')),
                       failed}
        << bytesFromHex("FFFF") << QStringList();
    QTest::newRow("rejected line: the pending tail is written first")
        << six + bad + "\r\n" + eof << -1
        << QStringList{QStringLiteral("校验和不正确，您给的串是：") + bad,
                       QStringLiteral("HEX数据有误，下载失败！") + bad, failed}
        << bytesFromHex("010203040506FFFF") << QStringList();
    QTest::newRow("no end record: the tail is written, still a failure")
        << six << -1 << QStringList{failed} << bytesFromHex("010203040506FFFF") << QStringList();
    // Frames 31 CE, address, data of the first word; then the same for the tail.
    QTest::newRow("tail refused at the end: a failure")
        << six + eof << 5 << QStringList{QStringLiteral("传送数据时应答为非ACK，应答值=1F"), failed}
        << QByteArray() << QStringList();
}

void TestEngine::download() {
    QFETCH(QByteArray, content);
    QFETCH(int, nackFrame);
    QFETCH(QStringList, messages);
    QFETCH(QByteArray, flash);
    QFETCH(QStringList, progress);
    Rig r;
    QVERIFY(r.connect());
    if (nackFrame >= 0) r.target.replies[nackFrame] = bytesFromHex("1F");
    r.host.downloadFile = r.file(QStringLiteral("f.hex"), content);
    QCOMPARE(r.engine.CmdStart_Click(), messages.isEmpty());
    QCOMPARE(r.host.messages, messages);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(r.target.flash.data()), flash.size()), flash);
    if (!progress.isEmpty()) QCOMPARE(r.host.progressTexts, progress);
}

// While an operation waits for the target, every other one is refused at once and sends nothing.
void TestEngine::operationsRefusedInsideAWait() {
    Rig r;
    QVERIFY(r.connect());
    r.target.delayMs = 30;
    r.host.downloadFile = r.file(QStringLiteral("e.hex"),
                                 ":020000040800F2\n" + rec(0, "01020304") + "\n" + ":00000001FF");
    r.host.openFileAnswers << QStringLiteral("/x.hex");
    r.host.saveFileAnswers << r.dir.filePath(QStringLiteral("x.bin"));
    QList<bool> results;
    int framesBefore = -1, framesAfter = -1;
    QTimer::singleShot(10, [&] {
        QVERIFY(r.engine.busy());
        framesBefore = int(r.port.written.size());
        results << r.engine.CHECKCMD_Click() << r.engine.CmdStart_Click()
                << r.engine.CmdRead_Click() << r.engine.Command_ER_Click()
                << r.engine.Command_GO_Click() << r.engine.CmdReadProtect_Click()
                << r.engine.CmdReadUnProtect_Click() << r.engine.CmdDownLoad_Click();
        r.engine.CombComPort_LostFocus();
        framesAfter = int(r.port.written.size());
    });
    QVERIFY(r.engine.CmdStart_Click());
    QCOMPARE(results, QList<bool>(8, false));
    QCOMPARE(framesAfter, framesBefore);
    QCOMPARE(r.host.openDialogs + r.host.saveDialogs, 0);
    QCOMPARE(r.port.openedNames.size(), 1);
    QVERIFY(r.host.messages.isEmpty());
    QVERIFY(!r.engine.busy());
    QVERIFY(r.engine.Command_ER_Click());  // once it ended, the next one runs
}

// The disk fills up while the flash is read: reported, and the user's old file stays as it was.
void TestEngine::diskFullDuringReadKeepsOldFile() {
#ifdef Q_OS_UNIX
    Rig r(32);
    QVERIFY(r.connect());
    const QString path = r.file(QStringLiteral("full.bin"), "old");
    r.host.saveFileAnswers << path;
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 8192;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const bool ok = r.engine.CmdRead_Click();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
    QVERIFY(!ok);
    QCOMPARE(r.host.messages, QStringList{path + QStringLiteral("文件正打开着, 覆盖失败.")});
    QCOMPARE(r.host.logMessages, QStringList{QStringLiteral("开始读取数据......")});
    QCOMPARE(QDir(r.dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("full.bin")});
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("old"));
#endif
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
