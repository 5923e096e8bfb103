// Ctrl+C in praxon-cli: SIGINT and SIGTERM become one stopRequested signal delivered by the event
// loop, never acted on inside the signal handler; the previous action comes back afterwards.
#include <QSignalSpy>
#include <QtTest>
#include <csignal>

#include "StopSignal.h"

using namespace praxon::cli;

class TestCliStopSignal : public QObject {
    Q_OBJECT
private slots:
    void stopRequest_data();
    void stopRequest();
};

void TestCliStopSignal::stopRequest_data() {
    QTest::addColumn<int>("signo");
    QTest::addColumn<int>("count");
    QTest::newRow("SIGTERM once") << SIGTERM << 1;
    QTest::newRow("SIGINT three times") << SIGINT << 3;
}

void TestCliStopSignal::stopRequest() {
    QFETCH(int, signo);
    QFETCH(int, count);
    struct sigaction ignore {
    }, before{}, after{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(signo, &ignore, &before);
    {
        StopSignal stop;
        QVERIFY(stop.installed());
        QSignalSpy spy(&stop, &StopSignal::stopRequested);
        for (int i = 0; i < count; ++i) ::raise(signo);
        QCOMPARE(spy.count(), 0);  // nothing happens inside the handler itself
        QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 1, 5000);
        QTest::qWait(50);
        QCOMPARE(spy.count(), 1);  // signals that arrive together are one request
    }
    ::sigaction(signo, nullptr, &after);
    QVERIFY(after.sa_handler == SIG_IGN);
    ::sigaction(signo, &before, nullptr);
}

QTEST_GUILESS_MAIN(TestCliStopSignal)
#include "tst_clistopsignal.moc"
