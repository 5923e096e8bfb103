// The committed F1 loader run by praxon-sim's emulated Cortex-M3 (instant), driven by the host's
// LoaderLink through a real QSerialPort on the simulator's pseudo-terminal: start through the ROM,
// programming with CRC verify, the same image again (nothing written), a line speed change.
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "BootLink.h"
#include "LoaderImage.h"
#include "LoaderLink.h"
#include "QtSerialPort.h"
#include "RecordingHost.h"
#include "Simulator.h"
#include "TurboFrames.h"

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

    SimRig() {
        praxon::sim::SimulatorOptions options;
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
    LoaderResult start() {
        if (!link.openPort(dir.filePath("board")) || !link.sync().ok())
            return {LoaderOutcome::NotStarted};
        loader = std::make_unique<LoaderLink>(link);
        LoaderParameters parameters;
        parameters.baud = 115200;
        parameters.ramEnd = LoaderRamEnd(0x410, 64 * 1024, 0);
        parameters.pageSize = 1024;
        parameters.flashSize = 64 * 1024;
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
    void eraseOfOneBlankPageAnswers();
};

void TestTurboSim::program_data() {
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QByteArray>("preloaded");
    QTest::addColumn<int>("lineSpeed");
    QTest::addColumn<int>("pagesWritten");
    const QByteArray random = Random(64 * 1024, 11);
    QTest::newRow("64 KB on a blank chip") << random << QByteArray() << 0 << 64;
    QTest::newRow("64 KB over other firmware") << random << Random(20 * 1024, 12) << 0 << 64;
    QTest::newRow("8 changed pages of 64")
        << random << random.left(24 * 1024) + Random(8192, 13) + random.mid(32 * 1024) << 0 << 8;
    QTest::newRow("64 KB after a speed change to 921600") << random << QByteArray() << 921600 << 64;
}

void TestTurboSim::program() {
    QFETCH(QByteArray, image);
    QFETCH(QByteArray, preloaded);
    QFETCH(int, lineSpeed);
    QFETCH(int, pagesWritten);
    SimRig rig;
    if (!preloaded.isEmpty()) rig.board->loadFlash(0, {preloaded.begin(), preloaded.end()});
    QCOMPARE(rig.start().outcome, LoaderOutcome::Done);
    QCOMPARE(rig.loader->info().clockHz, 64000000u);
    if (lineSpeed) {
        QCOMPARE(rig.loader->changeBaud(std::uint32_t(lineSpeed)), BaudOutcome::Changed);
        QCOMPARE(rig.loader->info().baud, std::uint32_t(lineSpeed));
    }
    LoaderProgramReport report;
    QCOMPARE(ProgramThroughLoader(*rig.loader, kFlashBase, image, true, true, &report).outcome,
             LoaderOutcome::Done);
    QCOMPARE(report.pagesWritten, pagesWritten);
    QCOMPARE(rig.flash().left(int(image.size())), image);
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

void TestTurboSim::eraseOfOneBlankPageAnswers() {
    // The blank check of one page is work for the emulated core alone: its reply must come
    // without the host sending anything more.
    SimRig rig;
    QCOMPARE(rig.start().outcome, LoaderOutcome::Done);
    int erased = -1;
    QVERIFY(rig.loader->erasePages(kFlashBase + 0x400, 1, &erased).ok());
    QCOMPARE(erased, 0);
    QCOMPARE(rig.loader->stats().timeouts, 0);
    QVERIFY(rig.loader->erasePages(kFlashBase, 64, &erased).ok());
    QCOMPARE(rig.loader->stats().timeouts, 0);
}

QTEST_MAIN(TestTurboSim)
#include "tst_turbosim.moc"
