// praxon-cli on a production line, as processes against praxon-sim: serial numbers in the
// board's flash and the state file after each run, parallel runs drawing from one state file,
// several boards in one run (tagged lines, JSON per port, the summary, the record) and Ctrl+C
// stopping them all.
#include <QCryptographicHash>
#include <QJsonArray>
#include <QtTest>

#include "tst_cli_rig.h"

namespace {

const QByteArray kImage = rig::pattern(64);
constexpr int kSerialOffset = 0xF000;  // 0x0800F000 on the simulated 64 KB STM32F103

using clirig::Run;
using clirig::Sim;

Run cli(const QStringList& args, const std::function<bool(const QString&)>& stopWhen = {}) {
    return clirig::cli(QStringList{"--lang", "en"} + args, stopWhen);
}

// The state file's entries without its comments; "-" when there is none.
QString entries(const QString& path) {
    if (!QFile::exists(path)) return "-";
    QStringList lines;
    for (const QByteArray& line : rig::readFile(path).split('\n'))
        if (!line.isEmpty() && !line.startsWith('#')) lines << QString::fromUtf8(line);
    return lines.join(' ');
}

// The 64-byte image at 0x08000000 as a HEX file in dir.
QString hexFile(const QTemporaryDir& dir) {
    return rig::writeLines(dir.filePath("fw.hex"), rig::hexLines(0x08000000, kImage, 16));
}

}  // namespace

class TestCliProduction : public QObject {
    Q_OBJECT
private slots:
    void serial_data() {
        QTest::addColumn<QString>("simArgs");
        QTest::addColumn<QByteArray>("stateBefore");  // "-": no file
        QTest::addColumn<QString>("serialArgs");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("events");      // the serial events, "name:serial"
        QTest::addColumn<QString>("stateAfter");  // its entries; "-": no file
        QTest::addColumn<QByteArray>("written");  // at 0x0800F000; empty: none
        const auto row = [](const char* name, const char* sim, const QByteArray& before,
                            const char* args, int code, const char* events, const char* after,
                            const QByteArray& written) {
            QTest::newRow(name) << QString(sim) << before << QString(args) << code
                                << QString(events) << QString(after) << written;
        };
        row("a new series, decimal digits", "", "-",
            "--serial 0800F000 --serial-format dec:6 --serial-start 1000", 0,
            "serial_number_taken:1000 serial_number_used:1000", "next=1001", "001000");
        row("on the file's own data", "", "-", "--serial 08000010 --serial-start 1", 1,
            "serial_overlaps_image", "-", {});
        row("past the chip's flash", "", "-", "--serial 0800FFFE --serial-start 1", 1,
            "serial_outside_flash", "-", {});
        // The file's next number fits, the one taken (another machine holds 99) does not.
        row("the number taken outgrows the format", "", "next=99\npending=99@elsewhere:1\n",
            "--serial 0800F000 --serial-format dec:2", 1, "serial_too_wide:100",
            "next=99 pending=99@elsewhere:1", {});
        // Written to before it failed: the board may carry the number, never given again.
        row("a failed write spends the number", "--fault nack:0x31:1", "-",
            "--serial 0800F000 --serial-start 5", 1, "serial_number_taken:5 serial_number_used:5",
            "next=6", {});
        // The chip refused the erase: nothing on it, the number goes to the next board.
        row("a protected chip gives its number back", "--rdp", "-",
            "--serial 0800F000 --serial-start 5", 1,
            "serial_number_taken:5 serial_number_returned:5", "next=5", {});
    }

