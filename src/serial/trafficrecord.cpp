#include "serial/trafficrecord.h"

#include "app/atomicsave.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace tessary {

TrafficRecord::TrafficRecord(qsizetype limit, QObject *parent) : QObject(parent), m_limit(qMax<qsizetype>(1, limit)) {}

TrafficRecord::~TrafficRecord() = default;

void TrafficRecord::startWatching() { m_watchers.fetch_add(1, std::memory_order_relaxed); }

void TrafficRecord::stopWatching() { m_watchers.fetch_sub(1, std::memory_order_relaxed); }

void TrafficRecord::addSink(TrafficSink *sink)
{
    {
        QMutexLocker lock(&m_mutex);
        m_sinks.append(sink);
    }
    startWatching();
}

void TrafficRecord::removeSink(TrafficSink *sink)
{
    bool removed = false;
    {
        QMutexLocker lock(&m_mutex);
        removed = m_sinks.removeOne(sink);
    }
    if (removed)
        stopWatching();
}

void TrafficRecord::appendLocked(const QString &line)
{
    m_lines.push_back(line);
    ++m_end;
    if (qsizetype(m_lines.size()) > m_limit)
        m_lines.pop_front();
    for (TrafficSink *sink : std::as_const(m_sinks))
        sink->lineAdded(line);
}

void TrafficRecord::notify()
{
    if (!m_notified.exchange(true))
        emit linesAdded();
}

void TrafficRecord::append(const QString &line)
{
    {
        QMutexLocker lock(&m_mutex);
        appendLocked(line);
    }
    notify();
}

void TrafficRecord::append(const QStringList &lines)
{
    if (lines.isEmpty())
        return;
    {
        QMutexLocker lock(&m_mutex);
        for (const QString &line : lines)
            appendLocked(line);
    }
    notify();
}

void TrafficRecord::clear()
{
    {
        QMutexLocker lock(&m_mutex);
        m_lines.clear();
    }
    emit cleared();
}

QStringList TrafficRecord::lines() const
{
    QMutexLocker lock(&m_mutex);
    return QStringList(m_lines.cbegin(), m_lines.cend());
}

QStringList TrafficRecord::linesFrom(qint64 from, qint64 *next)
{
    // Re-armed before reading: a line added meanwhile is either read now or
    // announced again.
    m_notified.store(false);
    QMutexLocker lock(&m_mutex);
    const qint64 first = m_end - qint64(m_lines.size());
    const qint64 start = qBound(first, from, m_end);
    if (next)
        *next = m_end;
    return QStringList(m_lines.cbegin() + (start - first), m_lines.cend());
}

qint64 TrafficRecord::end() const
{
    QMutexLocker lock(&m_mutex);
    return m_end;
}

// --- TrafficWriter -------------------------------------------------------

TrafficWriter::TrafficWriter(TrafficRecord &record, QIODevice &device) : m_record(record), m_device(device)
{
    m_record.addSink(this);
}

TrafficWriter::~TrafficWriter() { m_record.removeSink(this); }

std::unique_ptr<TrafficWriter> TrafficWriter::open(TrafficRecord &record, const QString &path, QString *error)
{
    auto file = std::make_unique<QFile>();
    bool opened = false;
    if (path == QLatin1String("-")) {
        opened = file->open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    } else if (!path.isEmpty()) { // Qt would warn about an empty name
        file->setFileName(path);
        // A file is appended to; a device or a pipe (/dev/stderr, a FIFO)
        // takes the lines as they come: appending would seek, which it cannot.
        const QFileInfo info(path);
        QString problem;
        const std::optional<int> pipe = openPipeForWriting(path, &problem);
        if (pipe && *pipe < 0) {
            if (error)
                *error = problem;
            return nullptr;
        }
        opened = pipe ? file->open(*pipe, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)
                      : file->open(!info.exists() || info.isFile() ? QIODevice::WriteOnly | QIODevice::Append
                                                                   : QIODevice::WriteOnly);
    }
    if (!opened) {
        if (error)
            *error = path.isEmpty() ? QStringLiteral("no file named") : file->errorString();
        return nullptr;
    }
    auto writer = std::make_unique<TrafficWriter>(record, *file);
    writer->m_owned = std::move(file);
    return writer;
}

void TrafficWriter::lineAdded(const QString &line)
{
    if (!errorString().isEmpty())
        return;
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    bool written = m_device.write(bytes) == bytes.size();
    // As it happens: a trace must hold what went over the line even when
    // the program is stopped right after.
    if (auto *file = qobject_cast<QFileDevice *>(&m_device))
        written = file->flush() && written;
    if (!written) {
        const QMutexLocker lock(&m_errorMutex);
        m_error = m_device.errorString();
        if (m_error.isEmpty())
            m_error = QStringLiteral("the write failed");
    }
}

QString TrafficWriter::errorString() const
{
    const QMutexLocker lock(&m_errorMutex);
    return m_error;
}

// --- how bytes are shown -------------------------------------------------

namespace traffic {

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString text(const QByteArray &bytes)
{
    static const char *const names[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                        "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                        "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                        "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    QString shown;
    shown.reserve(bytes.size());
    for (char c : bytes) {
        const auto byte = quint8(c);
        if (byte < 0x20)
            shown += QLatin1Char('<') + QLatin1String(names[byte]) + QLatin1Char('>');
        else if (byte == 0x7F)
            shown += QLatin1String("<DEL>");
        else if (byte >= 0x80)
            shown += QLatin1Char('.');
        else
            shown += QLatin1Char(c);
    }
    return shown;
}

} // namespace traffic

} // namespace tessary
