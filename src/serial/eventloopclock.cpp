#include "serial/eventloopclock.h"

#include "serial/serialline.h"

#include <QEventLoop>
#include <QTimer>

namespace tessary {

EventLoopClock::EventLoopClock() { m_elapsed.start(); }

qint64 EventLoopClock::now() const { return m_elapsed.elapsed(); }

void EventLoopClock::interrupt()
{
    if (m_loop)
        m_loop->quit();
}

void EventLoopClock::delay(int ms)
{
    if (ms <= 0)
        return;
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QPointer<QEventLoop> outer = m_loop;
    m_loop = &loop;
    timer.start(ms);
    loop.exec();
    m_loop = outer;
}

bool EventLoopClock::waitForInput(SerialLine &line, int ms)
{
    if (line.bytesAvailable() > 0)
        return true;
    if (ms <= 0 || !line.isOpen())
        return false;
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto conn = QObject::connect(&line, &SerialLine::inputReady, &loop, &QEventLoop::quit);
    QPointer<QEventLoop> outer = m_loop;
    m_loop = &loop;
    timer.start(ms);
    loop.exec();
    QObject::disconnect(conn);
    m_loop = outer;
    return line.bytesAvailable() > 0;
}

} // namespace tessary
