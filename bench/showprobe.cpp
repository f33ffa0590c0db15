// Preloaded (LD_PRELOAD) into the desktop program by tessary-bench. When the
// main window first paints it prints the monotonic time, waits a moment for
// the program to settle, prints the peak memory and ends the program. The
// program itself is not changed for the measurement.
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <ctime>

namespace {

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

QByteArray statusField(const QByteArray &name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return "0";
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).simplified().split(' ').value(0);
    }
    return "0";
}

class ShowProbe : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_seen && event->type() == QEvent::Paint && watched->inherits("QMainWindow")) {
            m_seen = true;
            std::fprintf(stderr, "TESSARY_SHOWN_NS %lld\n", monotonicNs());
            QTimer::singleShot(1000, qApp, [] {
                std::fprintf(stderr, "TESSARY_VMHWM_KB %s\n", statusField("VmHWM").constData());
                std::fflush(stderr);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    bool m_seen = false;
};

void installProbe() { qApp->installEventFilter(new ShowProbe(qApp)); }

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installProbe)
