#include "boardsim/simulatedline.h"

#include <algorithm>
#include <utility>

namespace tessary::sim {

namespace {

bool isFlowControl(char byte) { return byte == 0x11 || byte == 0x13; }

// Takes the entries due by nowUs out of a time-ordered queue.
QByteArray takeQueued(QList<QPair<qint64, char>> &queue, qint64 nowUs)
{
    QByteArray due;
    qsizetype n = 0;
    while (n < queue.size() && queue.at(n).first <= nowUs)
        due += queue.at(n++).second;
    queue.remove(0, n);
    return due;
}

std::optional<qint64> firstHeard(const QList<QPair<qint64, char>> &queue, const LineSettings &listening)
{
    for (const auto &entry : queue) {
        if (listening.handshake != HandshakeXonXoff || !isFlowControl(entry.second))
            return entry.first;
    }
    return std::nullopt;
}

std::optional<qint64> earliest(std::optional<qint64> a, std::optional<qint64> b)
{
    if (!a)
        return b;
    if (!b)
        return a;
    return qMin(*a, *b);
}

} // namespace

// --- BoardDevice ---------------------------------------------------------

BoardDevice::BoardDevice(const BoardOptions &options, OtherSpeeds otherSpeeds)
    : m_board(options), m_otherSpeeds(otherSpeeds)
{
}

void BoardDevice::receive(const QByteArray &bytes, qint64 firstUs, qint64 byteUs, const LineSettings &settings)
{
    if (settings.baud == m_board.baud()) {
        m_board.receive(bytes, firstUs, byteUs);
        return;
    }
    const bool listening = !m_board.isAsleep() && !m_board.isHungUp();
    m_board.receiveAtOtherSpeed(bytes, firstUs + (bytes.size() - 1) * byteUs);
    if (m_otherSpeeds != OtherSpeeds::Garbage || !listening)
        return;
    // Each misread byte upsets the board's receiver and it answers noise,
    // which the program's end hears at its own speed.
    qint64 at = firstUs;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        m_seed = m_seed * 1664525u + 1013904223u;
        m_noise.append({at + Board::QueryLatencyUs, char(m_seed >> 24)});
        at += byteUs;
    }
}

QByteArray BoardDevice::takeDue(qint64 nowUs, const LineSettings *listening)
{
    const QByteArray fromBoard = m_board.takeDue(nowUs);
    const QByteArray noise = takeQueued(m_noise, nowUs);
    if (!listening)
        return {};
    return (listening->baud == m_board.baud() ? fromBoard : QByteArray()) + noise;
}

std::optional<qint64> BoardDevice::nextOutputAtUs(const LineSettings &listening) const
{
    std::optional<qint64> next;
    if (listening.baud == m_board.baud())
        next = m_board.nextOutputAtUs(listening.handshake == HandshakeXonXoff);
    return earliest(next, firstHeard(m_noise, listening));
}

// --- ScriptedDevice ------------------------------------------------------

ScriptedDevice::ScriptedDevice(Responder responder, qint64 latencyUs)
    : m_responder(std::move(responder)), m_latencyUs(latencyUs)
{
}

void ScriptedDevice::receive(const QByteArray &bytes, qint64 firstUs, qint64 byteUs, const LineSettings &settings)
{
    if (!m_responder || bytes.isEmpty())
        return;
    const QByteArray reply = m_responder(bytes, settings);
    qint64 at = qMax(firstUs + (bytes.size() - 1) * byteUs + m_latencyUs,
                     m_output.isEmpty() ? 0 : m_output.last().first);
    for (char byte : reply) {
        at += byteUs;
        m_output.append({at, byte});
    }
}

QByteArray ScriptedDevice::takeDue(qint64 nowUs, const LineSettings *listening)
{
    const QByteArray due = takeQueued(m_output, nowUs);
    return listening ? due : QByteArray();
}

std::optional<qint64> ScriptedDevice::nextOutputAtUs(const LineSettings &listening) const
{
    return firstHeard(m_output, listening);
}

// --- SimulatedLine -------------------------------------------------------

SimulatedLine::SimulatedLine(const Clock &clock, QObject *parent)
    : SerialLine(parent), m_clock(clock), m_existing{1, 2, 3, 4, 5, 6}
{
    m_wakeup.setSingleShot(true);
    m_wakeup.setTimerType(Qt::PreciseTimer);
    connect(&m_wakeup, &QTimer::timeout, this, &SimulatedLine::onWakeup);
}

SimulatedLine::~SimulatedLine() = default;

