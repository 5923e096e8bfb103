// The engine on a fake target, for what the end-to-end tests against the simulated board
// (tst_integration_*) cannot reach well: the HEX file's line handling and pending word tails,
// operations refused from inside a running wait, and a disk that fills up during a read.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <csignal>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

#include "Engine.h"
#include "FakePort.h"
#include "IntelHex.h"
#include "RecordingHost.h"
#include "Upload.h"

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
    int frames = 0, delayMs = 0;
    char state = 'c';  // c: command, r/w: address of Read/Write Memory, n: count, d: data
    uint32_t address = 0;

    Target(FakePort& p, int kb) : port(p), flash(size_t(kb) * 1024, 0xFF) {
        port.responder = [this](const QByteArray& f) {
            const QByteArray out = replies.value(frames, answer(f));
            ++frames;
            if (!out.isEmpty()) port.deliverLater(out, delayMs);
        };
    }
    QByteArray answer(const QByteArray& f) {
        const auto* b = reinterpret_cast<const uint8_t*>(f.constData());
        const char was = state;
        if (was == 'c')
            state = f == bytesFromHex("11EE") ? 'r' : f == bytesFromHex("31CE") ? 'w' : 'c';
        else
            state = was == 'r' ? 'n' : was == 'w' ? 'd' : 'c';
        if (was == 'r' || was == 'w') address = qFromBigEndian<uint32_t>(b);
        if (was == 'n') {
            const size_t kb = flash.size() / 1024;
            const uint8_t size[4] = {uint8_t(kb), uint8_t(kb >> 8), 20, 0};  // at 0x1FFFF7E0
            QByteArray out = bytesFromHex("79");
            for (uint32_t a = address; a <= address + b[0]; ++a)
                out += char(a - 0x1FFFF7E0u < 4         ? size[a - 0x1FFFF7E0u]
                            : a - kFlash < flash.size() ? flash[a - kFlash]
                                                        : 0);
            return out;
        }
        const uint32_t n = b[0] + 1u;
        if (was == 'd' && (address % 4 || n % 4 || address - kFlash + n > flash.size()))
            return bytesFromHex("1F");
        if (was == 'd') std::copy(b + 1, b + 1 + n, flash.begin() + (address - kFlash));
        return bytesFromHex(was == 'c' && f == bytesFromHex("02FD") ? "7901041079" : "79");
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
    void refusals_data();
    void refusals();
    void hexFileByName_data();
    void hexFileByName();
    void download_data();
    void download();
    void operationsRefusedInsideAWait();
    void diskFullDuringReadKeepsOldFile();
};

// Refused before anything is sent. The text is the download file, Go address, save name or port
// as the row needs it; %1 stands for a temporary folder.
void TestEngine::refusals_data() {
    QTest::addColumn<QString>("op");  // the button, "|", the text
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("log");
    const QStringList none;
    QTest::newRow("no download file") << "start|   " << QStringList{"请指定下载文件。"} << none;
    QTest::newRow("download file missing")
        << "start|%1/none.hex" << QStringList{"指定的文件不存在，请重新打开。"} << none;
    QTest::newRow("download file unreadable")
        << "start|%1" << QStringList{"无法打开文件: %1"} << none;
    QTest::newRow("Go address not hex")
        << "go|08x00000" << QStringList{"运行地址无效，请输入十六进制地址。"} << none;
    QTest::newRow("read into a missing folder")
        << "read|%1/no/out.bin" << QStringList{"%1/no/out.bin文件正打开着, 覆盖失败."} << none;
    QTest::newRow("port refused") << "connect|ttyS9" << QStringList{"指定的串口不存在或已被占用。"}
                                  << QStringList{"连接目标板......",
                                                 "指定的串行口不存在或被其它应用程序占用。"};
}

void TestEngine::refusals() {
    QFETCH(QString, op);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, log);
    Rig r;
    QVERIFY(r.connect());
    const QString text = op.section('|', 1).replace("%1", r.dir.path());
    op = op.section('|', 0, 0);
    messages.replaceInStrings("%1", r.dir.path());
    r.host.downloadFile = r.host.goAddress = r.host.port = text;
    r.host.saveFileAnswers << text;
    r.port.refuseOpen = true;
    QVERIFY(!(op == "start"  ? r.engine.CmdStart_Click()
              : op == "go"   ? r.engine.Command_GO_Click()
              : op == "read" ? r.engine.CmdRead_Click()
                             : r.engine.CHECKCMD_Click()));
    QCOMPARE(r.host.messages, messages);
    QCOMPARE(r.host.logMessages, log);
    QVERIFY(r.port.written.isEmpty());
}

// A read goes to an Intel HEX file when the name's last three characters are "hex" in any case.
void TestEngine::hexFileByName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("hex");
    QTest::newRow("OUT.HEX, trailing blank") << "/a/OUT.HEX " << true;
    QTest::newRow("no dot") << "/a/dumphex" << true;
    QTest::newRow("shorter than three") << "ab" << true;
    QTest::newRow("no extension") << "/a/b" << false;
}

void TestEngine::hexFileByName() {
    QFETCH(QString, name);
    QFETCH(bool, hex);
    QCOMPARE(IsHexFileName(name), hex);
}

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
    rlimit small{8192, old.rlim_max};
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const bool ok = r.engine.CmdRead_Click();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
    QVERIFY(!ok);
    QCOMPARE(r.host.messages, QStringList{path + QStringLiteral("文件正打开着, 覆盖失败.")});
    QCOMPARE(r.host.logMessages, QStringList{QStringLiteral("开始读取数据......")});
    QCOMPARE(QDir(r.dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("full.bin")});
    QCOMPARE(QFile(path).size(), qint64(3));  // "old"
#endif
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
