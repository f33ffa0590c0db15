#pragma once

#include "printer/programmer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace tessary {

class ConfigurationEditor;
class SerialLink;
struct PrinterLink;

// What is written into a board and how it is checked: taken once, before
// the first board is touched, the same for every board of a run.
struct ProgramOrder {
    ProgrammingPlan plan;
    bool userMode = true;
    bool userId = false;
    bool verify = false;            // read the board back after its reset
    bool identityBefore = true;     // ask the board's identity before writing (the window does not)
    QString planCode;               // User mode: the code the board is given
    QString database;               // where the configuration came from; empty for a code or fields
    QString entry;
    bool ownIdentities = false;     // each board is given its own identity (forBoard); plan.name stands in

    // From an editor whose choices passed Programmer::checkChoices; exact: a
    // code written as given (its voltage included) rather than the editor's.
    [[nodiscard]] static ProgramOrder fromEditor(const ConfigurationEditor &editor,
                                                 const std::optional<MechanismSettings> &exact = std::nullopt);
    // The order for a board given its own identity; this order when none is given.
    [[nodiscard]] ProgramOrder forBoard(const QString &identity) const;
    // The record's code: the code, or "resistors".
    [[nodiscard]] QString recordCode() const;
    // The parameter writes a run sends in all.
    [[nodiscard]] int writeCount() const;
};

// What programming one board that was found has done, filled in as it goes:
// a stop leaves what was done before it.
struct BoardProgram {
    QByteArray before; // the identity the board reported before
    ProgrammingResult result;
    // With the read-back: whether the board holds what was written. Without
    // it: false when the identity the board reports after its reset is not
    // the one written, else none.
    std::optional<bool> verified;
    QStringList differences; // what the read-back found other than written, in words
    QString lineProblem;     // what the link last said of the port, where the run ended on it
    int planned = 0;         // the parameter writes planned

    // The parameter writes whose echo came back: what the board got.
    [[nodiscard]] int echoed() const;
};

// The steps of programming a board that was found, on its link: the identity
// (when the order asks), the programming, and with verify the read-back after
// the reset. A stop throws CommandStopped; programmer.progress() then tells
// how far it got. The same steps for one board, every board at once and the
// window's "Configure printer".
void programBoard(SerialLink &link, const PrinterLink &printer, Programmer &programmer,
                  const ProgramOrder &order, BoardProgram &done);

// The parameter writes echoed so far ("writing 3/9" while a board is written).
[[nodiscard]] int echoedWrites(const ProgrammingResult &result);

} // namespace tessary
