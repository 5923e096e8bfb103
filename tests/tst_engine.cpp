#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

#include "BootLink.h"
#include "Download.h"
#include "Engine.h"
#include "FakePort.h"
#include "FakeTarget.h"
#include "IntelHex.h"
#include "RecordingHost.h"
#include "Upload.h"
#include "WriteMemory.h"

using namespace praxon;

namespace {
const QByteArray ACK(1, char(0x79));
const QByteArray NACK(1, char(0x1F));
constexpr qint64 kFastMs = 350;

QString dataLine(uint16_t offset, const QByteArray& data) {
    return QString::fromStdString(DataRecordLine(
        offset, reinterpret_cast<const uint8_t*>(data.constData()), int(data.size())));
}

QByteArray pattern(int n, int seed) {
    QByteArray b;
    for (int i = 0; i < n; ++i) b.append(char((seed + i * 13) & 0xFF));
    return b;
}

using Writes = QList<QPair<uint32_t, int>>;
const QString kEof = QStringLiteral(":00000001FF");
const QString kBase = QStringLiteral(":020000040800F2");
}  // namespace

class TestEngine : public QObject {
    Q_OBJECT

    // A connected engine on a fake target; frames are counted from the operation under test.
    struct Rig {
        RecordingHost host;
        FakePort port;
        Engine engine{host, port};
        FakeTarget target{port};
        QTemporaryDir dir;
        explicit Rig(int flashKB = 4) {
            target.resize(uint16_t(flashKB));
            host.erase = false;
            engine.initialise();
            const bool connected = engine.CHECKCMD_Click();
            Q_ASSERT(connected);
            Q_UNUSED(connected);
            restart();
        }
        void restart() {
            host.clearRecords();
            port.written.clear();
            target.frames = 0;
            target.writes.clear();
            target.reads.clear();
        }
        QString writeFile(const QString& name, const QByteArray& content) {
            const QString path = dir.filePath(name);
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            f.write(content);
            return path;
        }
        QString writeHex(const QString& name, const QStringList& lines, const char* eol = "\r\n") {
            QByteArray content;
            for (const QString& l : lines) content += l.toLatin1() + eol;
            return writeFile(name, content);
        }
        QByteArray flashAt(uint32_t address, int n) const {
            return QByteArray(reinterpret_cast<const char*>(target.flash.data()) +
                                  (address - FakeTarget::kFlashBase),
                              n);
        }
    };

private slots:
    void writeFrames_data();
    void writeFrames();
    void writeFailures_data();
    void writeFailures();
    void verifyNonAckFirstByte();
    void alignment_data();
    void alignment();
    void downloadSucceeds();
    void downloadLineEnds_data();
    void downloadLineEnds();
    void downloadRefusals_data();
    void downloadRefusals();
    void downloadChecksumErrorOnLine5();
    void downloadUnalignedRecords_data();
    void downloadUnalignedRecords();
    void downloadWithEraseAndProtect_data();
    void downloadWithEraseAndProtect();
    void chooseFile();
    void uploadBinary();
    void uploadHex();
    void uploadFailureKeepsOldFile();
    void uploadRefusedDestination_data();
    void uploadRefusedDestination();
    void uploadWriteFails();
    void uploadCancelled();
    void fileFormatByName_data();
    void fileFormatByName();
    void erase_data();
    void erase();
    void go_data();
    void go();
    void goWithoutAck();
    void protection_data();
    void protection();
    void reentrancyRefused();
    void stopDuringWait_data();
    void stopDuringWait();
    void lineLostDuringDownload();
};

// --- Write Memory -----------------------------------------------------------------------------

void TestEngine::writeFrames_data() {
    QTest::addColumn<uint>("address");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::newRow("8 bytes at flash start")
        << 0x08000000u << bytesFromHex("0050002031010008")
        << QList<QByteArray>{bytesFromHex("31CE"), bytesFromHex("0800000008"),
                             bytesFromHex("0700500020310100084F")};
    // One byte is padded to the 4-byte unit the chip accepts: 03 D FF FF FF and the XOR.
    QTest::newRow("1 byte, padded")
        << 0x08000000u << bytesFromHex("5A")
        << QList<QByteArray>{bytesFromHex("31CE"), bytesFromHex("0800000008"),
                             bytesFromHex("035AFFFFFF") + QByteArray(1, char(0x03 ^ 0x5A ^ 0xFF))};
}

void TestEngine::writeFrames() {
    QFETCH(uint, address);
    QFETCH(QByteArray, data);
    QFETCH(QList<QByteArray>, frames);
    Rig r;
    r.engine.link().StopFlag = false;
    QVERIFY(DownLoad2STM32(r.engine.link(), address,
                           reinterpret_cast<const uint8_t*>(data.constData()), int(data.size()),
                           {}));
    QCOMPARE(r.port.written, frames);
    QVERIFY(r.host.logLines.isEmpty());
}