    void serial() {
        QFETCH(QString, simArgs);
        QFETCH(QByteArray, stateBefore);
        QFETCH(QString, serialArgs);
        QFETCH(int, exitCode);
        QFETCH(QString, events);
        QFETCH(QString, stateAfter);
        QFETCH(QByteArray, written);
        QTemporaryDir dir;
        const QString state = dir.filePath("serial.txt"), hex = hexFile(dir);
        if (stateBefore != "-") QVERIFY(!rig::writeFile(state, stateBefore).isEmpty());
        // The board holds firmware of its own: a refusal must leave it there.
        const QByteArray before = rig::pattern(65536, 9);
        Sim sim;
        QVERIFY(sim.start(QStringList{"--instant", "--preload",
                                      rig::writeFile(dir.filePath("before.bin"), before)} +
                              simArgs.split(' ', Qt::SkipEmptyParts),
                          dir.filePath("dump.bin")));
        const Run r = cli(QStringList{"--json", "--port", sim.ports[0], "program", hex, "--erase",
                                      "--verify", "--serial-state", state} +
                          serialArgs.split(' '));
        QCOMPARE(r.exitCode, exitCode);
        QStringList got;  // the serial events as "name" or "name:serial"
        for (const QJsonObject& o : r.objects) {
            const QString name = o["event"].toString();
            if (name.startsWith("serial"))
                got << (o.contains("serial") ? name + ':' + o["serial"].toString() : name);
        }
        QCOMPARE(got.join(' '), events);
        QCOMPARE(entries(state), stateAfter);
        const QByteArray flash = sim.flash();
        if (!written.isEmpty()) {
            QCOMPARE(flash.mid(kSerialOffset, written.size()), written);
            QCOMPARE(flash.left(kImage.size()), kImage);
            QCOMPARE(r.objects.last()["serial"].toString(),
                     events.section(':', 1).section(' ', 0, 0));
        } else if (exitCode != 0 && simArgs.isEmpty()) {
            // Refused before the chip was touched: not erased, not written.
            QCOMPARE(flash, before);
        }
    }

    // Two runs at once, one board each, from one state file and into one record: never the same
    // number, never a line lost.
    void parallelRuns() {
        QTemporaryDir dir;
        const QString state = dir.filePath("serial.txt"), record = dir.filePath("record.csv"),
                      hex = hexFile(dir);
        Sim sim;
        QVERIFY(sim.start({}, dir.filePath("dump.bin"), 2));  // at line pace: the runs overlap
        std::vector<std::unique_ptr<QProcess>> runs;
        for (const QString& port : sim.ports) {
            runs.push_back(std::make_unique<QProcess>());
            runs.back()->start(QCoreApplication::applicationDirPath() + "/praxon-cli",
                               {"--port", port, "program", hex, "--erase", "--verify", "--serial",
                                "0800F000", "--serial-format", "dec:4", "--serial-start", "500",
                                "--serial-state", state, "--record", record});
        }
        for (auto& p : runs) QVERIFY(p->waitForFinished(60000) && p->exitCode() == 0);
        const QSet<QByteArray> numbers{sim.flash(1).mid(kSerialOffset, 4),
                                       sim.flash(2).mid(kSerialOffset, 4)};
        QCOMPARE(numbers, QSet<QByteArray>({"0500", "0501"}));
        QCOMPARE(entries(state), QString("next=502"));
        const QStringList csv = QString::fromUtf8(rig::readFile(record)).split('\n');
        QCOMPARE(csv.size(), 4);  // the heading once, a line per run, the last line ended
        QCOMPARE(csv.filter(QRegularExpression(",50[01],.*,ok$")).size(), 2);
    }

