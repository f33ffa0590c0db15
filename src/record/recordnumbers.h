#pragma once

#include "printer/serialnumbers.h"

#include <optional>

namespace tessary {

class RecordRun;

// A run's serial numbers from a named counter of the shared record, so that
// stations sharing one server never hand out a number twice: taken for every
// board of the run in one transaction, the counter's row locked (an SQLite
// write lock from its start), created at the start value when missing; each
// number kept with the station, run and board that took it.
class RecordNumbers final : public NumberCounter {
public:
    // start: the counter's first number when it does not exist yet; none:
    // a missing counter refuses the run.
    RecordNumbers(RecordRun &run, const QString &counter, std::optional<qint64> start);

    [[nodiscard]] std::optional<QList<qint64>> take(const QStringList &boards, const NumberCheck &check,
                                                    QString *error) override;

private:
    RecordRun &m_run;
    QString m_counter;
    std::optional<qint64> m_start;
};

} // namespace tessary
