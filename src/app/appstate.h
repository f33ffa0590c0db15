#pragma once

#include <QString>

namespace tessary {

// Where the printer was found. Only the detection writes it, and in one
// step: a printer is never found without the port, speed and handshake of
// the board that answered. Every printer command reads it to open the port.
struct PrinterLink {
    bool printerFound = false;
    qint16 comPort = 0;   // 1 to 6 once found
    QString baudRate;     // "1200" ... "115200", empty until found
    qint16 handshake = 0; // 1 XON/XOFF, 2 hardware; 0 none (scans only)
    bool serialLink = false;
};

// The program-wide state: one instance for the whole run, handed to the
// windows and exchanges that need it rather than kept in globals. The
// control characters of the commands are in protocol/commands.h.
class AppState {
public:
    AppState() = default;

    // Sets the application directory, as the main window does when it loads.
    void initialise(const QString &currentDirectory);

    QString AppDirectory; // the current directory at load, with a trailing separator
    PrinterLink link;
};

} // namespace tessary
