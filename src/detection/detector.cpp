#include "detection/detector.h"

#include "app/appstate.h"
#include "app/prompts.h"
#include "protocol/commands.h"
#include "protocol/replytext.h"
#include "serial/portnames.h"
#include "serial/seriallink.h"

namespace tessary {

namespace {

// The port enters texts as one digit.
QChar portDigit(int port) { return QChar(48 + port); }

QString noReplyText(int port, const QString &speed)
{
    return QStringLiteral("No printer found on COM ") + portDigit(port) + QStringLiteral(" at ") + speed
         + QStringLiteral(" bauds");
}

// Gives the window its buttons back however the detection ends.
class BusyScope {
public:
    explicit BusyScope(DetectionView *view) : m_view(view)
    {
        if (m_view)
            m_view->setBusy(true);
    }
    ~BusyScope()
    {
        if (m_view)
            m_view->setBusy(false);
    }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    DetectionView *m_view;
};

} // namespace

int handshakeFromSettings(std::optional<quint8> settings, const QString &speed)
{
    if (settings && (*settings & 0x07) == speedCode(speed) && (*settings & 0x80) == 0)
        return HandshakeXonXoff;
    return HandshakeHardware;
}

void wakeupPrinter(SerialLink &link)
{
    const QString speed = speedTexts().at(Detector::WakeupSpeedIndex);
    for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port) {
        if (!link.portExists(port))
            continue;
        PortCloser closer(link);
        if (!link.openLine(port, speed, HandshakeNone))
            continue; // nothing to wake behind a port that cannot be opened
        link.clearInput();
        link.sendString(Command::wake());
    }
    link.delay(Detector::WakeupPauseMs);
}

QString Detector::attemptText(int port, const QString &speed)
{
    return QStringLiteral("Attempting to contact printer on COM ") + portDigit(port) + QStringLiteral(" at ")
         + speed + QStringLiteral(" bauds.");
}

Detector::Detector(SerialLink &link, PrinterLink &printer, Prompts &prompts, DetectionView *view)
    : m_link(link), m_printer(printer), m_prompts(prompts), m_view(view)
{
}

void Detector::begin() { m_printer.printerFound = false; }

void Detector::show(const QString &text)
{
    if (m_view)
        m_view->setResultText(text);
}

bool Detector::open(int port, const QString &speed, int handshake)
{
    if (m_link.openLine(port, speed, handshake)) {
        m_openedPorts.insert(port);
        return true;
    }
    m_openedPorts.remove(port);
    m_openFailures.insert(port, m_link.line().errorString());
    // Let the serial link put the cause on the status line, once per port:
    // a busy port would otherwise report itself at every speed.
    if (!m_reportedPorts.contains(port)) {
        m_reportedPorts.insert(port);
        if (m_link.openPort(port, speed, handshake)) {
            m_openedPorts.insert(port);
            return true;
        }
        m_openFailures.insert(port, m_link.lastProblem());
    }
    return false;
}

std::optional<QString> Detector::unopenedReason(int port) const
{
    if (m_openedPorts.contains(port) || !m_openFailures.contains(port))
        return std::nullopt;
    return m_openFailures.value(port);
}

void Detector::detectSerialPrinter(int port, const QString &speed, int handshakeIndex)
{
    m_printer.serialLink = true;
    if (port < PortNames::FirstPort || port > PortNames::LastPort) {
        m_prompts.error(noPortSelectedMessage());
        return;
    }
    if (!m_link.portExists(port)) {
        m_prompts.error(noSuchPortMessage());
        return;
    }
    m_printer.printerFound = false;
    m_reportedPorts.clear();
    m_openedPorts.clear();
    m_openFailures.clear();
    {
        BusyScope busy(m_view);
        show(probePort(port, speed, handshakeIndex));
    }
    // Found: OK is the next step.
    if (m_printer.printerFound && m_view)
        m_view->focusOk();
}

