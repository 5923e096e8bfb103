#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "BootLink.h"
#include "Engine.h"
#include "IntelHex.h"
#include "QtSerialPort.h"
#include "RecordingHost.h"
#include "Simulator.h"

using namespace praxon;

// The engine on a real pseudo-terminal, against the simulated board.
class TestQtSerialPort : public QObject {
    Q_OBJECT
private slots:
    void pseudoTerminalDetected();
    void programAndReadBack();
    void programUnalignedNeighbours_data();
    void programUnalignedNeighbours();
    void hangUpDuringReadThenReconnect();
    void missingDeviceRefused();
};

void TestQtSerialPort::pseudoTerminalDetected() {
    sim::Simulator board;
    std::string error;
    QVERIFY2(board.start(&error), error.c_str());
    QVERIFY(QtSerialPort::isPseudoTerminal(QString::fromStdString(board.portPath())));
    QVERIFY(!QtSerialPort::isPseudoTerminal(QStringLiteral("/dev/null")));
}

void TestQtSerialPort::programAndReadBack() {
    QTemporaryDir dir;
    sim::SimulatorOptions options;
    options.board.flashKb = 16;
    options.board.ramField = 20;
    sim::Simulator board(options);
    std::string error;
    QVERIFY2(board.start(&error), error.c_str());
    RecordingHost host;
    QtSerialPort port;
    Engine engine(host, port);
    host.port = QString::fromStdString(board.portPath());
    QVERIFY(engine.CHECKCMD_Click());
    QCOMPARE(host.logMessages.value(2), QStringLiteral("器件信息为STM32F10x, PID=0410"));
    QCOMPARE(host.logMessages.value(3), QStringLiteral("FLASH容量为: 16K; RAM容量为: 20K."));

    // An aligned record and one that is not (the board refuses unaligned writes).
    const uint8_t a[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const uint8_t b[5] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4};
    QFile hex(dir.filePath(QStringLiteral("p.hex")));
    QVERIFY(hex.open(QIODevice::WriteOnly));
    for (const std::string& line : {std::string(":020000040800F2"), DataRecordLine(0x0000, a, 16),
                                    DataRecordLine(0x0103, b, 5), EndOfFileLine()})
        hex.write((line + "\n").c_str());
    hex.close();
    host.downloadFile = hex.fileName();
    host.erase = true;
    host.verify = true;
    QVERIFY(engine.CmdStart_Click());
    QVERIFY2(host.messages.isEmpty(), qPrintable(host.messages.join('|')));
    const std::vector<uint8_t> image = board.flashImage();
    QVERIFY(std::equal(a, a + 16, image.begin()));
    QVERIFY(std::equal(b, b + 5, image.begin() + 0x103));
    QCOMPARE(int(image[0x102]), 0xFF);
    QCOMPARE(int(image[0x108]), 0xFF);

    const QString out = dir.filePath(QStringLiteral("out.bin"));
    host.saveFileAnswers << out;
    QVERIFY(engine.CmdRead_Click());
    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray read = f.readAll();
    QCOMPARE(read.size(), 16 * 1024);
    QVERIFY(
        std::equal(image.begin(), image.end(), reinterpret_cast<const uint8_t*>(read.constData())));
}

// Records that share a 4-byte word: the board programs half-words and NACKs one written twice.
void TestQtSerialPort::programUnalignedNeighbours_data() {
    QTest::addColumn<QStringList>("records");  // "offset:bytes", in file order, base 0x08000000
    QTest::newRow("6 + 10 contiguous")
        << QStringList{"0000:A0A1A2A3A4A5", "0006:B0B1B2B3B4B5B6B7B8B9"};
    QTest::newRow("3-byte records, a gap byte, a tail at the end")
        << QStringList{"0001:010203", "0004:040506",   "0007:070809", "000A:0A",
                       "000C:0C0D0E", "0010:10111213", "0015:1516",   "0101:F1F2F3F4F5"};
}

void TestQtSerialPort::programUnalignedNeighbours() {
    QFETCH(QStringList, records);
    QTemporaryDir dir;
    sim::SimulatorOptions options;
    options.board.flashKb = 16;
    sim::Simulator board(options);
    std::string error;
    QVERIFY2(board.start(&error), error.c_str());
    RecordingHost host;
    QtSerialPort port;
    Engine engine(host, port);
    host.port = QString::fromStdString(board.portPath());
    QVERIFY(engine.CHECKCMD_Click());

    std::vector<uint8_t> expected(16 * 1024, 0xFF);
    QFile hex(dir.filePath(QStringLiteral("u.hex")));
    QVERIFY(hex.open(QIODevice::WriteOnly));
    hex.write(":020000040800F2\n");
    for (const QString& r : records) {
        const uint16_t offset = r.section(':', 0, 0).toUShort(nullptr, 16);
        const QByteArray bytes = QByteArray::fromHex(r.section(':', 1).toLatin1());
        std::copy(bytes.begin(), bytes.end(), expected.begin() + offset);
        hex.write(DataRecordLine(offset, reinterpret_cast<const uint8_t*>(bytes.constData()),
                                 int(bytes.size()))
                      .c_str());
        hex.write("\n");
    }
    hex.write((EndOfFileLine() + "\n").c_str());
    hex.close();
    host.downloadFile = hex.fileName();
    host.erase = true;
    host.verify = true;
    QVERIFY2(engine.CmdStart_Click(), qPrintable(host.messages.join('|')));
    QVERIFY2(host.messages.isEmpty(), qPrintable(host.messages.join('|')));
    QVERIFY(board.flashImage() == expected);
}

void TestQtSerialPort::hangUpDuringReadThenReconnect() {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("board"));
    sim::SimulatorOptions options;
    options.linkPath = link.toStdString();
    options.board.flashKb = 16;
    sim::Fault hangup;
    hangup.kind = sim::FaultKind::Hangup;
    hangup.command = 0x11;
    hangup.occurrence = 3;
    options.board.faults = {hangup};
    RecordingHost host;
    QtSerialPort port;
    Engine engine(host, port);
    host.port = link;
    {
        sim::Simulator board(options);
        std::string error;
        QVERIFY2(board.start(&error), error.c_str());
        QVERIFY(engine.CHECKCMD_Click());
        host.clearRecords();
        host.saveFileAnswers << dir.filePath(QStringLiteral("x.bin"));
        QElapsedTimer t;
        t.start();
        QVERIFY(!engine.CmdRead_Click());
        QVERIFY2(t.elapsed() < 3000, "a vanished line must not hang the read");
        QCOMPARE(host.messages.value(0), QStringLiteral("请指定可用串行口。"));
        QCOMPARE(host.logMessages.last(), QStringLiteral("读数据失败, 退出从芯片读取数据过程."));
        QVERIFY(!port.isOpen());
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("x.bin"))));
    }
    // The board is back under the same name: connecting opens the port again.
    options.board.faults.clear();
    sim::Simulator board(options);
    std::string error;
    QVERIFY2(board.start(&error), error.c_str());
    QVERIFY(engine.CHECKCMD_Click());
    QVERIFY(port.isOpen());
}

void TestQtSerialPort::missingDeviceRefused() {
    RecordingHost host;
    QtSerialPort port;
    Engine engine(host, port);
    host.port = QStringLiteral("/dev/praxon-no-such-port");
    QVERIFY(!engine.CHECKCMD_Click());
    QCOMPARE(host.messages, QStringList{QStringLiteral("指定的串口不存在或已被占用。")});
}

QTEST_GUILESS_MAIN(TestQtSerialPort)
#include "tst_qtserialport.moc"
