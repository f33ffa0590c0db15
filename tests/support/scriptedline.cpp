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

bool ScriptedLine::open(int, qint32 baud, int)
{
    m_baud = baud;
    return m_open = true;
}

void ScriptedLine::close()
{
    transmit();
    garbled += std::exchange(m_sending, {});
    m_open = false;
}

bool ScriptedLine::holding() const { return m_holdUntil < 0 || m_clock.now() < m_holdUntil; }

void ScriptedLine::write(const QByteArray &bytes)
{
    if (!m_open)
        return;
    transmit();
    if (m_sending.isEmpty())
        m_sendFromUs = qMax(m_clock.now(), m_holdUntil) * 1000;
    m_sending += bytes;
}

void ScriptedLine::transmit()
{
    if (m_holdUntil < 0)
        return; // held for ever
    const qint64 byteUs = 10'000'000 / qMax(1, m_baud);
    const qint64 left = (m_clock.now() * 1000 - m_sendFromUs) / byteUs;
    const qsizetype n = qsizetype(qBound<qint64>(0, left, m_sending.size()));
    arrived += m_sending.left(n);
    m_sending.remove(0, n);
    m_sendFromUs += n * byteUs;
}

qint64 ScriptedLine::bytesToWrite() const { return m_open && holding() ? m_sending.size() : 0; }

void ScriptedLine::discardOutput()
{
    if (holding())
        m_sending.clear();
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