void TestEngine::writeFailures_data() {
    QTest::addColumn<int>("frame");  // 0 command, 1 address, 2 data, 3.. verify
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<bool>("disconnected");
    QTest::newRow("command NACK") << 0 << NACK << false << QStringList() << QStringList() << true;
    QTest::newRow("command other byte")
        << 0 << bytesFromHex("05") << false << QStringList() << QStringList() << false;
    QTest::newRow("command silence")
        << 0 << QByteArray() << false << QStringList() << QStringList() << false;
    QTest::newRow("address NACK") << 1 << NACK << false
                                  << QStringList{QStringLiteral("传送地址时应答为非ACK，应答值=1F")}
                                  << QStringList() << false;
    QTest::newRow("data NACK") << 2 << NACK << false
                               << QStringList{QStringLiteral("传送数据时应答为非ACK，应答值=1F")}
                               << QStringList() << false;
    QTest::newRow("data 05") << 2 << bytesFromHex("05") << false
                             << QStringList{QStringLiteral("传送数据时应答为非ACK，应答值=5")}
                             << QStringList() << false;
    QTest::newRow("data silence") << 2 << QByteArray() << false << QStringList() << QStringList()
                                  << false;
    QTest::newRow("verify command") << 3 << NACK << true << QStringList()
                                    << QStringList{QStringLiteral("下发送命令失败")} << false;
    QTest::newRow("verify address")
        << 4 << NACK << true << QStringList{QStringLiteral("传送地址时应答为非ACK，应答值=1F")}
        << QStringList{QStringLiteral("下发地址命令失败")} << false;
    QTest::newRow("verify count") << 5 << NACK << true << QStringList()
                                  << QStringList{QStringLiteral("下发读个数失败")} << false;
    QTest::newRow("verify one byte short")
        << 5 << bytesFromHex("7900112233445566") << true << QStringList()
        << QStringList{QStringLiteral("超时.")} << false;
    QTest::newRow("verify last byte differs")
        << 5 << bytesFromHex("790011223344556678") << true << QStringList()
        << QStringList{QStringLiteral("数据校验不正确.")} << false;
}

void TestEngine::writeFailures() {
    QFETCH(int, frame);
    QFETCH(QByteArray, reply);
    QFETCH(bool, verify);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, log);
    QFETCH(bool, disconnected);
    Rig r;
    r.target.overrides[frame] = reply;
    r.engine.link().StopFlag = false;
    const QByteArray data = bytesFromHex("0011223344556677");
    QVERIFY(!DownLoad2STM32(r.engine.link(), 0x08000000,
                            reinterpret_cast<const uint8_t*>(data.constData()), 8,
                            [verify] { return verify; }));
    QCOMPARE(r.host.messages, messages);
    QCOMPARE(r.host.logMessages, log);
    QCOMPARE(r.host.events.contains(QStringLiteral("panel6:未连接")), disconnected);
    QCOMPARE(r.port.written.size(), frame + 1);  // nothing sent after the failing step
}

void TestEngine::verifyNonAckFirstByte() {
    Rig r;
    // The count's ACK comes alone, then a chunk too long to append: the buffer restarts with it,
    // so index 0 holds a data byte.
    r.target.overrides[5] = ACK;
    auto targetResponder = r.port.responder;
    r.port.responder = [&](const QByteArray& f) {
        targetResponder(f);
        if (r.port.written.size() == 6) r.port.deliverLater(QByteArray(257, '\0'), 20);
    };
    r.engine.link().StopFlag = false;
    const QByteArray data(8, '\0');
    QVERIFY(!DownLoad2STM32(r.engine.link(), 0x08000000,
                            reinterpret_cast<const uint8_t*>(data.constData()), 8,
                            [] { return true; }));
    QCOMPARE(r.host.logMessages, QStringList{QStringLiteral("非ACK应答，数据校验不正确.")});
}

void TestEngine::alignment_data() {
    QTest::addColumn<uint>("address");
    QTest::addColumn<int>("length");
    QTest::addColumn<Writes>("writes");
    using W = Writes;
    QTest::newRow("aligned") << 0x08000010u << 16 << W{{0x08000010, 16}};
    QTest::newRow("3 bytes at +1") << 0x08000001u << 3 << W{{0x08000000, 4}};
    QTest::newRow("7 bytes at +2") << 0x08000002u << 7 << W{{0x08000000, 12}};
    QTest::newRow("6 bytes aligned start") << 0x08000004u << 6 << W{{0x08000004, 8}};
    QTest::newRow("252 bytes at +3") << 0x08000003u << 252 << W{{0x08000000, 256}};
    QTest::newRow("255 bytes at +2: two blocks")
        << 0x08000102u << 255 << W{{0x08000100, 256}, {0x08000200, 4}};
}

void TestEngine::alignment() {
    QFETCH(uint, address);
    QFETCH(int, length);
    QFETCH(Writes, writes);
    Rig r;
    r.engine.link().StopFlag = false;
    const QByteArray data = pattern(length, 3);
    QVERIFY(DownLoad2STM32(r.engine.link(), address,
                           reinterpret_cast<const uint8_t*>(data.constData()), length,
                           [] { return true; }));
    QCOMPARE(r.target.writes, writes);
    // The read-back covers the record only.
    QCOMPARE(r.target.reads, (QList<QPair<uint32_t, int>>{{address, length}}));
    QCOMPARE(r.flashAt(address, length), data);
    // Padding leaves erased flash erased.
    const uint32_t first = writes.first().first;
    QCOMPARE(r.flashAt(first, int(address - first)), QByteArray(int(address - first), char(0xFF)));
    QVERIFY(r.host.messages.isEmpty());
}

// --- download ---------------------------------------------------------------------------------

