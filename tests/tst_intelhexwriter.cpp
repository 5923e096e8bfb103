#include <QtTest>

#include "IntelHex.h"

using namespace praxon;

class TestIntelHexWriter : public QObject {
    Q_OBJECT

private slots:

    void lines_data() {
        QTest::addColumn<QString>("got");
        QTest::addColumn<QString>("line");
        auto q = [](const std::string& s) { return QString::fromStdString(s); };
        auto data = [&](uint32_t address, const QByteArray& b, int count = 64) {
            return q(
                DataRecordLine(address, reinterpret_cast<const uint8_t*>(b.constData()), count));
        };
        QByteArray zeroSum(64, char(0));  // 0x40 + 0x01 + 0xBF = 0x100: checksum 00, never 100
        zeroSum[63] = char(0xBF);
        QTest::newRow("04, low bits ignored")
            << q(ExtendedLinearAddressLine(0x0801FFC0)) << ":020000040801F1";
        QTest::newRow("04 checksum 00")
            << q(ExtendedLinearAddressLine(0x00FA0000)) << ":0200000400FA00";
        QTest::newRow("offset keeps leading zeros")
            << data(0x08010A00, QByteArray(64, 1))
            << ":400A0000" + QString("01").repeated(64) + "76";
        QTest::newRow("data checksum 00")
            << data(0x08000100, zeroSum) << ":40010000" + QString("00").repeated(63) + "BF00";
        QTest::newRow("count 0") << data(0, zeroSum, 0) << "";
        QTest::newRow("count 256") << data(0, QByteArray(256, 0), 256) << "";
    }

    void lines() {
        QFETCH(QString, got);
        QTEST(got, "line");
    }
};

QTEST_GUILESS_MAIN(TestIntelHexWriter)
#include "tst_intelhexwriter.moc"
