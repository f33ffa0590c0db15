#include "board.h"

namespace tessary::sim {

namespace {
constexpr char ESC = 27;
constexpr char GS = 29;
constexpr char CAN = 24;
constexpr char NUL = 0;
constexpr int ModeAddress = 6;
constexpr int Configuration1Address = 7;
constexpr int Configuration2Address = 8;
constexpr int IdentityAddress = 9;
constexpr int IdentityLength = 16;
constexpr int CommunicationAddress = 28;
constexpr int IdentityWidth = 16;
constexpr int MrsNameWidth = 13; // "MRS" takes the last three of the sixteen

bool isFlowControl(char byte) { return byte == 0x11 || byte == 0x13; }
} // namespace

Board::Board(BoardOptions options) : m_options(std::move(options))
{
    m_parameters[ModeAddress] = m_options.userMode ? 1 : 0;
    m_parameters[Configuration1Address] = m_options.configuration1;
    m_parameters[Configuration2Address] = m_options.configuration2;
    const QByteArray identity = m_options.identity.left(IdentityLength);
    for (int i = 0; i < identity.size(); ++i)
        m_parameters[IdentityAddress + i] = quint8(identity.at(i));
    m_parameters[CommunicationAddress] = communicationSettings(m_options.baud, m_options.handshake);
    takeEffect();
}

qint64 Board::byteTimeUs() const
{
    const qint64 baud = qMax<qint64>(1, m_options.baud);
    return (10'000'000 + baud / 2) / baud;
}

quint8 Board::parameter(int address) const
{
    return address >= 0 && address < ParameterCount ? m_parameters[size_t(address)] : 0;
}

void Board::setParameter(int address, quint8 value)
{
    if (address >= 0 && address < ParameterCount)
        m_parameters[size_t(address)] = value;
}

void Board::receive(const QByteArray &bytes, qint64 atUs, qint64 spacingUs)
{
    const qint64 firstUs = atUs;
    qsizetype taken = 0; // a hang-up takes nothing more
    for (char byte : bytes) {
        if (m_hungUp)
            break;
        processByte(byte, atUs);
        atUs += spacingUs;
        ++taken;
    }
    if (m_log && taken > 0)
        m_log(Direction::In, firstUs, bytes.left(taken));
}

void Board::receiveAtOtherSpeed(const QByteArray &bytes, qint64 atUs)
{
    for (char byte : bytes) {
        if (m_hungUp)
            return;
        ++m_received;
        if (m_asleep && byte == NUL && atUs >= m_readyAtUs)
            m_asleep = false;
        if (m_options.faults.hangUpAfter >= 0 && m_received >= m_options.faults.hangUpAfter) {
            m_hungUp = true;
            m_hungUpAtUs = atUs;
            m_output.clear();
            m_streamNextUs.reset();
        }
    }
}

void Board::processByte(char byte, qint64 atUs)
{
    if (m_hungUp)
        return;
    ++m_received;
    const int resets = m_resets;
    interpret(byte, atUs);
    if ((m_options.faults.hangUpAfter >= 0 && m_received >= m_options.faults.hangUpAfter)
        || (m_options.faults.hangUpAfterReset && m_resets != resets)) {
        // The line goes dead in the middle of whatever was being exchanged.
        m_hungUp = true;
        m_hungUpAtUs = atUs;
        m_output.clear();
        m_streamNextUs.reset();
    }
}

void Board::interpret(char byte, qint64 atUs)
{
    if (atUs < m_readyAtUs)
        return; // restarting: the receiver is not listening yet
    if (m_asleep) {
        if (byte == NUL)
            m_asleep = false;
        return;
    }
    if (m_parse != Parse::Idle && atUs - m_lastByteUs > CommandTimeoutUs)
        m_parse = Parse::Idle;
    m_lastByteUs = atUs;

    // Raw parameter bytes are data whatever their value; elsewhere CAN drops a
    // half-received command and ESC or GS start a new one.
    switch (m_parse) {
    case Parse::ReadAddress:
        m_address = quint8(byte);
        m_command = 'f';
        execute(atUs);
        return;
    case Parse::WriteAddress:
        m_address = quint8(byte);
        m_parse = Parse::WriteValue;
        return;
    case Parse::WriteValue: {
        quint8 value = quint8(byte);
        m_parse = Parse::Idle;
        const int wrong = m_options.faults.wrongEchoAddress;
        if (wrong == BoardFaults::EveryAddress || wrong == int(m_address))
            value ^= 0x01;
        const bool stored = m_address < ParameterCount;
        if (stored)
            m_parameters[m_address] = value;
        if (m_options.faults.endlessStream && !m_streamNextUs)
            m_streamNextUs = atUs + QueryLatencyUs + byteTimeUs();
        // An address the board does not have is not confirmed.
        if (stored && !m_options.faults.noEcho)
            reply(QByteArray(1, char(value)), atUs,
                  m_options.faults.lateEcho ? LateEchoUs : EchoLatencyUs);
        return;
    }
    default:
        break;
    }

    if (byte == CAN) {
        m_parse = Parse::Idle;
        return;
    }
    if (byte == ESC) {
        m_parse = Parse::Esc;
        return;
    }
    if (byte == GS) {
        m_parse = Parse::Gs;
        return;
    }
    switch (m_parse) {
    case Parse::Idle:
        return; // stray byte
    case Parse::Esc:
        m_parse = Parse::Idle;
        if (byte == 'I' || byte == 'v' || byte == '@' || byte == 'S') {
            m_command = byte;
            execute(atUs);
        }
        return;
    case Parse::Gs:
        m_parse = byte == 'S' ? Parse::GsS : Parse::Idle;
        return;
    case Parse::GsS:
        m_parse = Parse::Idle;
        if (byte == 'f')
            m_parse = Parse::ReadAddress;
        else if (byte == 'F')
            m_parse = Parse::WriteAddress;
        else if (byte == 'C' || byte == 'h') {
            m_command = byte;
            execute(atUs);
        }
        return;
    default:
        m_parse = Parse::Idle;
        return;
    }
}

void Board::execute(qint64 atUs)
{
    m_parse = Parse::Idle;
    if (m_options.faults.endlessStream && !m_streamNextUs && m_command != '@')
        m_streamNextUs = atUs + QueryLatencyUs + byteTimeUs();
    switch (m_command) {
    case 'I':
        reply(identityReply(), atUs, QueryLatencyUs);
        break;
    case 'v':
        reply(QByteArray(1, char(m_options.probeReply)), atUs, QueryLatencyUs);
        break;
    case '@':
        reset(atUs);
        break;
    case 'S':
        m_asleep = true;
        break;
    case 'f':
        reply(QByteArray(1, char(parameter(m_address))), atUs, QueryLatencyUs);
        break;
    case 'C': {
        const auto [b1, b2] = effectiveConfiguration();
        QByteArray bytes;
        if (m_options.faults.threeByteConfiguration)
            bytes = QByteArrayLiteral("C");
        else if (m_options.fourByteConfiguration)
            bytes = QByteArrayLiteral("SC");
        bytes += char(b1);
        bytes += char(b2);
        reply(bytes, atUs, QueryLatencyUs);
        break;
    }
    case 'h':
        reply(QByteArray(1, char(m_options.strobePolarity ? 1 : 0)), atUs, QueryLatencyUs);
        break;
    default:
        break;
    }
}

void Board::reply(const QByteArray &bytes, qint64 atUs, qint64 latencyUs)
{
    if (m_options.faults.silent || m_streamNextUs)
        return;
    qint64 at = qMax(atUs + latencyUs, m_txBusyUntilUs);
    const qint64 byteUs = byteTimeUs();
    for (char byte : bytes) {
        at += byteUs;
        m_output.append({at, byte});
    }
    m_txBusyUntilUs = at;
}

void Board::reset(qint64 atUs)
{
    // A restart abandons whatever was being sent and reloads the stored parameters.
    m_output.clear();
    m_streamNextUs.reset();
    m_txBusyUntilUs = atUs;
    m_readyAtUs = atUs + ResetSilenceUs;
    m_asleep = false;
    m_parse = Parse::Idle;
    ++m_resets;
    takeEffect();
}

void Board::takeEffect()
{
    m_effective.mode = m_parameters[ModeAddress];
    m_effective.configuration1 = m_parameters[Configuration1Address];
    m_effective.configuration2 = m_parameters[Configuration2Address];
    m_effective.identity = userIdentity();
}

QByteArray Board::userIdentity() const
{
    QByteArray identity;
    for (int i = 0; i < IdentityLength && m_parameters[size_t(IdentityAddress + i)] != 0; ++i)
        identity += char(m_parameters[size_t(IdentityAddress + i)]);
    return identity;
}

std::pair<quint8, quint8> Board::effectiveConfiguration() const
{
    if (m_effective.mode == 0)
        return {m_options.straps1, m_options.straps2};
    return {m_effective.configuration1, m_effective.configuration2};
}

QByteArray Board::identityReply() const
{
    const auto [b1, b2] = effectiveConfiguration();
    QByteArray name = m_effective.identity.isEmpty() ? derivedName(b1, b2) : m_effective.identity;
    if (isMrsMode())
        name = name.left(MrsNameWidth).leftJustified(MrsNameWidth, ' ') + "MRS";
    else
        name = name.left(IdentityWidth).leftJustified(IdentityWidth, ' ');
    return name + m_options.firmware;
}

QByteArray Board::takeDue(qint64 nowUs, qsizetype maxBytes)
{
    QByteArray due;
    qsizetype taken = 0;
    while (taken < m_output.size() && m_output.at(taken).atUs <= nowUs) {
        if (due.size() < maxBytes)
            due += m_output.at(taken).byte;
        ++taken;
    }
    m_output.remove(0, taken);
    if (m_streamNextUs && *m_streamNextUs <= nowUs) {
        const qint64 byteUs = byteTimeUs();
        const qint64 count = (nowUs - *m_streamNextUs) / byteUs + 1;
        const qsizetype room = qMax<qsizetype>(0, maxBytes - due.size());
        due += QByteArray(qsizetype(qMin<qint64>(count, room)), StreamByte);
        *m_streamNextUs += count * byteUs;
    }
    if (m_log && !due.isEmpty())
        m_log(Direction::Out, nowUs, due);
    return due;
}

std::optional<qint64> Board::nextOutputAtUs(bool skipFlowControl) const
{
    std::optional<qint64> next;
    for (const Scheduled &s : m_output) {
        if (!skipFlowControl || !isFlowControl(s.byte)) {
            next = s.atUs;
            break;
        }
    }
    if (m_streamNextUs && (!next || *m_streamNextUs < *next))
        next = m_streamNextUs;
    return next;
}

quint8 Board::communicationSettings(qint32 baud, BoardHandshake handshake)
{
    const int code = speedCode(baud);
    return quint8((code < 0 ? 0 : code) | (handshake == BoardHandshake::Hardware ? 0x80 : 0x00));
}

int Board::speedCode(qint32 baud)
{
    switch (baud) {
    case 1200: return 0;
    case 2400: return 1;
    case 4800: return 2;
    case 9600: return 3;
    case 19200: return 4;
    case 28800:
    case 38400: return 5;
    case 57600: return 6;
    case 115200: return 7;
    default: return -1;
    }
}

QByteArray Board::derivedName(quint8 configuration1, quint8 configuration2)
{
    static const char *const widths[] = {"---", "384", "432", "576", "864", "448", "640", "832"};
    static const char *const heads[] = {"1K5", "3K0", "800", "---"};
    QByteArray name = "TH";
    name += widths[(configuration2 >> 5) & 0x07];
    name += ' ';
    name += heads[(configuration1 >> 1) & 0x03];
    name += (configuration1 & 0x20) ? " STD" : " KEL";
    return name;
}

std::optional<std::pair<quint8, quint8>> Board::parseCode(const QString &code)
{
    if (code.size() != 16)
        return std::nullopt;
    quint16 value = 0;
    for (QChar c : code) {
        if (c != QLatin1Char('0') && c != QLatin1Char('1'))
            return std::nullopt;
        value = quint16((value << 1) | (c == QLatin1Char('1') ? 1 : 0));
    }
    return std::pair{quint8(value >> 8), quint8(value & 0xFF)};
}

} // namespace tessary::sim
