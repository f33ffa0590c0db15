#include "record/recordnumbers.h"

#include "record/recordrun.h"

namespace tessary {

RecordNumbers::RecordNumbers(RecordRun &run, const QString &counter, std::optional<qint64> start)
    : m_run(run), m_counter(counter), m_start(start)
{
}

std::optional<QList<qint64>> RecordNumbers::take(const QStringList &boards, const NumberCheck &check,
                                                 QString *error)
{
    return m_run.takeNumbers(m_counter, m_start, boards, check, error);
}

} // namespace tessary
