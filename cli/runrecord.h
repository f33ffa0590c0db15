#pragma once

#include "printer/boardrecord.h"
#include "printer/boardrun.h"

#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QSet>

#include <functional>

#include <memory>
#include <optional>

namespace tessary {

class CsvLog;
class RecordRun;

// Where the rows of a run's boards go: the CSV file of --log and the shared
// record of --record, both opened before any board is touched
// (CliApp::openRunRecord). Each row goes to both; one that cannot take it
// keeps it from neither.
class RunRecord final : public BoardRecorder {
public:
    RunRecord();
    ~RunRecord() override;
    RunRecord(const RunRecord &) = delete;
    RunRecord &operator=(const RunRecord &) = delete;

    // Neither --log nor --record was given: the rows go nowhere.
    [[nodiscard]] bool empty() const { return m_each.empty(); }
    [[nodiscard]] bool record(const BoardRow &row, QString *reason) override;
    // With --record: whether the last row went into the record itself
    // (false: it waits in the spool). None without --record.
    [[nodiscard]] std::optional<bool> lastRecorded() const { return m_lastRecorded; }
    // The record's run; null without --record.
    [[nodiscard]] RecordRun *shared() const { return m_shared.get(); }

private:
    friend class CliApp;
    std::unique_ptr<CsvLog> m_log;
    std::unique_ptr<RecordRun> m_shared;
    BoardRecorders m_each;
    std::optional<bool> m_lastRecorded;
};

// The boards of an every-board run as they end: each reported board's row goes
// to the log and the record at once, so a run stopped half-way keeps the rows
// of the boards already done; a row that cannot be written fails that board,
// said once. Then, board by board, its JSON object and its count.
class BoardTally {
public:
    BoardTally(RunRecord &kept, std::function<bool(const BoardRun &)> reported, RecordContext context);

    // For AllBoards::Hooks::ended: the line to print, if any.
    [[nodiscard]] QString ended(const BoardRun &run);
    // A board to report, with its JSON object; false when its row was not
    // written (its object then says it is not ok).
    [[nodiscard]] bool add(const BoardRun &run, QJsonObject object);
    [[nodiscard]] bool reported(const BoardRun &run) const { return m_reported(run); }
    [[nodiscard]] const QJsonArray &json() const { return m_json; }
    [[nodiscard]] int failed() const { return m_failed; }
    // "N ok, M failed[, K without a board]", then the failed boards, a line each.
    [[nodiscard]] QString counts() const;

private:
    RunRecord &m_kept;
    std::function<bool(const BoardRun &)> m_reported;
    RecordContext m_context;
    QSet<QString> m_unlogged;
    QHash<QString, bool> m_recorded; // with --record: the boards whose rows went into the record itself
    QString m_logProblem;
    QJsonArray m_json;
    QList<const BoardRun *> m_shown;
    int m_ok = 0, m_failed = 0, m_empty = 0;
};

} // namespace tessary
