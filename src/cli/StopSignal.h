#pragma once

#include <QObject>
#include <csignal>

class QSocketNotifier;

namespace praxon::cli {

// Turns SIGINT and SIGTERM into a Qt signal: the handler only writes a byte to a pipe, which a
// socket notifier watches from the event loop (the waits of the engine run it). The previous
// actions come back when it is destroyed.
class StopSignal : public QObject {
    Q_OBJECT
public:
    explicit StopSignal(QObject* parent = nullptr);
    ~StopSignal() override;

signals:
    void stopRequested();

private:
    void readPipe();

    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

}  // namespace praxon::cli
