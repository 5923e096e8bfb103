// The engine with the real serial port against the simulated board on a pseudo-terminal: the
// events reported, the board's flash and the files afterwards, for every button, its faults,
// Stop and the line vanishing.
#include <QDir>
#include <QTimer>
#include <QtTest>
#include <sstream>

#include "tst_integration_rig.h"

using rig::Rig;

namespace {
const QByteArray kImage = rig::pattern(64, 7);  // four 16-byte records at 0x08000000
const QByteArray kContent = rig::pattern(65536, 9), kErased(65536, char(0xFF));
const QByteArray kOld = "the user's previous file\n";

// Runs one operation. program, verify, eraseprog: kImage from fw.hex with that option; read: into
// out.read, which holds kOld before. go: to 20001000h.
bool run(Rig& r, const QString& op) {
    const QString fw =
        rig::writeLines(r.dir.filePath("fw.hex"), rig::hexLines(0x08000000, kImage, 16));
    const auto erase = op == "eraseprog" ? praxon::EraseScope::Chip : praxon::EraseScope::None;
    const QString out = rig::writeFile(r.dir.filePath("out.read"), kOld);
    return op == "connect"     ? r.engine.connect(r.portName)
           : op == "erase"     ? r.engine.erase()
           : op == "go"        ? r.engine.go(0x20001000)
           : op == "protect"   ? r.engine.protect()
           : op == "unprotect" ? r.engine.unprotect()
           : op == "read"      ? r.engine.readToFile(out, praxon::ImageFormat::Binary)
                               : r.program(fw, {erase, op == "verify", false});
}
}  // namespace

class TestIntegration : public QObject {
    Q_OBJECT
private slots:

    // The data tag is the operation ("stop" first: Stop pressed at 150 ms, when the faulty step,
    // coming within milliseconds, is waiting; "fast" first: in the fast mode, else the compatible
    // one), then the board's faults.
    void operations_data() {
        QTest::addColumn<bool>("result");
        // program ops: 16-byte records in flash; erase, unprotect (old content before): 1 = erased;
        // connect: flashSizeKB.
        QTest::addColumn<int>("flash");
        QTest::addColumn<bool>("connected");
        // The events with their address, failed step, how the wait ended and the byte received.
        QTest::addColumn<QStringList>("events");
        auto row = [](const char* tag, bool result, int flash, bool connected,
                      const QStringList& events) {
            QTest::newRow(tag) << result << flash << connected << events;
        };
        row("connect", true, 64, true,
            {"link_closed", "connect_begun", "synchronised", "connected", "chip_identified",
             "flash_size", "link_ready"});
        row("connect nack:0x7f:1", false, -1, false,
            {"link_closed", "connect_begun", "board_silent nack=1F"});
        row("connect late:0x7f:1", false, -1, false,
            {"link_closed", "connect_begun", "board_silent timeout"});
        row("connect short:0x02:1", true, 64, true,
            {"link_closed", "connect_begun", "synchronised", "connected", "id_unrecognised",
             "flash_size", "link_ready"});
        // The flash size read.
        row("connect nack:0x11:1:1", true, -1, true,
            {"link_closed", "connect_begun", "synchronised", "connected", "chip_identified",
             "read_step_failed@1FFFF7E0 command nack=1F", "flash_size_unknown", "link_ready"});

        // Read Memory occurrence 3: the second block (the connect's read is the first).
        row("read nack:0x11:3:2", false, 0, true,
            {"read_begun", "address_refused@08000100=1F",
             "read_step_failed@08000100 address nack=1F", "read_aborted"});
        row("read burst:0x11:3:3", false, 0, true,
            {"read_begun", "read_step_failed@08000100 count timeout",
             "read_aborted"});  // 300 bytes
        // A vanished line closes the port and shows the link as not connected; replugged, it works.
        row("read hangup:0x11:3:3", false, 0, false,
            {"read_begun", "link_closed", "port_unusable",
             "read_step_failed@08000100 count line_lost", "read_aborted"});

        // Write Memory of the second record: a refused command disconnects.
        row("program nack:0x31:2:1", false, 1, false,
            {"program_begun", "link_closed", "program_failed"});
        // Verify of the second record (Read Memory occurrence 3); a refused address: the read rows.
        row("verify short:0x11:3:3", false, 2, true,
            {"program_begun", "verify_step_failed data timeout", "program_failed"});
        row("verify change:0x11:3:3", false, 2, true,
            {"program_begun", "verify_mismatch@0800001F=F9", "program_failed"});
        row("eraseprog nack:0x43:1:1", false, 0, true, {"erase_failed"});

        row("erase", true, 1, true, {"chip_erase_begun", "erased"});
        // Go ends the connection (a refused address: tst_engine).
        row("go", true, 0, false, {"started@20001000", "link_closed"});
        row("go nack:0x21:1:1", false, 0, false, {"go_silent", "link_closed"});
        row("protect nack:0x82:1:1", false, 0, true, {"protect_failed"});
        row("unprotect nack:0x92:1:1", false, 0, false, {"unprotect_failed", "link_closed"});

        // Stop in a wait for data bytes and (in the fast rows) for the ACK of written data; Stop
        // between blocks in either mode: tst_engine.
        row("stop read short:0x11:3:3", false, 0, false,
            {"read_begun", "link_closed", "read_step_failed@08000100 data stopped",
             "read_aborted"});

        // The fast mode: the same failures, named in the log; the fast read's count refused. Its
        // connect reads the unique ID and the option bytes too: Read Memory occurrences 2 and 3.
        row("fast connect id4", true, 64, true,
            {"link_closed", "connect_begun", "synchronised", "connected", "chip_identified",
             "flash_size", "unique_id@1FFFF7E8", "write_protection", "link_ready"});
        row("fast read short:0x11:5:3", false, 0, true,
            {"read_begun", "read_step_failed@08000100 data timeout",
             "read_reply_failed@08000100 data timeout", "read_aborted"});
        // One block of 64 bytes: the first Write Memory fails whole.
        row("fast program nack:0x31:1:3", false, 0, true,
            {"program_begun", "data_refused@08000000=1F", "write_failed@08000000 data nack=1F",
             "program_failed"});
        row("fast program silent:0x31:1:2", false, 0, true,
            {"program_begun", "write_failed@08000000 address timeout", "program_failed"});
        row("fast verify hangup:0x11:4:3", false, 4, false,
            {"program_begun", "link_closed", "port_unusable",
             "verify_read_failed@08000000 data line_lost", "program_failed"});
        row("stop fast program silent:0x31:1:3", false, 4, false,
            {"program_begun", "link_closed", "write_failed@08000000 data stopped",
             "program_failed"});
    }

