#pragma once

#include "printer/programmer.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace tessary {

class Prompts;
class SerialLink;
struct PrinterLink;

// What `tessary program` writes into a board and how it checks it: taken
// once from the options, the same for every board.
struct ProgramOrder {
    ProgrammingPlan plan;
    bool userMode = true;
    bool userId = false;
    bool verify = false;
    QString planCode; // User mode: the code the board is given

    // The log's code column: the code, or "resistors".
    [[nodiscard]] QString logCode() const;
    // The parameter writes a run sends in all.
    [[nodiscard]] int writeCount() const;
};

// What programming one board that was found has done, filled in as it goes:
// a stop leaves what was done before it.
struct BoardProgram {
    QByteArray before; // the identity the board reported before
    ProgrammingResult result;
    std::optional<bool> verified;
    QStringList differences; // what the read-back found other than written
    QString outcome;         // ok, echo-error, verify-failed, cancelled, reset-not-sent, stopped

    [[nodiscard]] bool ok() const { return outcome == QLatin1String("ok"); }
};

// The steps of `program` on a board found, on its link: the identity, the
// programming, and with --verify the read-back after the reset. A stop
// throws CommandStopped; programmer.progress() then tells how far it got.
void programBoard(SerialLink &link, const PrinterLink &printer, Programmer &programmer,
                  const ProgramOrder &order, BoardProgram &done);

// One board's result as JSON, `location` saying where it is.
[[nodiscard]] QJsonObject programJson(QJsonObject location, const ProgramOrder &order, const BoardProgram &done);
// One board's result for a terminal, after the lines saying where it is.
[[nodiscard]] QString programText(const ProgramOrder &order, const BoardProgram &done);

} // namespace tessary
