#pragma once

#include "printer/printerqueries.h"

#include <QObject>

#include <functional>

class QAction;
class QLabel;
class QPushButton;
class QWidget;

namespace tessary {

class ConfigurationEditor;
class MechanismDatabase;
class PortSelection;
class StatusLine;
struct AppServices;
struct PrinterLink;

// The main window's printer commands: "Check identity" (and the menu item
// "Detect a Printer"), "Check configuration", "Wake up", "Sleep" and "Reset".
// Finds its controls by object name under the window and runs every exchange
// through the services' command gate. Each command that did its work says so
// on the status line; one that failed leaves its failure's own message.
class PrinterBinding : public QObject {
    Q_OBJECT
public:
    // database: the list a configuration read from the board is looked up in.
    PrinterBinding(QWidget *window, AppServices &services, ConfigurationEditor &editor,
                   const MechanismDatabase &database, StatusLine &status, QObject *parent = nullptr);

    // How the port selection window is shown; the default runs it modally.
    // Tests drive it in place instead.
    using PortSelectionRunner = std::function<void(PortSelection &)>;
    void setPortSelectionRunner(PortSelectionRunner runner) { m_runPortSelection = std::move(runner); }

    void identityCheck();
    void readSettings();
    void wakeUp();
    void sleep();
    void reset();

    static QString detectFirstMessage() { return QStringLiteral("Please detect the printer first"); }
    // "Check configuration" got not one byte back.
    static QString silentBoardMessage(const PrinterLink &printer);
    // "Mechanism 04's configuration", "Mechanism 01's configuration and 3
    // more", or "matches no entry of the list": the entries holding the code.
    static QString entriesWithCode(const MechanismDatabase &database, const QString &code);

private:
    [[nodiscard]] QPushButton *findButton(const char *name) const;
    void setPrinterButtonsEnabled(bool enabled); // the five after "Check identity"
    void setAwakeButtonsEnabled(bool enabled);   // Sleep, Reset, Check and Configure
    void setBusyCursor(bool busy);
    void setLabel(QLabel *label, const QString &text);
    void setCommunicationToolTip(const QString &text);
    // The modes and the configuration "Check configuration" read, put into
    // the editor as they come (the name follows once it is read).
    void showConfiguration(const ReadBackResult &read);
    // The button and the pointer given back before a message.
    void giveBackReadButton();
    // "COM3"
    [[nodiscard]] QString printerPort() const;

    QWidget *m_window;
    AppServices &m_services;
    ConfigurationEditor &m_editor;
    const MechanismDatabase &m_database;
    StatusLine &m_status;
    PrinterQueries m_queries;
    PortSelectionRunner m_runPortSelection;
    QPushButton *m_getId = nullptr;
    QPushButton *m_getSettings = nullptr;
    QPushButton *m_configPrinter = nullptr;
    QPushButton *m_wakeup = nullptr;
    QPushButton *m_sleep = nullptr;
    QPushButton *m_reset = nullptr;
    QLabel *m_identity = nullptr;
    QLabel *m_labelCom = nullptr;
    QLabel *m_labelBauds = nullptr;
};

} // namespace tessary
