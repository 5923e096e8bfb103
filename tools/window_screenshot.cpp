// Takes the README's picture of the window: a simulated board is connected and programmed with
// the example firmware, then the window is saved as a PNG.
//   praxon_window_screenshot OUTPUT.png FIRMWARE.hex
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "ComPorts.h"
#include "DialogProvider.h"
#include "MainForm.h"
#include "Simulator.h"

namespace {

// Nothing should ask anything on this path; a message would mean the run went wrong.
class NoDialogs : public praxon::DialogProvider {
public:
    QStringList messages;
    void message(QWidget*, const QString&, const QString& text) override { messages << text; }
    QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
    QString saveFileName(QWidget*, const QString&, const QString&) override { return {}; }
    bool openUrl(const QUrl&) override { return false; }
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.png FIRMWARE.hex\n", argv[0]);
        return 2;
    }
    QApplication::setOrganizationName(QStringLiteral("Praxon"));
    QTemporaryDir config;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());

    praxon::sim::SimulatorOptions options;
    options.board.flashKb = 64;
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
    QTimer::singleShot(200, &window, [&] {
        window.findChild<QComboBox*>(QStringLiteral("CombComPort"))->setEditText(port);
        window.findChild<QPushButton*>(QStringLiteral("CHECKCMD"))->click();
        window.setDownloadFileText(QString::fromLocal8Bit(argv[2]));
        window.findChild<QPushButton*>(QStringLiteral("CmdStart"))->click();
        // Let the last repaint happen before the picture is taken.
        QTimer::singleShot(300, &window, [&] {
            if (!dialogs.messages.isEmpty())
                std::fprintf(stderr, "message: %s\n", qPrintable(dialogs.messages.join('\n')));
            else if (window.grab().save(QString::fromLocal8Bit(argv[1])))
                status = 0;
            app.quit();
        });
    });
    app.exec();
    return status;
}
