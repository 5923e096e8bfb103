#include <QtTest>

#include "IntelHex.h"
#include "Messages.h"

using praxon::HexRecord;

namespace {

const QString kIllegal = "illegal_format", kChecksum = "bad_checksum";

// A record line with a correct checksum, built independently of the writer.
QString Line(int offset, int type, const QByteArray& data) {
    QByteArray b = QByteArray(1, char(data.size())) + char(offset >> 8) + char(offset) + char(type);
    b += data;
    int sum = 0;
    for (char c : b) sum -= uint8_t(c);
    return ":" + QString::fromLatin1((b + char(sum)).toHex().toUpper());
}

// "" for an accepted line (its reason left untouched), else the reason's name.
QString Parse(const QString& line, HexRecord& record) {
    praxon::HexLineError why = praxon::HexLineError::None;
    const bool ok = praxon::ParseHexLine(line.toStdString(), record, &why);
    if (ok) return why == praxon::HexLineError::None ? "" : "accepted, yet a reason";
    return why == praxon::HexLineError::None ? "rejected without a reason"
                                             : praxon::HexLineErrorName(why);
}

}  // namespace

// Whole files (line ends, line numbers, the line shown) are in tst_firmwareimage.
class TestIntelHexReader : public QObject {
    Q_OBJECT

private slots:
    // Lines parsed in order into one record. The result is the message of the first line refused,
    // else the segment and linear bases and the last data record's address.
    void lines_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("result");
        const auto row = [](const char* name, const QStringList& lines, const QString& result) {
            QTest::newRow(name) << lines << result;
        };
        const QString lin = ":020000040800F2", seg = ":020000021000EC", top = ":020000047FFF7C";
        const QString d16 = Line(0, 0, QByteArray(16, 1));
        row("bad checksum, line quoted", {":00000001FE \r"}, kChecksum);
        row("no colon", {d16.mid(1)}, kChecksum);
        row("non-hex in offset", {":00G00001FF"}, kIllegal);
        row("fewer data bytes than the count", {":1000000003ED"}, kIllegal);
        row("253 data bytes", {Line(0, 0, QByteArray(253, 1))}, kIllegal);
        row("02 with one byte", {Line(0, 2, "\1")}, "segment_length");
        row("04 with three bytes", {Line(0, 4, "\1\2\3")}, "linear_length");
        row("05 with two bytes", {Line(0, 5, "\1\2")}, "start_linear_length");
        row("03 start segment", {Line(0, 3, "\1\2\3\4")}, "start_segment");
        row("type 06", {Line(0, 6, "")}, kIllegal);
        row("04 value 0x8000", {Line(0, 4, QByteArray::fromHex("8000"))}, kIllegal);
        row("02 clears linear", {lin, seg, Line(0x10, 0, "\1")}, "1000 0 10010");
        row("04 clears segment, lower case", {seg, ":020000040801F1", d16.toLower()},
            "0 801 8010000");
        row("offset unsigned, 252 bytes, 05 and 01 keep the base, blank and CR",
            {lin, ":0400000508000000EF", Line(0x8000, 0, QByteArray(252, 1)), ":00000001FF \r"},
            "0 800 8008000");
        row("segment and offset at their maximum", {":02000002FFFFFE", Line(0xFFFF, 0, "\1")},
            "FFFF 0 10FFEF");
        row("last byte at 0x7FFFFFFF", {top, Line(0xFFF0, 0, QByteArray(16, 1))},
            "0 7FFF 7FFFFFF0");
        row("one byte past 0x7FFFFFFF", {top, Line(0xFFF0, 0, QByteArray(17, 1))}, kIllegal);
    }

    void lines() {
        QFETCH(QStringList, lines);
        HexRecord record;
        QString message;  // reading stops at the first refusal
        for (const QString& line : lines)
            if (message.isEmpty()) message = Parse(line, record);
        const QString bases =
            QString::asprintf("%X %X %X", record.Segment, record.Linear, record.Address);
        QTEST(message.isEmpty() ? bases : message, "result");
    }
};

QTEST_GUILESS_MAIN(TestIntelHexReader)
#include "tst_intelhexreader.moc"
