// The session the single board commands talk through: where the board is,
// found by the scan or the probe of the window's port selection.
#include "cliapp.h"

#include "clienvironment.h"
#include "detection/detector.h"
#include "parallelscan.h"
#include "protocol/replytext.h"
#include "serial/seriallink.h"
#include "serial/serialline.h"

#include <QScopeGuard>
#include <QTextStream>

namespace tessary {

CliApp::Session &CliApp::openSession(const Common &common)
{
    // With --port only the ports named are used: the scan and the wake-up
    // touch no other device.
    m_session.link.reset();
    m_session.table = common.ports.isEmpty() && !common.allBoards ? systemTable() : common.table();
    m_session.line = &environment().line(m_session.table);
    m_session.link = std::make_unique<SerialLink>(*m_session.line, environment().clock(), &m_status);
    if (m_signal)
        m_session.link->requestStop();
    m_session.printer = {};
    return m_session;
}

CliApp::Location CliApp::locate(const Common &common, bool wakeFirst)
{
    Location location;
    SerialLink &link = *m_session.link;
    PrinterLink &printer = m_session.printer;
    QList<int> existing;
    for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port)
        if (link.portExists(port))
            existing << port;
    QStringList missing;
    for (const PortChoice &choice : common.ports)
        if (!existing.contains(choice.port))
            missing << (choice.device.isEmpty()
                            ? QStringLiteral("COM%1 names no device on this machine (see tessary ports)").arg(choice.port)
                            : QStringLiteral("%1 does not exist").arg(choice.device));
    if (existing.isEmpty()) { // nothing to ask: the reason is the one message
        location.notFound = missing.isEmpty()
                                ? QStringLiteral("this machine lists no serial port; name the board's device with --port PATH")
                                : missing.join(QStringLiteral("; "));
        location.unopened = true;
        return location;
    }
    for (const QString &reason : std::as_const(missing)) // the ports that remain are asked
        m_err << "tessary: " << reason << '\n';

    Detector detector(link, printer, m_prompts, m_progress.get());
    detector.begin();
    // The identity the probe read; asking again would cost another query.
    const auto keepIdentity = qScopeGuard([&location, &detector] { location.identity = detector.identityReply(); });
    QMap<int, QString> unopened; // the ports that could not be opened, and why
    if (!common.speed.isEmpty()) {
        // A sleeping board hears nothing but the wake-up; the scan sends it
        // itself.
        if (wakeFirst)
            wakeupPrinter(link);
        const int port = common.ports.first().port;
        detector.detectSerialPrinter(port, common.speed, common.handshakeIndex);
        if (!printer.printerFound && !link.portExists(port)) { // gone since the look above (hung up by the wake-up): said
            location.notFound = Detector::noSuchPortMessage();
            location.said = location.unopened = true;
            return location;
        }
        if (const auto why = detector.unopenedReason(port))
            unopened.insert(port, *why);
    } else if (common.sequential) {
        detector.autodetect();
        for (int port : std::as_const(existing))
            if (const auto why = detector.unopenedReason(port))
                unopened.insert(port, *why);
    } else {
        // The same wake-up round and the same steps per port as the window's
        // scan, every port at once; the identity query where the board
        // answered.
        detector.beginScan();
        ParallelScan scan(environment(), m_session.table, m_prompts, m_status, *m_progress);
        m_scan = &scan;
        const ParallelScan::Answer answer = scan.run(existing);
        m_scan = nullptr;
        link.checkStop(); // a signal ended the scan early
        detector.finishScan(answer.port, answer.speed);
        unopened = answer.unopened;
        if (answer.port)
            if (const auto why = detector.unopenedReason(answer.port))
                unopened.insert(answer.port, *why);
    }
    location.found = printer.printerFound;
    if (location.found)
        return location;
    // A port that cannot be opened is the reason itself, said once by the
    // link already; no hint of a sleeping board follows it.
    if (unopened.size() == existing.size()) {
        location.notFound = unopened.values().join(QStringLiteral("; "));
        location.said = true;
        location.unopened = true;
        return location;
    }
    // One message: the detection's result, and what to try. The scan has
    // sent a wake-up already; a probe at one speed has not.
    location.notFound = printableText(m_progress->lastText());
    if (common.speed.isEmpty())
        location.notFound += QStringLiteral(": no board answered at any speed, after a wake-up");
    else if (!wakeFirst)
        location.notFound += QStringLiteral("; if the board sleeps, try tessary wake once, with the same --port");
    return location;
}

std::optional<int> CliApp::findBoard(const Common &common, Location &location, bool wakeFirst)
{
    openSession(common);
    location = locate(common, wakeFirst);
    if (!location.found)
        return fail(common, location.notFound, {}, location.said);
    return std::nullopt;
}

QString CliApp::portText() const
{
    const int port = m_session.printer.comPort;
    const QString device = m_session.table.device(port);
    return device.isEmpty() ? QStringLiteral("COM%1").arg(port) : QStringLiteral("COM%1 (%2)").arg(port).arg(device);
}

QJsonObject CliApp::locationJson() const
{
    const PrinterLink &printer = m_session.printer;
    return boardtext::location(m_command, printer.comPort, m_session.table.device(printer.comPort), printer);
}

QString CliApp::locationText() const
{
    return QStringLiteral("Port: %1\nBaudrate: %2\nHandshake: %3\n")
        .arg(portText(), m_session.printer.baudRate, boardtext::handshakeCaption(m_session.printer.handshake));
}

} // namespace tessary
