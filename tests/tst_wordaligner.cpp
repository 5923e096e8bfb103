#include <QTest>

#include "WordAligner.h"

// Contiguous records, long records split at 256 bytes and records ending at 2^32 are covered
// through the record write plans in tst_writeplan.
class TestWordAligner : public QObject {
    Q_OBJECT
private slots:
    // Chunks and blocks as "address:bytes" in hex; "--" is a padding byte the source did not
    // give; "flush" ends the file. Exact blocks also prove that no word is written twice, and
    // that a tail is written alone before a record that does not start in its word.
    void blocks_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("blocks");
        const auto row = [](const char* name, const QString& in, const QString& out) {
            QTest::newRow(name) << in << out;
        };
        // Each record joins the tail left in its word, across a gap or over bytes it gave already
        // (the image lets a record give a byte again with the same value), and leaves its own.
        row("records sharing a word", "0:01 2:02 2:020304 flush", "0:01--0203 4:04------");
        row("record in the next word", "1:01 4:07 flush", "0:--01---- 4:07------");
        row("record going backwards", "4:0102 0:11121314 flush", "4:0102---- 0:11121314");
    }

    void blocks() {
        QFETCH(QString, input);
        praxon::WordAligner aligner;
        QStringList out;
        for (const QString& item : input.split(' ')) {
            const QByteArray b = QByteArray::fromHex(item.section(':', 1).toLatin1());
            const uint32_t address = item.section(':', 0, 0).toUInt(nullptr, 16);
            const auto* data = reinterpret_cast<const uint8_t*>(b.constData());
            for (const praxon::AlignedBlock& block :
                 item == "flush" ? aligner.flush() : aligner.add(address, data, int(b.size()))) {
                out << QString::number(block.address, 16).toUpper() + ':';
                for (size_t i = 0; i < block.bytes.size(); ++i)
                    out.last() += block.given[i] ? QString::asprintf("%02X", block.bytes[i]) : "--";
            }
        }
        QTEST(out.join(' '), "blocks");
    }
};

QTEST_GUILESS_MAIN(TestWordAligner)
#include "tst_wordaligner.moc"