    void operations() {
        QStringList tag = QString(QTest::currentDataTag()).split(' ');
        const bool stop = tag.first() == "stop";
        if (stop) tag.removeFirst();
        const bool fast = tag.first() == "fast";
        if (fast) tag.removeFirst();
        const QString op = tag.at(0), faults = tag.value(1);
        QFETCH(bool, result);
        QFETCH(int, flash);
        QFETCH(bool, connected);
        QFETCH(QStringList, events);
        Rig r(rig::boardOptions(faults),
              fast ? praxon::WriteMode::Fast : praxon::WriteMode::Compatible);
        const bool preloaded = op == "erase" || op == "unprotect";
        if (preloaded) r.preload(kContent);
        if (op != "connect") QVERIFY(r.connectAndClear());

        QElapsedTimer clock;
        qint64 stoppedAt = -1;
        if (stop) QTimer::singleShot(150, [&] { stoppedAt = clock.elapsed(), r.engine.stop(); });
        clock.start();
        QCOMPARE(run(r, op), result);
        const qint64 ms = clock.elapsed();
        const QString times = QString("%1 %2").arg(stoppedAt).arg(ms);
        // Stop ends a wait at once; a wait for an answer that does not come in time never gives up
        // before its 0.5 s limit.
        if (stop) QVERIFY2(stoppedAt >= 0 && ms - stoppedAt < 300, qPrintable(times));
        if (!stop && QRegularExpression("^(silent|late)").match(faults).hasMatch())
            QVERIFY2(ms >= 500, qPrintable(times));
        QCOMPARE(Described(r.host.events, true), events);
        if (op == "connect" && r.host.has(praxon::EventCode::ChipIdentified)) {
            const praxon::Event chip = r.host.last(praxon::EventCode::ChipIdentified);
            QCOMPARE(chip.bytes.toHex(), QByteArray(fast ? "04100000" : "0410"));
            QCOMPARE(chip.family, QString("STM32F10x"));
            QCOMPARE(r.host.last(praxon::EventCode::FlashSize).ramKB, fast ? 20 : -1);
        }
        QVERIFY(!r.engine.busy());
        QCOMPARE(r.host.commands.program, connected);
        QCOMPARE(r.host.commands.read, connected && r.engine.target().flashSizeKB > 0);
        if (op == "connect")
            QVERIFY(r.engine.target().flashSizeKB == flash &&
                    (r.host.lamp == praxon::Lamp::Green) == connected);
        if (op == "read") {  // the old file untouched, nothing left beside it
            QCOMPARE(rig::readFile(r.dir.filePath("out.read")), kOld);
            QCOMPARE(QDir(r.dir.path()).entryList({"out*"}, QDir::Files), QStringList{"out.read"});
        }
        if (preloaded) QCOMPARE(r.flash(), flash ? kErased : kContent);
        if (op == "program" || op == "verify" || op == "eraseprog")
            QCOMPARE(r.flash().left(64), kImage.left(flash * 16) + kErased.left(64 - flash * 16));
        if (op == "go" && faults.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(r.board->counters().goAddress.value_or(0), 0x20001000u, 2000);
        if (!faults.startsWith("hangup")) return;
        QVERIFY(!r.port.isOpen());
        r.start(rig::boardOptions());
        QVERIFY(r.connectAndClear() && r.host.commands.program && r.host.commands.read);
    }

    // One Start erases the old content, programs records sharing a word, verifies and protects (the
    // protected chip refusing: the nack rows of operations); then the protection is cleared.
    void programAndProtect() {
        Rig r;
        r.preload(kContent);
        // The second record shares a word with the first: it must not program the first one's bytes
        // again with 0xFF padding (the chip refuses a half-word twice). The third starts unaligned.
        const QByteArray a = rig::pattern(6, 4), b = rig::pattern(16, 3), c = rig::pattern(5, 1);
        const QStringList lines = rig::hexLines(0x08000000, a, 6).mid(0, 2) +
                                  rig::hexLines(0x08000006, b, 16).mid(1, 1) +
                                  rig::hexLines(0x08000019, c, 5).mid(1);
        const QString fw = rig::writeLines(r.dir.filePath("fw.hex"), lines);
        QVERIFY(r.connectAndClear() && r.program(fw, {praxon::EraseScope::Chip, true, true}));
        QCOMPARE(Described(r.host.events),
                 QStringList({"chip_erase_begun", "erased", "program_begun", "verified",
                              "programmed", "protected", "link_closed"}));
        QCOMPARE(r.host.last(praxon::EventCode::Verified).done,
                 qint64(a.size() + b.size() + c.size()));
        QVERIFY(r.host.messages.isEmpty() &&
                !r.host.commands.program);  // reconnect after protecting
        const QByteArray image = a + b + QByteArray(3, char(0xFF)) + c;
        QCOMPARE(r.flash(), image + kErased.mid(image.size()));
        QTRY_VERIFY_WITH_TIMEOUT(r.board->readoutProtected(), 2000);

        // Clearing the protection again: the chip erases its whole flash and resets.
        QVERIFY(r.connectAndClear() && r.engine.unprotect());
        QCOMPARE(Described(r.host.events),
                 QStringList({"unprotect_erasing", "unprotected", "link_closed"}));
        QTRY_VERIFY_WITH_TIMEOUT(!r.board->readoutProtected(), 2000);
        QCOMPARE(r.flash(), kErased);
    }

    // Reading the whole flash into an existing Intel HEX file (128 KB: two segments; binary, ranges
    // and the exact records in tst_cliprocess). The name as typed: the blank after it dropped.
    void readHex() {
        auto options = rig::boardOptions();
        options.board.flashKb = 128;
        Rig r(options);
        const QByteArray content = rig::pattern(128 * 1024, 5);
        r.preload(content);
        QVERIFY(r.connectAndClear());
        const QString path = rig::writeFile(r.dir.filePath("OUT.HEX"), kOld);
        QVERIFY(r.engine.readToFile(path + " ", praxon::ImageFormat::Hex));
        QCOMPARE(r.host.last(praxon::EventCode::ReadDone).done, qint64(content.size()));
        std::istringstream in(rig::readFile(path).toStdString());
        praxon::FirmwareImage image;
        QVERIFY(praxon::ReadHexImage(in, &image, nullptr));
        QCOMPARE(image.segments().at(0).address, 0x08000000u);
        const std::vector<uint8_t>& bytes = image.segments().at(0).bytes;
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())),
                 content);
        QCOMPARE(QDir(r.dir.path()).entryList(QDir::Files | QDir::NoSymLinks),
                 QStringList{"OUT.HEX"});
    }
};

QTEST_GUILESS_MAIN(TestIntegration)
#include "tst_integration.moc"
