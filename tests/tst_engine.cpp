// The engine on a fake target, for what the end-to-end tests against the simulated board
// (tst_integration) cannot reach well: refusals before anything is sent, the HEX file's line
// handling and pending word tails, operations refused from inside a running wait, a disk that
// fills up during a read; and the texts the operations show.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

#include "Board.h"
#include "Engine.h"
#include "FakePort.h"
#include "Format.h"
#include "IntelHex.h"
#include "RecordingHost.h"
#include "Upload.h"

using namespace praxon;

namespace {
QByteArray rec(uint16_t offset, const char* bytes) {
    const QByteArray b = hex(bytes);
    return QByteArray::fromStdString(
        DataRecordLine(offset, reinterpret_cast<const uint8_t*>(b.constData()), int(b.size())));
}

// The simulated bootloader (4-byte aligned writes only, as the chip) behind the fake port;
// replies[n] replaces the answer to frame n, counted from 0 after connecting.
struct Rig {
    RecordingHost host;
    FakePort port;
    Engine engine{host, port};
    sim::Board board;
    QMap<int, QByteArray> replies;
    int frames = 0, delayMs = 0;
    QTemporaryDir dir;
    Rig() {
        host.erase = false;
        port.responder = [this](const QByteArray& f) {
            QByteArray out;
            for (char c : f)
                for (const auto& e : board.feed(uint8_t(c), 0))
                    out.append(reinterpret_cast<const char*>(e.bytes.data()), int(e.bytes.size()));
            out = replies.value(frames++, out);
            if (!out.isEmpty()) port.deliverLater(out, delayMs);
        };
    }
    bool connect() {
        const bool ok = engine.CHECKCMD_Click();
        host.clearRecords();
        port.written.clear();
        frames = 0;
        return ok;
    }
    QString file(const QString& name, const QByteArray& content) {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(content) > 0 ? f.fileName() : QString();
    }
};
}  // namespace

class TestEngine : public QObject {
    Q_OBJECT
private slots:

    // The texts the operations show, and how a read picks its file format.
    void texts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        // Elapsed seconds: two decimals, nothing before the point below one second.
        QTest::newRow("0.57 s") << SecondsText(570'000'000) << ".57";
        QTest::newRow("0.999 s rounds to 1.00") << SecondsText(999'000'000) << "1.00";
        QTest::newRow("12.34 s") << SecondsText(12'340'000'000) << "12.34";
        // Download: at least two integer digits; upload: at least one.
        QTest::newRow("download 7.5 %") << DownloadProgressText(75, 1000) << "完成07.50%.";
        QTest::newRow("upload 1 of 256") << UploadProgressText(1, 256) << "已读0.39%.";
        // Intel HEX when the name's last three characters are "hex" in any case.
        const auto format = [](const char* name) { return IsHexFileName(name) ? "hex" : "bin"; };
        QTest::newRow("OUT.HEX, trailing blank") << format("/a/OUT.HEX ") << "hex";
        QTest::newRow("no dot") << format("/a/dumphex") << "hex";
        QTest::newRow("shorter than three") << format("ab") << "hex";
        QTest::newRow("no extension") << format("/a/b") << "bin";
    }

