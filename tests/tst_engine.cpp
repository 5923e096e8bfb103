// The engine on a fake target, for what the end-to-end tests against the simulated board
// (tst_integration) cannot reach well: refusals before anything is sent, the fast mode's splits on
// the wire, Stop between blocks, a verify that must see every byte, Go's refused address,
// operations refused from inside a running wait.
// Checksum errors are guarded by tst_cliprocess, binary files by tst_mainform and tst_cliprocess;
// the example ELF programmed by its content by tst_cliprocess, read three ways by tst_imageformat.
#include <sys/resource.h>
#include <QTest>
#include <csignal>

#include "BootLink.h"
#include "FakePort.h"
#include "tst_integration_rig.h"

using namespace praxon;

namespace {
QByteArray rec(uint16_t offset, const char* bytes) {
    const QByteArray b = hex(bytes);
    return QByteArray::fromStdString(DataRecordLine(
               offset, reinterpret_cast<const uint8_t*>(b.constData()), int(b.size()))) +
           "\n";
}
// An Intel HEX file of those records at 0x0800xxxx, with its end record unless told otherwise.
QByteArray hexFile(std::initializer_list<std::pair<uint16_t, const char*>> records,
                   bool end = true) {
    QByteArray file = ":020000040800F2\n";
    for (const auto& [offset, bytes] : records) file += rec(offset, bytes);
    return end ? file + ":00000001FF\n" : file;
}

// The simulated bootloader (4-byte aligned writes only, as the chip) behind the fake port.
struct Rig {
    RecordingHost host;
    FakePort port;
    Engine engine{host, port};
    sim::Board board;
    QTemporaryDir dir;
    // Applied to every frame before the board sees it (a chip that stores a wrong byte, say).
    std::function<QByteArray(const QByteArray&)> tamper;
    Rig() {
        engine.setMode(WriteMode::Fast);
        AnswerFrom(port, board, &tamper);
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
    // Refusals before anything is sent: the file's content for f.hex, or a path (read: a read
    // into it, RANGE: a read of that range); %1 stands for a temporary folder. A disk that fills
    // up during a read: diskFullDuringReadKeepsOldFile; a port that cannot be opened: tst_bootlink.
    void refusals_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("events");
        const auto row = [](const char* name, const char* path, const QByteArray& content,
                            const QStringList& events) {
            QTest::newRow(name) << path << content << events;
        };
        const QByteArray eof = ":00000001FF\n";
        const QString failed = "program_failed";
        row("no file", "   ", {}, {"no_image_file"});
        row("file missing", "%1/no.hex", {}, {"image_file_missing"});
        row("file unreadable", "%1", {}, {"image_file_unreadable"});
        row("no end record", "f.hex", hexFile({{0, "01020304"}}, false),
            {"hex_no_end_record", failed});
        row("two values for one address", "f.hex", hexFile({{0, "01020304"}, {2, "0303"}}),
            {"hex_conflict@08000003", failed});
        row("no data", "f.hex", hexFile({}), {"image_empty", failed});
        // 0x410 parts carry up to 128 KB whatever the size word says; the bootloader keeps the
        // first 0x200 bytes of the RAM.
        row("past the flash of the product line", "f.hex",
            ":020000040802F0\n" + rec(0, "0102030405") + eof, {"outside_memory@08020000", failed});
        row("read into a missing folder", "read:%1/no/out.bin", {}, {"output_folder_missing"});
        row("read into a folder", "read:%1", {}, {"output_not_writable"});
        // The same limit as for writes: the product line's 128 KB.
        row("read past the end of the flash", "read:%1/r.bin 0801FF00 08020100", {},
            {"read_past_flash_end@08020000"});
        row("read range empty", "read:%1/r.bin 08000100 08000100", {}, {"read_range_invalid"});
        row("the bootloader's RAM", "f.hex",
            ":020000042000DA\n" + rec(0x1F0, "01020304050607080910111213141516") + eof,
            {"outside_memory@200001F0", failed});
        // Other formats, told by the content whatever the name (their refusals: tst_imageformat).
        row("S-record: bad checksum", "f.hex", "S30908000094400D03000E\nS70508000009E9\n",
            {"srec_refused bad_checksum", failed});
    }

    void refusals() {
        QFETCH(QString, path);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, events);
        Rig r;
        QVERIFY(r.connect());
        path.replace("%1", r.dir.path());
        if (path == "f.hex") path = rig::writeFile(r.dir.filePath(path), content);
        const bool read = path.startsWith("read:");
        std::optional<AddressRange> range;
        if (read && path.contains(' ')) {
            range = AddressRange{path.section(' ', 1, 1).toUInt(nullptr, 16),
                                 path.section(' ', 2, 2).toUInt(nullptr, 16)};
            path = path.section(' ', 0, 0);
        }
        QVERIFY(!(read ? r.engine.readToFile(path.mid(5), ImageFormat::Binary, range)
                       : r.program(path, {EraseScope::Chip, true, false})));
        QCOMPARE(Described(r.host.events), events);
        QCOMPARE(r.host.events.last().code, EventCode::OperationEnded);
        QVERIFY(!r.host.events.last().ok);
        QVERIFY(r.host.logMessages.isEmpty() && r.port.written.isEmpty());
        QCOMPARE(QDir(r.dir.path()).entryList(QDir::Files).size(), path.endsWith("f.hex") ? 1 : 0);
    }

