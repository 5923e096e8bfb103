// The engine on a fake target, for what the end-to-end tests against the simulated board
// (tst_integration) cannot reach well: refusals before anything is sent, the fast mode's splits on
// the wire, operations refused from inside a running wait; and texts the operations show.
// Checksum errors are guarded by tst_cliprocess, binary files by tst_mainform and tst_cliprocess.
#include <QTest>

#include "ElfFiles.h"
#include "FakePort.h"
#include "Format.h"
#include "tst_integration_rig.h"

using namespace praxon;

namespace {
QByteArray rec(uint16_t offset, const char* bytes) {
    const QByteArray b = hex(bytes);
    return QByteArray::fromStdString(
        DataRecordLine(offset, reinterpret_cast<const uint8_t*>(b.constData()), int(b.size())));
}

// The simulated bootloader (4-byte aligned writes only, as the chip) behind the fake port.
struct Rig {
    RecordingHost host;
    FakePort port;
    Engine engine{host, port};
    sim::Board board;
    QTemporaryDir dir;
    Rig() {
        engine.setMode(WriteMode::Fast);
        port.responder = [this](const QByteArray& f) {
            QByteArray out;
            for (char c : f)
                for (const auto& e : board.feed(uint8_t(c), 0))
                    out.append(reinterpret_cast<const char*>(e.bytes.data()), int(e.bytes.size()));
            if (!out.isEmpty()) port.deliverLater(out, 0);
        };
    }
    bool connect() {
        const bool ok = engine.connect("ttyS0");
        host.clearRecords();
        port.written.clear();
        return ok;
    }
    bool program(const QString& path, const ProgramOptions& options) {
        const std::optional<FirmwareImage> image = engine.loadImage({path});
        return image && engine.program(*image, options);
    }
};
}  // namespace

class TestEngine : public QObject {
    Q_OBJECT
private slots:

