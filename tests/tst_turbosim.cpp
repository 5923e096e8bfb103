// The committed F1 loader run by praxon-sim's emulated Cortex-M3, driven through a real
// QSerialPort on the simulator's pseudo-terminal: the engine's turbo write mode end to end, and
// the host's LoaderLink for sessions that end without leaving the loader.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "BootLink.h"
#include "Engine.h"
#include "LoaderFakeChip.h"
#include "LoaderImage.h"
#include "LoaderLink.h"
#include "Messages.h"
#include "QtSerialPort.h"
#include "RecordingHost.h"
#include "Simulator.h"
#include "tst_integration_rig.h"

using loadertest::Random;
using namespace praxon::flash;

namespace {

constexpr std::uint32_t kFlashBase = 0x08000000;

}  // namespace

Q_DECLARE_METATYPE(LoaderOutcome)

class TestTurboSim : public QObject {
    Q_OBJECT

private slots:
    void engineTurbo_data();
    void engineTurbo();
    void loaderLeftBehind_data();
    void loaderLeftBehind();
};

// The engine's turbo write mode as praxon-cli and the window use it, however the session ends
// (Stop, the chip reset under it, a noisy line): what it reports is true, the pages beside the
// image keep what they held, and the chip is back in its ROM bootloader, found by a plain connect
// on a board without wiring. Above the connect speed a first stage takes the loader at the fast
// speed; when it fails (the chip resets while the stage receives), the loader goes through the ROM
// bootloader and the line is raised by BAUD. The image goes to 0x08001000.
void TestTurboSim::engineTurbo_data() {
    QTest::addColumn<int>("pid");
    QTest::addColumn<QByteArray>("before");  // the flash before; empty: erased
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("erase");      // EraseScope
    QTest::addColumn<int>("turboBaud");  // 0: the connect speed
    QTest::addColumn<QString>("fault");  // stop, watchdog, reset:N (host bytes to code in SRAM),
                                         // noise:N or drop:N (one byte in N on the line)
    QTest::addColumn<QStringList>("events");  // turbo_skipped with the pages it names
    const auto row = [](const char* name, const QByteArray& before, const QByteArray& image,
                        const QString& fault, const QStringList& events,
                        int erase = int(praxon::EraseScope::Pages), int turboBaud = 0,
                        int pid = 0x410) {
        QTest::newRow(name) << pid << before << image << erase << turboBaud << fault << events;
    };
    const QByteArray image = rig::pattern(20 * 1024, 3), gap(0x1000, char(0xFF));
    const auto programmed = [](int skipped) {
        return QStringList{"program_begun", QString("turbo_skipped:%1").arg(skipped), "verified",
                           "programmed"};
    };
    const QStringList started{"turbo_started"};
    // A damaged or lossy line: frames sent again, named before the end. A clean one (every other
    // row, 921600 on the emulated core included) needs none.
    const QStringList repaired =
        started + programmed(0).mid(0, 3) + QStringList{"turbo_line_repaired", "programmed"};
    row("F103, blank", {}, image, {}, started + programmed(0));
    row("F103, the same image there already", gap + image, image, {}, started + programmed(20));
    row("F103, no erase, other data beside the image",
        gap + QByteArray(20 * 1024, char(0xFF)) + rig::pattern(300, 9), image, {},
        started + programmed(0), int(praxon::EraseScope::None));
    row("F103, whole chip erased", rig::pattern(64 * 1024, 5), image, {},
        {"turbo_started", "chip_erase_begun", "program_begun", "verified", "programmed"},
        int(praxon::EraseScope::Chip));
    row("F407: no loader, the fast mode", {}, image, {},
        {"turbo_unavailable", "pages_erase_begun", "erased", "program_begun", "verified",
         "programmed"},
        int(praxon::EraseScope::Pages), 0, 0x413);
    row("921600 through the first stage", {}, image, {},
        QStringList{"turbo_stage_started"} + started + programmed(0),
        int(praxon::EraseScope::Pages), 921600);
    row("chip reset while the stage takes the loader", {}, image, "reset:1500",
        QStringList{"turbo_stage_fallback", "turbo_started", "turbo_speed"} + programmed(0),
        int(praxon::EraseScope::Pages), 921600);
    const QByteArray old = rig::pattern(64 * 1024, 21);
    // Random bytes go in 2 KB raw frames: many of them damaged at one byte in 1000.
    const QByteArray random = Random(20 * 1024, 22);
    QFile firmware(PRAXON_BENCH_FIRMWARE);
    QVERIFY(firmware.open(QIODevice::ReadOnly));
    const QByteArray compiled = firmware.read(20 * 1024);  // one LZMA stream
    // The stream starts after 12 unchanged pages, with them as its dictionary.
    row("compiled code, 4 changed pages, at 921600",
        gap + compiled.left(12 * 1024) + Random(4096, 14) + compiled.mid(16 * 1024), compiled, {},
        QStringList{"turbo_stage_started"} + started + programmed(16),
        int(praxon::EraseScope::Pages), 921600);
    const QStringList back{"turbo_chip_reset", "link_closed", "program_failed"};
    row("Stop during the write", old, random, "stop",
        QStringList{"turbo_started", "program_begun", "link_closed"} + back);
    row("chip reset in the middle of the transfer", old, random, "reset:6000",
        QStringList{"turbo_started", "program_begun", "turbo_failed"} + back);
    row("raw frames, one byte in 1000 with a bit flipped", old, random, "noise:1000", repaired);
    row("watchdog started by the option bytes", old, random, "watchdog", started + programmed(0));
    // Resent LZMA frames (NAK, go-back-N, DUP) must each be executed once, in order.
    row("LZMA frames, one byte in 1000 lost", old, compiled, "drop:1000", repaired);
}

