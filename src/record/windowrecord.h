#pragma once

#include "printer/commandrecord.h"

#include <QObject>
#include <QThreadPool>

#include <functional>

class QSettings;

namespace tessary {

class StatusLine;

// The record of the desktop program's printer commands: when the settings
// name a record (`tessary record use`, the settings file the window shares
// with tessary), each command on a board becomes a run of its own there, with
// the row tessary writes for it. The record is reached on a thread of its
// own, one row after another, so the window never waits for it: an
// unreachable PostgreSQL server costs that thread up to libpq's 2 s (3 s for
// a connection lost), the window nothing. A row the record cannot take waits
// in the station's spool, as tessary's do, and the status line says so.
class WindowRecord final : public QObject, public CommandRecorder {
    Q_OBJECT
public:
    // settings: where the record is named; null: nothing is recorded.
    explicit WindowRecord(QSettings *settings, QObject *parent = nullptr);
    // Waits until every row handed over is in the record or the spool.
    ~WindowRecord() override;

    // Where a row that did not reach the record is said; null: nowhere.
    void setStatusLine(StatusLine *status) { m_status = status; }
    // The clock of the rows' times (tests fix it).
    void setNow(std::function<QDateTime()> now) { m_now = std::move(now); }

    [[nodiscard]] bool recording() override;
    [[nodiscard]] RecordContext context(const QString &command) const override;
    [[nodiscard]] QDateTime now() const override { return m_now(); }
    void keep(const BoardRow &row) override;

    // Waits until every row handed over is kept, and says what came of them.
    void waitForDone();

signals:
    // What became of a row, once known: empty when the record took it, else
    // what the status line says.
    void kept(const QString &problem);

private:
    QSettings *m_settings = nullptr;
    StatusLine *m_status = nullptr;
    std::function<QDateTime()> m_now = [] { return QDateTime::currentDateTimeUtc(); };
    QThreadPool m_pool; // one thread: the rows in the order handed over
};

} // namespace tessary
