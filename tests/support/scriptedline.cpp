#include "scriptedline.h"

#include <algorithm>

namespace tessary::test {

void ScriptedLine::schedule(qint64 at, const QByteArray &bytes)
{
    m_pending.append({at, bytes});
    std::stable_sort(m_pending.begin(), m_pending.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
}

void ScriptedLine::streamForever(qint64 at, int everyMs)
{
    m_streamFrom = at;
    m_streamEvery = everyMs;
    m_streamReleasedUpTo = at - everyMs;
}

void ScriptedLine::close()
{
    if (m_open)
        closedWithPending = bytesToWrite();
    m_open = false;
    m_held = 0;
}

void ScriptedLine::write(const QByteArray &bytes)
{
    if (m_open && (m_holdUntil < 0 || m_clock.now() < m_holdUntil))
        m_held += bytes.size();
}

qint64 ScriptedLine::bytesToWrite() const
{
    const bool holding = m_holdUntil < 0 || m_clock.now() < m_holdUntil;
    return m_open && holding ? m_held : 0;
}

void ScriptedLine::discardOutput()
{
    if (m_held > 0)
        ++discards;
    m_held = 0;
}

void ScriptedLine::release()
{
    const qint64 now = m_clock.now();
    while (!m_pending.isEmpty() && m_pending.first().first <= now)
        m_ready += m_pending.takeFirst().second;
    while (m_streamFrom >= 0 && m_streamReleasedUpTo + m_streamEvery <= now) {
        m_streamReleasedUpTo += m_streamEvery;
        m_ready += 'x';
    }
}

qint64 ScriptedLine::bytesAvailable()
{
    if (!m_open)
        return 0;
    release();
    return m_ready.size();
}

QByteArray ScriptedLine::read(qint64 maxBytes)
{
    if (!m_open)
        return {};
    release();
    const QByteArray chunk = m_ready.left(maxBytes);
    m_ready.remove(0, chunk.size());
    return chunk;
}

void ScriptedLine::clearInput()
{
    release();
    m_ready.clear();
}

std::optional<qint64> ScriptedLine::nextInputAt() const
{
    std::optional<qint64> next;
    if (!m_pending.isEmpty())
        next = m_pending.first().first;
    if (m_streamFrom >= 0 && (!next || m_streamReleasedUpTo + m_streamEvery < *next))
        next = m_streamReleasedUpTo + m_streamEvery;
    return next;
}

} // namespace tessary::test