QString Detector::probePort(int port, const QString &speed, int handshakeIndex)
{
    m_identity.clear();
    PortCloser closer(m_link);
    if (!open(port, speed, handshakeIndex + 1)) {
        m_printer.printerFound = false;
        return noReplyText(port, speed);
    }
    m_link.clearInput();

    m_link.sendString(Command::identity());
    m_link.delay(IdentityWaitMs);
    const QByteArray reply = m_link.readWaiting();
    if (reply.isEmpty()) {
        m_printer.printerFound = false;
        return noReplyText(port, speed);
    }
    // Noise (a board at another speed answers each byte with garbage) is
    // not a board: taken for one, it would be programmed at the wrong speed.
    if (!isIdentityText(reply)) {
        m_link.note(QStringLiteral("not a board: the identity reply is not text"));
        m_printer.printerFound = false;
        return noReplyText(port, speed);
    }
    const QString result = trimBlanks(replyText(reply.left(16))) + QStringLiteral(" found on COM ")
                         + portDigit(port) + QStringLiteral(" at ") + speed + QStringLiteral(" bauds");
    // The board has answered, but it counts as found only with its handshake
    // known: a stop at one of the waits below must not leave the found state
    // with another detection's port and speed.

    // The probe's one-byte answer is taken out of the way of the settings byte.
    m_link.clearInput();
    m_link.sendString(Command::probe());
    m_link.delay(QueryWaitMs);
    if (m_link.bytesWaiting() == 1)
        m_link.readWaiting();

    m_link.sendString(Command::readParameter(Parameter::CommunicationSettings));
    m_link.delay(QueryWaitMs);
    m_link.sendString(Command::cancel());
    std::optional<quint8> settings;
    if (m_link.bytesWaiting() > 0) {
        const QByteArray bytes = m_link.readWaiting();
        if (!bytes.isEmpty())
            settings = quint8(bytes.at(0));
    }
    const int handshake = handshakeFromSettings(settings, speed);
    if (m_view)
        m_view->selectHandshake(handshake - 1);

    // The finding, in one step, once the port is closed: a stop while the
    // close waits for the last byte to leave must not leave it either.
    m_link.closePort();
    m_link.checkStop();
    m_printer = PrinterLink{true, qint16(port), speed, qint16(handshake), true};
    m_identity = reply;
    return result;
}

QString Detector::autodetect()
{
    BusyScope busy(m_view);
    beginScan();
    for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port) {
        if (!m_link.portExists(port))
            continue;
        if (const auto speed = scanPort(port))
            return finishScan(port, *speed);
    }
    return finishScan(0, QString());
}

void Detector::beginScan()
{
    m_printer.serialLink = true;
    m_printer.printerFound = false;
    m_reportedPorts.clear();
    m_openedPorts.clear();
    m_openFailures.clear();
    wakeupPrinter(m_link);
}

std::optional<QString> Detector::scanPort(int port)
{
    const QStringList &speeds = speedTexts();
    for (qsizetype index = speeds.size() - 1; index >= 0; --index) {
        const QString &speed = speeds.at(index);
        show(attemptText(port, speed));
        PortCloser closer(m_link);
        if (!open(port, speed, HandshakeNone))
            continue;
        m_link.clearInput();
        m_link.sendString(Command::probe());
        m_link.delay(QueryWaitMs);
        if (m_link.bytesWaiting() != 1)
            continue;
        // One byte may be chance: a board answers the probe twice.
        m_link.sendString(Command::cancel());
        m_link.clearInput();
        m_link.delay(QueryWaitMs);
        m_link.sendString(Command::probe());
        m_link.delay(QueryWaitMs);
        if (m_link.bytesWaiting() != 1)
            continue;
        m_link.readWaiting();
        // Found only once the identity query has completed.
        if (m_view) {
            m_view->selectSpeed(int(index));
            m_view->selectPort(port);
        }
        return speed;
    }
    return std::nullopt;
}

QString Detector::finishScan(int port, const QString &speed)
{
    QString result;
    if (port != 0) {
        result = probePort(port, speed, HandshakeIndexHardware);
    } else {
        result = nothingFoundText();
        m_printer.printerFound = false;
    }
    show(result);
    if (m_view) {
        m_view->setBusy(false);
        m_view->focusOk();
    }
    return result;
}

} // namespace tessary