void TestEngine::downloadSucceeds() {
    Rig r;
    const QByteArray a = pattern(16, 1), b = pattern(16, 2), c = pattern(8, 3);
    const QStringList lines{kBase, dataLine(0x0000, a), dataLine(0x0010, b), dataLine(0x0100, c),
                            kEof};
    r.host.downloadFile = r.writeHex(QStringLiteral("a.hex"), lines);
    QSignalSpy busy(&r.engine, &Engine::busyChanged);
    QVERIFY(r.engine.CmdStart_Click());
    QCOMPARE(busy.size(), 2);
    QVERIFY(!r.engine.busy());
    QCOMPARE(r.flashAt(0x08000000, 16), a);
    QCOMPARE(r.flashAt(0x08000010, 16), b);
    QCOMPARE(r.flashAt(0x08000100, 8), c);
    // Progress: characters read (terminators not counted) over the file size.
    const double size = QFileInfo(r.host.downloadFile).size();
    QStringList progress;
    qint64 read = lines[0].size();
    for (int i = 1; i <= 3; ++i) {
        read += lines[i].size();
        progress << QStringLiteral("完成") + QString::asprintf("%05.2f", 100.0 * read / size) +
                        QStringLiteral("%.");
    }
    QCOMPARE(r.host.progressTexts, progress);
    QVERIFY(progress[0].startsWith(QStringLiteral("完成2")) ||
            progress[0].startsWith(QStringLiteral("完成3")));
    QCOMPARE(r.host.panels.value(2), QStringLiteral("下载结束."));
    QCOMPARE(r.host.logMessages.size(), 2);
    QCOMPARE(r.host.logMessages[0], QStringLiteral("开始编程......"));
    QVERIFY2(QRegularExpression(QStringLiteral("^编程成功, 用时共(\\d*)\\.\\d\\d秒。$"))
                 .match(r.host.logMessages[1])
                 .hasMatch(),
             qPrintable(r.host.logMessages[1]));
    QVERIFY(!r.host.logMessages[1].contains(QStringLiteral("共0.")));
    QVERIFY(r.host.messages.isEmpty());
    QVERIFY(r.engine.link().StopFlag);
}

void TestEngine::downloadLineEnds_data() {
    QTest::addColumn<QByteArray>("eol");
    QTest::newRow("CR LF") << QByteArray("\r\n");
    QTest::newRow("LF only") << QByteArray("\n");
    QTest::newRow("CR only") << QByteArray("\r");
}

void TestEngine::downloadLineEnds() {
    QFETCH(QByteArray, eol);
    Rig r;
    const QByteArray a = pattern(16, 5), b = pattern(4, 6);
    // An empty data record (no bytes) is skipped rather than sent as a zero-length write.
    const QString empty = QStringLiteral(":00001000F0");
    r.host.downloadFile =
        r.writeHex(QStringLiteral("b.hex"), {kBase, dataLine(0, a), empty, dataLine(0x20, b), kEof},
                   eol.constData());
    QVERIFY(r.engine.CmdStart_Click());
    QCOMPARE(r.target.writes, (QList<QPair<uint32_t, int>>{{0x08000000, 16}, {0x08000020, 4}}));
    QCOMPARE(r.flashAt(0x08000000, 16), a);
    QCOMPARE(r.flashAt(0x08000020, 4), b);
    QCOMPARE(r.host.panels.value(2), QStringLiteral("下载结束."));
}

void TestEngine::downloadRefusals_data() {
    QTest::addColumn<QString>("file");  // "" none, "?" missing, "dir", or content
    QTest::addColumn<bool>("erase");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("frames");
    QTest::addColumn<bool>("started");  // "开始编程......" logged
    QTest::newRow("no path") << "" << true << QStringList{QStringLiteral("请指定下载文件。")} << 0
                             << false;
    QTest::newRow("blanks only") << "   " << true << QStringList{QStringLiteral("请指定下载文件。")}
                                 << 0 << false;
    QTest::newRow("missing file") << "?" << true
                                  << QStringList{QStringLiteral("指定的文件不存在，请重新打开。")}
                                  << 0 << false;
    QTest::newRow("cannot be opened")
        << "dir" << true << QStringList{QStringLiteral("@cannot")} << 0 << false;
    QTest::newRow("empty file") << "=" << false << QStringList{QStringLiteral("下载失败。")} << 0
                                << true;
    QTest::newRow("no end record")
        << "=:0400000001020304F2\r\n"
        << false << QStringList{QStringLiteral("下载失败。")} << 3 << true;
    QTest::newRow("UTF-8 byte order mark") << "=\xEF\xBB\xBF:0400000001020304F2\r\n:00000001FF\r\n"
                                           << false << QStringList() << 3 << true;
    QTest::newRow("overlong line cut for the message")
        << QStringLiteral("=:") + QString(5000, QLatin1Char('0')) +
               QStringLiteral("\r\n:00000001FF")
        << false
        << QStringList{QStringLiteral("HEX文件中包含非法格式数据."),
                       QStringLiteral("HEX数据有误，下载失败！:") + QString(1023, QLatin1Char('0')),
                       QStringLiteral("下载失败。")}
        << 0 << true;
    QTest::newRow("end record first") << "=:00000001FF\r\n:0400000001020304F2\r\n"
                                      << false << QStringList() << 0 << true;
}

