#pragma once

#include <QByteArray>
#include <QString>

namespace tessary {

// Where the printer was found. Only the detection writes it; every printer
// command reads it to open the port.
struct PrinterLink {
    bool printerFound = false;
    qint16 comPort = 0;   // 1 to 6 once found
    QString baudRate;     // "1200" ... "115200", empty until found
    qint16 handshake = 0; // 1 XON/XOFF, 2 hardware; 0 none (scans only)
    bool serialLink = false;
};

// The program-wide state: one instance for the whole run, handed to the
// windows and exchanges that need it rather than kept in globals.
class AppState {
public:
    AppState() = default;

    // Sets the control characters and the application directory, as the main
    // window does when it loads.
    void initialise(const QString &currentDirectory);

    QByteArray ESC;
    QByteArray GS;
    QByteArray CAN;
    QString AppDirectory; // the current directory at load, with a trailing separator
    PrinterLink link;
};

} // namespace tessary