    void texts() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }

    // The text is the download file, Go address, save name or port as the row needs it; %1 stands
    // for a temporary folder.
    void refusals_data() {
        QTest::addColumn<QString>("op");  // the button, "|", the text
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const char* op, const char* message) {
            QTest::newRow(name) << op << message;
        };
        row("no download file", "start|   ", "请指定下载文件。");
        row("download file missing", "start|%1/no.hex", "指定的文件不存在，请重新打开。");
        row("download file unreadable", "start|%1", "无法打开文件: %1");
        row("Go address not hex", "go|08x00000", "运行地址无效，请输入十六进制地址。");
        row("read into a missing folder", "read|%1/no/out.bin",
            "%1/no/out.bin文件正打开着, 覆盖失败.");
        row("port refused", "connect|ttyS9", "指定的串口不存在或已被占用。");
    }

    void refusals() {
        QFETCH(QString, op);
        QFETCH(QString, message);
        Rig r;
        QVERIFY(r.connect());
        const QString text = op.section('|', 1).replace("%1", r.dir.path());
        op = op.section('|', 0, 0);
        r.host.downloadFile = r.host.goAddress = r.host.port = text;
        r.host.saveFileAnswers << text;
        r.port.refuseOpen = true;
        QVERIFY(!(op == "start"  ? r.engine.CmdStart_Click()
                  : op == "go"   ? r.engine.Command_GO_Click()
                  : op == "read" ? r.engine.CmdRead_Click()
                                 : r.engine.CHECKCMD_Click()));
        QCOMPARE(r.host.messages, QStringList{message.replace("%1", r.dir.path())});
        const QStringList portLog{"连接目标板......", "指定的串行口不存在或被其它应用程序占用。"};
        QCOMPARE(r.host.logMessages, op == "connect" ? portLog : QStringList());
        QVERIFY(r.port.written.isEmpty());
    }

    void download_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("nackFrame");  // frame answered with NACK (-1: none)
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QByteArray>("flash");  // expected from 0x08000000, in hex
        QTest::addColumn<QStringList>("progress");
        const auto row = [](const char* name, const QByteArray& content, int nackFrame,
                            const QStringList& messages, const char* flash,
                            const QStringList& progress = {}) {
            QTest::newRow(name) << content << nackFrame << messages << hex(flash) << progress;
        };
        const QByteArray base = ":020000040800F2\n", eof = ":00000001FF\r\n";
        const QByteArray six = base + rec(0, "010203040506") + "\r\n", bad = ":0400100001020304FF";
        const QString failed = "下载失败。";
        // Progress counts the characters of the lines read, without line ends, over the file size.
        row("CR, LF and CR LF line ends; empty record skipped",
            base + rec(0, "01020304") + "\r" + ":00001000F0\n" + rec(4, "05060708") + "\r\n" + eof,
            -1, {}, "0102030405060708FF", {"完成41.46%.", "完成54.88%.", "完成78.05%."});
        row("UTF-8 byte order mark", "\xEF\xBB\xBF" + base + rec(0, "A1A2A3A4") + "\n" + eof, -1,
            {}, "A1A2A3A4");
        row("overlong line cut and refused", ":" + QByteArray(5000, '0') + "\r\n" + eof, -1,
            {"HEX文件中包含非法格式数据.", "HEX数据有误，下载失败！:" + QString(1023, '0'), failed},
            "FFFF");
        row("rejected line: the pending tail is written first", six + bad + "\r\n" + eof, -1,
            {"校验和不正确，您给的串是：" + bad, "HEX数据有误，下载失败！" + bad, failed},
            "010203040506FFFF");
        row("no end record: the tail is written, still a failure", six, -1, {failed},
            "010203040506FFFF");
        // Frames 31 CE, address, data of the first word; then the same for the tail.
        row("tail refused at the end: a failure", six + eof, 5,
            {"传送数据时应答为非ACK，应答值=1F", failed}, "");
    }

    void download() {
        QFETCH(QByteArray, content);
        QFETCH(int, nackFrame);
        QFETCH(QStringList, messages);
        QFETCH(QByteArray, flash);
        QFETCH(QStringList, progress);
        Rig r;
        QVERIFY(r.connect());
        r.replies[nackFrame] = hex("1F");
        r.host.downloadFile = r.file("f.hex", content);
        QCOMPARE(r.engine.CmdStart_Click(), messages.isEmpty());
        QCOMPARE(r.host.messages, messages);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r.board.flash().data()), flash.size()),
                 flash);
        if (!progress.isEmpty()) QCOMPARE(r.host.progressTexts, progress);
    }

    // While an operation waits for the target, every other one is refused at once and sends
    // nothing.
    void operationsRefusedInsideAWait() {
        Rig r;
        QVERIFY(r.connect());
        r.delayMs = 30;
        r.host.downloadFile =
            r.file("e.hex", ":020000040800F2\n" + rec(0, "01020304") + "\n:00000001FF");
        QList<bool> results;
        qsizetype framesBefore = -1, framesAfter = -1;
        QTimer::singleShot(10, [&] {
            QVERIFY(r.engine.busy());
            framesBefore = r.port.written.size();
            results << r.engine.CHECKCMD_Click() << r.engine.CmdStart_Click()
                    << r.engine.CmdRead_Click() << r.engine.Command_ER_Click()
                    << r.engine.Command_GO_Click() << r.engine.CmdReadProtect_Click()
                    << r.engine.CmdReadUnProtect_Click() << r.engine.CmdDownLoad_Click();
            r.engine.CombComPort_LostFocus();
            framesAfter = r.port.written.size();
        });
        QVERIFY(r.engine.CmdStart_Click());
        QCOMPARE(results, QList<bool>(8, false));
        QCOMPARE(framesAfter, framesBefore);
        QCOMPARE(r.host.openDialogs + r.host.saveDialogs + r.host.messages.size(), 0);
        QCOMPARE(r.port.openedNames.size(), 1);
        QVERIFY(r.engine.Command_ER_Click());  // once it ended, the next one runs
    }

    // The disk fills up while the flash is read: reported, and the user's old file stays as it was.
    void diskFullDuringReadKeepsOldFile() {
#ifdef Q_OS_UNIX
        Rig r;
        QVERIFY(r.connect());
        const QString path = r.file("full.bin", "old");
        r.host.saveFileAnswers << path;
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small{8192, old.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN);  // a failed write instead of the end of the test
        setrlimit(RLIMIT_FSIZE, &small);
        const bool ok = r.engine.CmdRead_Click();
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!ok);
        QCOMPARE(r.host.messages, QStringList{path + "文件正打开着, 覆盖失败."});
        QCOMPARE(r.host.logMessages, QStringList{"开始读取数据......"});
        QCOMPARE(QDir(r.dir.path()).entryList(QDir::Files), QStringList{"full.bin"});
        QCOMPARE(QFile(path).size(), qint64(3));  // "old"
#endif
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
