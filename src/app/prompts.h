#pragma once

#include <QString>

namespace tessary {

enum class MessageIcon { None, Warning, Error };
enum class MessageButtons { Ok, OkCancel };
// The button that Return presses.
enum class DefaultButton { Ok, Cancel };

// The message boxes. The program shows them with the application's title;
// tests script the answers and record every message.
class Prompts {
public:
    virtual ~Prompts() = default;
    // Shows the message and returns true when the user answered OK.
    virtual bool message(const QString &text, MessageIcon icon, MessageButtons buttons,
                         DefaultButton defaultButton) = 0;

    void warning(const QString &text) { message(text, MessageIcon::Warning, MessageButtons::Ok, DefaultButton::Ok); }
    void error(const QString &text) { message(text, MessageIcon::Error, MessageButtons::Ok, DefaultButton::Ok); }
    void plain(const QString &text) { message(text, MessageIcon::None, MessageButtons::Ok, DefaultButton::Ok); }
    // A question whose OK loses work or writes to the board: Cancel is the
    // default, so that a Return meant for something else does no harm.
    [[nodiscard]] bool confirm(const QString &text)
    {
        return message(text, MessageIcon::Warning, MessageButtons::OkCancel, DefaultButton::Cancel);
    }
};

// The one-line status bar of the main window.
class StatusLine {
public:
    virtual ~StatusLine() = default;
    virtual void showStatus(const QString &text) = 0;
    [[nodiscard]] virtual QString statusText() const = 0;
};

// A status line that only remembers its text, for code run without a window.
class PlainStatusLine : public StatusLine {
public:
    void showStatus(const QString &text) override { m_text = text; }
    QString statusText() const override { return m_text; }

private:
    QString m_text;
};

// The open and save dialogs. An empty result means the user cancelled.
struct FileDialogOptions {
    QString title;
    QString filter;           // in the "Description (*.ext)|*.ext" form
    QString defaultSuffix;    // without the dot
    bool confirmOverwrite = false;
    bool mustExist = false;
};

class FileChooser {
public:
    virtual ~FileChooser() = default;
    [[nodiscard]] virtual QString openFile(const FileDialogOptions &options) = 0;
    [[nodiscard]] virtual QString saveFile(const FileDialogOptions &options) = 0;
};

} // namespace tessary
