#pragma once

#include "app/appservices.h"
#include "app/appstate.h"
#include "app/prompts.h"
#include "configuration/configurationeditor.h"
#include "database/mechanismdatabase.h"
#include "serial/commandgate.h"

#include <QMainWindow>
#include <QMap>

class QAction;
class QButtonGroup;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QMenu;
class QShowEvent;

namespace tessary {

// The program's working window: the mechanism database on the left, the
// configuration editor in the middle, the printer commands on the right and
// a one-line status bar. The other parts find its controls by object name;
// the window itself only builds them, sets the start state and guards the
// way out.
class MainFrm : public QMainWindow, public StatusLine {
    Q_OBJECT
public:
    static QString modifiedQuestion() { return QStringLiteral("Database has been modified ! Quit anyway ?"); }

    explicit MainFrm(AppServices &services, QWidget *parent = nullptr);
    ~MainFrm() override;

    // The start state of the window and the program-wide state. Runs once
    // when the window is first shown; tests call it directly.
    void formLoad();

    [[nodiscard]] MechanismDatabase &database() { return m_database; }
    [[nodiscard]] ConfigurationEditor &editor() { return m_editor; }
    [[nodiscard]] AppServices &services() { return m_services; }
    // The pop-up menu of the database list; never in the menu bar.
    [[nodiscard]] QMenu *dbOpsMenu() const { return m_dbOps; }
    // The exclusive group of the option buttons in the group box of that
    // object name ("Frame7", "Printermode", ...), or nullptr.
    [[nodiscard]] QButtonGroup *buttonGroup(const QString &frameName) const;

    // StatusLine
    void showStatus(const QString &text) override;
    [[nodiscard]] QString statusText() const override;

    // The Exit menu item: asks about unsaved changes, then ends the program.
    void exitProgram();

    // A fixed size, the one the window needs, centred in the screen's
    // available area; where that is smaller (a large scale factor), the
    // area's size, the content scrolling. Runs when the window is first shown.
    void fitToScreen(const QRect &available);

signals:
    // The user chose to leave and the window has closed (or is closing once
    // the printer command in progress has stopped). The program quits on it.
    void quitRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus();
    QGroupBox *buildDatabaseColumn();
    QGroupBox *buildEditorColumn();
    QGroupBox *buildPrinterColumn();
    QGroupBox *optionGroup(QWidget *parent, const QString &name, const QString &caption,
                           const QList<QPair<QString, QString>> &options);
    void setPrinterCommandsBusy(bool busy);
    // Whether leaving may lose nothing the user wants: asks when the
    // database holds unsaved changes.
    [[nodiscard]] bool confirmLeaving();

    AppServices &m_services;
    QLabel *m_statusLabel = nullptr;
    MechanismDatabase m_database{this};
    ConfigurationEditor m_editor;
    QMenu *m_dbOps = nullptr;
    QAction *m_detectPrinter = nullptr;
    QGroupBox *m_printerColumn = nullptr;
    QMap<QString, QButtonGroup *> m_groups;
    bool m_loaded = false;
    bool m_centred = false;
    // The user has agreed to leave: closing asks no second time.
    bool m_leaveConfirmed = false;
    // A close waits for the printer command to stop.
    bool m_closeAfterCommand = false;
};

} // namespace tessary
