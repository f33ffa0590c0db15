#pragma once

#include "app/prompts.h"

#include <QPointer>
#include <QWidget>

namespace tessary {

// The application title every message box carries.
inline QString applicationTitle() { return QStringLiteral("Tessary Configurator 2.3"); }

// Message boxes over a parent window, titled with the application's title.
class MessageBoxPrompts : public Prompts {
public:
    explicit MessageBoxPrompts(QWidget *parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget *parent) { m_parent = parent; }
    bool message(const QString &text, MessageIcon icon, MessageButtons buttons, DefaultButton defaultButton) override;

private:
    QPointer<QWidget> m_parent;
};

// The desktop's open and save dialogs.
class DialogFileChooser : public FileChooser {
public:
    explicit DialogFileChooser(QWidget *parent = nullptr) : m_parent(parent) {}
    QString openFile(const FileDialogOptions &options) override;
    QString saveFile(const FileDialogOptions &options) override;

    // "Description (*.ext)|*.ext" to the "Description (*.ext)" form of Qt.
    static QString qtFilter(const QString &filter);

private:
    QString run(const FileDialogOptions &options, bool save);
    QPointer<QWidget> m_parent;
};

} // namespace tessary