    // The texts the operations show.
    void texts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        // Elapsed seconds: two decimals, nothing before the point below one second.
        QTest::newRow("0.57 s") << SecondsText(570'000'000) << ".57";
        QTest::newRow("0.999 s rounds to 1.00") << SecondsText(999'000'000) << "1.00";
        // Download: at least two integer digits (upload: tst_integration).
        QTest::newRow("download 7.5 %") << DownloadProgressText(75, 1000) << "完成07.50%.";
    }

    void texts() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }

    // The program in examples/elf, built once and written by objcopy as Intel HEX and S-records:
    // each file, told by its content, leaves the board's flash as the HEX file does.
    void sameProgramEveryFormat_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("ELF") << "blink.elf";
        QTest::newRow("S-record") << "blink.s37";
        QTest::newRow("ELF under another name") << "copy.hex";
    }

    void sameProgramEveryFormat() {
        QFETCH(QString, file);
        const QString examples = PRAXON_EXAMPLES "/elf/";
        Rig hex, other;
        QVERIFY(hex.connect() && other.connect());
        QVERIFY(hex.program(examples + "blink.hex", {EraseScope::Chip, true, false}));
        const QString path =
            file == "copy.hex"
                ? rig::writeFile(other.dir.filePath(file), rig::readFile(examples + "blink.elf"))
                : examples + file;
        QVERIFY(other.program(path, {EraseScope::Chip, true, false}));
        QVERIFY(other.host.messages.isEmpty());
        QVERIFY(hex.board.flash() == other.board.flash());
        // Code and the initialised data behind it were written, nothing after them.
        const std::vector<uint8_t>& flash = other.board.flash();
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(flash.data()) + 0x90, 8).toHex(),
                 "400d0300ffffffff");
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(flash.data()), 4).toHex(), "00500020");
    }

    // Refusals before anything is sent: the file's content for f.hex, or a path; %1 stands for
    // a temporary folder. A file that cannot be replaced is guarded by
    // diskFullDuringReadKeepsOldFile, a port that cannot be opened by tst_mainform.
    void refusals_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("messages");
        const auto row = [](const char* name, const char* path, const QByteArray& content,
                            const QStringList& messages) {
            QTest::newRow(name) << path << content << messages;
        };
        const QByteArray ela = ":020000040800F2\n", eof = ":00000001FF\n";
        const QByteArray good = ela + rec(0, "01020304") + "\n";
        const QString failed = "下载失败。";
        row("no file", "   ", {}, {"请指定下载文件。"});
        row("file missing", "%1/no.hex", {}, {"指定的文件不存在，请重新打开。"});
        row("file unreadable", "%1", {}, {"无法打开文件: %1"});
        row("no end record", "f.hex", good,
            {"HEX文件没有结束记录，文件可能不完整，下载失败！", failed});
        row("two values for one address", "f.hex", good + rec(2, "0303") + "\n" + eof,
            {"HEX文件中地址08000003的数据前后不一致，下载失败！", failed});
        row("no data", "f.hex", ela + eof, {"文件中没有可下载的数据，下载失败！", failed});
        // 0x410 parts carry up to 128 KB whatever the size word says; the bootloader keeps the
        // first 0x200 bytes of the RAM.
        row("past the flash of the product line", "f.hex",
            ":020000040802F0\n" + rec(0, "0102030405") + "\n" + eof,
            {"地址08020000超出器件可写入的存储器范围，下载失败！", failed});
        row("read into a missing folder", "read:%1/no/out.bin", {},
            {"%1/no/out.bin文件正打开着, 覆盖失败."});
        row("the bootloader's RAM", "f.hex",
            ":020000042000DA\n" + rec(0x1F0, "01020304050607080910111213141516") + "\n" + eof,
            {"地址200001F0超出器件可写入的存储器范围，下载失败！", failed});
        // Other formats, told by the content whatever the name.
        const QByteArray srecData = "S30908000090400D03000E\n", srecEnd = "S70508000009E9\n";
        row("S-record: bad checksum", "f.hex", srecData + "S30908000094400D03000E\n" + srecEnd,
            {"S-record文件第2行校验和不正确，下载失败！ S30908000094400D03000E", failed});
        row("S-record: count mismatch", "f.hex", srecData + "S5030002FA\n" + srecEnd,
            {"S-record文件第2行记录数与前面的数据记录数不符，下载失败！ S5030002FA", failed});
        row("S-record: no end record", "f.hex", srecData,
            {"S-record文件没有结束记录(S7/S8/S9)，文件可能不完整，下载失败！", failed});
        row("S-record: two values for one address", "f.hex",
            srecData + "S30908000090400D03010D\n" + srecEnd,
            {"S-record文件中地址08000093的数据前后不一致，下载失败！", failed});
        const QByteArray elfFile = elf::file({{0x08000000, "\x01\x02\x03\x04"}});
        QByteArray x86 = elfFile;
        elf::put16(x86, 18, 62);
        row("ELF: not ARM", "f.hex", x86, {"ELF文件不是ARM程序，下载失败！", failed});
        row("ELF: no loadable data", "f.hex", elf::file({}),
            {"ELF文件没有可装载的数据，下载失败！", failed});
        row("ELF: overlapping segments", "f.hex",
            elf::file({{0x08000000, "\x01\x02\x03\x04"}, {0x08000002, "\x03\x04"}}),
            {"ELF文件可装载段在地址08000002处重叠，下载失败！", failed});
        // The same memory check as for HEX files: the 0x410 parts have 20 KB of RAM.
        row("ELF: a segment outside the chip", "f.hex",
            elf::file({{0x08000000, "\x01\x02\x03\x04"}, {0x20004FFE, "\x01\x02\x03\x04"}}),
            {"地址20005000超出器件可写入的存储器范围，下载失败！", failed});
    }

    void refusals() {
        QFETCH(QString, path);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, messages);
        Rig r;
        QVERIFY(r.connect());
        path.replace("%1", r.dir.path());
        if (path == "f.hex") path = rig::writeFile(r.dir.filePath(path), content);
        const bool read = path.startsWith("read:");
        QVERIFY(!(read ? r.engine.readToFile(path.mid(5), ImageFormat::Binary)
                       : r.program(path, {EraseScope::Chip, true, false})));
        for (QString& m : messages) m.replace("%1", r.dir.path());
        QCOMPARE(r.host.messages, messages);
        QVERIFY(r.host.logMessages.isEmpty() && r.port.written.isEmpty());
    }

    // The fast mode splits at a gap that is not erased and bridges it on an erased chip; records
    // share words and start unaligned (the compatible mode: tst_integration). Progress counts the
    // bytes written.
    void writeModes_data() {
        QTest::addColumn<int>("erase");
        QTest::addColumn<int>("writes");  // Write Memory transactions
        QTest::newRow("nothing erased: split at the gap") << int(EraseScope::None) << 2;
        QTest::newRow("chip erased: the gap bridged") << int(EraseScope::Chip) << 1;
    }

    void writeModes() {
        QFETCH(int, erase);
        QFETCH(int, writes);
        Rig r;
        QVERIFY(r.connect());
        const QByteArray content = ":020000040800F2\n" + rec(0, "010203040506") + "\n" +
                                   rec(6, "0708090A0B0C0D0E0F10") + "\n" + rec(0x11, "1112") +
                                   "\n" + rec(0x40, "A1A2A3") + "\n" + rec(0x43, "A4") + "\n" +
                                   ":00000001FF\n";
        QVERIFY(r.program(rig::writeFile(r.dir.filePath("f.hex"), content),
                          {EraseScope(erase), true, false}));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r.board.flash().data()), 0x48),
                 hex("0102030405060708090A0B0C0D0E0F10FF1112") +
                     QByteArray(0x40 - 0x13, char(0xFF)) + hex("A1A2A3A4") +
                     QByteArray(4, char(0xFF)));
        QCOMPARE(r.port.written.count(hex("31CE")), writes);
        QCOMPARE(r.host.progressHistory.last(), qMakePair(qint64(22), qint64(22)));
    }

    // While an operation waits for the target, every other one is refused at once and sends
    // nothing.
    void operationsRefusedInsideAWait() {
        Rig r;
        QVERIFY(r.connect());
        const std::optional<FirmwareImage> image = r.engine.loadImage({rig::writeFile(
            r.dir.filePath("e.hex"), ":020000040800F2\n" + rec(0, "01020304") + "\n:00000001FF")});
        QVERIFY(image);
        QList<bool> results;
        qsizetype framesBefore = -1, framesAfter = -1;
        // Queued before the first reply, so it runs in the first wait.
        QTimer::singleShot(0, [&] {
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
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
