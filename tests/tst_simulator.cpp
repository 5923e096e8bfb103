// The pty server checked with stm32flash, an independent client; the modem lines through
// libpraxon-lines.so in stm32flash (praxon-cli through it: tst_cliprocess's wired; a program run
// on the emulated core through the port: tst_turbosim); praxon-sim's refusals of bad options.
// praxon-sim as a process serves tst_cliprocess (its port line, --preload, --dump, --counters)
// and, with several boards, tst_cliproduction. The USB adapter's pace: stm32flashSession runs
// through it, its timing is measured in bench/.
#include <QScopeGuard>
#include <QtTest>

#include "IntelHex.h"
#include "Simulator.h"

using namespace praxon::sim;

namespace {

// The events go to *events from the server thread: read them after stop().
std::unique_ptr<Simulator> started(SimulatorOptions o, QStringList* events = nullptr) {
    auto sim = std::make_unique<Simulator>(o);
    if (events) sim->setEventHandler([events](const std::string& e) { *events << e.c_str(); });
    std::string error;
    if (!sim->start(&error)) qWarning("simulator: %s", error.c_str());
    return sim;
}
SimulatorOptions instant(const std::string& link = {}) {
    SimulatorOptions o;
    o.instant = true, o.linkPath = link;
    return o;
}

// Runs stm32flash on the port, with the lines library if asked; true when it exits with 0.
bool stm32flash(const std::string& port, const QStringList& args, QString* out,
                bool lines = false) {
    QProcess p;
    if (lines) p.setEnvironment(QProcess::systemEnvironment() << "LD_PRELOAD=" PRAXON_LINES_LIB);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("stm32flash", QStringList{"-m", "8n1", "-b", "115200"} + args +
                              QStringList{QString::fromStdString(port)});
    if (!p.waitForFinished(30000)) p.kill(), p.waitForFinished();
    *out = args.join(' ') + "\n" + QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

}  // namespace

class TestSimulator : public QObject {
    Q_OBJECT

private slots:
    // The link lives as long as the simulator, replaces a stale link and never a regular file.
    void link() {
        QTemporaryDir dir;
        const QString link = dir.filePath("ttySIM");
        QFile::link("/nonexistent", link);
        auto sim = started(instant(link.toStdString()));
        QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromStdString(sim->portPath()));
        sim->stop();
        QVERIFY(!QFileInfo::exists(link) && !sim->serving());
        QVERIFY(QFile(dir.filePath("plain")).open(QIODevice::WriteOnly));
        QVERIFY(!started(instant(dir.filePath("plain").toStdString()))->serving());
        QVERIFY(QFileInfo(dir.filePath("plain")).isFile());
    }

    // stm32flash as the independent client, at line pace behind a USB adapter, on an F1 whose
    // block 0 is write-protected from power-up and holds old firmware. A step: its arguments (F the
    // file -r writes, W a 2 KB binary, H a HEX file from our own writer at 0x08001000), "=>", then
    // "ok", "fail" or what -r read, and the chip afterwards: rdp (readout protected), erased, or
    // old (block 0 as before) and +image (H's bytes at 0x08001000). Each protection command resets
    // the board: the next run's 0x7F then finds the bootloader synchronised (a NACKed command).
    void stm32flashSession() {
        QTemporaryDir dir;
        SimulatorOptions o;
        o.usbPacket = 62, o.usbLatencyMs = 16, o.board.optionEdits = {"WRP0=0xFE"};
        auto sim = started(o);
        const std::vector<uint8_t> erased(sim->flashImage().size(), 0xFF), old(4096, 0x42);
        sim->loadFlash(0, old);
        QByteArray image(1024, 0);
        for (int i = 0; i < image.size(); ++i) image[i] = char(i * 13 + i / 256);  // no 256 period
        const auto* bytes = reinterpret_cast<const uint8_t*>(image.constData());
        std::string text = praxon::ExtendedLinearAddressLine(0x08001000) + "\n";
        for (int i = 0; i < image.size(); i += 64)
            text += praxon::DataRecordLine(0x08001000 + i, bytes + i, 64) + "\n";
        QFile hex(dir.filePath("H")), bin(dir.filePath("W"));
        QVERIFY(hex.open(QIODevice::WriteOnly) &&
                hex.write((text + praxon::EndOfFileLine()).c_str()));
        QVERIFY(bin.open(QIODevice::WriteOnly) && bin.write(QByteArray(2048, 'w')) == 2048);
        hex.close(), bin.close();
        const QStringList steps{"-r F -S 0x1FFFF800:16 => a55aff00ff00ff00fe01ff00ff00ff00 old",
                                "-w W -v => fail old",
                                "-u => ok old",
                                "-w H -v => ok old+image",
                                "-r F -S 0x08001000:1024 => " + image.toHex() + " old+image",
                                "-j => ok rdp old+image",
                                "-k => ok erased",
                                "-g 0x08000400 => ok erased"};
        for (const QString& step : steps) {
            QStringList args = step.section(" => ", 0, 0).split(' ');
            for (QString& a : args)
                if (a.size() == 1) a = dir.filePath(a);
            QFile::remove(dir.filePath("F"));
            if (args[0] == "-k" || args[0] == "-g") sim->reset();  // the user presses reset
            QString out;
            QString result = stm32flash(sim->portPath(), args, &out) ? "ok" : "fail";
            QFile read(dir.filePath("F"));
            if (result == "ok" && read.open(QIODevice::ReadOnly)) result = read.readAll().toHex();
            const std::vector<uint8_t> flash = sim->flashImage();
            result += sim->readoutProtected() ? " rdp " : " ";
            if (flash == erased) result += "erased";
            if (std::equal(old.begin(), old.end(), flash.begin())) result += "old";
            if (QByteArray(reinterpret_cast<const char*>(flash.data()) + 0x1000, 1024) == image)
                result += "+image";
            if (result != step.section(" => ", 1)) qWarning("%s", qPrintable(out));
            QCOMPARE(result, step.section(" => ", 1));
            if (step == steps[0]) QVERIFY2(out.contains("Device ID    : 0x0410"), qPrintable(out));
        }
        QCOMPARE(sim->counters().goAddress.value_or(0), 0x08000400u);
    }