void TestEngine::downloadRefusals() {
    QFETCH(QString, file);
    QFETCH(bool, erase);
    QFETCH(QStringList, messages);
    QFETCH(int, frames);
    QFETCH(bool, started);
    Rig r;
    r.host.erase = erase;
    if (file == QLatin1String("?")) {
        r.host.downloadFile = r.dir.filePath(QStringLiteral("none.hex"));
    } else if (file == QLatin1String("dir")) {
        r.host.downloadFile = r.dir.filePath(QStringLiteral("sub.hex"));
        QDir().mkpath(r.host.downloadFile);
    } else if (file.startsWith(QLatin1Char('='))) {
        r.host.downloadFile = r.writeFile(QStringLiteral("f.hex"), file.mid(1).toUtf8());
    } else {
        r.host.downloadFile = file;
    }
    if (messages.value(0) == QLatin1String("@cannot"))
        messages[0] = CannotOpenFileText(r.host.downloadFile);
    const bool ok = r.engine.CmdStart_Click();
    QCOMPARE(ok, messages.isEmpty());
    QCOMPARE(r.host.messages, messages);
    QCOMPARE(r.port.written.size(), frames);
    QCOMPARE(r.host.logged(QStringLiteral("开始编程......")), started);
    if (ok) QCOMPARE(r.host.panels.value(2), QStringLiteral("下载结束."));
}

void TestEngine::downloadChecksumErrorOnLine5() {
    Rig r;
    const QString bad = QStringLiteral(":10004000000102030405060708090A0B0C0D0E0F00");
    r.host.downloadFile =
        r.writeHex(QStringLiteral("c.hex"),
                   {kBase, dataLine(0, pattern(16, 1)), dataLine(0x10, pattern(16, 2)),
                    dataLine(0x20, pattern(16, 3)), bad, dataLine(0x50, pattern(16, 4)), kEof});
    QVERIFY(!r.engine.CmdStart_Click());
    QCOMPARE(r.target.writes.size(), 3);  // lines 1 to 4 were handled
    QCOMPARE(r.host.messages, (QStringList{QStringLiteral("校验和不正确，您给的串是：") + bad,
                                           QStringLiteral("HEX数据有误，下载失败！") + bad,
                                           QStringLiteral("下载失败。")}));
}

// Records sharing a word are joined so that no word is written twice; the last bytes of a record
// that ends inside a word are written with the next record, alone before an unrelated one, or
// at the end of the file.
void TestEngine::downloadUnalignedRecords_data() {
    QTest::addColumn<QStringList>("lines");  // "offset:bytes" data records, else lines as given
    QTest::addColumn<bool>("verify");
    QTest::addColumn<int>("nackFrame");  // data frame answered with NACK (-1: none)
    QTest::addColumn<Writes>("writes");
    QTest::addColumn<Writes>("reads");
    QTest::addColumn<QStringList>("messages");
    const QString nack = QStringLiteral("传送数据时应答为非ACK，应答值=1F");
    const QString failed = QStringLiteral("下载失败。");
    const QString bad = QStringLiteral(":0400100001020304FF");
    using W = Writes;
    QTest::newRow("6 + 10, verified")
        << QStringList{"0000:A0A1A2A3A4A5", "0006:B0B1B2B3B4B5B6B7B8B9", kEof} << true << -1
        << W{{0x08000000, 4}, {0x08000004, 12}} << W{{0x08000000, 4}, {0x08000004, 12}}
        << QStringList();
    QTest::newRow("tail written and verified at the end")
        << QStringList{"0010:01020304", "0014:0506", kEof} << true << -1
        << W{{0x08000010, 4}, {0x08000014, 4}} << W{{0x08000010, 4}, {0x08000014, 2}}
        << QStringList();
    QTest::newRow("tail alone before an unrelated record")
        << QStringList{"0000:010203", "0080:01020304", kEof} << false << -1
        << W{{0x08000000, 4}, {0x08000080, 4}} << W() << QStringList();
    // (the fake target keeps a write whose answer was replaced)
    QTest::newRow("tail refused at the end: the download fails")
        << QStringList{"0000:010203040506", kEof} << false << 5
        << W{{0x08000000, 4}, {0x08000004, 4}} << W() << QStringList{nack, failed};
    QTest::newRow("rejected line: the tail is written first")
        << QStringList{"0000:010203040506", bad, kEof} << false << -1
        << W{{0x08000000, 4}, {0x08000004, 4}} << W()
        << QStringList{QStringLiteral("校验和不正确，您给的串是：") + bad,
                       QStringLiteral("HEX数据有误，下载失败！") + bad, failed};
    QTest::newRow("no end record: the tail is written, still a failure")
        << QStringList{"0000:010203040506"} << false << -1 << W{{0x08000000, 4}, {0x08000004, 4}}
        << W() << QStringList{failed};
}

void TestEngine::downloadUnalignedRecords() {
    QFETCH(QStringList, lines);
    QFETCH(bool, verify);
    QFETCH(int, nackFrame);
    QFETCH(Writes, writes);
    QFETCH(Writes, reads);
    QFETCH(QStringList, messages);
    Rig r;
    r.host.verify = verify;
    if (nackFrame >= 0) r.target.overrides[nackFrame] = NACK;
    QStringList file{kBase};
    QByteArray expected(256, char(0xFF));
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1Char(':'))) {
            file << line;
            continue;
        }
        const int offset = line.section(':', 0, 0).toInt(nullptr, 16);
        const QByteArray bytes = QByteArray::fromHex(line.section(':', 1).toLatin1());
        expected.replace(offset, int(bytes.size()), bytes);
        file << dataLine(uint16_t(offset), bytes);
    }
    r.host.downloadFile = r.writeHex(QStringLiteral("u.hex"), file);
    QCOMPARE(r.engine.CmdStart_Click(), messages.isEmpty());
    QCOMPARE(r.host.messages, messages);
    QCOMPARE(r.target.writes, writes);
    QCOMPARE(r.target.reads, reads);
    if (messages.isEmpty() || nackFrame < 0) QCOMPARE(r.flashAt(0x08000000, 256), expected);
}

