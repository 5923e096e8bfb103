#include <QTest>

#include "WordAligner.h"

using namespace praxon;

class TestWordAligner : public QObject {
    Q_OBJECT
private slots:
    void blocks_data();
    void blocks();
};

// Chunks and blocks as "offset:bytes" from 0x08000000, in hex; "--" is a padding byte the source
// did not give; "flush" ends the file. Exact blocks also prove that no word is written twice.
void TestWordAligner::blocks_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("blocks");
    const auto row = [](const char* name, const QString& in, const QString& out) {
        QTest::newRow(name) << in << out;
    };
    row("6 + 10 contiguous", "0:A0A1A2A3A4A5 6:B0B1B2B3B4B5B6B7B8B9 flush",
        "0:A0A1A2A3 4:A4A5B0B1B2B3B4B5B6B7B8B9");
    row("1-byte records fill a word", "1:01 2:02 3:03 4:04 flush", "0:--010203 4:04------");
    row("gap inside a word", "0:0102 3:03040506 flush", "0:0102--03 4:040506--");
    row("next record in another word: tail written alone first", "0:010203040506 8:0708 flush",
        "0:01020304 4:0506---- 8:0708----");
    row("record going backwards: tail written alone first", "4:0102 0:11121314 flush",
        "4:0102---- 0:11121314");
    row("overlapping record: the later bytes win", "0:010203 1:AA flush", "0:01AA03--");
    row("no flush: the tail stays pending", "0:010203040506", "0:01020304");
    // 2 + 255 bytes: the first 256 go out, the last byte waits for the next record.
    const QString big = QString("AA").repeated(255);
    row("joined beyond 256", "0:0102 2:" + big + " flush",
        "0:0102" + big.left(508) + " 100:AA------");
}

void TestWordAligner::blocks() {
    QFETCH(QString, input);
    QFETCH(QString, blocks);
    WordAligner aligner;
    QStringList out;
    for (const QString& item : input.split(' ')) {
        const QByteArray b = QByteArray::fromHex(item.section(':', 1).toLatin1());
        const uint32_t address = 0x08000000 + item.section(':', 0, 0).toUInt(nullptr, 16);
        const auto* data = reinterpret_cast<const uint8_t*>(b.constData());
        for (const AlignedBlock& block :
             item == "flush" ? aligner.flush() : aligner.add(address, data, int(b.size()))) {
            QString text = QString::number(block.address - 0x08000000, 16).toUpper() + ':';
            for (size_t i = 0; i < block.bytes.size(); ++i)
                text += block.given[i] ? QString::asprintf("%02X", block.bytes[i]) : "--";
            out << text;
        }
    }
    QCOMPARE(out.join(' '), blocks);
    QCOMPARE(aligner.hasPendingTail(), !input.endsWith("flush"));
}

QTEST_GUILESS_MAIN(TestWordAligner)
#include "tst_wordaligner.moc"