qint64 SimulatedLine::byteTimeUs(qint32 baud)
{
    const qint64 b = qMax<qint64>(1, baud);
    return (10'000'000 + b / 2) / b;
}

void SimulatedLine::setExistingPorts(const QSet<int> &ports) { m_existing = ports; }

void SimulatedLine::setPortExists(int port, bool exists)
{
    if (exists)
        m_existing.insert(port);
    else
        m_existing.remove(port);
}

Board &SimulatedLine::attachBoard(int port, const BoardOptions &options, OtherSpeeds otherSpeeds)
{
    auto device = std::make_shared<BoardDevice>(options, otherSpeeds);
    BoardDevice *raw = device.get();
    attachDevice(port, std::move(device));
    m_boards.insert(port, raw);
    if (m_firstBoardPort == 0)
        m_firstBoardPort = port;
    return raw->board();
}

void SimulatedLine::attachDevice(int port, std::shared_ptr<Device> device)
{
    m_boards.remove(port);
    if (m_firstBoardPort == port)
        m_firstBoardPort = 0;
    m_devices.insert(port, std::move(device));
    m_existing.insert(port);
    m_gone.remove(port);
}

void SimulatedLine::sharePort(int port, SimulatedLine &other) const
{
    if (const auto device = m_devices.value(port)) {
        other.m_devices.insert(port, device);
        if (BoardDevice *board = m_boards.value(port))
            other.m_boards.insert(port, board);
    }
    other.setPortExists(port, portExists(port));
    other.failOpen(port, m_openFailures.value(port));
}

Board *SimulatedLine::board(int port) const
{
    BoardDevice *device = m_boards.value(port == 0 ? m_firstBoardPort : port);
    return device ? &device->board() : nullptr;
}

void SimulatedLine::failOpen(int port, const QString &reason)
{
    if (reason.isEmpty())
        m_openFailures.remove(port);
    else
        m_openFailures.insert(port, reason);
}

void SimulatedLine::setWakeups(bool on)
{
    m_wakeups = on;
    if (!on)
        m_wakeup.stop();
}

void SimulatedLine::holdOutputUntil(qint64 until)
{
    pump(); // what an earlier hold kept leaves at its end
    m_holdUntil = until;
}

qint64 SimulatedLine::bytesToWrite() const
{
    if (hangUpDue())
        return m_held.size() + m_inFlightAtHangUp;
    if (!m_open)
        return m_lost;
    return holding() ? m_held.size() : 0;
}

QByteArray SimulatedLine::writtenBytes() const
{
    QByteArray all;
    for (const Write &w : m_writes)
        all += w.bytes;
    return all;
}

QByteArray SimulatedLine::writtenBytes(int port) const
{
    QByteArray all;
    for (const Write &w : m_writes)
        if (w.port == port)
            all += w.bytes;
    return all;
}

void SimulatedLine::clearRecords()
{
    m_opens.clear();
    m_writes.clear();
    m_closes.clear();
    m_readLog.clear();
}

bool SimulatedLine::portExists(int port) const
{
    return m_existing.contains(port) && !m_gone.contains(port);
}

bool SimulatedLine::open(int port, qint32 baud, int handshake)
{
    if (m_open)
        return true;
    if (!portExists(port)) {
        m_error = QStringLiteral("COM%1 does not exist").arg(port);
        return false;
    }
    if (m_openFailures.contains(port)) {
        m_error = m_openFailures.value(port);
        return false;
    }
    pump(); // what the devices sent while nobody listened is lost
    m_open = true;
    m_port = port;
    m_settings = {baud, handshake};
    m_error.clear();
    m_lost = 0;
    m_input.clear();
    m_txBusyUntilUs = nowUs();
    m_opens.append({m_clock.now(), port, baud, handshake});
    armWakeup();
    return true;
}

void SimulatedLine::close()
{
    if (!m_open)
        return;
    pump();
    if (!m_open)
        return; // the device hung up first
    m_held.clear(); // as a real close drops what flow control holds
    m_open = false;
    m_input.clear();
    m_wakeup.stop();
    m_closes.append({m_clock.now(), m_port, false});
    m_port = 0;
}

void SimulatedLine::write(const QByteArray &bytes)
{
    if (!m_open || bytes.isEmpty())
        return;
    pump();
    if (!m_open)
        return;
    m_writes.append({m_clock.now(), m_port, m_settings.baud, m_settings.handshake, bytes});
    if (holding()) {
        m_held += bytes;
        return;
    }
    transmit(bytes, nowUs());
    armWakeup();
}

