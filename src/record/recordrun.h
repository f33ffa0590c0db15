#pragma once

#include "printer/boardrecord.h"
#include "record/recorddatabase.h"
#include "record/recordspool.h"


#include <memory>
#include <optional>

namespace tessary {

// One run of a command that records its boards: the run's row, then each
// board's row as the board ends, each in a transaction of its own. What the
// record cannot take (unreachable, stopped, read-only, a row refused) goes to
// the spool and the run goes on: an unreachable record costs a run at most
// its first connection's wait (libpq's 2 s) or a lost connection's (3 s),
// after which the run spools without trying again.
class RecordRun final : public BoardRecorder {
public:
    struct Start {
        QString station;
        QString tool;    // "tessary 2.3"
        QString command; // "program", "audit"
        QString options; // as given, a password masked (maskedOptions)
        QDateTime started;
    };

    // Opens the record (creating it on first use), sends what its spool
    // holds, and adds the run. Nothing, with the reason in *refusal, only
    // when the command must not touch a board: a record of a newer schema,
    // or a record that can be neither reached nor spooled for.
    [[nodiscard]] static std::unique_ptr<RecordRun> begin(const RecordLocation &location, const Start &start,
                                                          QString *refusal);
    ~RecordRun() override;

    // Whether the rows go to the record; when not, why (said once by the
    // command): "cannot reach the record postgresql://...: ...".
    [[nodiscard]] bool online() const { return m_database != nullptr; }
    [[nodiscard]] QString offlineReason() const { return m_offlineReason; }
    // Board rows of earlier runs that the spool held and the record took as this run began.
    [[nodiscard]] int sentFromSpool() const { return m_sentFromSpool; }
    // This run's board rows the record has taken so far (the rest are in the spool).
    [[nodiscard]] int recorded() const { return m_recorded; }
    [[nodiscard]] QString spoolPath() const { return m_spool.path(); }
    [[nodiscard]] const RecordLocation &location() const { return m_location; }

    // Takes one number per board (in the order given, a board named by its
    // device) from the record's named counter, created at `start` when
    // missing; spent whatever then becomes of the boards. Nothing, with the
    // reason, when the record is not reached or has no such counter: then no
    // board may be written.
    [[nodiscard]] std::optional<QList<qint64>> takeNumbers(const QString &counter, std::optional<qint64> start,
                                                           const QStringList &boards, const NumberCheck &check,
                                                           QString *error);

    // The board's row, into the record or else the spool: true when it is in
    // one of them. On the command's thread.
    [[nodiscard]] bool record(const BoardRow &row, QString *reason) override;

    struct End {
        int recorded = 0;      // this run's board rows the record took
        int waiting = 0;       // board rows in the spool now, earlier runs' included
        int runsWaiting = 0;   // runs in the spool now
        QString spool;
        // "3 rows not recorded yet, kept in <spool>"; empty when nothing waits.
        QString message;
        [[nodiscard]] bool complete() const { return message.isEmpty(); }
    };
    // Ends the run: its end time into the record (or the spool), and what is
    // left waiting. A command exits 1 when something is.
    [[nodiscard]] End end(const QDateTime &ended);

private:
    RecordRun(const RecordLocation &location, const Start &start);
    // The record was lost: the rest of the run spools.
    void goOffline(const QString &reason);

    RecordLocation m_location;
    RecordSpool m_spool;
    RunRow m_run;
    std::unique_ptr<RecordDatabase> m_database; // null: offline
    QString m_offlineReason;
    int m_sentFromSpool = 0;
    int m_recorded = 0;
};

} // namespace tessary
