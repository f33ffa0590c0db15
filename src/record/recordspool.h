#pragma once

#include "record/recorddatabase.h"

#include <QJsonObject>
#include <QString>

namespace tessary {

// The rows a record could not take yet (its server stopped or unreachable,
// the file read-only, a row refused), kept on this station: a file of its
// own per record in the user's data folder, one JSON object a line, each
// written and synced before the command goes on. Sent on the next run that
// reaches the record, or by `tessary record flush`; a row sent is taken
// once by the record (its key), so a send cut short never makes it twice.
// Several programs may use one spool: each append and each send holds its
// lock file.
class RecordSpool {
public:
    explicit RecordSpool(const RecordLocation &location);

    [[nodiscard]] QString path() const { return m_path; }

    // Keeps a board's row, or a run (begun or ended); false with the reason.
    [[nodiscard]] bool keepBoard(const RunRow &run, const QString &key, const BoardRow &row, const QString &why,
                                 QString *error);
    [[nodiscard]] bool keepRun(const RunRow &run, const QString &why, QString *error);

    struct Held {
        int boards = 0;
        int runs = 0;
        int unreadable = 0; // lines that are not an entry: kept, never sent
        QString lastWhy;    // why the newest entry is here
    };
    // What the spool holds now.
    [[nodiscard]] Held held() const;

    struct Sent {
        int boards = 0; // board rows the record took
        int runs = 0;
        Held left;      // what stays in the spool
        QString error;  // why something stayed, or the spool could not be rewritten
    };
    // Sends every entry to the record in order; the record keeps what it
    // takes, the spool what it does not. After a lost connection the rest
    // stays unsent.
    [[nodiscard]] Sent send(RecordDatabase &database);

private:
    [[nodiscard]] bool append(const QJsonObject &entry, QString *error);

    QString m_path;
};

} // namespace tessary