void SimulatedLine::transmit(const QByteArray &bytes, qint64 startUs)
{
    // The bytes leave one after another at the program's speed; a write
    // while earlier bytes are still leaving queues behind them.
    const qint64 byteUs = byteTimeUs(m_settings.baud);
    const qint64 start = qMax(startUs, m_txBusyUntilUs);
    m_txBusyUntilUs = start + bytes.size() * byteUs;
    if (const auto device = m_devices.value(m_port)) {
        device->receive(bytes, start + byteUs, byteUs, m_settings);
        // The device takes the port away once the byte that made it hang up
        // has reached it; the bytes behind that one never do.
        if (device->isHungUp() && !m_hangUpAtUs) {
            m_hangUpAtUs = qMin(device->hungUpAtUs().value_or(m_txBusyUntilUs), m_txBusyUntilUs);
            m_inFlightAtHangUp = (m_txBusyUntilUs - *m_hangUpAtUs) / byteUs;
        }
    }
}

bool SimulatedLine::hangUpDue() const { return m_open && m_hangUpAtUs && nowUs() >= *m_hangUpAtUs; }

void SimulatedLine::hangUp()
{
    m_lost = m_held.size() + m_inFlightAtHangUp;
    m_hangUpAtUs.reset();
    m_inFlightAtHangUp = 0;
    m_held.clear();
    m_gone.insert(m_port);
    m_error = QStringLiteral("COM%1: the line was hung up; the port was closed").arg(m_port);
    m_open = false;
    m_input.clear();
    m_wakeup.stop();
    m_closes.append({m_clock.now(), m_port, true});
    m_port = 0;
    emit inputReady(); // wake a waiting clock
}

qint64 SimulatedLine::bytesAvailable()
{
    if (!m_open)
        return 0;
    pump();
    armWakeup();
    return m_input.size();
}

QByteArray SimulatedLine::read(qint64 maxBytes)
{
    if (!m_open || maxBytes <= 0)
        return {};
    pump();
    const QByteArray chunk = m_input.left(maxBytes);
    m_input.remove(0, chunk.size());
    m_readLog += chunk;
    armWakeup();
    return chunk;
}

void SimulatedLine::clearInput()
{
    if (!m_open)
        return;
    pump();
    m_input.clear();
    armWakeup();
}

std::optional<qint64> SimulatedLine::nextInputAt() const
{
    if (!m_open)
        return std::nullopt;
    if (!m_input.isEmpty())
        return m_clock.now();
    // A hang-up on its way wakes a wait as a byte would.
    if (m_hangUpAtUs)
        return (*m_hangUpAtUs + 999) / 1000;
    // Held output that leaves within the wait may bring an answer: look then.
    if (!m_held.isEmpty() && m_holdUntil >= 0)
        return qMax(m_holdUntil, m_clock.now());
    const auto device = m_devices.value(m_port);
    if (!device)
        return std::nullopt;
    const auto us = device->nextOutputAtUs(m_settings);
    if (!us)
        return std::nullopt;
    return (*us + 999) / 1000;
}

void SimulatedLine::pump()
{
    if (m_open && !m_held.isEmpty() && !holding())
        transmit(std::exchange(m_held, {}), m_holdUntil * 1000);
    if (hangUpDue()) {
        hangUp();
        return;
    }
    const qint64 now = nowUs();
    for (auto it = m_devices.cbegin(); it != m_devices.cend(); ++it) {
        const bool heard = m_open && it.key() == m_port;
        QByteArray due = it.value()->takeDue(now, heard ? &m_settings : nullptr);
        if (!heard || due.isEmpty())
            continue;
        // With XON/XOFF the line itself takes 0x11 and 0x13 as flow control.
        if (m_settings.handshake == HandshakeXonXoff) {
            due.removeIf([](char c) { return isFlowControl(c); });
        }
        m_input += due;
        if (m_input.size() > InputBufferLimit)
            m_input.remove(0, m_input.size() - InputBufferLimit); // overrun: the oldest are lost
    }
}

void SimulatedLine::armWakeup()
{
    if (!m_wakeups || !m_open || !m_input.isEmpty())
        return;
    const auto next = nextInputAt();
    if (!next) {
        m_wakeup.stop();
        return;
    }
    m_armedAt = m_clock.now();
    m_wakeup.start(int(std::clamp<qint64>(*next - m_armedAt, 0, 24 * 3600 * 1000)));
}

void SimulatedLine::onWakeup()
{
    if (!m_open)
        return;
    pump();
    if (!m_input.isEmpty()) {
        emit inputReady();
        return;
    }
    // A virtual clock that has not moved would only make the timer spin.
    if (m_clock.now() != m_armedAt)
        armWakeup();
}

} // namespace tessary::sim
