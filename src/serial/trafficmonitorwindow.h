#pragma once

#include "app/prompts.h"

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tessary {

class TrafficRecord;

// "Traffic monitor": what goes over the serial line, as it happens, in a
// fixed-pitch view that follows the end unless the user has scrolled up;
// "Copy", "Clear" and "Save as...". Modeless, at most one. The record is
// taken while the window is open.
class TrafficMonitorWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr QSize WindowSize{960, 520};

    // Communication > Traffic monitor: brings the open monitor forward, or
    // creates one beside the main window.
    static TrafficMonitorWindow *showMonitor(QWidget *mainWindow, TrafficRecord &record, Prompts &prompts,
                                             FileChooser &files);

    TrafficMonitorWindow(TrafficRecord &record, Prompts &prompts, FileChooser &files, QWidget *parent = nullptr);
    ~TrafficMonitorWindow() override;

    static FileDialogOptions saveDialog();

    // The buttons.
    void copy();
    void clear();
    void saveAs();

    // Shows what the record took since the last look; the record's signal
    // calls it, tests may call it directly.
    void refresh();
    [[nodiscard]] QString text() const;
    // Whether new lines scroll the view to them (the user has not scrolled up).
    [[nodiscard]] bool followsEnd() const;

private:
    void onCleared();

    TrafficRecord &m_record;
    Prompts &m_prompts;
    FileChooser &m_files;
    QPlainTextEdit *m_view = nullptr;
    QPushButton *m_copy = nullptr;
    QPushButton *m_clear = nullptr;
    QPushButton *m_save = nullptr;
    qint64 m_next = 0; // the number of the next record line to show
};

} // namespace tessary
