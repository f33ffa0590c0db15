#pragma once

#include "printer/programmer.h"

#include <QObject>
#include <QPointer>

class QAbstractButton;
class QLabel;
class QWidget;

namespace tessary {

class ConfigurationEditor;
class StatusLine;
struct AppServices;

// The "Configure printer" button of the main window: checks the editor's
// choices, then programs the board through the command gate (one printer
// command at a time) with the button disabled and the busy pointer shown,
// and shows the identity the board reports afterwards.
class ProgrammingBinding : public QObject {
    Q_OBJECT
public:
    // Finds ConfigPrinter and the Identity label under root by object name.
    ProgrammingBinding(QWidget *root, ConfigurationEditor &editor, AppServices &services, StatusLine &status,
                       QObject *parent = nullptr);

    // The button's click.
    void configurePrinter();

private:
    QPointer<QWidget> m_root;
    ConfigurationEditor &m_editor;
    AppServices &m_services;
    StatusLine &m_status;
    QPointer<QAbstractButton> m_button;
    QPointer<QLabel> m_identity;
};

} // namespace tessary
