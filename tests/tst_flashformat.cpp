#include <QTest>

#include "Format.h"

using namespace praxon;

class TestFlashFormat : public QObject {
    Q_OBJECT
private slots:
    void texts_data();
    void texts();
};

void TestFlashFormat::texts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    // Elapsed seconds: two decimals, nothing before the point below one second.
    QTest::newRow("0.57 s") << SecondsText(570'000'000) << ".57";
    QTest::newRow("0 s") << SecondsText(0) << ".00";
    QTest::newRow("0.999 s rounds to 1.00") << SecondsText(999'000'000) << "1.00";
    QTest::newRow("12.34 s") << SecondsText(12'340'000'000) << "12.34";
    // Download: at least two integer digits.
    QTest::newRow("download 7.5 %") << DownloadProgressText(75, 1000) << "完成07.50%.";
    QTest::newRow("download tiny") << DownloadProgressText(1, 100000) << "完成00.00%.";
    // Upload: at least one integer digit.
    QTest::newRow("upload 1 of 256") << UploadProgressText(1, 256) << "已读0.39%.";
}

void TestFlashFormat::texts() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

QTEST_GUILESS_MAIN(TestFlashFormat)
#include "tst_flashformat.moc"