void TestEngine::downloadWithEraseAndProtect_data() {
    QTest::addColumn<bool>("erase");
    QTest::addColumn<bool>("eraseFails");
    QTest::addColumn<bool>("protect");
    QTest::addColumn<bool>("protectFails");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("log");  // "*" matches the success line
    QTest::newRow("erase then program")
        << true << false << false << false << true
        << QStringList{QStringLiteral("开始整片擦除......"), QStringLiteral("擦除成功。"),
                       QStringLiteral("开始编程......"), "*"};
    QTest::newRow("erase fails: nothing more")
        << true << true << false << false << false
        << QStringList{QStringLiteral("擦除失败，请清除读保护......")};
    QTest::newRow("protect after success")
        << false << false << true << false << true
        << QStringList{QStringLiteral("开始编程......"), "*",
                       QStringLiteral("置读保护成功, 复位目标板后才能有效。")};
    QTest::newRow("protect fails: download still logged")
        << false << false << true << true << false
        << QStringList{QStringLiteral("开始编程......"), "*", QStringLiteral("置读保护失败。")};
}

void TestEngine::downloadWithEraseAndProtect() {
    QFETCH(bool, erase);
    QFETCH(bool, eraseFails);
    QFETCH(bool, protect);
    QFETCH(bool, protectFails);
    QFETCH(bool, result);
    QFETCH(QStringList, log);
    Rig r;
    r.host.erase = erase;
    r.host.protect = protect;
    if (erase) r.target.flash[0] = 0x00;  // erase must bring it back to FF before programming
    if (eraseFails) r.target.overrides[0] = NACK;
    // frames: [43 BC, FF 00,] 31 CE, address, data, 82 7D
    if (protectFails) r.target.overrides[erase ? 5 : 3] = NACK;
    r.host.downloadFile =
        r.writeHex(QStringLiteral("d.hex"), {kBase, dataLine(0, bytesFromHex("A1A2A3A4")), kEof});
    QCOMPARE(r.engine.CmdStart_Click(), result);
    QCOMPARE(r.host.logMessages.size(), log.size());
    for (int i = 0; i < log.size(); ++i) {
        if (log[i] == QLatin1String("*"))
            QVERIFY(r.host.logMessages[i].startsWith(QStringLiteral("编程成功, 用时共")));
        else
            QCOMPARE(r.host.logMessages[i], log[i]);
    }
    QVERIFY(r.host.messages.isEmpty());  // no "下载失败。" in any of these
    QCOMPARE(r.port.written.contains(bytesFromHex("827D")), protect);
    if (!eraseFails) QCOMPARE(r.flashAt(0x08000000, 4), bytesFromHex("A1A2A3A4"));
    QVERIFY(r.engine.link().StopFlag);
}

void TestEngine::chooseFile() {
    Rig r;
    r.host.downloadFile = QStringLiteral("/old.hex");
    QVERIFY(!r.engine.CmdDownLoad_Click());  // cancelled
    QCOMPARE(r.host.downloadFile, QStringLiteral("/old.hex"));
    r.host.openFileAnswers << QStringLiteral("/new.hex");
    QVERIFY(r.engine.CmdDownLoad_Click());
    QCOMPARE(r.host.downloadFile, QStringLiteral("/new.hex"));
}

// --- upload -----------------------------------------------------------------------------------

void TestEngine::uploadBinary() {
    Rig r(4);
    for (size_t i = 0; i < r.target.flash.size(); ++i) r.target.flash[i] = uint8_t(i * 31 + 7);
    const QString path = r.dir.filePath(QStringLiteral("out.bin"));
    r.host.saveFileAnswers << path;
    QVERIFY(r.engine.CmdRead_Click());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray(reinterpret_cast<const char*>(r.target.flash.data()), 4096));
    QCOMPARE(r.target.reads.size(), 16);
    QCOMPARE(r.target.reads.first(), (QPair<uint32_t, int>{0x08000000, 256}));
    QCOMPARE(r.host.progressTexts.first(), QStringLiteral("已读6.25%."));
    QCOMPARE(r.host.progressTexts.last(), QStringLiteral("已读100.00%."));
    QCOMPARE(r.host.panels.value(2), QStringLiteral("已读完."));
    QCOMPARE(r.host.logMessages.first(), QStringLiteral("开始读取数据......"));
    QVERIFY2(QRegularExpression(QStringLiteral("^读取完成, 读取时间为:\\d*\\.\\d\\d秒\\.$"))
                 .match(r.host.logMessages.last())
                 .hasMatch(),
             qPrintable(r.host.logMessages.last()));
    QCOMPARE(r.engine.uploadFileName(), path);
    QCOMPARE(QDir(r.dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("out.bin")});
}

