#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tessary {

// How one board (or one port named on a command line) ended: one word each,
// decided once and shown alike in the table, the JSON, the CSV log and the
// record.
enum class BoardOutcome {
    Ok,            // programmed (and verified, when asked); an audit: as expected
    Found,         // a detection: a board answered
    EchoError,     // a parameter write was not echoed as written
    VerifyFailed,  // the read-back after the reset differs, or did not answer
    Cancelled,     // the strobe polarity question was answered Cancel
    ResetNotSent,  // the line failed or held its output: the board was not reset
    Interrupted,   // a signal stopped the command: the board may hold part of it
    NoBoard,       // the port opened, nothing answered at any speed
    PortError,     // the port could not be opened (busy, no permission, gone, not serial)
    Drift,         // an audit: the board holds another configuration than expected
    ReadFailed,    // an audit: the board did not answer the read-back in full
};

// "ok", "found", "echo-error", "verify-failed", "cancelled", "reset-not-sent",
// "interrupted", "no-board", "port-error", "drift", "read-failed".
[[nodiscard]] QString outcomeWord(BoardOutcome outcome);
// The outcome a word names; none for another word.
[[nodiscard]] std::optional<BoardOutcome> outcomeFromWord(const QString &word);
// Whether the outcome fails a run.
[[nodiscard]] bool outcomeFails(BoardOutcome outcome);

// One board's row of the production record: what it was, where, what was
// asked of it and what came of it. The CSV log and the shared record keep
// these columns in this order.
struct BoardRow {
    QDateTime started;       // this board's own start and end (UTC)
    QDateTime ended;
    QString station;         // --station, else the host name
    QString tool;            // "tessary 2.3"
    QString command;         // "program", "audit", "detect"
    QString port;            // "COM3", empty where the device has no COM number
    QString device;          // "/dev/ttyUSB2"
    QString adapterSerial;   // the USB adapter's serial number, where known
    QString speed;           // "19200", empty when no board answered
    QString handshake;       // "xon", "hw"
    QString firmware;        // the identity reply after its first 16 characters, trimmed
    QString identityBefore;  // the first 16 characters of the identity reply, trimmed
    QString identityAfter;
    QString database;        // where the configuration came from (empty for --code and fields)
    QString entry;
    QString code;            // the configuration code, or "resistors"
    QString mode;            // "user", "resistors"
    std::optional<bool> verified; // none: no verification asked
    BoardOutcome result = BoardOutcome::NoBoard;
    QString reason;          // the failure in words, empty on success
    int writes = 0;          // parameter writes the board echoed
    int plannedWrites = 0;   // parameter writes planned

    // The column names, in order.
    [[nodiscard]] static QStringList columns();
    // The row's fields as text, in the columns' order (times ISO 8601 UTC
    // with milliseconds, verified "yes"/"no"/empty, writes "3/9").
    [[nodiscard]] QStringList fields() const;
};

// Where finished boards' rows go: the CSV log, the shared record. Each row is
// handed over as its board ends, on the command's thread.
class BoardRecorder {
public:
    virtual ~BoardRecorder() = default;
    // False, with the reason, when the row could not be kept.
    [[nodiscard]] virtual bool record(const BoardRow &row, QString *reason) = 0;
};

// Several recorders as one (the CSV log and the shared record of a run): each
// row goes to every one of them, in the order added, whatever became of it in
// the others. False when any could not keep it, the reason of each that could
// not after its own words ("cannot write the log file: ...; ...").
class BoardRecorders final : public BoardRecorder {
public:
    // `failure` says whose row it was: "cannot write the log file".
    void add(BoardRecorder &recorder, const QString &failure);
    [[nodiscard]] bool empty() const { return m_recorders.isEmpty(); }
    [[nodiscard]] bool record(const BoardRow &row, QString *reason) override;

private:
    QList<std::pair<BoardRecorder *, QString>> m_recorders;
};

} // namespace tessary
