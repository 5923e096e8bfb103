#include <QApplication>
#include <QFileInfo>

#include "FineTimers.h"
#include "MainForm.h"

// The program is its window: no command line is read.
int main(int argc, char* argv[]) {
    praxon::PreferFineTimers();
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Praxon"));
    QApplication::setApplicationName(
        QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
    praxon::MainForm window;
    window.show();
    return app.exec();
}
