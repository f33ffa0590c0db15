#include "startup/dialogprompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace tessary {

bool MessageBoxPrompts::message(const QString &text, MessageIcon icon, MessageButtons buttons,
                                DefaultButton defaultButton)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(applicationTitle());
    box.setText(text);
    box.setTextFormat(Qt::PlainText);
    box.setIcon(icon == MessageIcon::Warning ? QMessageBox::Warning
                : icon == MessageIcon::Error ? QMessageBox::Critical
                                             : QMessageBox::NoIcon);
    if (buttons == MessageButtons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(defaultButton == DefaultButton::Cancel ? QMessageBox::Cancel : QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
    return box.exec() == QMessageBox::Ok;
}

QString DialogFileChooser::qtFilter(const QString &filter)
{
    const int bar = filter.indexOf(QLatin1Char('|'));
    return bar < 0 ? filter : filter.left(bar);
}

QString DialogFileChooser::openFile(const FileDialogOptions &options) { return run(options, false); }

QString DialogFileChooser::saveFile(const FileDialogOptions &options) { return run(options, true); }

QString DialogFileChooser::run(const FileDialogOptions &options, bool save)
{
    QFileDialog dialog(m_parent, options.title);
    dialog.setNameFilter(qtFilter(options.filter));
    dialog.setDefaultSuffix(options.defaultSuffix);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (save && !options.confirmOverwrite)
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace tessary
