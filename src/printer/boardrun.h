#pragma once

#include "app/appstate.h"
#include "printer/boardaudit.h"
#include "printer/boardprogramming.h"
#include "printer/boardrecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>

namespace tessary {

// One board's run on its port, from its first opening to its end: the one
// account the table, the JSON, the CSV row and the record are built from.
struct BoardRun {
    int com = 0;       // the port's COM number; 0: none
    QString device;    // "/dev/ttyUSB2"
    QDateTime started; // UTC
    QDateTime ended;
    QString portError;    // the port could not be opened (busy, no permission, gone): why
    bool stopped = false; // a signal ended it before its end
    PrinterLink printer;  // printerFound: a board answered the probe
    QByteArray identity;  // its reply to the probe's identity query
    std::optional<BoardProgram> program; // the programming began
    std::optional<BoardAudit> audit;     // the audit's read-back began
    QString takenIdentity; // the identity it took from a counter (a number, a list's line): spent
    QString refusal;       // why the run refused to write any board, nothing written (an identity that cannot be given)

    // Decided once, at its end, by decide().
    BoardOutcome outcome = BoardOutcome::NoBoard;
    QString reason; // the failure in words; empty on success

    [[nodiscard]] bool found() const { return printer.printerFound; }
    // Its identity before it was written: its answer as the programming
    // began, else (that question unanswered, or not asked) the probe's.
    [[nodiscard]] QByteArray identityBefore() const
    {
        return program && !program->before.isEmpty() ? program->before : identity;
    }
    // Decides the outcome and its reason from what happened: the one place
    // where a board's result is decided.
    void decide();
    // "COM3", or the device's short name where it has no COM number
    // ("ttyUSB9", "pts/4"; a path outside /dev as given).
    [[nodiscard]] QString portName() const;
    // "COM3 (ttyUSB2)", or the short name alone.
    [[nodiscard]] QString name() const;
};

// What every row of one run shares.
struct RecordContext {
    QString station;             // --station, else the host name
    QString tool;                // "tessary 2.3"
    QString command;             // "program", "audit"
    const ProgramOrder *order = nullptr; // what was written; null for a scan alone
    const AuditOrder *audit = nullptr;   // what each board was compared with, for an audit
    QHash<QString, QString> adapterSerials; // device: its USB adapter's serial number, where known
};

// The record's row of one board that has ended.
[[nodiscard]] BoardRow recordRow(const BoardRun &run, const RecordContext &context);

// The identity reply's first 16 characters, trimmed: the mechanism identity.
[[nodiscard]] QString identityPart(const QByteArray &reply);
// What follows them, trimmed: the firmware.
[[nodiscard]] QString firmwarePart(const QByteArray &reply);

} // namespace tessary