    // Two boards in one run, the second one failing after its erase: tagged lines, each JSON
    // object naming its port, the summary and the record; exit status 1 as one board failed.
    void twoBoards() {
        QTemporaryDir dir;
        const QString state = dir.filePath("serial.txt"), record = dir.filePath("record.csv"),
                      hex = hexFile(dir);
        Sim good, bad;
        QVERIFY(good.start({"--instant"}, dir.filePath("good.bin")));
        QVERIFY(bad.start({"--instant", "--fault", "nack:0x31:0"}, dir.filePath("bad.bin")));
        const QString a = good.ports[0], b = bad.ports[0];
        const QStringList program{"--port", a,         "--port",   b,          "program",
                                  hex,      "--erase", "--verify", "--record", record};
        const Run json = cli(QStringList{"--json", "--serial", "0800F000", "--serial-start", "1000",
                                         "--serial-state", state} +
                             program);
        QCOMPARE(json.exitCode, 1);
        // The file is read once, for the run: those events name no port; every other one does.
        int loads = 0;
        for (const QJsonObject& o : json.objects.mid(0, json.objects.size() - 1)) {
            loads += o["event"] == "operation_begun" && o["operation"] == "load";
            QVERIFY2(o["port"] == a || o["port"] == b ||
                         (o["operation"] == "load" && !o.contains("port")),
                     qPrintable(QJsonDocument(o).toJson()));
        }
        QCOMPARE(loads, 1);
        // Each board in the summary: port, serial number, chip, outcome.
        const QJsonObject summary = json.objects.last();
        QCOMPARE(QStringList({summary["kind"].toString(), summary["ok"].toVariant().toString(),
                              summary["exit_status"].toVariant().toString()}),
                 QStringList({"summary", "false", "1"}));
        const QJsonArray boards = summary["boards"].toArray();
        QStringList listed;
        for (const QJsonValue& o : boards)
            listed << QStringList{o["port"].toString(), o["serial"].toString(),
                                  o["chip"].toString(), o["result"].toString()}
                          .join('|');
        const QString serialA = boards[0]["serial"].toString(),
                      serialB = boards[1]["serial"].toString(), chip = "|STM32F10x medium-density|";
        QCOMPARE(QSet<QString>({serialA, serialB}), QSet<QString>({"1000", "1001"}));
        QCOMPARE(listed, QStringList({a + '|' + serialA + chip + "ok",
                                      b + '|' + serialB + chip + "failed"}));
        QCOMPARE(entries(state), QString("next=1002"));  // the failed board was erased: spent

        // In text: every line before the table names its board; the record grows by two lines.
        // Only the image's page erased: the serial number of the first run stays.
        QStringList pagesOnly = program;
        pagesOnly.replace(pagesOnly.indexOf("--erase"), "--erase=pages");
        const Run text = cli(pagesOnly);
        QCOMPARE(text.exitCode, 1);
        const QStringList lines = text.out.split('\n', Qt::SkipEmptyParts);
        QVERIFY(lines.size() > 3);
        for (const QString& line :
             lines.mid(0, lines.size() - 3) + text.err.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(line.startsWith('[' + a + "] ") || line.startsWith('[' + b + "] "),
                     qPrintable(line));
        QCOMPARE(lines[lines.size() - 3].simplified(),
                 QString("PORT CHIP UNIQUE ID SERIAL RESULT SECONDS"));
        QCOMPARE(qFromLittleEndian<uint32_t>(good.flash().constData() + kSerialOffset),
                 serialA.toUInt());
        // The record: the heading once, then a line per board and run, in the order given, with
        // the unique ID connect learnt.
        const QString sha =
            QCryptographicHash::hash(rig::readFile(hex), QCryptographicHash::Sha256).toHex();
        const auto recordLine = [&](int i, const QString& serial) {
            return boards[i]["port"].toString() + ",STM32F10x medium-density," +
                   boards[i]["unique_id"].toString() + ',' + serial + ',' + hex + ',' + sha +
                   (i ? ",failed" : ",ok");
        };
        QStringList csv = QString::fromUtf8(rig::readFile(record)).split('\n');
        QVERIFY(QDateTime::fromString(csv.value(1).section(',', 0, 0), Qt::ISODate).isValid());
        QCOMPARE(csv.replaceInStrings(QRegularExpression("^\\d[^,]*,"), ""),
                 QStringList({"time,port,chip,unique_id,serial,file,sha256,result",
                              recordLine(0, serialA), recordLine(1, serialB), recordLine(0, ""),
                              recordLine(1, ""), ""}));
    }

    // Ctrl+C while two boards are being written at line pace: both stop, the summary says so.
    void ctrlC() {
        QTemporaryDir dir;
        const QString bin = rig::writeFile(dir.filePath("fw.bin"), rig::pattern(65536, 5));
        Sim sim;
        QVERIFY(sim.start({}, dir.filePath("dump.bin"), 2));
        const auto bothWriting = [](const QString& out) { return out.count("program_begun") == 2; };
        const Run r =
            cli({"--json", "--port", sim.ports[0], "--port", sim.ports[1], "program", bin},
                bothWriting);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.objects.last()["kind"].toString(), QString("summary"));
        QStringList results;  // both listed: an empty list must not pass
        for (const QJsonValue& board : r.objects.last()["boards"].toArray())
            results << board["result"].toString();
        QCOMPARE(results, QStringList({"stopped", "stopped"}));
    }
};

QTEST_GUILESS_MAIN(TestCliProduction)
#include "tst_cliproduction.moc"