void TestTurboSim::engineTurbo() {
    QFETCH(int, pid);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, image);
    QFETCH(int, erase);
    QFETCH(int, turboBaud);
    QFETCH(QString, fault);
    QFETCH(QStringList, events);
    const QString kind = fault.section(':', 0, 0);
    const int oneIn = fault.section(':', 1).toInt();
    praxon::sim::SimulatorOptions options = rig::boardOptions();
    options.board.pid = std::uint16_t(pid);
    if (pid == 0x410) options.board.flashKb = 64;
    // The stage's timeouts and announcements, and a damaged line (an unfinished frame dropped
    // after 100 ms without a byte), need the loader's own time.
    options.instant = !turboBaud && kind != "noise" && kind != "drop";
    options.board.hardwareWatchdog = kind == "watchdog";
    if (kind == "reset") options.ramLine.resetAfterBytes = std::uint64_t(oneIn);
    if (kind == "noise") options.ramLine.noiseOneIn = oneIn;
    if (kind == "drop") options.ramLine.dropOneIn = oneIn;
    rig::Rig rig(options, praxon::WriteMode::Turbo);
    if (!before.isEmpty()) rig.preload(before);
    before = rig.flash();
    QVERIFY(rig.connectAndClear());
    const QString path = rig::writeFile(rig.dir.filePath("fw.bin"), image);
    praxon::ProgramOptions program;
    program.erase = praxon::EraseScope(erase);
    program.verify = true;
    program.turboBaudRate = turboBaud;
    const std::optional<praxon::FirmwareImage> loaded =
        rig.engine.loadImage({path, praxon::ImageFormat::Binary, kFlashBase + 0x1000});
    QVERIFY(loaded);
    if (kind == "stop") {
        rig.host.onEvent = [&](const praxon::Event& e) {
            if (e.code == praxon::EventCode::Progress && e.done > 0) {
                rig.host.onEvent = nullptr;
                rig.engine.stop();
            }
        };
    }
    rig.host.clearRecords();
    const bool programmed = events.last() == "programmed";
    QCOMPARE(rig.engine.program(*loaded, program), programmed);
    QStringList names;
    for (const praxon::Event& e : rig.host.events) {
        if (e.code == praxon::EventCode::TurboSkipped)
            names << QString("turbo_skipped:%1").arg(e.value.value_or(-1));
        else if (e.code != praxon::EventCode::OperationBegun &&
                 e.code != praxon::EventCode::OperationEnded &&
                 e.code != praxon::EventCode::Progress)
            names << praxon::EventName(e.code);
    }
    QCOMPARE(names, events);
    const QByteArray flash = rig.flash();
    if (programmed) QCOMPARE(flash.mid(0x1000, image.size()), image);
    // The pages the image does not touch: erased by a whole-chip erase, otherwise as they were.
    if (erase == int(praxon::EraseScope::Chip)) before.fill(char(0xFF));
    QCOMPARE(flash.left(0x1000), before.left(0x1000));
    QCOMPARE(flash.mid(0x1000 + image.size()), before.mid(0x1000 + image.size()));
    // Back in the ROM bootloader: a plain connect finds it (not the loader).
    rig.host.clearRecords();
    QVERIFY(rig.engine.connect(rig.portName));
    QVERIFY(!rig.host.has(praxon::EventCode::LoaderFoundAtConnect));
}