void TestEngine::uploadHex() {
    Rig r(4);
    for (size_t i = 0; i < r.target.flash.size(); ++i) r.target.flash[i] = uint8_t(i * 17 + 1);
    r.target.flash[100] = 0xFF;
    const QString path = r.dir.filePath(QStringLiteral("out.HEX"));
    r.host.saveFileAnswers << path;
    QVERIFY(r.engine.CmdRead_Click());
    QCOMPARE(r.target.reads.size(), 64);
    QCOMPARE(r.target.reads.last(), (QPair<uint32_t, int>{0x08000FC0, 64}));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QVERIFY(text.endsWith(":00000001FF\r\n"));
    const QList<QByteArray> lines = text.split('\n');
    QCOMPARE(lines.size(), 1 + 1 + 64 + 1 + 1);  // the split leaves an empty tail
    QCOMPARE(lines[0], QByteArray(":0400000508000000EF\r"));
    QCOMPARE(lines[1], QByteArray(":020000040800F2\r"));
    // Reading the file back gives the flash.
    HexRecord rec;
    std::vector<uint8_t> image(4096, 0);
    for (const QByteArray& l : lines) {
        const QByteArray line = l.trimmed();
        if (line.isEmpty()) continue;
        std::string message;
        QVERIFY(ParseHexLine(line.toStdString(), rec, &message));
        if (rec.RecType == 0)
            std::copy(rec.Data.begin(), rec.Data.begin() + rec.DataLen,
                      image.begin() + (rec.Address - 0x08000000));
    }
    QVERIFY(image == r.target.flash);

    // Crossing a 64 KB boundary: the extended address record comes before the block behind it.
    QBuffer two;
    two.open(QIODevice::WriteOnly);
    r.engine.link().StopFlag = false;
    QVERIFY(ReadFlashToHex(r.engine.link(), two, 0x0800FFC0, 128));
    const QByteArray zeros(64, '\0');
    const auto* z = reinterpret_cast<const uint8_t*>(zeros.constData());
    QCOMPARE(
        two.data().split('\n'),
        (QList<QByteArray>{
            ":0400000508000000EF\r",
            QByteArray::fromStdString(DataRecordLine(0xFFC0, z, 64)) + '\r', ":020000040801F1\r",
            QByteArray::fromStdString(DataRecordLine(0x0000, z, 64)) + '\r', ":00000001FF\r", ""}));
}

void TestEngine::uploadFailureKeepsOldFile() {
    Rig r(4);
    const QString path = r.writeFile(QStringLiteral("keep.hex"), "old contents");
    r.host.saveFileAnswers << path;
    r.target.overrides[3 * 5] = NACK;  // the 6th block's read command
    QVERIFY(!r.engine.CmdRead_Click());
    QCOMPARE(r.host.logMessages,
             (QStringList{QStringLiteral("开始读取数据......"), QStringLiteral("下发读命令失败。"),
                          QStringLiteral("读数据失败, 退出从芯片读取数据过程.")}));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("old contents"));
    QCOMPARE(QDir(r.dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("keep.hex")});
    QCOMPARE(r.host.panels.value(2), QStringLiteral("已读7.81%."));  // 5 of 64 blocks
    QVERIFY(r.host.messages.isEmpty());
}

void TestEngine::uploadRefusedDestination_data() {
    QTest::addColumn<QString>("where");
    QTest::newRow("directory missing") << "missing/out.bin";
    QTest::newRow("a directory") << "adir";
}

void TestEngine::uploadRefusedDestination() {
    QFETCH(QString, where);
    Rig r(4);
    QDir(r.dir.path()).mkdir(QStringLiteral("adir"));
    const QString path = r.dir.filePath(where);
    r.host.saveFileAnswers << path;
    QVERIFY(!r.engine.CmdRead_Click());
    QCOMPARE(r.host.messages, QStringList{path + QStringLiteral("文件正打开着, 覆盖失败.")});
    QVERIFY(r.port.written.isEmpty());
    QVERIFY(r.host.logLines.isEmpty());
    QVERIFY(r.engine.link().StopFlag);
}

void TestEngine::uploadWriteFails() {
#ifdef Q_OS_UNIX
    Rig r(32);
    const QString path = r.dir.filePath(QStringLiteral("full.bin"));
    r.host.saveFileAnswers << path;
    // The disk fills up: writes beyond 8 KB fail while the flash is still being read.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 8192;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const bool ok = r.engine.CmdRead_Click();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
    QVERIFY(!ok);
    QCOMPARE(r.host.messages, QStringList{path + QStringLiteral("文件正打开着, 覆盖失败.")});
    QCOMPARE(r.host.logMessages, QStringList{QStringLiteral("开始读取数据......")});
    QVERIFY(QDir(r.dir.path()).entryList(QDir::Files).isEmpty());
#endif
}

void TestEngine::uploadCancelled() {
    Rig r(4);
    QVERIFY(!r.engine.CmdRead_Click());
    QCOMPARE(r.host.saveDialogs, 1);
    QVERIFY(r.port.written.isEmpty());
    QVERIFY(r.host.events.isEmpty());
    QVERIFY(r.engine.link().StopFlag);
}

void TestEngine::fileFormatByName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("hex");
    QTest::newRow(".hex") << "/a/b.hex" << true;
    QTest::newRow(".HEX") << "/a/b.HEX" << true;
    QTest::newRow("trailing blank") << "/a/b.hex " << true;
    QTest::newRow("no dot") << "/a/bhex" << true;
    QTest::newRow(".bin") << "/a/b.bin" << false;
    QTest::newRow(".txt") << "/a/b.txt" << false;
    QTest::newRow("no extension") << "/a/b" << false;
    QTest::newRow("short name") << "ab" << true;
}

