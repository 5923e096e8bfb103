#include "CliHost.h"

namespace praxon::cli {

namespace {
// Carriage return and "erase to end of line": rewrites the status line in place.
constexpr char kEraseLine[] = "\r\x1b[K";
}  // namespace

CliHost::CliHost(const CliOptions& options, QIODevice& out, QIODevice& err, bool errIsTerminal)
    : options_(options), out_(out), err_(err), errIsTerminal_(errIsTerminal) {}

void CliHost::appendLog(const QString& line, bool /*clearFirst*/) {
    // A terminal keeps its scroll-back; the window's size limit does not apply here.
    clearStatusLine();
    out_.write((line + '\n').toUtf8());
    drawStatusLine();
}

void CliHost::setPanelText(int panel, const QString& text) {
    // Panel 2 carries progress and results; 4 and 6 repeat what the log already says.
    if (panel != 2 || !errIsTerminal_) return;
    status_ = text;
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

QString CliHost::portText() const {
    return options_.port;
}
QString CliHost::goAddressText() const {
    return options_.goAddress;
}
QString CliHost::downloadFileText() const {
    return options_.file;
}
void CliHost::setDownloadFileText(const QString& path) {
    options_.file = path;
}
bool CliHost::eraseChecked() const {
    return options_.erase;
}
bool CliHost::verifyChecked() const {
    return options_.verify;
}
bool CliHost::protectChecked() const {
    return options_.protect;
}

QString CliHost::askOpenHexFile() {
    return options_.file;
}
QString CliHost::askSaveFile() {
    return options_.file;
}

void CliHost::note(const QString& text) {
    showMessage(text);
}

void CliHost::finish() {
    if (statusShown_) writeErr("\n");
    statusShown_ = false;
    status_.clear();
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
    writeErr(kEraseLine + status_);
    statusShown_ = true;
}

}  // namespace praxon::cli
