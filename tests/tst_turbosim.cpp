// The committed F1 loader run by praxon-sim's emulated Cortex-M3 (instant), driven by the host's
// LoaderLink through a real QSerialPort on the simulator's pseudo-terminal: start through the ROM,
// programming with CRC verify, the same image again (nothing written), a line speed change.
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "BootLink.h"
#include "Engine.h"
#include "LoaderImage.h"
#include "LoaderLink.h"
#include "Messages.h"
#include "QtSerialPort.h"
#include "RecordingHost.h"
#include "Simulator.h"
#include "TurboFrames.h"
#include "tst_integration_rig.h"

using namespace praxon::flash;

namespace {

constexpr std::uint32_t kFlashBase = 0x08000000;

QByteArray Random(int size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char& byte : bytes) byte = char(random.bounded(256));
    return bytes;
}

struct SimRig {
    QTemporaryDir dir;
    RecordingHost host;
    praxon::QtSerialPort port;
    praxon::BootLink link{host, port};
    std::unique_ptr<praxon::sim::Simulator> board;
    std::unique_ptr<LoaderLink> loader;

    explicit SimRig(std::uint64_t resetAfterBytes = 0) {
        praxon::sim::SimulatorOptions options;
        options.ramLine.resetAfterBytes = resetAfterBytes;
        options.instant = true;
        options.board.pid = 0x410;
        options.board.flashKb = 64;
        options.linkPath = dir.filePath("board").toStdString();
        board = std::make_unique<praxon::sim::Simulator>(options);
        std::string why;
        if (!board->start(&why)) qFatal("no pseudo-terminal: %s", why.c_str());
        link.setLineSettings(115200, {});
        link.setStopped(false);
    }
    ~SimRig() {
        loader.reset();
        port.close();
    }
    QByteArray flash() const {
        const std::vector<uint8_t> image = board->flashImage();
        return QByteArray(reinterpret_cast<const char*>(image.data()), int(image.size()));
    }
    LoaderResult start(bool lzmaTable = true) {
        if (!link.openPort(dir.filePath("board")) || !link.sync().ok())
            return {LoaderOutcome::NotStarted};
        loader = std::make_unique<LoaderLink>(link);
        LoaderParameters parameters;
        parameters.baud = 115200;
        parameters.ramEnd = LoaderRamEnd(0x410, 64 * 1024, 0);
        parameters.pageSize = 1024;
        parameters.flashSize = 64 * 1024;
        parameters.lzmaTable = lzmaTable;
        return loader->start(*LoaderFor(LoaderFamily::F1, 0x20000200), parameters);
    }
};

}  // namespace

Q_DECLARE_METATYPE(LoaderOutcome)

class TestTurboSim : public QObject {
    Q_OBJECT

private slots:
    void program_data();
    void program();
    void engineTurbo_data();
    void engineTurbo();
    void turboEndsInTheBootloader_data();
    void turboEndsInTheBootloader();
    void connectFindsTheLoader_data();
    void connectFindsTheLoader();
    void resetMidTransferTouchesNothingElse_data();
    void resetMidTransferTouchesNothingElse();
};

void TestTurboSim::program_data() {
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QByteArray>("preloaded");
    QTest::addColumn<int>("lineSpeed");
    QTest::addColumn<int>("pagesWritten");
    QTest::addColumn<double>("wireAtMost");  // bytes on the line per image byte written
    const QByteArray random = Random(64 * 1024, 11);
    QTest::newRow("64 KB on a blank chip") << random << QByteArray() << 0 << 64 << 1.05;
    QTest::newRow("8 changed pages of 64")
        << random << random.left(24 * 1024) + Random(8192, 13) + random.mid(32 * 1024) << 0 << 8
        << 1.05;
    QTest::newRow("64 KB after a speed change to 921600")
        << random << QByteArray() << 921600 << 64 << 1.05;
    // Compressed frames: the chip decodes and programs while the next frame arrives at
    // 921600 baud; it must take every byte in time (no damaged frame, no resend). One LZMA
    // stream: 0.702 of the image on the line with the line escapes (+0.85 %); deflate's frames,
    // even of 4 KB with a 32 KB dictionary, would need 0.728 or more.
    QFile file(PRAXON_BENCH_FIRMWARE);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray firmware = file.readAll();
    QTest::newRow("compiled firmware after a speed change to 921600")
        << firmware << QByteArray() << 921600 << 64 << 0.715;
    // The stream starts after 24 unchanged pages, with them as its dictionary.
    QTest::newRow("compiled firmware, 8 changed pages of 64")
        << firmware << firmware.left(24 * 1024) + Random(8192, 14) + firmware.mid(32 * 1024) << 0
        << 8 << 0.75;
}

