// One chip of every family of the device table on the simulated board: praxon-cli programs with
// erase and verify, reads the whole flash, erases a range (exactly the erase units the family has
// there: pages, sectors or a whole bank, as the option bytes say where they decide) and the whole
// chip. Families alike are run once (C0: G07x, WL: WB55). (stm32flash as a client of the
// simulator: tst_simulator.)
#include <QProcess>
#include <QtTest>

#include "Device.h"
#include "tst_integration_rig.h"

namespace {
// Runs a client; its exit code, -1 when it did not finish.
int run(const QString& program, const QStringList& args, QString* out) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool done = p.waitForFinished(120000);
    if (!done) p.kill(), p.waitForFinished();
    *out = args.join(' ') + "\n" + QString::fromUtf8(p.readAll());
    return done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}
}  // namespace

class TestFamilies : public QObject {
    Q_OBJECT
private slots:

    void clients_data() {
        QTest::addColumn<int>("pid");
        QTest::addColumn<int>("eraseOpcode");  // the bootloader's: 0x43 up to protocol 2.x
        QTest::addColumn<uint>("rangeAt");     // praxon-cli erase --address --size
        QTest::addColumn<uint>("rangeSize");
        QTest::addColumn<uint>("erasedFrom");  // flash offsets it erases; none: refused
        QTest::addColumn<uint>("erasedTo");
        QTest::addColumn<int>("bankErases");
        auto row = [](const char* name, int pid, int op, uint at, uint size, uint from, uint to,
                      int banks = 0) {
            QTest::newRow(name) << pid << op << at << size << from << to << banks;
        };
        row("F030x8, 1 KB pages", 0x440, 0x44, 0x08000500, 0x100, 0x400, 0x800);
        row("F103, protocol 2.2", 0x410, 0x43, 0x08000500, 0x100, 0x400, 0x800);
        row("F10x XL: bank 2", 0x430, 0x44, 0x08080000, 0x80000, 0x80000, 0x100000, 1);
        row("F2: the 64 KB sector", 0x411, 0x44, 0x08010000, 4, 0x10000, 0x20000);
        row("F334, 2 KB pages", 0x438, 0x44, 0x08000900, 0x10, 0x800, 0x1000);
        row("F407: two 16 KB sectors", 0x413, 0x44, 0x08004000, 0x4001, 0x4000, 0xC000);
        row("F74x: a 32 KB sector", 0x449, 0x44, 0x08008000, 0x100, 0x8000, 0x10000);
        row("G0B1: bank 2 (DUAL_BANK)", 0x467, 0x44, 0x08040000, 0x40000, 0x40000, 0x80000, 1);
        row("G07x", 0x460, 0x44, 0x08000800, 0x800, 0x800, 0x1000);
        row("G431", 0x468, 0x44, 0x08001000, 1, 0x1000, 0x1800);
        row("H74x: bank 2", 0x450, 0x44, 0x08100000, 0x100000, 0x100000, 0x200000, 1);
        row("L05x: 128-byte pages, erased 00", 0x417, 0x44, 0x08000080, 0x80, 0x80, 0x100);
        row("L1 Cat.1: protocol 3.0", 0x416, 0x44, 0x08000100, 0x100, 0x100, 0x200);
        row("L43x", 0x435, 0x44, 0x08000800, 0x10, 0x800, 0x1000);
        row("L4P5: 4 KB pages in two banks (DBANK)", 0x471, 0x44, 0x08081000, 1, 0x81000, 0x82000);
        row("L552: 2 KB pages (DBANK)", 0x472, 0x44, 0x08000800, 0x10, 0x800, 0x1000);
        row("U535: bank 2 in the middle", 0x455, 0x44, 0x08040000, 0x40000, 0x40000, 0x80000, 1);
        row("WB55, 4 KB pages", 0x495, 0x44, 0x08001000, 1, 0x1000, 0x2000);
    }

    void clients() {
        QFETCH(int, pid);
        QFETCH(int, eraseOpcode);
        QFETCH(uint, rangeAt);
        QFETCH(uint, rangeSize);
        QFETCH(uint, erasedFrom);
        QFETCH(uint, erasedTo);
        QFETCH(int, bankErases);
        praxon::sim::SimulatorOptions options = rig::boardOptions();
        options.board.pid = uint16_t(pid);
        rig::Rig r(options);  // only its board and files: the clients are processes
        const QByteArray blank = r.flash(), image = rig::pattern(4096, uint(pid));
        const QByteArray programmed = QByteArray(blank).replace(0, image.size(), image);
        const QString img = rig::writeFile(r.dir.filePath("image.bin"), image);
        const QString back = r.dir.filePath("back.bin");
        QString out;
        // The user presses reset before each run: praxon-cli waits for no bootloader mid-session.
        auto praxon = [&](const QStringList& args) {
            r.board->reset();
            return run(QCoreApplication::applicationDirPath() + "/praxon-cli",
                       QStringList{"--port", r.portName} + args, &out);
        };
        QVERIFY2(praxon({"program", img, "--erase", "--verify"}) == 0, qPrintable(out));
        QCOMPARE(r.flash(), programmed);
        QVERIFY2(praxon({"read", back}) == 0, qPrintable(out));
        QCOMPARE(rig::readFile(back), programmed);
        const QByteArray full = rig::pattern(int(blank.size()), 7);
        r.preload(full);
        const int rangeExit = praxon({"erase", "--address", QString::number(rangeAt, 16), "--size",
                                      QString::number(rangeSize)});
        QVERIFY2(rangeExit == (erasedTo > erasedFrom ? 0 : 1), qPrintable(out));
        QCOMPARE(r.flash(), QByteArray(full).replace(int(erasedFrom), int(erasedTo - erasedFrom),
                                                     blank.mid(0, int(erasedTo - erasedFrom))));
        QCOMPARE(int(r.board->counters().bankErases), bankErases);
        QVERIFY2(praxon({"erase"}) == 0 && r.flash() == blank, qPrintable(out));
        // praxon-cli never tried the erase command the bootloader does not have.
        const auto perCommand = r.board->counters().perCommand;
        QVERIFY(perCommand.count(uint8_t(eraseOpcode)) &&
                !perCommand.count(uint8_t(eraseOpcode ^ 0x43 ^ 0x44)));
    }
};

QTEST_GUILESS_MAIN(TestFamilies)
#include "tst_families.moc"
