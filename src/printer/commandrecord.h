#pragma once

#include "printer/boardrun.h"

#include <QDateTime>
#include <QString>

namespace tessary {

class ComSlots;
struct ReadBackResult;

// Where the window's printer commands keep their boards' rows: the shared
// record, when one is set in the settings. Each command on a board is a run
// of its own. The row is handed over as the command ends and kept on a
// thread of the recorder's own, so the window never waits for the record; a
// row that does not reach it is said on the status line once that is known.
class CommandRecorder {
public:
    virtual ~CommandRecorder() = default;
    // Whether a record is set: the commands record only then.
    [[nodiscard]] virtual bool recording() = 0;
    // What the rows of a window command share: the station, the program and
    // the command ("program", "read").
    [[nodiscard]] virtual RecordContext context(const QString &command) const = 0;
    // The time of a command's start and end (UTC).
    [[nodiscard]] virtual QDateTime now() const = 0;
    // Hands the row over and returns at once.
    virtual void keep(const BoardRow &row) = 0;
};

// The board a window command ran on: where it was found, and when.
struct WindowBoard {
    PrinterLink printer;
    QString device;        // the COM slot's device, where known
    QString adapterSerial; // its USB adapter's serial number, where known
    QDateTime started;
    QDateTime ended;
};

// The board on the printer link's port, as the COM slots know it (none: no device known).
[[nodiscard]] WindowBoard windowBoard(const PrinterLink &printer, const ComSlots *ports);
// The row of "Configure printer": the row `tessary program` writes for the
// same board and order.
[[nodiscard]] BoardRow programmedRow(RecordContext context, const WindowBoard &board, const ProgramOrder &order,
                                     const BoardProgram &done);
// The row of "Check configuration": the board found, with the identity, the
// configuration code and mode it holds.
[[nodiscard]] BoardRow readRow(RecordContext context, const WindowBoard &board, const ReadBackResult &read);

} // namespace tessary
