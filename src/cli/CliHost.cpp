#include "CliHost.h"

namespace praxon::cli {

namespace {
// Carriage return and "erase to end of line": rewrites the status line in place.
constexpr char kEraseLine[] = "\r\x1b[K";
}  // namespace

QString ProgressBytesText(qint64 done, qint64 total, qint64 bytes, qint64 milliseconds) {
    QString text = QString("%1/%2 bytes").arg(done).arg(total);
    if (milliseconds <= 0) return text;
    const double perSecond = double(bytes) * 1000.0 / double(milliseconds);
    if (perSecond < 1024) return text + QString(", %1 B/s").arg(qint64(perSecond));
    if (perSecond < 1024 * 1024)
        return text + QString(", %1 KB/s").arg(perSecond / 1024, 0, 'f', 1);
    return text + QString(", %1 MB/s").arg(perSecond / (1024 * 1024), 0, 'f', 1);
}

CliHost::CliHost(QIODevice& out, QIODevice& err, bool errIsTerminal,
                 std::function<qint64()> clockMs)
    : out_(out), err_(err), errIsTerminal_(errIsTerminal), clockMs_(std::move(clockMs)) {
    if (!clockMs_) {
        monotonic_.start();
        clockMs_ = [this] { return monotonic_.elapsed(); };
    }
}

void CliHost::appendLog(const QString& line, bool /*clearFirst*/) {
    // A terminal keeps its scroll-back; the window's size limit does not apply here.
    clearStatusLine();
    out_.write((line + '\n').toUtf8());
    drawStatusLine();
}

void CliHost::setStatusText(StatusField field, const QString& text) {
    // Device and link texts repeat what the log already says.
    if (field != StatusField::Progress || !errIsTerminal_) return;
    status_ = text;
    bytes_.clear();  // progress() follows when the text is a progress step
    drawStatusLine();
}

void CliHost::setLamp(Lamp) {}

void CliHost::showMessage(const QString& text) {
    clearStatusLine();
    writeErr(text + '\n');
    drawStatusLine();
}

void CliHost::enableCommands(const CommandStates& states) {
    states_ = states;
}

void CliHost::progress(qint64 done, qint64 total) {
    if (!errIsTerminal_) return;
    const qint64 now = clockMs_();
    // Progress that goes back or changes its total belongs to the next operation (the verify
    // after a write, say): its rate counts from here.
    if (done <= lastDone_ || total != lastTotal_) startMs_ = now, startDone_ = done;
    lastDone_ = done;
    lastTotal_ = total;
    bytes_ = ProgressBytesText(done, total, done - startDone_, now - startMs_);
    drawStatusLine();
}

void CliHost::note(const QString& text) {
    showMessage(text);
}

void CliHost::print(const QString& text) {
    clearStatusLine();
    out_.write(text.toUtf8());
    drawStatusLine();
}

void CliHost::finish() {
    if (statusShown_) writeErr("\n");
    statusShown_ = false;
    status_.clear();
    bytes_.clear();
    lastDone_ = lastTotal_ = -1;
}

void CliHost::writeErr(const QString& text) {
    err_.write(text.toUtf8());
}

void CliHost::clearStatusLine() {
    if (!statusShown_) return;
    writeErr(kEraseLine);
    statusShown_ = false;
}

void CliHost::drawStatusLine() {
    if (!errIsTerminal_ || status_.isEmpty()) return;
    writeErr(kEraseLine + (bytes_.isEmpty() ? status_ : status_ + ' ' + bytes_));
    statusShown_ = true;
}

}  // namespace praxon::cli
