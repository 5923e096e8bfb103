#include "DialogProvider.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace praxon {

void StandardDialogs::message(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

// No caption of their own: the platform's default titles are shown.
QString StandardDialogs::openFileName(QWidget* parent, const QString& folder,
                                      const QString& filter) {
    return QFileDialog::getOpenFileName(parent, QString(), folder, filter);
}

QString StandardDialogs::saveFileName(QWidget* parent, const QString& folder,
                                      const QString& filter) {
    return QFileDialog::getSaveFileName(parent, QString(), folder, filter);
}

QString StandardDialogs::askText(QWidget* parent, const QString& title, const QString& label,
                                 const QString& initial, bool* ok) {
    return QInputDialog::getText(parent, title, label, QLineEdit::Normal, initial, ok);
}

bool StandardDialogs::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

bool StandardDialogs::askYesNo(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace praxon