    // The disk fills up while a read is written: the failure is reported, the old file stays as
    // it was and nothing is left beside it.
    void diskFullDuringReadKeepsOldFile() {
        Rig r;
        QVERIFY(r.connect());
        const QString path = rig::writeFile(r.dir.filePath("full.bin"), "old");
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit small{8192, old.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN);  // a failed write instead of the end of the test
        setrlimit(RLIMIT_FSIZE, &small);
        const bool ok = r.engine.readToFile(path, ImageFormat::Binary);
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!ok);
        QCOMPARE(Described(r.host.events), (QStringList{"read_begun", "output_not_writable"}));
        QVERIFY(!r.host.last(EventCode::OutputNotWritable).detail.isEmpty());  // the system's words
        QCOMPARE(QDir(r.dir.path()).entryList(QDir::Files), QStringList{"full.bin"});
        QCOMPARE(rig::readFile(path), QByteArray("old"));
    }

    // The chip stores one byte wrongly: the verify names it, wherever it lies in the image, the
    // last byte included (the compatible mode's last byte and passing verifies: tst_integration).
    void verifySeesEveryByte_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("wrongByte");  // index in the 8-byte image
        QTest::addColumn<QString>("result");
        const auto row = [](const char* name, WriteMode mode, int wrong, const char* result) {
            QTest::newRow(name) << int(mode) << wrong << QString(result);
        };
        row("fast, first byte", WriteMode::Fast, 0, "verify_mismatch_at@08000000 01 FE");
        row("fast, last byte", WriteMode::Fast, 7, "verify_mismatch_at@08000007 08 F7");
        row("compatible, first byte", WriteMode::Compatible, 0, "verify_mismatch@08000000 01 FE");
    }

    void verifySeesEveryByte() {
        QFETCH(int, mode);
        QFETCH(int, wrongByte);
        QFETCH(QString, result);
        Rig r;
        r.engine.setMode(WriteMode(mode));
        QVERIFY(r.connect());
        // The only 10-byte frame is the Write Memory's data (count, 8 bytes, checksum): one byte
        // of it (and the checksum with it, so the frame stays valid) is inverted.
        r.tamper = [&](QByteArray f) {
            if (f.size() == 10) f[1 + wrongByte] = char(~f[1 + wrongByte]), f[9] = char(~f[9]);
            return f;
        };
        const QString path =
            rig::writeFile(r.dir.filePath("v.hex"), hexFile({{0, "0102030405060708"}}));
        QVERIFY(!r.program(path, {EraseScope::Chip, true, false}));
        const Event e = r.host.last(mode == int(WriteMode::Fast) ? EventCode::VerifyMismatchAt
                                                                 : EventCode::VerifyMismatch);
        QCOMPARE(Described({e}).value(0) + QString::asprintf(" %02X %02X", *e.expected, *e.actual),
                 result);
    }

    // Go to an address the chip refuses leaves it in its bootloader, the link offered, and the
    // operation failed (an accepted Go: tst_integration's go row).
    void goAddressRefused() {
        Rig r;
        QVERIFY(r.connect());
        QVERIFY(!r.engine.go(0x12345678));
        QCOMPARE(Described(r.host.events), QStringList{"go_address_refused@12345678"});
        QVERIFY(r.host.commands.program);
        QCOMPARE(r.port.written,
                 (QList<QByteArray>{hex("21DE"), BootLink::addressFrame(0x12345678)}));
    }

    // The fast mode splits at a gap that is not erased and bridges it on an erased chip; records
    // share words and start unaligned (the compatible mode: tst_integration). Progress counts the
    // bytes written. Stop pressed as the first block's answer came: no further Write Memory goes
    // out, and the program is reported failed (the compatible mode: tst_mainform's session).
    void writeModes_data() {
        QTest::addColumn<int>("erase");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<int>("writes");  // Write Memory transactions
        QTest::newRow("nothing erased: split at the gap") << int(EraseScope::None) << false << 2;
        QTest::newRow("chip erased: the gap bridged") << int(EraseScope::Chip) << false << 1;
        QTest::newRow("Stop between the blocks") << int(EraseScope::None) << true << 1;
    }

    void writeModes() {
        QFETCH(int, erase);
        QFETCH(bool, stop);
        QFETCH(int, writes);
        Rig r;
        QVERIFY(r.connect());
        r.host.onEvent = [&](const Event& e) {
            if (stop && e.code == EventCode::Progress) r.engine.stop();
        };
        const QByteArray content = hexFile({{0, "010203040506"},
                                            {6, "0708090A0B0C0D0E0F10"},
                                            {0x11, "1112"},
                                            {0x40, "A1A2A3"},
                                            {0x43, "A4"}});
        QCOMPARE(r.program(rig::writeFile(r.dir.filePath("f.hex"), content),
                           {EraseScope(erase), true, false}),
                 !stop);
        const QByteArray blank(0x40 - 0x13, char(0xFF));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r.board.flash().data()), 0x48),
                 hex("0102030405060708090A0B0C0D0E0F10FF1112") + blank +
                     (stop ? QByteArray(8, char(0xFF)) : hex("A1A2A3A4FFFFFFFF")));
        QCOMPARE(r.port.written.count(hex("31CE")), writes);
        QCOMPARE(r.host.has(EventCode::Programmed), !stop);
        if (!stop) QCOMPARE(r.host.progressHistory.last(), qMakePair(qint64(22), qint64(22)));
    }

    // While an operation waits for the target, every other one is refused at once and sends
    // nothing.
    void operationsRefusedInsideAWait() {
        Rig r;
        QVERIFY(r.connect());
        const std::optional<FirmwareImage> image = r.engine.loadImage(
            {rig::writeFile(r.dir.filePath("e.hex"), hexFile({{0, "01020304"}}))});
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
