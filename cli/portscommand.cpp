// tessary ports: COM1 to COM6 as the desktop program numbers them, and with
// --watch the devices that come and go.
#include "cliapp.h"

#include "clienvironment.h"
#include "serial/comslots.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QTextStream>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

namespace tessary {

namespace {

QJsonObject adapterJson(const SerialPortInfo &adapter)
{
    QJsonObject json;
    for (const auto &[name, value] : {std::pair{"description", adapter.description},
                                      std::pair{"manufacturer", adapter.manufacturer},
                                      std::pair{"serialNumber", adapter.serialNumber}, std::pair{"byId", adapter.byId}})
        if (!value.isEmpty())
            json.insert(QLatin1String(name), value);
    for (const auto &[name, id] : {std::pair{"vendorId", adapter.vendorId}, std::pair{"productId", adapter.productId}})
        if (id)
            json.insert(QLatin1String(name), QStringLiteral("%1").arg(*id, 4, 16, QLatin1Char('0')));
    return json;
}

QString inParentheses(const QString &text) { return text.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(text); }

// Whether the stream writes to a pipe whose reader has gone (as `tail -f`
// looks for it): a watch that prints rarely would otherwise outlive it.
bool readerGone(const QTextStream &stream)
{
#ifdef Q_OS_UNIX
    const auto *file = qobject_cast<const QFile *>(stream.device());
    if (!file || file->handle() < 0)
        return false;
    pollfd descriptor{file->handle(), 0, 0};
    return ::poll(&descriptor, 1, 0) == 1 && (descriptor.revents & (POLLERR | POLLHUP)) != 0;
#else
    Q_UNUSED(stream);
    return false;
#endif
}

} // namespace

int CliApp::ports(const Invocation &call)
{
    const Common &common = call.common;
    QMap<int, QString> mappings;
    for (const PortChoice &choice : common.ports)
        if (!choice.device.isEmpty())
            mappings.insert(choice.port, choice.device);
    ComSlots comSlots(m_environment.serialPorts(), slotMemory(), mappings);
    if (call.has("watch"))
        return watchPorts(common, comSlots);

    QJsonArray array;
    QString text;
    for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port) {
        const ComSlot slot = comSlots.slot(port);
        QJsonObject json = adapterJson(slot.adapter);
        json.insert(QStringLiteral("port"), QStringLiteral("COM%1").arg(port));
        json.insert(QStringLiteral("device"), slot.device);
        json.insert(QStringLiteral("present"), slot.present);
        json.insert(QStringLiteral("mapped"), slot.mapped);
        QString details = slot.adapter.details();
        if (slot.mapped)
            details = QStringLiteral("given with --port") + (details.isEmpty() ? QString() : QStringLiteral(", ") + details);
        if (!slot.remembered.device.isEmpty()) {
            QJsonObject kept = adapterJson(slot.remembered);
            kept.insert(QStringLiteral("device"), slot.remembered.device);
            json.insert(QStringLiteral("keptFor"), kept);
            details = QStringLiteral("kept for ") + PortNames::shownName(slot.remembered.device)
                    + inParentheses(slot.remembered.details());
        }
        array.append(json);
        const QString state = slot.present           ? QStringLiteral("present")
                              : slot.device.isEmpty() ? QStringLiteral("free")
                                                      : QStringLiteral("missing");
        text += QStringLiteral("COM%1  %2  %3  %4")
                    .arg(port)
                    .arg(slot.device.isEmpty() ? QStringLiteral("-") : slot.device, -20)
                    .arg(state, -7)
                    .arg(details)
                    .trimmed()
              + u'\n';
    }
    print(common, QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("ports"), array}}, text);
    return Success;
}

int CliApp::watchPorts(const Common &common, ComSlots &comSlots)
{
    // SIGINT, SIGTERM and SIGHUP end the watch, its status the shell's for the signal (130, 143, 129).
    QEventLoop loop;
    m_watch = &loop;
    const auto watched = qScopeGuard([this] { m_watch = nullptr; });
    QObject::connect(&comSlots, &ComSlots::changed, &loop, [&](const QList<SlotEvent> &events) {
        for (const SlotEvent &event : events) {
            if (common.json) {
                QJsonObject json = adapterJson(event.adapter);
                json.insert(QStringLiteral("port"), QStringLiteral("COM%1").arg(event.port));
                json.insert(QStringLiteral("device"), event.device);
                json.insert(QStringLiteral("event"), event.plugged ? QStringLiteral("plugged") : QStringLiteral("unplugged"));
                m_out << QJsonDocument(json).toJson(QJsonDocument::Compact) << '\n';
            } else {
                m_out << event.text() << (event.plugged ? inParentheses(event.adapter.details()) : QString()) << '\n';
            }
        }
        m_out.flush();
        if (m_out.status() != QTextStream::Ok) {
            m_outputGone = readerGone(m_out); // a closed pipe needs no message; another failure is said
            loop.exit(Failure);
        }
    });
    // Its reader gone (| head -1), the watch ends within a second, also when
    // no device comes or goes meanwhile; a closed pipe needs no message.
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, &loop, [&] {
        if (!readerGone(m_out))
            return;
        m_outputGone = true;
        loop.exit(Failure);
    });
    reader.start(ReaderLookMs);
    if (!common.quiet) {
        m_err << "Watching COM1 to COM6 for devices that come or go; Ctrl+C ends.\n";
        m_err.flush();
    }
    comSlots.watch();
    const int status = m_signal ? 128 + m_signal : loop.exec();
    comSlots.unwatch();
    return status;
}

} // namespace tessary
