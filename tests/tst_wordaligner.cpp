#include <QSet>
#include <QTest>

#include "WordAligner.h"

using namespace praxon;

namespace {
// "AAAAAAAA:hex" -> address and bytes.
QPair<uint32_t, QByteArray> chunk(const QString& text) {
    return {text.section(':', 0, 0).toUInt(nullptr, 16),
            QByteArray::fromHex(text.section(':', 1).toLatin1())};
}

// A block as "AAAAAAAA:hex", with "--" for a padding byte the source did not give.
QString blockText(const AlignedBlock& block) {
    QString text = QString::asprintf("%08X:", block.address);
    for (size_t i = 0; i < block.bytes.size(); ++i)
        text += block.given[i] ? QString::asprintf("%02X", block.bytes[i]) : QStringLiteral("--");
    return text;
}

}  // namespace

class TestWordAligner : public QObject {
    Q_OBJECT
private slots:
    void blocks_data();
    void blocks();
};

void TestWordAligner::blocks_data() {
    QTest::addColumn<QStringList>("input");  // chunks in order; "flush" at the end of the file
    QTest::addColumn<QStringList>("blocks");
    QTest::addColumn<int>("maxBlock");
    QTest::newRow("6 + 10 contiguous")
        << QStringList{"08000000:A0A1A2A3A4A5", "08000006:B0B1B2B3B4B5B6B7B8B9", "flush"}
        << QStringList{"08000000:A0A1A2A3", "08000004:A4A5B0B1B2B3B4B5B6B7B8B9"} << 256;
    QTest::newRow("1-byte records fill a word")
        << QStringList{"08000001:01", "08000002:02", "08000003:03", "08000004:04", "flush"}
        << QStringList{"08000000:--010203", "08000004:04------"} << 256;
    QTest::newRow("gap inside a word")
        << QStringList{"08000000:0102", "08000003:03040506", "flush"}
        << QStringList{"08000000:0102--03", "08000004:040506--"} << 256;
    QTest::newRow("next record in another word: tail written alone first")
        << QStringList{"08000000:010203040506", "08000008:0708", "flush"}
        << QStringList{"08000000:01020304", "08000004:0506----", "08000008:0708----"} << 256;
    QTest::newRow("record going backwards: tail written alone first")
        << QStringList{"08000004:0102", "08000000:11121314", "flush"}
        << QStringList{"08000004:0102----", "08000000:11121314"} << 256;
    QTest::newRow("overlapping record: the later bytes win")
        << QStringList{"08000000:010203", "08000001:AA", "flush"}
        << QStringList{"08000000:01AA03--"} << 256;
    QTest::newRow("no flush: the tail stays pending")
        << QStringList{"08000000:010203040506"} << QStringList{"08000000:01020304"} << 256;
    // 2 + 255 bytes: the first 256 go out, the last byte waits for the next record.
    const QString big = QStringLiteral("AA").repeated(255);
    QTest::newRow("joined beyond 256")
        << QStringList{"08000000:0102", "08000002:" + big, "flush"}
        << QStringList{"08000000:0102" + big.left(508), "08000100:" + big.mid(508) + "------"}
        << 256;
    QTest::newRow("split at a smaller block limit")
        << QStringList{"08000002:030405060708090A0B0C0D0E0F", "flush"}
        << QStringList{"08000000:----030405060708", "08000008:090A0B0C", "0800000C:0D0E0F--"} << 8;
}

void TestWordAligner::blocks() {
    QFETCH(QStringList, input);
    QFETCH(QStringList, blocks);
    QFETCH(int, maxBlock);
    WordAligner aligner(maxBlock);
    std::vector<AlignedBlock> out;
    for (const QString& item : input) {
        std::vector<AlignedBlock> now;
        if (item == QLatin1String("flush")) {
            now = aligner.flush();
        } else {
            const auto [address, bytes] = chunk(item);
            now = aligner.add(address, reinterpret_cast<const uint8_t*>(bytes.constData()),
                              int(bytes.size()));
        }
        out.insert(out.end(), now.begin(), now.end());
    }
    QStringList texts;
    QSet<uint32_t> words;
    for (const AlignedBlock& b : out) {
        texts << blockText(b);
        QCOMPARE(b.address % 4, 0u);
        QCOMPARE(b.bytes.size() % 4, size_t(0));
        QVERIFY(!b.bytes.empty() && int(b.bytes.size()) <= maxBlock);
        QCOMPARE(b.given.size(), b.bytes.size());
        for (uint32_t a = b.address; a < b.address + b.bytes.size(); a += 4) {
            QVERIFY2(!words.contains(a), "a word written twice");
            words.insert(a);
        }
    }
    QCOMPARE(texts, blocks);
    QCOMPARE(aligner.hasPendingTail(), input.last() != QLatin1String("flush"));
}

QTEST_GUILESS_MAIN(TestWordAligner)
#include "tst_wordaligner.moc"
