#pragma once

#include "printer/boardrecord.h"

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

} // namespace tessary