void TestTurboSim::program() {
    QFETCH(QByteArray, image);
    QFETCH(QByteArray, preloaded);
    QFETCH(int, lineSpeed);
    QFETCH(int, pagesWritten);
    QFETCH(double, wireAtMost);
    SimRig rig;
    if (!preloaded.isEmpty()) rig.board->loadFlash(0, {preloaded.begin(), preloaded.end()});
    // Random bytes go raw, in the larger frames of a buffer without the LZMA table.
    QCOMPARE(rig.start(wireAtMost < 1).outcome, LoaderOutcome::Done);
    QCOMPARE(rig.loader->info().clockHz, 64000000u);
    QCOMPARE(rig.loader->info().canLzma(), wireAtMost < 1);
    if (preloaded.isEmpty()) {
        // The blank check of the pages is work for the emulated core alone: the reply must come
        // without the host sending anything more.
        int erased = -1;
        QVERIFY(rig.loader->erasePages(kFlashBase, 64, &erased).ok());
        QCOMPARE(erased, 0);
        QCOMPARE(rig.loader->stats().timeouts, 0);
    }
    if (lineSpeed) {
        QCOMPARE(rig.loader->changeBaud(std::uint32_t(lineSpeed)), BaudOutcome::Changed);
        QCOMPARE(rig.loader->info().baud, std::uint32_t(lineSpeed));
    }
    LoaderProgramReport report;
    QCOMPARE(ProgramThroughLoader(*rig.loader, kFlashBase, image, true, true, &report).outcome,
             LoaderOutcome::Done);
    QCOMPARE(report.pagesWritten, pagesWritten);
    QCOMPARE(rig.flash().left(int(image.size())), image);
    QVERIFY(report.bytesOnWire <= wireAtMost * pagesWritten * 1024);
    // The same image again: every page matches, nothing is erased or written.
    LoaderProgramReport again;
    QVERIFY(ProgramThroughLoader(*rig.loader, kFlashBase, image, true, true, &again).ok());
    QCOMPARE(again.pagesWritten, 0);
    QCOMPARE(again.pagesSkipped, 64);
    QCOMPARE(again.bytesSkipped, qint64(image.size()));
    // The chip's CRC of the whole image agrees with the host's.
    std::uint32_t crc = 0;
    QVERIFY(rig.loader->crc(kFlashBase, std::uint32_t(image.size()), &crc).ok());
    QCOMPARE(crc, turbo::Crc32Words(image));
    // No repair was needed on a clean line.
    QCOMPARE(rig.loader->stats().resends, 0);
    // The system reset brings the ROM bootloader back at the connect speed.
    QVERIFY(rig.loader->go(0xFFFFFFFFu).ok());
    rig.loader.reset();
    QTest::qWait(20);
    QVERIFY(rig.link.sync().ok());
}

