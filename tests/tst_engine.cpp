// The engine on a fake target, for what the end-to-end tests against the simulated board
// (tst_integration) cannot reach well: refusals before anything is sent, the two write modes on
// the same image, operations refused from inside a running wait, a disk that fills up during a
// read; and the texts the operations show.
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
    explicit Rig(WriteMode mode = WriteMode::Fast) {
        engine.setMode(mode);
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
        const bool ok = engine.connect("ttyS0");
        host.clearRecords();
        port.written.clear();
        frames = 0;
        return ok;
    }
    QString file(const QString& name, const QByteArray& content) {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(content) >= 0 ? f.fileName() : QString();
    }
    bool program(const QString& path, const ProgramOptions& options = {},
                 ImageFormat format = ImageFormat::Hex, uint32_t at = 0x08000000) {
        const std::optional<FirmwareImage> image = engine.loadImage({path, format, at});
        return image && engine.program(*image, options);
    }
    QByteArray flash(int n) const {
        return QByteArray(reinterpret_cast<const char*>(board.flash().data()), n);
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

    // Refusals before anything is sent. The text is the file's content (after "file:"), or a
    // path; %1 stands for a temporary folder.
    void refusals_data() {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("messages");
        const auto row = [](const char* name, const char* op, const QByteArray& content,
                            const QStringList& messages) {
            QTest::newRow(name) << op << content << messages;
        };
        const QByteArray ela = ":020000040800F2\n", eof = ":00000001FF\n";
        const QByteArray good = ela + rec(0, "01020304") + "\n";
        const QString failed = "下载失败。", bad = ":0400100001020304FF";
        row("no file", "program|   ", {}, {"请指定下载文件。"});
        row("file missing", "program|%1/no.hex", {}, {"指定的文件不存在，请重新打开。"});
        row("file unreadable", "program|%1", {}, {"无法打开文件: %1"});
        row("a bad line after good ones", "program|f.hex",
            good + good + good + rec(0x20, "0506") + "\n" + bad.toLatin1() + "\n" + eof,
            {"校验和不正确，您给的串是：" + bad, "HEX数据有误，下载失败！" + bad, failed});
        row("no end record", "program|f.hex", good,
            {"HEX文件没有结束记录，文件可能不完整，下载失败！", failed});
        row("two values for one address", "program|f.hex",
            good + rec(2, "0303") + "\n" + eof,
            {"HEX文件中地址08000003的数据前后不一致，下载失败！", failed});
        row("no data", "program|f.hex", ela + eof, {"文件中没有可下载的数据，下载失败！", failed});
        row("empty binary", "program|f.bin", {}, {"文件中没有可下载的数据，下载失败！", failed});
        // 0x410 parts carry up to 128 KB whatever the size word says; the bootloader keeps the
        // first 0x200 bytes of the RAM.
        row("past the flash of the product line", "program|f.hex",
            ":020000040802F0\n" + rec(0, "0102030405") + "\n" + eof,
            {"地址08020000超出器件可写入的存储器范围，下载失败！", failed});
        row("the bootloader's RAM", "program|f.hex",
            ":020000042000DA\n" + rec(0x1F0, "01020304050607080910111213141516") + "\n" + eof,
            {"地址200001F0超出器件可写入的存储器范围，下载失败！", failed});
        row("read into a missing folder", "read|%1/no/out.bin", {},
            {"%1/no/out.bin文件正打开着, 覆盖失败."});
        row("port refused", "connect|ttyS9", {}, {"指定的串口不存在或已被占用。"});
    }

    void refusals() {
        QFETCH(QString, op);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, messages);
        Rig r;
        QVERIFY(r.connect());
        QString text = op.section('|', 1).replace("%1", r.dir.path());
        op = op.section('|', 0, 0);
        if (text.startsWith("f.")) text = r.file(text, content);
        r.port.refuseOpen = true;
        QVERIFY(!(op == "program" ? r.program(text, {EraseScope::Chip, true, false},
                                              text.endsWith(".bin") ? ImageFormat::Binary
                                                                    : ImageFormat::Hex)
                  : op == "read"  ? r.engine.readToFile(text, ImageFormat::Binary)
                                  : r.engine.connect(text)));
        for (QString& m : messages) m.replace("%1", r.dir.path());
        QCOMPARE(r.host.messages, messages);
        const QStringList portLog{"连接目标板......", "指定的串行口不存在或被其它应用程序占用。"};
        QCOMPARE(r.host.logMessages, op == "connect" ? portLog : QStringList());
        QVERIFY(r.port.written.isEmpty());
    }

    // The two write modes give the same flash for records that share words, start unaligned and
    // leave gaps; the fast one in fewer transactions. Progress counts the bytes written.
    void writeModes_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("erase");
        QTest::addColumn<int>("writes");  // Write Memory transactions
        QTest::newRow("compatible") << int(WriteMode::Compatible) << int(EraseScope::None) << 4;
        QTest::newRow("fast, nothing erased: split at the gap")
            << int(WriteMode::Fast) << int(EraseScope::None) << 2;
        QTest::newRow("fast, chip erased: the gap bridged") << int(WriteMode::Fast)
                                                            << int(EraseScope::Chip) << 1;
        QTest::newRow("fast, pages erased") << int(WriteMode::Fast) << int(EraseScope::Pages) << 1;
    }

    void writeModes() {
        QFETCH(int, mode);
        QFETCH(int, erase);
        QFETCH(int, writes);
        Rig r{WriteMode(mode)};
        QVERIFY(r.connect());
        const QByteArray content = ":020000040800F2\n" + rec(0, "010203040506") + "\n" +
                                   rec(6, "0708090A0B0C0D0E0F10") + "\n" + rec(0x11, "1112") +
                                   "\n" + rec(0x40, "A1A2A3") + "\n" + rec(0x43, "A4") + "\n" +
                                   ":00000001FF\n";
        QVERIFY(r.program(r.file("f.hex", content), {EraseScope(erase), true, false}));
        QCOMPARE(r.host.messages, QStringList());
        QCOMPARE(r.flash(0x48), hex("0102030405060708090A0B0C0D0E0F10FF1112") +
                                    QByteArray(0x40 - 0x13, char(0xFF)) + hex("A1A2A3A4") +
                                    QByteArray(4, char(0xFF)));
        QCOMPARE(r.port.written.count(hex("31CE")), writes);
        QCOMPARE(r.host.progressHistory.last(), qMakePair(qint64(22), qint64(22)));
    }

    // A binary file goes to its load address; a mismatch on verify names the first bad address.
    void binaryAndVerifyMismatch() {
        Rig r;
        QVERIFY(r.connect());
        const QString path = r.file("f.bin", hex("0102030405060708"));
        // Frames 0-2 write the block, 3-5 read it back: the count's answer comes back changed.
        r.replies[5] = hex("790100030405060708");
        QVERIFY(!r.program(path, {EraseScope::None, true, false}, ImageFormat::Binary, 0x08000400));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r.board.flash().data()) + 0x400, 8),
                 hex("0102030405060708"));
        QVERIFY(r.host.logMessages.contains(
            "数据校验不正确. 首个不一致的地址为08000401: 应为02, 读回00."));
        QCOMPARE(r.host.messages, QStringList{"下载失败。"});
    }

    // While an operation waits for the target, every other one is refused at once and sends
    // nothing.
    void operationsRefusedInsideAWait() {
        Rig r;
        QVERIFY(r.connect());
        r.delayMs = 30;
        const std::optional<FirmwareImage> image = r.engine.loadImage(
            {r.file("e.hex", ":020000040800F2\n" + rec(0, "01020304") + "\n:00000001FF")});
        QVERIFY(image);
        QList<bool> results;
        qsizetype framesBefore = -1, framesAfter = -1;
        QTimer::singleShot(10, [&] {
            QVERIFY(r.engine.busy());
            framesBefore = r.port.written.size();
            results << r.engine.connect("ttyS0") << r.engine.program(*image, {})
                    << r.engine.readToFile(r.dir.filePath("x.bin"), ImageFormat::Binary)
                    << r.engine.erase() << r.engine.go(0x08000000) << r.engine.protect()
                    << r.engine.unprotect() << bool(r.engine.loadImage({"e.hex"}))
                    << r.engine.openPort("ttyS1");
            framesAfter = r.port.written.size();
        });
        QVERIFY(r.engine.program(*image, {}));
        QCOMPARE(results, QList<bool>(9, false));
        QCOMPARE(framesAfter, framesBefore);
        QCOMPARE(r.host.messages.size(), 0);
        QCOMPARE(r.port.openedNames.size(), 1);
        QVERIFY(r.engine.erase());  // once it ended, the next one runs
    }

    // The disk fills up while the flash is read: reported, and the user's old file stays as it was.
    void diskFullDuringReadKeepsOldFile() {
#ifdef Q_OS_UNIX
        Rig r;
        QVERIFY(r.connect());
        const QString path = r.file("full.bin", "old");
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small{8192, old.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN);  // a failed write instead of the end of the test
        setrlimit(RLIMIT_FSIZE, &small);
        const bool ok = r.engine.readToFile(path, ImageFormat::Binary);
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