// A session that ends without leaving its loader. A host that was killed leaves the loader running:
// connect recognises it by its HELLO and has it reset the chip; at another line speed it cannot
// (the ROM bootloader alone: the end of every engineTurbo row). Or the chip resets while raw frames
// full of ROM bootloader commands are on their way: the ROM bootloader that restarts must find no
// synchronisation byte among them (it would run Readout Unprotect, a mass erase, and the rest); the
// write fails and the chip is back in its ROM bootloader. Either way the flash beside the image's
// pages holds what it held.
void TestTurboSim::loaderLeftBehind_data() {
    QTest::addColumn<int>("lineSpeed");   // 0: the connect speed
    QTest::addColumn<int>("resetAfter");  // host bytes to the loader since it started; 0: killed
    QTest::addColumn<bool>("connected");  // and, when killed, the loader found at connect
    QTest::newRow("killed, loader at the connect speed") << 0 << 0 << true;
    QTest::newRow("killed, loader at a raised speed") << 921600 << 0 << false;
    QTest::newRow("reset at the connect speed, in the second frame") << 0 << 2500 << true;
    QTest::newRow("reset at 921600, in the first frame") << 921600 << 700 << true;
}

void TestTurboSim::loaderLeftBehind() {
    QFETCH(int, lineSpeed);
    QFETCH(int, resetAfter);
    QFETCH(bool, connected);
    praxon::sim::SimulatorOptions options = rig::boardOptions();
    options.board.flashKb = 64;
    options.ramLine.resetAfterBytes = std::uint64_t(resetAfter);
    rig::Rig rig(options, praxon::WriteMode::Turbo);
    constexpr int kImageAt = 0x4000, kImageSize = 0x2000;
    QByteArray before = Random(64 * 1024, 31);
    before.replace(kImageAt, kImageSize, QByteArray(kImageSize, char(0xFF)));
    rig.preload(before);
    {
        praxon::QtSerialPort port;  // the engine's own stays closed until its connect
        praxon::BootLink link{rig.host, port};
        link.setLineSettings(115200, {});
        link.setStopped(false);
        QVERIFY(link.openPort(rig.portName) && link.sync().ok());
        LoaderLink loader(link);
        const LoaderParameters parameters{
            115200, LoaderRamEnd(0x410, 64 * 1024, 0), 1024, 64 * 1024, 0, true};
        QVERIFY(loader.start(*LoaderFor(LoaderFamily::F1, 0x20000200), parameters).ok());
        if (lineSpeed) QCOMPARE(loader.changeBaud(std::uint32_t(lineSpeed)), BaudOutcome::Changed);
        if (resetAfter) {
            // Synchronisation, then Readout Unprotect, Readout Protect, Write Unprotect, global
            // erase, extended mass erase; and the line's escape byte among them.
            const QByteArray image =
                QByteArray::fromHex("7f926d7f827d7f738c7f43bcff007f44bbffff00cf7fcfcf")
                    .repeated(kImageSize / 24 + 1)
                    .left(kImageSize);
            QCOMPARE(loader.write(kFlashBase + kImageAt, image, {}, false).outcome,
                     LoaderOutcome::NoAnswer);
            QVERIFY(loader.resetChip());
        }
        port.close();  // without GO when killed
    }
    QCOMPARE(rig.board->counters().massErases, std::uint64_t(0));
    QCOMPARE(rig.board->counters().optionWrites, std::uint64_t(0));
    const QByteArray flash = rig.flash();
    QCOMPARE(flash.left(kImageAt), before.left(kImageAt));
    QCOMPARE(flash.mid(kImageAt + kImageSize), before.mid(kImageAt + kImageSize));
    rig.host.clearRecords();
    QCOMPARE(rig.engine.connect(rig.portName), connected);
    QCOMPARE(rig.host.has(praxon::EventCode::LoaderFoundAtConnect), connected && !resetAfter);
}

QTEST_MAIN(TestTurboSim)
#include "tst_turbosim.moc"