void TestEngine::fileFormatByName() {
    QFETCH(QString, name);
    QFETCH(bool, hex);
    QCOMPARE(IsHexFileName(name), hex);
}

// --- erase, Go, protection --------------------------------------------------------------------

void TestEngine::erase_data() {
    QTest::addColumn<int>("failFrame");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("panel2");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<int>("frames");
    QTest::newRow("both acknowledged")
        << -1 << true << QStringLiteral("Flash擦除完毕。")
        << QStringList{QStringLiteral("开始整片擦除......"), QStringLiteral("擦除成功。")} << 2;
    QTest::newRow("command refused")
        << 0 << false << QStringLiteral("Flash擦除失败。")
        << QStringList{QStringLiteral("擦除失败，请清除读保护......")} << 1;
    QTest::newRow("global code refused")
        << 1 << false << QStringLiteral("Flash擦除失败。")
        << QStringList{QStringLiteral("开始整片擦除......"),
                       QStringLiteral("擦除失败，请清除读保护......")}
        << 2;
}

void TestEngine::erase() {
    QFETCH(int, failFrame);
    QFETCH(bool, result);
    QFETCH(QString, panel2);
    QFETCH(QStringList, log);
    QFETCH(int, frames);
    Rig r;
    if (failFrame >= 0) r.target.overrides[failFrame] = NACK;
    QCOMPARE(r.engine.Command_ER_Click(), result);
    QCOMPARE(r.port.written,
             (QList<QByteArray>{bytesFromHex("43BC"), bytesFromHex("FF00")}.mid(0, frames)));
    QCOMPARE(r.host.panels.value(2), panel2);
    QCOMPARE(r.host.logMessages, log);
    QVERIFY(r.host.commandHistory.isEmpty());  // the link stays usable
    QVERIFY(r.engine.link().StopFlag);
}

void TestEngine::go_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("frame");  // empty: refused
    QTest::newRow("default") << "08000000" << bytesFromHex("0800000008");
    QTest::newRow("seven digits") << "8000000" << bytesFromHex("0800000008");
    QTest::newRow("RAM") << "20000000" << bytesFromHex("2000000020");
    QTest::newRow("0x prefix") << "0x08000000" << bytesFromHex("0800000008");
    QTest::newRow("h suffix, blanks") << " 2000 1000h " << bytesFromHex("2000100030");
    QTest::newRow("lower case") << "0800abcd" << bytesFromHex("0800ABCD6E");
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("not hex") << "08x00000" << QByteArray();
    QTest::newRow("nine digits") << "080000000" << QByteArray();
    QTest::newRow("prefix only") << "0x" << QByteArray();
}

void TestEngine::go() {
    QFETCH(QString, text);
    QFETCH(QByteArray, frame);
    Rig r;
    r.host.goAddress = text;
    const bool ok = r.engine.Command_GO_Click();
    if (frame.isEmpty()) {
        QVERIFY(!ok);
        QCOMPARE(r.host.messages,
                 QStringList{QStringLiteral("运行地址无效，请输入十六进制地址。")});
        QVERIFY(r.port.written.isEmpty());
        QVERIFY(r.host.commandHistory.isEmpty());  // nothing happened: still connected
        QVERIFY(r.host.logLines.isEmpty());
    } else {
        QVERIFY(ok);
        QCOMPARE(r.port.written, (QList<QByteArray>{bytesFromHex("21DE"), frame}));
        QCOMPARE(r.host.logMessages, QStringList{QStringLiteral("已运行。")});
        QCOMPARE(r.host.panels.value(6), QStringLiteral("未连接"));
        QVERIFY(!r.host.commands.go);
    }
    QVERIFY(r.engine.link().StopFlag);
}

void TestEngine::goWithoutAck() {
    Rig r;
    r.target.overrides[0] = NACK;
    QVERIFY(!r.engine.Command_GO_Click());
    QCOMPARE(r.port.written, QList<QByteArray>{bytesFromHex("21DE")});
    QCOMPARE(r.host.logMessages, QStringList{QStringLiteral("目标板无响应。")});
    QCOMPARE(r.host.panels.value(6), QStringLiteral("未连接"));
}

void TestEngine::protection_data() {
    QTest::addColumn<bool>("protect");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("log");
    QTest::addColumn<bool>("disconnected");
    QTest::newRow("protect ACK") << true << ACK
                                 << QStringLiteral("置读保护成功, 复位目标板后才能有效。") << true;
    QTest::newRow("protect NACK") << true << NACK << QStringLiteral("置读保护失败。") << false;
    QTest::newRow("unprotect ACK")
        << false << ACK << QStringLiteral("清读保护成功, 复位目标板后才能有效。") << true;
    QTest::newRow("unprotect NACK") << false << NACK << QStringLiteral("清读保护失败.") << true;
}

void TestEngine::protection() {
    QFETCH(bool, protect);
    QFETCH(QByteArray, reply);
    QFETCH(QString, log);
    QFETCH(bool, disconnected);
    Rig r;
    r.target.overrides[0] = reply;
    const bool ok = protect ? r.engine.CmdReadProtect_Click() : r.engine.CmdReadUnProtect_Click();
    QCOMPARE(ok, reply == ACK);
    QCOMPARE(r.port.written,
             QList<QByteArray>{protect ? bytesFromHex("827D") : bytesFromHex("926D")});
    QCOMPARE(r.host.logMessages, QStringList{log});
    QCOMPARE(r.host.panels.value(6) == QStringLiteral("未连接"), disconnected);
    QCOMPARE(r.host.commandHistory.isEmpty(), !disconnected);
    QVERIFY(r.engine.link().StopFlag);
}

