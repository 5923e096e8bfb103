#pragma once

#include <QIODevice>
#include <QString>

#include "CliOptions.h"
#include "Host.h"

namespace praxon::cli {

// The engine's host on a terminal or in a script: log lines go to out exactly as the window's
// log holds them, message-box texts to err, and panel texts to err only when err is a terminal
// (one status line, rewritten in place). Dialogs and options are answered from the command line.
class CliHost : public Host {
public:
    CliHost(const CliOptions& options, QIODevice& out, QIODevice& err, bool errIsTerminal);

    void appendLog(const QString& line, bool clearFirst) override;
    void setPanelText(int panel, const QString& text) override;
    void setLamp(Lamp lamp) override;
    void showMessage(const QString& text) override;
    void enableCommands(const CommandStates& states) override;

    QString portText() const override;
    QString goAddressText() const override;
    QString downloadFileText() const override;
    void setDownloadFileText(const QString& path) override;
    bool eraseChecked() const override;
    bool verifyChecked() const override;
    bool protectChecked() const override;

    QString askOpenHexFile() override;
    QString askSaveFile() override;

    // A note of the command line itself (not the engine's), on err.
    void note(const QString& text);
    // Ends the status line, if one is shown, so the shell prompt starts on a fresh line.
    void finish();

    const CommandStates& commandStates() const { return states_; }

private:
    void writeErr(const QString& text);
    void clearStatusLine();
    void drawStatusLine();

    CliOptions options_;
    QIODevice& out_;
    QIODevice& err_;
    bool errIsTerminal_;
    QString status_;  // text of the status line, empty when none is shown
    bool statusShown_ = false;
    CommandStates states_;
};

}  // namespace praxon::cli
