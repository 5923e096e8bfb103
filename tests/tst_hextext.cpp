#include <QtTest>

#include "HexText.h"

class TestHexText : public QObject {
    Q_OBJECT

private slots:

    void parseGoAddress_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<uint>("address");
        QTest::newRow("0X prefix, seven digits") << "0X8000000" << true << 0x08000000u;
        QTest::newRow("blanks inside and around, h") << " 2000 100a H" << true << 0x2000100Au;
        QTest::newRow("all ones") << "FFFFffff" << true << 0xFFFFFFFFu;
        QTest::newRow("blanks only") << "   " << false << 0u;
        QTest::newRow("nine digits") << "0x080000000" << false << 0u;
        QTest::newRow("non-hex") << "0800G000" << false << 0u;
        QTest::newRow("prefix alone") << "0x" << false << 0u;
        QTest::newRow("prefix and suffix") << "0x0800h" << false << 0u;
    }

    void parseGoAddress() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(uint, address);
        const QByteArray utf8 = text.toUtf8();
        uint32_t result = 0xDEADBEEF;
        QCOMPARE(praxon::ParseGoAddress({utf8.constData(), size_t(utf8.size())}, &result), ok);
        QCOMPARE(result, ok ? address : 0xDEADBEEFu);
    }
};

QTEST_GUILESS_MAIN(TestHexText)
#include "tst_hextext.moc"
