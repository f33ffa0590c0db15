#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <deque>
#include <memory>

class QIODevice;

namespace tessary {

// Takes each line of the record as it is added, in the thread that adds it,
// with the record locked: lines arrive whole and in order from every thread.
class TrafficSink {
public:
    virtual ~TrafficSink() = default;
    virtual void lineAdded(const QString &line) = 0;
};

// What went over the serial lines, as text lines: the openings and closings,
// each burst of bytes in each direction, the waits. Filled by RecordingLine
// and RecordingClock, shown by the traffic monitor and written by
// TrafficWriter. Keeps the newest `limit` lines. Thread-safe: the lines of a
// scan that runs one port per thread go into one record.
//
// The recording wrappers do nothing but pass calls on while nobody watches,
// so a record without a view costs nothing.
class TrafficRecord : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype DefaultLimit = 20000;

    explicit TrafficRecord(qsizetype limit = DefaultLimit, QObject *parent = nullptr);
    ~TrafficRecord() override;

    [[nodiscard]] qsizetype limit() const { return m_limit; }

    // Whether a view or a sink watches: only then is traffic recorded.
    [[nodiscard]] bool isRecording() const noexcept { return m_watchers.load(std::memory_order_relaxed) > 0; }
    void startWatching();
    void stopWatching();
    // A sink watches from addSink to removeSink.
    void addSink(TrafficSink *sink);
    void removeSink(TrafficSink *sink);

    void append(const QString &line);
    void append(const QStringList &lines);
    void clear();

    [[nodiscard]] QStringList lines() const;
    // Lines are numbered from the first ever added; the numbers of the kept
    // ones run from end() - size to end() - 1. Returns the kept lines from
    // number `from` on (from the oldest kept when those before were dropped)
    // and sets *next to the number the next line will get. Re-arms
    // linesAdded().
    [[nodiscard]] QStringList linesFrom(qint64 from, qint64 *next);
    [[nodiscard]] qint64 end() const;

signals:
    // New lines are there. Sent once until linesFrom() has been called, so a
    // view that reads on it is told once per batch; may come from any thread.
    void linesAdded();
    void cleared();

private:
    void appendLocked(const QString &line);
    void notify();

    const qsizetype m_limit;
    mutable QMutex m_mutex;
    std::deque<QString> m_lines;
    qint64 m_end = 0; // the number the next line gets
    QList<TrafficSink *> m_sinks;
    std::atomic<int> m_watchers{0};
    std::atomic<bool> m_notified{false};
};

// Puts the record's lines on a device as they are added (a trace file, the
// standard error), one line each, flushed at once.
class TrafficWriter : public TrafficSink {
public:
    TrafficWriter(TrafficRecord &record, QIODevice &device);
    ~TrafficWriter() override;
    TrafficWriter(const TrafficWriter &) = delete;
    TrafficWriter &operator=(const TrafficWriter &) = delete;

    // A writer to the file at path, appended to (a device or a pipe written
    // to), or to the standard error for "-". Null with *error set to the
    // reason when the file cannot be opened.
    [[nodiscard]] static std::unique_ptr<TrafficWriter> open(TrafficRecord &record, const QString &path,
                                                             QString *error);

    void lineAdded(const QString &line) override;

    // Why a line could not be written (a full disk, a closed pipe); empty
    // while every line was. The lines after the first failure are dropped.
    [[nodiscard]] QString errorString() const;

private:
    TrafficRecord &m_record;
    QIODevice &m_device;
    std::unique_ptr<QIODevice> m_owned;
    mutable QMutex m_errorMutex;
    QString m_error;
};

// How bytes are shown in the record.
namespace traffic {
// "1B 49"
[[nodiscard]] QString hex(const QByteArray &bytes);
// Printable ASCII as it is, control characters by name ("<ESC>I"), bytes
// from 0x80 on as ".".
[[nodiscard]] QString text(const QByteArray &bytes);
} // namespace traffic

} // namespace tessary
