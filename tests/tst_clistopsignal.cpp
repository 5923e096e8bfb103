// Ctrl+C in praxon-cli: SIGINT and SIGTERM become a stopRequested signal delivered by the event
// loop, never acted on inside the signal handler.
#include <QSignalSpy>
#include <QtTest>
#include <csignal>

#include "StopSignal.h"

using namespace praxon::cli;

class TestCliStopSignal : public QObject {
    Q_OBJECT
  private slots:
    void signalBecomesStopRequest_data();
    void signalBecomesStopRequest();
    void previousActionRestoredAfterwards();
};

void TestCliStopSignal::signalBecomesStopRequest_data() {
    QTest::addColumn<int>("signo");
    QTest::addColumn<int>("count");
    QTest::newRow("SIGINT once") << SIGINT << 1;
    QTest::newRow("SIGTERM once") << SIGTERM << 1;
    QTest::newRow("SIGINT three times") << SIGINT << 3;
}

void TestCliStopSignal::signalBecomesStopRequest() {
    QFETCH(int, signo);
    QFETCH(int, count);
    StopSignal stop;
    QVERIFY(stop.installed());
    QSignalSpy spy(&stop, &StopSignal::stopRequested);
    for (int i = 0; i < count; ++i) ::raise(signo);
    // Nothing happens inside the handler itself; the event loop delivers it.
    QCOMPARE(spy.count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 1, 5000);
    // Signals that arrive together are one request; no request is left behind.
    QTest::qWait(50);
    QCOMPARE(spy.count(), 1);
}

void TestCliStopSignal::previousActionRestoredAfterwards() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction before {};
    ::sigaction(SIGINT, &ignore, &before);
    {
        StopSignal stop;
        struct sigaction during {};
        ::sigaction(SIGINT, nullptr, &during);
        QVERIFY(during.sa_handler != SIG_IGN);
    }
    struct sigaction after {};
    ::sigaction(SIGINT, nullptr, &after);
    QVERIFY(after.sa_handler == SIG_IGN);
    ::sigaction(SIGINT, &before, nullptr);
}

QTEST_GUILESS_MAIN(TestCliStopSignal)
#include "tst_clistopsignal.moc"
