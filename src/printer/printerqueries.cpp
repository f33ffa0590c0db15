#include "printer/printerqueries.h"

#include "app/appstate.h"
#include "configuration/configurationcode.h"
#include "detection/detector.h"
#include "protocol/commands.h"
#include "protocol/replytext.h"
#include "serial/seriallink.h"

namespace tessary {

PrinterQueries::PrinterQueries(SerialLink &link, const PrinterLink &printer) : m_link(link), m_printer(printer) {}

bool PrinterQueries::openPrinterPort()
{
    return m_link.openPort(m_printer.comPort, m_printer.baudRate, m_printer.handshake);
}

QByteArray PrinterQueries::identity()
{
    PortCloser closer(m_link);
    if (!openPrinterPort())
        return {};
    m_link.sendString(Command::identity());
    m_link.delay(IdentityDelayMs);
    return m_link.readReply();
}

std::optional<QString> PrinterQueries::codeFromReply(const QByteArray &reply)
{
    QByteArray bytes = reply;
    if (bytes.size() == 4)
        bytes = bytes.mid(2);
    if (bytes.size() != 2)
        return std::nullopt;
    return codeFromBytes(quint8(bytes.at(0)), quint8(bytes.at(1)));
}

QString PrinterQueries::nameFromIdentity(const QByteArray &reply)
{
    QString name = trimBlanks(replyText(reply.left(16)));
    if (name.endsWith(QLatin1String("MRS"))) {
        name.chop(3);
        name = trimBlanks(name);
    }
    return name;
}

ReadBackResult PrinterQueries::readSettings(const std::function<void(const ReadBackResult &)> &configurationRead)
{
    ReadBackResult result;
    PortCloser closer(m_link);
    openPrinterPort();
    if (m_link.isOpen()) {
        m_link.sendString(Command::readParameter(Parameter::ConfigurationMode));
        result.configurationMode = m_link.readByte();
    }
    if (m_link.isOpen()) {
        m_link.sendString(Command::readParameter(Parameter::IdentityFirst));
        result.identityMode = m_link.readByte();
    }
    if (m_link.isOpen()) {
        m_link.sendString(Command::readConfiguration());
        result.configurationReply = m_link.readReply();
    }
    result.code = codeFromReply(result.configurationReply);
    if (configurationRead)
        configurationRead(result);
    if (m_link.isOpen()) {
        m_link.sendString(Command::identity());
        result.identityReply = m_link.readReply();
    }
    result.name = nameFromIdentity(result.identityReply);
    return result;
}

bool PrinterQueries::wakeUp()
{
    wakeupPrinter(m_link);
    return cancelAfterWakeup();
}

bool PrinterQueries::cancelAfterWakeup() { return sendAlone(Command::cancel()); }

bool PrinterQueries::sendAlone(const QByteArray &bytes)
{
    if (!m_printer.printerFound)
        return false;
    PortCloser closer(m_link);
    if (!openPrinterPort())
        return false;
    m_link.sendString(bytes);
    return m_link.closePort();
}

bool PrinterQueries::sleep()
{
    if (!m_printer.printerFound)
        return false;
    PortCloser closer(m_link);
    if (!openPrinterPort())
        return false;
    // A line that fails on the way stops the command: nothing more is sent.
    for (const QByteArray &bytes : {Command::cancel(), Command::sleep()}) {
        if (!m_link.isOpen())
            return false;
        m_link.sendString(bytes);
    }
    m_link.delay(SleepDelayMs);
    if (!m_link.isOpen())
        return false;
    m_link.sendString(Command::cancel());
    return m_link.closePort();
}

bool PrinterQueries::reset() { return sendAlone(Command::reset()); }

} // namespace tessary
