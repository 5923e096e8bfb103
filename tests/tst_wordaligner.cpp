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
    QTest::addColumn<int>("maxBlock");
    QTest::newRow("6 + 10 contiguous") << "0:A0A1A2A3A4A5 6:B0B1B2B3B4B5B6B7B8B9 flush"
                                       << "0:A0A1A2A3 4:A4A5B0B1B2B3B4B5B6B7B8B9" << 256;
    QTest::newRow("1-byte records fill a word") << "1:01 2:02 3:03 4:04 flush"
                                                << "0:--010203 4:04------" << 256;
    QTest::newRow("gap inside a word") << "0:0102 3:03040506 flush"
                                       << "0:0102--03 4:040506--" << 256;
    QTest::newRow("next record in another word: tail written alone first")
        << "0:010203040506 8:0708 flush"
        << "0:01020304 4:0506---- 8:0708----" << 256;
    QTest::newRow("record going backwards: tail written alone first")
        << "4:0102 0:11121314 flush"
        << "4:0102---- 0:11121314" << 256;
    QTest::newRow("overlapping record: the later bytes win") << "0:010203 1:AA flush"
                                                             << "0:01AA03--" << 256;
    QTest::newRow("no flush: the tail stays pending") << "0:010203040506"
                                                      << "0:01020304" << 256;
    // 2 + 255 bytes: the first 256 go out, the last byte waits for the next record.
    const QString big = QStringLiteral("AA").repeated(255);
    QTest::newRow("joined beyond 256") << "0:0102 2:" + big + " flush"
                                       << "0:0102" + big.left(508) + " 100:AA------" << 256;
    QTest::newRow("split at a smaller block limit")
        << "2:030405060708090A0B0C0D0E0F flush"
        << "0:----030405060708 8:090A0B0C C:0D0E0F--" << 8;
}

void TestWordAligner::blocks() {
    QFETCH(QString, input);
    QFETCH(QString, blocks);
    QFETCH(int, maxBlock);
    WordAligner aligner(maxBlock);
    QStringList out;
    for (const QString& item : input.split(' ')) {
        const QByteArray bytes = QByteArray::fromHex(item.section(':', 1).toLatin1());
        const uint32_t address = 0x08000000 + item.section(':', 0, 0).toUInt(nullptr, 16);
        for (const AlignedBlock& b :
             item == QLatin1String("flush")
                 ? aligner.flush()
                 : aligner.add(address, reinterpret_cast<const uint8_t*>(bytes.constData()),
                               int(bytes.size()))) {
            QString text = QString::number(b.address - 0x08000000, 16).toUpper() + ':';
            for (size_t i = 0; i < b.bytes.size(); ++i)
                text += b.given[i] ? QString::asprintf("%02X", b.bytes[i]) : QStringLiteral("--");
            out << text;
        }
    }
    QCOMPARE(out.join(' '), blocks);
    QCOMPARE(aligner.hasPendingTail(), !input.endsWith(QLatin1String("flush")));
}

QTEST_GUILESS_MAIN(TestWordAligner)
#include "tst_wordaligner.moc"
