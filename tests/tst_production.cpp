// praxon-cli on a production line, without a board: serial numbers as bytes of the image, the
// state file that hands each number out once, the record's lines.
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <set>

#include "BoardReport.h"
#include "SerialNumber.h"

using namespace praxon;
using namespace praxon::cli;

namespace {

struct CodeSink : EventSink {
    QList<EventCode> codes;
    QList<Event> events;
    void report(const Event& e) override { codes << e.code, events << e; }
};

// The state file's entries without its comments.
QString entries(const QString& path) {
    QFile f(path);
    QStringList lines;
    for (const QByteArray& line : (f.open(QIODevice::ReadOnly) ? f.readAll() : "").split('\n'))
        if (!line.isEmpty() && !line.startsWith('#')) lines << QString::fromUtf8(line);
    return lines.join(' ');
}

}  // namespace

class TestProduction : public QObject {
    Q_OBJECT
private slots:
    void encode_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<qulonglong>("number");
        QTest::addColumn<QByteArray>("bytes");  // "-": does not fit; "?": the format refused
        const auto row = [](const char* format, qulonglong number, const QByteArray& bytes) {
            QTest::newRow(qPrintable(QString("%1 %2").arg(format).arg(number)))
                << QString(format) << number << bytes;
        };
        row("U32BE", 0x12345678, QByteArray::fromHex("12345678"));
        row("u32le", 0x100000000ull, "-");
        row("u64le", 0x0102030405060708ull, QByteArray::fromHex("0807060504030201"));
        row("dec:6", 10000, "010000");
        row("dec:4", 10000, "-");
        row("dec:20", UINT64_MAX, "18446744073709551615");
        row("hex:8", 0xABC, "00000ABC");
        for (const char* bad : {"u64be", "dec:0", "dec:21", "hex:17", "dec:4x"}) row(bad, 1, "?");
    }

    void encode() {
        QFETCH(QString, format);
        QFETCH(qulonglong, number);
        QFETCH(QByteArray, bytes);
        const std::optional<SerialFormat> f = ParseSerialFormat(format);
        QCOMPARE(!f, bytes == "?");
        if (!f) return;
        const std::optional<QByteArray> encoded = EncodeSerial(number, *f);
        QCOMPARE(encoded.value_or("-"), bytes);
        if (encoded) QCOMPARE(encoded->size(), f->size());  // the bytes the image sets aside
    }

    // Where the number's bytes meet the file's own: the first such address, or none.
    void overlap_data() {
        QTest::addColumn<uint>("address");
        QTest::addColumn<int>("size");
        QTest::addColumn<qint64>("overlap");  // -1: none
        // The image: 0x100 bytes at 0x08000000 and 0x10 at 0x08000400.
        QTest::newRow("before the data") << 0x07FFFFFCu << 4 << qint64(-1);
        QTest::newRow("into the first byte") << 0x07FFFFFEu << 4 << qint64(0x08000000);
        QTest::newRow("right after the data") << 0x08000100u << 8 << qint64(-1);
        QTest::newRow("on the last byte") << 0x080000FFu << 4 << qint64(0x080000FF);
        QTest::newRow("in the gap") << 0x08000200u << 0x200 << qint64(-1);
        QTest::newRow("across the gap") << 0x08000300u << 0x101 << qint64(0x08000400);
    }

    void overlap() {
        QFETCH(uint, address);
        QFETCH(int, size);
        QFETCH(qint64, overlap);
        FirmwareImage image;
        const std::vector<uint8_t> a(0x100, 1), b(0x10, 2);
        // Out of order, so that the image still holds loose runs.
        QVERIFY(image.add(0x08000400, b.data(), b.size()));
        QVERIFY(image.add(0x08000000, a.data(), a.size()));
        const std::optional<uint32_t> found = SerialOverlap(image, address, size);
        QCOMPARE(found ? qint64(*found) : qint64(-1), overlap);
    }

    // Steps on the state file: "t" takes a number, "u N" ends N as used, "r N" gives it back.
    void stateFile_data() {
        QTest::addColumn<QByteArray>("before");  // the file; "-": none
        QTest::addColumn<qint64>("start");       // --serial-start; -1: none
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("taken");  // the numbers taken, "!" for a refusal
        QTest::addColumn<QString>("after");  // the entries afterwards
        QTest::addColumn<int>("refusal");    // the event of a refusal; -1: none
        const auto row = [](const char* name, const QByteArray& before, qint64 start,
                            const char* steps, const char* taken, const char* after,
                            int refusal = -1) {
            QTest::newRow(name) << before << start << QString(steps) << QString(taken)
                                << QString(after) << refusal;
        };
        const int missing = int(EventCode::SerialStateMissing),
                  invalid = int(EventCode::SerialStateInvalid),
                  ahead = int(EventCode::SerialStartAhead);
        row("a later one done first", "next=7\n", -1, "t t u8", "7 8",
            "next=7 used=8 pending=7@OWNER");
        row("the lower one given back, taken again", "next=7\n", -1, "t t u8 r7 t u7", "7 8 7",
            "next=9");
        row("the used fold into next", "next=7\nused=9,8\n", -1, "t u7", "7", "next=10");
        row("a gone process's number counts as used",
            "next=5\npending=5@" + QSysInfo::machineHostName().toUtf8() + ":4194312\n", -1, "t",
            "6", "next=6 pending=6@OWNER");
        row("another host's pending number is left alone", "next=5\npending=5@elsewhere:1\n", -1,
            "t", "6", "next=5 pending=5@elsewhere:1,6@OWNER");
        row("start reached by the file", "next=20\n", 10, "t", "20", "next=20 pending=20@OWNER");
        row("start beyond the file", "next=20\n", 30, "t", "!", "next=20", ahead);
        row("no file, no start", "-", -1, "t", "!", "", missing);
        row("no next line", "used=4\n", -1, "t", "!", "used=4", invalid);
        row("next twice", "next=3\nnext=4\n", -1, "t", "!", "next=3 next=4", invalid);
        row("the file gone before the end: not made again", "-", 100, "t x u100", "100 !", "",
            missing);
    }

    void stateFile() {
        QFETCH(QByteArray, before);
        QFETCH(qint64, start);
        QFETCH(QString, steps);
        QFETCH(QString, taken);
        QFETCH(QString, after);
        QFETCH(int, refusal);
        QTemporaryDir dir;
        const QString path = dir.filePath("serial.txt");
        QFile file(path);
        if (before != "-") QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before) > 0);
        file.close();
        SerialStateFile state(path, start < 0 ? std::nullopt : std::optional<uint64_t>(start));
        CodeSink sink;
        QStringList got;
        for (const QString& step : steps.split(' ')) {
            if (step == "t") {
                const std::optional<uint64_t> n = state.take(sink);
                got << (n ? QString::number(*n) : "!");
            } else if (step == "x") {
                QVERIFY(QFile::remove(path));
            } else if (!state.finish(step.mid(1).toULongLong(), step[0] == 'u', sink)) {
                got << "!";
            }
        }
        QCOMPARE(got.join(' '), taken);
        QCOMPARE(entries(path), QString(after).replace("OWNER", SerialOwner()));
        QCOMPARE(sink.codes.isEmpty() ? -1 : int(sink.codes.last()), refusal);
        if (refusal >= 0) QCOMPARE(sink.events.last().text, path);
    }

    // Boards in threads of one process, each with a state object of its own: every number goes
    // out once, and the file ends past all those used. (Separate processes: tst_cliproduction.)
    void stateFileShared() {
        QTemporaryDir dir;
        const QString path = dir.filePath("serial.txt");
        std::vector<std::vector<uint64_t>> used(4);  // per thread: the numbers it ended as used
        std::vector<std::unique_ptr<QThread>> threads;
        for (std::vector<uint64_t>& mine : used) {
            threads.emplace_back(QThread::create([&path, &mine] {
                SerialStateFile state(path, 1000);
                CodeSink sink;
                for (int i = 0; i < 25; ++i) {
                    const std::optional<uint64_t> n = state.take(sink);
                    // Every other one given back: someone takes it again.
                    if (!n || !state.finish(*n, i % 2 == 0, sink)) return;
                    if (i % 2 == 0) mine.push_back(*n);
                }
            }));
            threads.back()->start();
        }
        std::set<uint64_t> distinct;
        for (size_t t = 0; t < used.size(); ++t) {
            QVERIFY(threads[t]->wait(60000));
            QCOMPARE(used[t].size(), size_t(13));
            distinct.insert(used[t].begin(), used[t].end());
        }
        QCOMPARE(distinct.size(), size_t(52));
        QCOMPARE(*distinct.begin(), uint64_t(1000));
        QCOMPARE(entries(path), QString("next=1052"));
    }

    // A file name with a comma and a quote quoted; a folder that is not there said before any
    // board is touched. (The heading once, the lines of parallel runs: tst_cliproduction.)
    void record() {
        BoardOutcome b;
        b.port = "COM3", b.serial = 1001, b.result = BoardOutcome::Ok;
        QCOMPARE(RecordLine(b, "a,b \"c\".hex", "ab12"),
                 ",COM3,,,1001,\"a,b \"\"c\"\".hex\",ab12,ok");
        QTemporaryDir dir;
        CodeSink sink;
        QVERIFY(CheckRecordPath(dir.filePath("record.csv"), sink));
        QVERIFY(!CheckRecordPath(dir.filePath("none/record.csv"), sink));
        QCOMPARE(sink.codes, QList<EventCode>{EventCode::RecordFailed});
    }
};

QTEST_GUILESS_MAIN(TestProduction)
#include "tst_production.moc"