// --- re-entrancy, Stop, line loss --------------------------------------------------------------

void TestEngine::reentrancyRefused() {
    Rig r;
    r.target.delayMs = 30;
    r.host.downloadFile = r.writeHex(QStringLiteral("e.hex"), {dataLine(0, pattern(16, 1)), kEof});
    r.host.openFileAnswers << QStringLiteral("/x.hex");
    r.host.saveFileAnswers << r.dir.filePath(QStringLiteral("x.bin"));
    bool tried = false;
    QList<bool> results;
    int framesBefore = 0;
    bool busyInside = false;
    QTimer::singleShot(10, [&] {
        tried = true;
        busyInside = r.engine.busy();
        framesBefore = int(r.port.written.size());
        results << r.engine.CHECKCMD_Click() << r.engine.CmdStart_Click()
                << r.engine.CmdRead_Click() << r.engine.Command_ER_Click()
                << r.engine.Command_GO_Click() << r.engine.CmdReadProtect_Click()
                << r.engine.CmdReadUnProtect_Click() << r.engine.CmdDownLoad_Click();
        r.engine.CombComPort_LostFocus();
        QCOMPARE(int(r.port.written.size()), framesBefore);
    });
    QVERIFY(r.engine.CmdStart_Click());
    QVERIFY(tried);
    QVERIFY(busyInside);
    QCOMPARE(results, QList<bool>(8, false));
    QCOMPARE(r.host.openDialogs + r.host.saveDialogs, 0);
    QCOMPARE(r.port.openedNames.size(), 1);
    QVERIFY(r.host.messages.isEmpty());
    QVERIFY(!r.engine.busy());
    // Once it ended, the next operation runs.
    QVERIFY(r.engine.Command_ER_Click());
}

void TestEngine::stopDuringWait_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("frame");
    QTest::addColumn<QByteArray>("reply");  // what that frame gets instead (empty: silence)
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("messages");
    const QStringList started{QStringLiteral("开始编程......")};
    const QStringList failed{QStringLiteral("下载失败。")};
    QTest::newRow("command wait (erase)")
        << "erase" << 0 << QByteArray()
        << QStringList{QStringLiteral("擦除失败，请清除读保护......")} << QStringList();
    QTest::newRow("write command wait") << "program" << 0 << QByteArray() << started << failed;
    QTest::newRow("address wait") << "program" << 1 << QByteArray() << started << failed;
    QTest::newRow("data wait") << "program" << 2 << QByteArray() << started << failed;
    QTest::newRow("verify data wait")
        << "verify" << 5 << ACK << started + QStringList{QStringLiteral("超时.")} << failed;
    QTest::newRow("read data wait")
        << "read" << 2 << ACK
        << QStringList{QStringLiteral("开始读取数据......"), QStringLiteral("读存储器内容超时."),
                       QStringLiteral("读数据失败, 退出从芯片读取数据过程.")}
        << QStringList();
}

void TestEngine::stopDuringWait() {
    QFETCH(QString, operation);
    QFETCH(int, frame);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, log);
    QFETCH(QStringList, messages);
    Rig r;
    r.target.overrides[frame] = reply;
    r.host.verify = operation == QLatin1String("verify");
    r.host.downloadFile = r.writeHex(QStringLiteral("s.hex"), {dataLine(0, pattern(16, 1)), kEof});
    r.host.saveFileAnswers << r.dir.filePath(QStringLiteral("s.bin"));
    QTimer::singleShot(60, [&] { r.engine.CmdStop_Click(); });
    QElapsedTimer t;
    t.start();
    bool ok = true;
    if (operation == QLatin1String("erase")) ok = r.engine.Command_ER_Click();
    if (operation == QLatin1String("read")) ok = r.engine.CmdRead_Click();
    if (operation == QLatin1String("program") || operation == QLatin1String("verify"))
        ok = r.engine.CmdStart_Click();
    QVERIFY(!ok);
    QVERIFY2(t.elapsed() < kFastMs, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(r.host.logMessages, log);
    QCOMPARE(r.host.messages, messages);
    QCOMPARE(r.host.panels.value(6), QStringLiteral("未连接"));
    QVERIFY(!r.engine.busy());
}

void TestEngine::lineLostDuringDownload() {
    Rig r;
    r.target.overrides[2] = QByteArray();
    r.host.downloadFile = r.writeHex(QStringLiteral("l.hex"), {dataLine(0, pattern(16, 1)), kEof});
    QTimer::singleShot(40, [&] { r.port.loseLine(); });
    QElapsedTimer t;
    t.start();
    QVERIFY(!r.engine.CmdStart_Click());
    QVERIFY(t.elapsed() < kFastMs);
    QCOMPARE(r.host.messages,
             (QStringList{QStringLiteral("请指定可用串行口。"), QStringLiteral("下载失败。")}));
    QVERIFY(!r.engine.busy());
    // The device is back: connecting opens the port again and works.
    r.target.overrides.clear();
    QVERIFY(r.engine.CHECKCMD_Click());
    QCOMPARE(r.port.openedNames.size(), 2);
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
