#pragma once

#include <QIODevice>
#include <QObject>
#include <memory>
#include <mutex>
#include <vector>

#include "BoardReport.h"
#include "CliOptions.h"

namespace praxon::cli {

class CliRunner;

// Writes whole lines to a device that several threads share, each line after a tag ("[port] ")
// so that the boards' lines can be told apart; a line is never split by another's.
class TaggedOutput : public QIODevice {
public:
    // lock guards target across every TaggedOutput that writes to it.
    TaggedOutput(QIODevice& target, std::mutex& lock, const QString& tag);
    ~TaggedOutput() override;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override;

private:
    void writeLine(const QByteArray& line);

    QIODevice& target_;
    std::mutex& lock_;
    QByteArray tag_;
    QByteArray pending_;  // the start of a line not yet ended
};

// The same command on several ports at once. Every board gets a thread of its own with its own
// port, engine and runner: the engine's waits run nested event loops, which in one thread would
// make the boards take turns. The image is read once, here, before any board is touched; each
// board's log lines carry its port, its JSON objects a "port" field. A summary table (or JSON
// object) ends the run, and --record gets one line per board.
class BoardSet : public QObject {
    Q_OBJECT
public:
    BoardSet(const CliOptions& options, Language language, QIODevice& out, QIODevice& err);
    ~BoardSet() override;

    // Returns the exit status: success only when every board succeeded.
    int run();
    const std::vector<BoardOutcome>& outcomes() const { return outcomes_; }

public slots:
    // Ctrl+C: every board's engine stops at its next check.
    void stop();

private:
    struct Board;
    void runBoard(Board& board, const std::optional<FirmwareImage>& image);

    CliOptions options_;
    Language language_;
    QIODevice& out_;
    QIODevice& err_;
    std::mutex outLock_, errLock_;
    std::unique_ptr<SerialStateFile> serialState_;
    std::vector<std::unique_ptr<Board>> boards_;
    std::vector<BoardOutcome> outcomes_;
};

}  // namespace praxon::cli
