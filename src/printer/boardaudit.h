#pragma once

#include "configuration/configurationcode.h"
#include "printer/printerqueries.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tessary {

class SerialLink;
struct PrinterLink;

// What an audit compares each board with, and the entries it names a
// configuration by. Taken once, before the first board is read, the same for
// every board of a run.
struct AuditOrder {
    struct Entry {
        QString name;
        QString code; // as the board holds it once programmed (see heldCode)
    };
    // The entries a board's configuration is named by, in their order.
    QList<Entry> entries;
    QString entriesSource; // the .cdb file, or "factory list"

    // What each board should hold. A field of -1 is not looked at (field
    // options name only some); with a whole code, every field and the
    // reserved bits are.
    std::optional<MechanismSettings> expected;
    QString expectedCode; // a whole code expected (an entry, --code); empty for field options
    QString database;     // where the expected entry came from; empty for a code or fields
    QString entry;

    [[nodiscard]] bool expects() const { return expected.has_value(); }
    // The entries whose code the board holds.
    [[nodiscard]] QStringList entriesHolding(const QString &code) const;
    // The code a board holds once given this one: its printer-mode bit set,
    // its reserved bits clear (what programming writes). Empty for a text
    // that is not 16 characters 0 or 1.
    [[nodiscard]] static QString heldCode(const QString &code);
};

// What the audit of one board found, filled in as it goes.
struct BoardAudit {
    ReadBackResult back;
    QStringList entries;     // the entries holding the board's code
    QStringList unanswered;  // what the read-back did not get, in words: not ok
    QStringList differences; // what the board holds other than expected, in words
};

// Reads what one board that was found holds (GS "Sf" 6, GS "Sf" 9, GS "SC",
// ESC "I"; nothing is written) and compares it with the order. A stop
// throws CommandStopped.
void auditBoard(SerialLink &link, const PrinterLink &printer, const AuditOrder &order, BoardAudit &done);

// What a read-back did not get, in words; empty when every query answered
// usably.
[[nodiscard]] QStringList readBackGaps(const ReadBackResult &back);
// How the configuration a board holds differs from the one expected, a line
// per field: "head width: the board holds 576 dots, expected 384".
// userMode: the board's configuration mode (a configuration given is in
// force in User mode only).
[[nodiscard]] QStringList configurationDrift(bool userMode, const QString &held, const AuditOrder &order);

} // namespace tessary