// The engine's turbo write mode as praxon-cli and the window use it: what it reports, what ends up
// in the flash, and the fast mode where the loader cannot serve the chip. Above the connect speed a
// first stage takes the loader at the fast speed; when it fails (the chip resets while the stage
// receives), the loader goes through the ROM bootloader and the line is raised by BAUD.
void TestTurboSim::engineTurbo_data() {
    QTest::addColumn<int>("pid");
    QTest::addColumn<QByteArray>("preloaded");
    QTest::addColumn<int>("erase");       // EraseScope
    QTest::addColumn<int>("turboBaud");   // 0: the connect speed
    QTest::addColumn<int>("resetAfter");  // host bytes to code in SRAM; 0: none
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("skipped");  // pages the turbo_skipped event names; -1: no such event
    const QByteArray image = rig::pattern(20 * 1024, 3);
    const QStringList programmed{"program_begun", "turbo_skipped", "verified", "programmed"};
    const QStringList turbo = QStringList{"turbo_started"} + programmed;
    const int pages = int(praxon::EraseScope::Pages);
    QTest::newRow("F103, blank") << 0x410 << QByteArray() << pages << 0 << 0 << turbo << 0;
    QTest::newRow("F103, the same image there already")
        << 0x410 << image << pages << 0 << 0 << turbo << 20;
    QTest::newRow("F103, half of it there already")
        << 0x410 << image.left(10 * 1024) << pages << 0 << 0 << turbo << 10;
    QTest::newRow("F103, no erase, other data beside the image")
        << 0x410 << QByteArray(20 * 1024, char(0xFF)) + rig::pattern(300, 9)
        << int(praxon::EraseScope::None) << 0 << 0 << turbo << 0;
    QTest::newRow("F103, whole chip erased")
        << 0x410 << rig::pattern(64 * 1024, 5) << int(praxon::EraseScope::Chip) << 0 << 0
        << QStringList{"turbo_started", "chip_erase_begun", "program_begun", "verified",
                       "programmed"}
        << -1;
    QTest::newRow("F407: no loader, the fast mode")
        << 0x413 << QByteArray() << pages << 0 << 0
        << QStringList{"turbo_unavailable", "pages_erase_begun", "erased",
                       "program_begun",     "verified",          "programmed"}
        << -1;
    QTest::newRow("921600 through the first stage")
        << 0x410 << QByteArray() << pages << 921600 << 0
        << QStringList{"turbo_stage_started", "turbo_started"} + programmed << 0;
    QTest::newRow("chip reset while the stage takes the loader")
        << 0x410 << QByteArray() << pages << 921600 << 1500
        << QStringList{"turbo_stage_fallback", "turbo_started", "turbo_speed"} + programmed << 0;
}

void TestTurboSim::engineTurbo() {
    QFETCH(int, pid);
    QFETCH(QByteArray, preloaded);
    QFETCH(int, erase);
    QFETCH(int, turboBaud);
    QFETCH(int, resetAfter);
    QFETCH(QStringList, events);
    QFETCH(int, skipped);
    praxon::sim::SimulatorOptions options = rig::boardOptions();
    options.board.pid = std::uint16_t(pid);
    if (pid == 0x410) options.board.flashKb = 64;
    options.instant = !turboBaud;  // the stage's timeouts and its announcements need its own time
    options.ramLine.resetAfterBytes = std::uint64_t(resetAfter);
    rig::Rig rig(options, praxon::WriteMode::Turbo);
    if (!preloaded.isEmpty()) rig.preload(preloaded);
    const QByteArray before = rig.flash();
    QVERIFY(rig.connectAndClear());
    const QByteArray image = rig::pattern(20 * 1024, 3);
    const QString path = rig::writeFile(rig.dir.filePath("fw.bin"), image);
    praxon::ProgramOptions program;
    program.erase = praxon::EraseScope(erase);
    program.verify = true;
    program.turboBaudRate = turboBaud;
    const std::optional<praxon::FirmwareImage> loaded =
        rig.engine.loadImage({path, praxon::ImageFormat::Binary, 0x08000000});
    QVERIFY(loaded);
    rig.host.clearRecords();
    const std::uint64_t romBytesBefore = rig.board->counters().writeBytes;
    QVERIFY(rig.engine.program(*loaded, program));
    QStringList names;
    for (const praxon::Event& e : rig.host.events)
        if (e.code != praxon::EventCode::OperationBegun &&
            e.code != praxon::EventCode::OperationEnded && e.code != praxon::EventCode::Progress)
            names << praxon::EventName(e.code);
    QCOMPARE(names, events);
    int skippedPages = -1;
    for (const praxon::Event& e : rig.host.events)
        if (e.code == praxon::EventCode::TurboSkipped) skippedPages = int(e.value.value_or(-2));
    QCOMPARE(skippedPages, skipped);
    const QByteArray flash = rig.flash();
    QCOMPARE(flash.left(int(image.size())), image);
    // The rest of the flash: erased by a whole-chip erase, otherwise as it was.
    const QByteArray rest = flash.mid(int(image.size()));
    QCOMPARE(rest, erase == int(praxon::EraseScope::Chip) ? QByteArray(rest.size(), char(0xFF))
                                                          : before.mid(int(image.size())));
    // Through the stage the ROM carried the stage alone, not the loader's 5 KB.
    const std::uint64_t romBytes = rig.board->counters().writeBytes - romBytesBefore;
    QCOMPARE(romBytes > 4096, !events.contains("turbo_stage_started"));
    // Back in the ROM bootloader at the connect speed: the engine goes on with the next operation.
    QVERIFY(rig.engine.go(0x08000000));
}

