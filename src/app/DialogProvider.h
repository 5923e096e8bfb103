#pragma once

#include <QString>
#include <QUrl>

class QWidget;

namespace praxon {

// Everything the window hands to the user or to the desktop and waits for: message boxes, file
// dialogs, a line of input, opening documents. Tests put their own answers in its place.
class DialogProvider {
public:
    virtual ~DialogProvider() = default;
    // Modal message with an OK button.
    virtual void message(QWidget* parent, const QString& title, const QString& text) = 0;
    // Empty result: cancelled. filter uses Qt's "Description (*.x);;..." form.
    virtual QString openFileName(QWidget* parent, const QString& folder, const QString& filter) = 0;
    virtual QString saveFileName(QWidget* parent, const QString& folder, const QString& filter) = 0;
    // One line of text, starting from initial; *ok is false when cancelled.
    virtual QString askText(QWidget* parent, const QString& title, const QString& label,
                            const QString& initial, bool* ok) = 0;
    // Hands a document or web address to the desktop's default application.
    virtual bool openUrl(const QUrl& url) = 0;
    // A question with Yes and No, No the default; true only for Yes.
    virtual bool askYesNo(QWidget* parent, const QString& title, const QString& text) = 0;
};

// Qt's message box, file and input dialogs, QDesktopServices for documents.
class StandardDialogs : public DialogProvider {
public:
    void message(QWidget* parent, const QString& title, const QString& text) override;
    QString openFileName(QWidget* parent, const QString& folder, const QString& filter) override;
    QString saveFileName(QWidget* parent, const QString& folder, const QString& filter) override;
    QString askText(QWidget* parent, const QString& title, const QString& label,
                    const QString& initial, bool* ok) override;
    bool openUrl(const QUrl& url) override;
    bool askYesNo(QWidget* parent, const QString& title, const QString& text) override;
};

}  // namespace praxon
