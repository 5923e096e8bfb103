// Takes the README's pictures: the window, after a simulated board was connected and programmed
// with the example firmware, or the options dialog as the window's 选项 button opens it once
// connected, with the usual wiring of reset on DTR and BOOT0 on RTS chosen, or the option-bytes
// dialog (opened from the options) after Read on a board with its first two 4 KB blocks
// write-protected, the watchdog choice changed; in Chinese, or in English after --en.
//   praxon_window_screenshot [--en] OUTPUT.png FIRMWARE.hex
//   praxon_window_screenshot [--en] --options OUTPUT.png
//   praxon_window_screenshot [--en] --option-bytes OUTPUT.png
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "ComPorts.h"
#include "DialogProvider.h"
#include "MainForm.h"
#include "Settings.h"
#include "Simulator.h"

namespace {

// Nothing should ask anything on this path; a message would mean the run went wrong.
class NoDialogs : public praxon::DialogProvider {
public:
    QStringList messages;
    void message(QWidget*, const QString&, const QString& text) override { messages << text; }
    QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
    QString saveFileName(QWidget*, const QString&, const QString&) override { return {}; }
    QString askText(QWidget*, const QString&, const QString&, const QString&, bool* ok) override {
        *ok = false;
        return {};
    }
    bool openUrl(const QUrl&) override { return false; }
    bool askYesNo(QWidget*, const QString&, const QString&) override { return false; }
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QStringList args = QApplication::arguments().mid(1);
    const bool english = args.removeAll(QStringLiteral("--en")) > 0;
    const bool optionsDialog = args.size() == 2 && args.at(0) == QLatin1String("--options");
    const bool optionBytes = args.size() == 2 && args.at(0) == QLatin1String("--option-bytes");
    if (args.size() != 2) {
        std::fprintf(stderr,
                     "usage: %s [--en] OUTPUT.png FIRMWARE.hex\n       %s [--en] --options "
                     "OUTPUT.png\n       %s [--en] --option-bytes OUTPUT.png\n",
                     argv[0], argv[0], argv[0]);
        return 2;
    }
    const QString output = args.at(optionsDialog || optionBytes ? 1 : 0);
    const QString firmware = args.at(1);
    QApplication::setOrganizationName(QStringLiteral("Praxon"));
    QTemporaryDir config;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    praxon::ConfigValues settings;
    settings.language = english ? praxon::Language::English : praxon::Language::Chinese;
    praxon::writeConfig(settings);

    praxon::sim::SimulatorOptions options;
    options.board.flashKb = 64;
    if (optionBytes) options.board.optionEdits = {"WRP0=0xFC"};
    praxon::sim::Simulator board(options);
    std::string error;
    if (!board.start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }
    const QString port = QString::fromStdString(board.portPath());
    praxon::ListPortMap ports = praxon::ListPortMap::fromNames({QStringLiteral("ttyS0"), port});
    NoDialogs dialogs;
    praxon::MainFormOptions windowOptions;
    windowOptions.ports = &ports;
    windowOptions.dialogs = &dialogs;
    praxon::MainForm window(windowOptions);
    window.show();

    int status = 1;
    auto connectBoard = [&] {
        window.findChild<QComboBox*>(QStringLiteral("CombComPort"))->setEditText(port);
        window.findChild<QPushButton*>(QStringLiteral("CHECKCMD"))->click();
    };
    if (optionBytes) {
        QTimer::singleShot(200, &window, [&] {
            connectBoard();
            // Each dialog runs its own loop: act from inside it.
            QTimer::singleShot(300, &window, [&] {
                auto* options = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                if (!options) {
                    app.quit();
                    return;
                }
                QTimer::singleShot(300, &window, [&, options] {
                    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                    if (!dialog || dialog == options) return;
                    dialog->findChild<QPushButton*>(QStringLiteral("CmdObRead"))->click();
                    // Once the table that Read replaced is gone.
                    QTimer::singleShot(100, dialog, [dialog] {
                        if (auto* watchdog =
                                dialog->findChild<QComboBox*>(QStringLiteral("CboWDG_SW")))
                            watchdog->setCurrentIndex(watchdog->findData(0));
                        dialog->adjustSize();
                    });
                    QTimer::singleShot(400, dialog, [&, dialog] {
                        if (!dialogs.messages.isEmpty())
                            std::fprintf(stderr, "message: %s\n",
                                         qPrintable(dialogs.messages.join('\n')));
                        else if (dialog->grab().save(output))
                            status = 0;
                        dialog->reject();
                    });
                });
                options->findChild<QPushButton*>(QStringLiteral("CmdOptionBytes"))->click();
                options->reject();
                app.quit();
            });
            window.findChild<QPushButton*>(QStringLiteral("CmdOptions"))->click();
        });
        app.exec();
        return status;
    }
    if (optionsDialog) {
        QTimer::singleShot(200, &window, [&] {
            connectBoard();  // the option bytes are offered
            // The dialog runs its own loop: take the picture from inside it.
            QTimer::singleShot(300, &window, [&] {
                auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                auto* wiring = dialog ? dialog->findChild<QComboBox*>("CboWiring") : nullptr;
                if (wiring) wiring->setCurrentIndex(1);
                if (wiring && dialog->grab().save(output)) status = 0;
                if (dialog) dialog->reject();
                app.quit();
            });
            window.findChild<QPushButton*>(QStringLiteral("CmdOptions"))->click();
        });
        app.exec();
        return status;
    }
    QTimer::singleShot(200, &window, [&] {
        connectBoard();
        window.findChild<QLineEdit*>(QStringLiteral("TxtDownloadFile"))->setText(firmware);
        window.findChild<QPushButton*>(QStringLiteral("CmdStart"))->click();
        // Let the last repaint happen before the picture is taken.
        QTimer::singleShot(300, &window, [&] {
            if (!dialogs.messages.isEmpty())
                std::fprintf(stderr, "message: %s\n", qPrintable(dialogs.messages.join('\n')));
            else if (window.grab().save(output))
                status = 0;
            app.quit();
        });
    });
    app.exec();
    return status;
}