// However a turbo session ends (Stop, the chip reset under it, a noisy line), what it reports is
// true and the chip is back in its ROM bootloader afterwards, so that a plain connect works on
// a board without wiring.
void TestTurboSim::turboEndsInTheBootloader_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("programmed");
    QTest::addColumn<QStringList>("tail");  // the last events of the program operation
    QTest::addColumn<bool>("compiled");     // compiled code (one LZMA stream), else random bytes
    const QStringList done{"verified", "programmed"};
    const QStringList chipBack{"turbo_chip_reset", "link_closed", "program_failed"};
    QTest::newRow("Stop during the write")
        << "stop" << false
        << QStringList{"link_closed", "turbo_chip_reset", "link_closed", "program_failed"} << false;
    QTest::newRow("chip reset in the middle of the transfer")
        << "reset" << false << QStringList{"turbo_failed"} + chipBack << false;
    QTest::newRow("one byte in 1000 with a bit flipped") << "noise" << true << done << false;
    QTest::newRow("one byte in 2000 lost") << "drop" << true << done << false;
    QTest::newRow("watchdog started by the option bytes") << "watchdog" << true << done << false;
    // Resent LZMA frames (NAK, go-back-N, DUP) must each be executed once, in order.
    QTest::newRow("compiled code, one byte in 1000 with a bit flipped")
        << "noise" << true << done << true;
    QTest::newRow("compiled code, one byte in 1000 lost") << "drop" << true << done << true;
}

void TestTurboSim::turboEndsInTheBootloader() {
    QFETCH(QString, fault);
    QFETCH(bool, programmed);
    QFETCH(QStringList, tail);
    QFETCH(bool, compiled);
    praxon::sim::SimulatorOptions options = rig::boardOptions();
    // A damaged line needs the loader's own timing (an unfinished frame dropped after 100 ms
    // without a byte), which stands still in instant mode while the host is silent.
    options.instant = fault != "noise" && fault != "drop";
    options.board.flashKb = 64;
    options.board.hardwareWatchdog = fault == "watchdog";
    if (fault == "reset") options.ramLine.resetAfterBytes = 6000;
    if (fault == "noise") options.ramLine.noiseOneIn = 1000;
    // Random data goes in 2 KB raw frames: at one byte in 1000 only 13 % of them arrive whole and
    // the row takes most of the host's patience; one in 2000 still loses a byte every frame or two.
    if (fault == "drop") options.ramLine.dropOneIn = compiled ? 1000 : 2000;
    rig::Rig rig(options, praxon::WriteMode::Turbo);
    const QByteArray before = rig::pattern(64 * 1024, 21);
    rig.preload(before);
    QVERIFY(rig.connectAndClear());
    QFile firmware(PRAXON_BENCH_FIRMWARE);
    QVERIFY(firmware.open(QIODevice::ReadOnly));
    const QByteArray image =
        compiled ? firmware.read(24 * 1024) : Random(24 * 1024, 22);  // incompressible: many frames
    const QString path = rig::writeFile(rig.dir.filePath("fw.bin"), image);
    const std::optional<praxon::FirmwareImage> loaded =
        rig.engine.loadImage({path, praxon::ImageFormat::Binary, 0x08001000});
    QVERIFY(loaded);
    if (fault == "stop") {
        rig.host.onEvent = [&](const praxon::Event& e) {
            if (e.code == praxon::EventCode::Progress && e.done > 0) {
                rig.host.onEvent = nullptr;
                rig.engine.stop();
            }
        };
    }
    rig.host.clearRecords();
    praxon::ProgramOptions program;
    program.erase = praxon::EraseScope::Pages;
    program.verify = true;
    QCOMPARE(rig.engine.program(*loaded, program), programmed);
    QStringList names;
    for (const praxon::Event& e : rig.host.events)
        if (e.code != praxon::EventCode::OperationEnded && e.code != praxon::EventCode::Progress)
            names << praxon::EventName(e.code);
    QCOMPARE(names.mid(names.size() - tail.size()), tail);
    if (!programmed) QVERIFY(rig.host.last(praxon::EventCode::TurboChipReset).ok);
    const QByteArray flash = rig.flash();
    if (programmed) QCOMPARE(flash.mid(0x1000, image.size()), image);
    // The pages the image does not touch keep the firmware that was there.
    QCOMPARE(flash.left(0x1000), before.left(0x1000));
    QCOMPARE(flash.mid(0x7000), before.mid(0x7000));
    // Back in the ROM bootloader: a plain connect finds it (not the loader).
    rig.host.clearRecords();
    QVERIFY(rig.engine.connect(rig.portName));
    QVERIFY(!rig.host.has(praxon::EventCode::LoaderFoundAtConnect));
}

