#pragma once

#include "app/prompts.h"

#include <QList>
#include <QStringList>

namespace tessary::test {

// Message boxes answered from a script; every message shown is recorded.
class ScriptedPrompts : public Prompts {
public:
    struct Shown {
        QString text;
        MessageIcon icon;
        MessageButtons buttons;
        DefaultButton defaultButton;
    };

    bool message(const QString &text, MessageIcon icon, MessageButtons buttons, DefaultButton defaultButton) override;

    // Answers for the coming OK/Cancel questions, in order; when the script
    // runs out, questions are answered OK.
    void answer(std::initializer_list<bool> answers) { m_answers.append(answers); }

    QList<Shown> shown;
    [[nodiscard]] QStringList texts() const;
    // The messages as shown: "W" warning, "E" error, "N" no icon; then " " for OK alone, "? " for OK/Cancel
    // with Cancel the default, "?OK " with OK the default; then the text.
    [[nodiscard]] QStringList described() const;
    void clear() { shown.clear(); }

private:
    QList<bool> m_answers;
};

// The status bar: every text shown, not only the last.
class RecordingStatusLine : public StatusLine {
public:
    void showStatus(const QString &text) override { shown << text; }
    QString statusText() const override { return shown.isEmpty() ? QString() : shown.constLast(); }

    QStringList shown;
};

class ScriptedFileChooser : public FileChooser {
public:
    QString openFile(const FileDialogOptions &options) override { return take(options, false); }
    QString saveFile(const FileDialogOptions &options) override { return take(options, true); }

    QStringList paths; // returned in order; empty string = cancel; none left = cancel
    QList<FileDialogOptions> asked;
    QList<bool> askedWasSave;

private:
    QString take(const FileDialogOptions &options, bool save)
    {
        asked.append(options);
        askedWasSave.append(save);
        return paths.isEmpty() ? QString() : paths.takeFirst();
    }
};

} // namespace tessary::test
