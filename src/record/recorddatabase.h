#pragma once

#include "printer/serialnumbers.h"

#include "printer/boardrecord.h"
#include "record/recordlocation.h"

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace tessary {

// One run of a command as the record keeps it: who ran what, where, when.
struct RunRow {
    QString key;        // unique: a row sent twice is kept once
    QString station;
    QString tool;       // "tessary 2.3"
    QString command;    // "program", "audit"
    QString options;    // the command line as given, a password masked
    QDateTime started;
    QDateTime ended;    // invalid while the run goes on
};

// Which boards a question asks about; an empty field asks nothing of them.
struct RecordFilter {
    QDateTime since; // a board's start at or after
    QDateTime until; // a board's start before
    QString station;
    std::optional<BoardOutcome> result;
    QString identity; // before or after
    QString code;
};

// A board as the record holds it: its row and the run it belongs to.
struct RecordedBoard {
    qint64 run = 0;
    BoardRow row;
};

// The counts of one group of a summary.
struct SummaryGroup {
    QString key; // the day (yyyy-MM-dd, local), station, result word or reason
    qint64 boards = 0;
    qint64 ok = 0;     // programmed, found, as expected
    qint64 failed = 0; // what fails a run
};

// The production record in a database, through Qt SQL: an SQLite file or a
// PostgreSQL server. Created and migrated by the program; each write is a
// transaction of its own. Used on the thread that opened it.
class RecordDatabase {
public:
    // The schema this program writes. A record of a later one is refused.
    static constexpr int SchemaVersion = 1;

    enum class Use {
        Write, // a run: creates the record and its tables when missing
        Read,  // the questions: an SQLite file that does not exist is not created
    };
    enum class Failure {
        None,
        Unreachable, // could not be opened, reached or set up: a run goes on and spools
        Missing,     // Read: no record there yet
        NewerSchema, // written by a later program: refused before any board is touched
    };
    struct Opened {
        std::unique_ptr<RecordDatabase> database; // null on failure
        Failure failure = Failure::None;
        QString error;
    };
    [[nodiscard]] static Opened open(const RecordLocation &location, Use use);

    ~RecordDatabase();
    RecordDatabase(const RecordDatabase &) = delete;
    RecordDatabase &operator=(const RecordDatabase &) = delete;

    [[nodiscard]] const RecordLocation &location() const { return m_location; }
    // A file the program may not write (no write bit): rows cannot go in.
    [[nodiscard]] bool readOnly() const { return m_readOnly; }

    // The writes. Each is one transaction; a row sent again (its key known)
    // is taken once. False with the reason; lost() then says whether the
    // database is gone rather than the row refused.
    [[nodiscard]] bool addRun(const RunRow &run, QString *error);
    [[nodiscard]] bool addBoard(const RunRow &run, const QString &key, const BoardRow &row, QString *error);
    // Whether the last failure lost the database (the server stopped, the
    // connection broke) rather than refused what was sent.
    [[nodiscard]] bool lost() const { return m_lost; }

    // Takes `count` numbers from the named counter for the boards named,
    // in one transaction (the counter's row locked), created at `start` when
    // missing. The numbers are spent as they are taken: each is kept with the
    // board, station and run that took it. Nothing, with the reason, when
    // none could be taken, or when `check` (asked inside the transaction)
    // refuses the numbers that would be: then nothing is spent.
    [[nodiscard]] std::optional<QList<qint64>> takeNumbers(const QString &counter, std::optional<qint64> start,
                                                           const RunRow &run, const QStringList &boards,
                                                           const NumberCheck &check, QString *error);

    // The questions. `each` is called per board in order; returning false
    // stops. False with the reason when the question failed.
    enum class Order { OldestFirst, NewestFirst };
    [[nodiscard]] bool boards(const RecordFilter &filter, Order order,
                              const std::function<bool(const RecordedBoard &)> &each, QString *error);
    enum class GroupBy { Day, Station, Result, Reason };
    [[nodiscard]] std::optional<QList<SummaryGroup>> summary(const RecordFilter &filter, GroupBy by, QString *error);

    // The connection, for what a test or the benchmark does beside the program.
    [[nodiscard]] QSqlDatabase connection() const { return m_db; }

private:
    RecordDatabase(const RecordLocation &location, const QString &connectionName);
    [[nodiscard]] Failure setUp(Use use, QString *error);
    [[nodiscard]] bool postgres() const { return m_location.kind == RecordLocation::Kind::Postgres; }
    // A transaction that holds the write lock from its start (SQLite); with
    // schema, the lock every program takes to create or migrate the tables.
    [[nodiscard]] bool begin(QString *error, bool schema = false);
    [[nodiscard]] bool commit(QString *error);
    void rollback();
    // A failed statement: its reason, and whether the database is gone.
    QString failed(const QString &what, const QString &reason);
    // One write transaction: the steps, then the commit; on failure the
    // rollback, and the reason (whether the record refused `what` or was lost).
    [[nodiscard]] bool transact(const QString &what, const std::function<bool(QSqlQuery &, QString *)> &steps,
                                QString *error);
    // False, with the reason, when the record may not be written.
    [[nodiscard]] bool writable(QString *error);
    [[nodiscard]] bool upsertRun(QSqlQuery &query, const RunRow &run, qint64 *id, QString *error);
    // The SQL condition and values of a filter.
    [[nodiscard]] QString where(const RecordFilter &filter, QVariantList &values) const;
    [[nodiscard]] QString timeText(const QString &column) const;

    RecordLocation m_location;
    QString m_name;
    QSqlDatabase m_db;
    bool m_readOnly = false;
    bool m_lost = false;
};

} // namespace tessary
