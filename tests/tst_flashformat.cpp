#include <QTest>

#include "Format.h"

using namespace praxon;

class TestFlashFormat : public QObject {
    Q_OBJECT
private slots:
    void seconds_data();
    void seconds();
    void downloadProgress_data();
    void downloadProgress();
    void uploadProgress_data();
    void uploadProgress();
};

void TestFlashFormat::seconds_data() {
    QTest::addColumn<qint64>("ns");
    QTest::addColumn<QString>("text");
    QTest::newRow("0.57 s") << qint64(570'000'000) << ".57";
    QTest::newRow("0.25 s") << qint64(250'000'000) << ".25";
    QTest::newRow("0 s") << qint64(0) << ".00";
    QTest::newRow("3.5 s") << qint64(3'500'000'000) << "3.50";
    QTest::newRow("12.34 s") << qint64(12'340'000'000) << "12.34";
    QTest::newRow("0.999 s rounds to 1.00") << qint64(999'000'000) << "1.00";
}

void TestFlashFormat::seconds() {
    QFETCH(qint64, ns);
    QFETCH(QString, text);
    QCOMPARE(SecondsText(ns), text);
}

void TestFlashFormat::downloadProgress_data() {
    QTest::addColumn<qint64>("read");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("text");
    QTest::newRow("7.5 %") << qint64(75) << qint64(1000) << QStringLiteral("完成07.50%.");
    QTest::newRow("95 %") << qint64(950) << qint64(1000) << QStringLiteral("完成95.00%.");
    QTest::newRow("100 %") << qint64(10) << qint64(10) << QStringLiteral("完成100.00%.");
    QTest::newRow("tiny") << qint64(1) << qint64(100000) << QStringLiteral("完成00.00%.");
}

void TestFlashFormat::downloadProgress() {
    QFETCH(qint64, read);
    QFETCH(qint64, size);
    QFETCH(QString, text);
    QCOMPARE(DownloadProgressText(read, size), text);
}

void TestFlashFormat::uploadProgress_data() {
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QString>("text");
    QTest::newRow("first of 256") << qint64(1) << qint64(256) << QStringLiteral("已读0.39%.");
    QTest::newRow("eighth") << qint64(32) << qint64(256) << QStringLiteral("已读12.50%.");
    QTest::newRow("all") << qint64(256) << qint64(256) << QStringLiteral("已读100.00%.");
}

void TestFlashFormat::uploadProgress() {
    QFETCH(qint64, done);
    QFETCH(qint64, total);
    QFETCH(QString, text);
    QCOMPARE(UploadProgressText(done, total), text);
}

QTEST_GUILESS_MAIN(TestFlashFormat)
#include "tst_flashformat.moc"