    void stm32flashWiring_data() {
        QTest::addColumn<Wiring>("wiring");
        QTest::addColumn<QString>("sequence");  // stm32flash -i, then -R; none: plain stm32flash
        QTest::addColumn<QString>("events");    // once stm32flash closed the port
        const Wiring dr{Line::Dtr, false, Line::Rts, false};
        const Wiring drInv{Line::Dtr, true, Line::Rts, true};
        // Entry: BOOT0 high, reset pulse; exit: BOOT0 low, reset pulse. An asserted line ("dtr")
        // pulls a direct pin low and drives an inverted one high.
        const QString direct = "held in reset|reset|held in reset|reset|running the user program";
        // Inverted, the released lines hold reset: the open starts the bootloader, the close holds
        // the chip again.
        const QString inverted = "reset|" + direct + "|held in reset";
        QTest::newRow("reset DTR, BOOT0 RTS") << dr << "-rts&dtr,-dtr:rts&dtr,-dtr" << direct;
        QTest::newRow("inverted DTR, RTS") << drInv << "rts&-dtr,dtr:-rts&-dtr,dtr" << inverted;
        // The open asserts both lines and nothing releases reset until the close.
        QTest::newRow("no sequence: held") << dr << QString() << "held in reset|reset";
    }

    // stm32flash as an independent client driving the lines through the library: each change is in
    // effect on the board before its next byte.
    void stm32flashWiring() {
        QFETCH(Wiring, wiring);
        QFETCH(QString, sequence);
        QFETCH(QString, events);
        QStringList log;
        SimulatorOptions o = instant();
        o.board.wiring = wiring;
        auto sim = started(o, &log);
        const QStringList args =
            sequence.isEmpty() ? QStringList{} : QStringList{"-i", sequence, "-R"};
        QString out;
        QVERIFY2(stm32flash(sim->portPath(), args, &out, true) == !sequence.isEmpty(),
                 qPrintable(out));
        QTRY_VERIFY(!sim->lines().dtr && !sim->lines().rts);  // HUPCL: the close released them
        sim->stop();
        QCOMPARE(log.join('|'), events);
    }

    void badOptions_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const char* args, const char* message) {
            QTest::newRow(name) << QString(args).split(' ') << message;
        };
        row("too many boards", "--boards 65", "--boards must be 1 to 64");
        row("option the chip lacks", "--option BFB2=0",
            "--option: 'BFB2': no such option on STM32F10x medium-density (it has RDP, WDG_SW, "
            "nRST_STOP, nRST_STDBY, DATA0, DATA1, WRP0, WRP1, WRP2, WRP3)");
        row("family without a layout", "--pid 0x452 --option RDP=1",
            "--option: the option bytes of STM32F7xx F72x/F73x are not modelled");
    }

    // Refused before any port is made: exit status 2 and one message.
    void badOptions() {
        QFETCH(QStringList, args);
        QProcess sim;
        sim.start(PRAXON_SIM_EXE, args);
        auto stop = qScopeGuard([&] {
            sim.kill();
            sim.waitForFinished();
        });
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 2);
        QVERIFY(sim.readAllStandardOutput().isEmpty());
        QFETCH(QString, message);
        QCOMPARE(QString::fromUtf8(sim.readAllStandardError()).section('\n', 0, 0),
                 "praxon-sim: " + message);
    }
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
