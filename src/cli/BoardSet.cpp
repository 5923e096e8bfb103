#include "BoardSet.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QThread>

#include "CliHost.h"
#include "CliRunner.h"
#include "Engine.h"
#include "QtSerialPort.h"

namespace praxon::cli {

TaggedOutput::TaggedOutput(QIODevice& target, std::mutex& lock, const QString& tag)
    : target_(target), lock_(lock), tag_(tag.toUtf8()) {
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

TaggedOutput::~TaggedOutput() {
    if (!pending_.isEmpty()) writeLine(pending_ + '\n');
}

qint64 TaggedOutput::writeData(const char* data, qint64 size) {
    pending_.append(data, size);
    qsizetype end;
    while ((end = pending_.indexOf('\n')) >= 0) {
        writeLine(pending_.left(end + 1));
        pending_.remove(0, end + 1);
    }
    return size;
}

void TaggedOutput::writeLine(const QByteArray& line) {
    const std::lock_guard<std::mutex> guard(lock_);
    target_.write(tag_ + line);
}

struct BoardSet::Board {
    QString port;
    std::optional<FirmwareImage> image;  // program: this board's copy
    std::mutex lock;                     // guards runner and stopRequested
    CliRunner* runner = nullptr;         // while it runs, in the board's thread
    bool stopRequested = false;
    BoardOutcome outcome;
};

BoardSet::BoardSet(const CliOptions& options, Language language, QIODevice& out, QIODevice& err)
    : options_(options), language_(language), out_(out), err_(err) {}

BoardSet::~BoardSet() = default;

void BoardSet::stop() {
    for (const auto& board : boards_) {
        const std::lock_guard<std::mutex> guard(board->lock);
        board->stopRequested = true;
        // Queued into the board's thread: its waits run that thread's event loop.
        if (board->runner)
            QMetaObject::invokeMethod(board->runner, &CliRunner::stop, Qt::QueuedConnection);
    }
}

void BoardSet::runBoard(Board& board, const std::optional<FirmwareImage>& image) {
    const QString tag = '[' + board.port + "] ";
    // JSON lines name their port in a field of their own.
    TaggedOutput out(out_, outLock_, options_.json ? QString() : tag), err(err_, errLock_, tag);
    CliHost host(out, err, false);  // no status line: the boards' would overwrite each other
    host.setLanguage(language_);
    host.setJson(options_.json);
    if (options_.json) host.setPort(board.port);
    QtSerialPort port;
    Engine engine(host, port);
    engine.initialise();
    CliOptions options = options_;
    options.port = board.port;
    CliRunner runner(engine, host, options);
    if (image) runner.setImage(*image);
    runner.setSerialState(serialState_.get());
    {
        const std::lock_guard<std::mutex> guard(board.lock);
        if (board.stopRequested) {
            host.note(QStringLiteral("Stopped."));
            board.outcome.port = board.port;
            board.outcome.result = BoardOutcome::Stopped;
            board.outcome.finished = QDateTime::currentDateTimeUtc();
            return;
        }
        board.runner = &runner;
    }
    runner.run();
    {
        const std::lock_guard<std::mutex> guard(board.lock);
        board.runner = nullptr;
    }
    port.close();
    board.outcome = runner.outcome();
}

int BoardSet::run() {
    // The run's own reports, before and after the boards: the file, the serial numbers' plan,
    // the record.
    CliHost host(out_, err_, false);
    host.setLanguage(language_);
    host.setJson(options_.json);
    const auto refuse = [&] {
        host.finish(false, ExitFailure);
        return int(ExitFailure);
    };
    std::optional<FirmwareImage> image;
    QString sha256;
    if (options_.command == Command::Program) {
        // The engine only reads the file here: not initialised, as it has no link to report.
        QtSerialPort unopened;
        Engine reader(host, unopened);
        image = reader.loadImage(options_.imageSource());
        if (!image) return refuse();
        if (options_.serialAddress) {
            serialState_ =
                std::make_unique<SerialStateFile>(options_.serialState, options_.serialStart);
            if (!CheckSerialPlan(options_, *image, *serialState_, host)) return refuse();
        }
        sha256 = FileSha256(options_.file);
    }
    if (!options_.recordPath.isEmpty() && !CheckRecordPath(options_.recordPath, host))
        return refuse();

    for (const QString& port : options_.ports) {
        auto board = std::make_unique<Board>();
        board->port = port;
        board->image = image;  // copied here: FirmwareImage joins its runs lazily, not thread-safe
        boards_.push_back(std::move(board));
    }
    QEventLoop loop;
    size_t running = boards_.size();
    std::vector<std::unique_ptr<QThread>> threads;
    for (const auto& board : boards_) {
        Board* b = board.get();
        threads.emplace_back(QThread::create([this, b] { runBoard(*b, b->image); }));
        connect(threads.back().get(), &QThread::finished, &loop, [&] {
            if (--running == 0) loop.quit();
        });
    }
    for (const auto& thread : threads) thread->start();
    loop.exec();
    for (const auto& thread : threads) thread->wait();

    bool allOk = true;
    for (const auto& board : boards_) {
        outcomes_.push_back(board->outcome);
        allOk = allOk && board->outcome.result == BoardOutcome::Ok;
    }
    int status = allOk ? ExitSuccess : ExitFailure;
    // A board's success is only worth as much as its line in the record.
    if (!options_.recordPath.isEmpty() &&
        !AppendRecord(options_.recordPath, outcomes_,
                      options_.command == Command::Program ? options_.file : QString(), sha256,
                      host))
        status = ExitFailure;
    if (options_.json) {
        QJsonObject summary = SummaryJson(outcomes_, status);
        summary["time"] = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
        out_.write(QJsonDocument(summary).toJson(QJsonDocument::Compact) + '\n');
    } else {
        out_.write(SummaryText(outcomes_).toUtf8());
    }
    return status;
}

}  // namespace praxon::cli