// A loader left running by a session that could not leave it (praxon-cli killed): connect
// recognises it by its HELLO and has it reset the chip; at another line speed it cannot.
void TestTurboSim::connectFindsTheLoader_data() {
    QTest::addColumn<int>("left");  // 0 the ROM bootloader, else the loader at this speed
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("found");
    QTest::newRow("ROM bootloader") << 0 << true << false;
    QTest::newRow("loader at the connect speed") << 115200 << true << true;
    QTest::newRow("loader at a raised speed") << 921600 << false << false;
}

void TestTurboSim::connectFindsTheLoader() {
    QFETCH(int, left);
    QFETCH(bool, connected);
    QFETCH(bool, found);
    SimRig sim;
    if (left) {
        QCOMPARE(sim.start().outcome, LoaderOutcome::Done);
        if (left != 115200)
            QCOMPARE(sim.loader->changeBaud(std::uint32_t(left)), BaudOutcome::Changed);
        sim.loader.reset();  // no GO: as a host that was killed
    }
    sim.port.close();
    RecordingHost host;
    praxon::QtSerialPort port;
    praxon::Engine engine(host, port);
    engine.initialise();
    engine.setMode(praxon::WriteMode::Turbo);
    QCOMPARE(engine.connect(sim.dir.filePath("board")), connected);
    QCOMPARE(host.has(praxon::EventCode::LoaderFoundAtConnect), found);
    if (connected) QCOMPARE(engine.target().pid.value_or(0), std::uint16_t(0x410));
    port.close();
}

// The chip resets while raw frames full of ROM bootloader commands are on their way: the ROM
// bootloader that restarts must find no synchronisation byte among them (it would run Readout
// Unprotect, a mass erase, and the rest). The write fails, the chip is back in its ROM bootloader
// and the flash beside the image's pages holds what it held.
void TestTurboSim::resetMidTransferTouchesNothingElse_data() {
    QTest::addColumn<int>("lineSpeed");   // 0: the connect speed
    QTest::addColumn<int>("resetAfter");  // host bytes to the loader since it started
    QTest::newRow("at the connect speed, in the second frame") << 0 << 2500;
    QTest::newRow("at 921600, in the first frame") << 921600 << 700;
}

void TestTurboSim::resetMidTransferTouchesNothingElse() {
    QFETCH(int, lineSpeed);
    QFETCH(int, resetAfter);
    SimRig rig{std::uint64_t(resetAfter)};
    constexpr int kImageAt = 0x4000, kImageSize = 0x2000;
    QByteArray before = Random(64 * 1024, 31);
    before.replace(kImageAt, kImageSize, QByteArray(kImageSize, char(0xFF)));
    rig.board->loadFlash(0, {before.begin(), before.end()});
    // Synchronisation, then Readout Unprotect, Readout Protect, Write Unprotect, global erase,
    // extended mass erase; and the line's escape byte among them.
    const QByteArray commands =
        QByteArray::fromHex("7f926d7f827d7f738c7f43bcff007f44bbffff00cf7fcfcf");
    QByteArray image;
    while (image.size() < kImageSize) image += commands;
    image.truncate(kImageSize);
    QCOMPARE(rig.start().outcome, LoaderOutcome::Done);
    if (lineSpeed) QCOMPARE(rig.loader->changeBaud(std::uint32_t(lineSpeed)), BaudOutcome::Changed);
    const LoaderResult written = rig.loader->write(kFlashBase + kImageAt, image, {}, false);
    QCOMPARE(written.outcome, LoaderOutcome::NoAnswer);
    QVERIFY(rig.loader->resetChip());
    QCOMPARE(rig.board->counters().massErases, std::uint64_t(0));
    QCOMPARE(rig.board->counters().optionWrites, std::uint64_t(0));
    const QByteArray flash = rig.flash();
    QCOMPARE(flash.left(kImageAt), before.left(kImageAt));
    QCOMPARE(flash.mid(kImageAt + kImageSize), before.mid(kImageAt + kImageSize));
}

QTEST_MAIN(TestTurboSim)
#include "tst_turbosim.moc"
