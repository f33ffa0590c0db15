#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <utility>

namespace tessary::sim {

// Flow control the board's own serial line uses; reported in parameter 28.
enum class BoardHandshake { XonXoff, Hardware };

// Faults a test or a technician's rehearsal can switch on.
struct BoardFaults {
    static constexpr int EveryAddress = 256;

    bool silent = false;               // receives and acts, but never sends a byte (broken TX wire)
    bool noEcho = false;               // GS "SF" is stored but never echoed
    int wrongEchoAddress = -1;         // a write to this address (or EveryAddress) is corrupted on the
                                       // way in: the board stores and echoes value ^ 0x01
    bool lateEcho = false;             // the echo of GS "SF" comes after 700 ms
    bool threeByteConfiguration = false; // GS "SC" answers "C" B1 B2
    bool endlessStream = false;        // once a command arrives, sends without pause for ever
    int hangUpAfter = -1;              // the line is hung up once this many bytes (>= 1) were received
    bool hangUpAfterReset = false;     // the line is hung up once the board has taken ESC "@"
};

struct BoardOptions {
    qint32 baud = 115200;              // one of the nine speeds
    BoardHandshake handshake = BoardHandshake::Hardware;
    bool userMode = true;              // parameter 6: configuration from parameters 7 and 8
    quint8 configuration1 = 0xF1;      // parameters 7 and 8 ("1111000101000000")
    quint8 configuration2 = 0x40;
    quint8 straps1 = 0xE1;             // the resistor straps, used in resistors mode
    quint8 straps2 = 0x60;
    QByteArray identity;               // user identity (parameters 9..24); empty: automatic
    QByteArray firmware = " FW 4.12";  // follows the 16 identity characters
    quint8 probeReply = 0x04;          // the one byte answered to ESC "v"
    int strobePolarity = 1;            // what GS "Sh" reports, 0 or 1 (1: negative, as configured above)
    bool fourByteConfiguration = false; // GS "SC" answers "SC" B1 B2 (a firmware variant)
    BoardFaults faults;
};

// The controller board as a state machine. Bytes go in with the time they
// finished arriving; the board schedules its reply bytes at the times they
// finish leaving it, paced at its line speed (10 bits a byte). Times are in
// microseconds of any clock that starts at or after 0 and never goes back.
class Board {
public:
    static constexpr int ParameterCount = 32;
    static constexpr qint64 QueryLatencyUs = 2'000;    // ESC "v", ESC "I", GS "Sf", "SC", "Sh"
    static constexpr qint64 EchoLatencyUs = 5'000;     // GS "SF": the parameter memory is written first
    static constexpr qint64 LateEchoUs = 700'000;      // fault: beyond the program's 500 ms
    static constexpr qint64 ResetSilenceUs = 300'000;  // deaf and mute while restarting
    static constexpr qint64 CommandTimeoutUs = 500'000; // a stalled half command is forgotten
    static constexpr char StreamByte = 'U';

    enum class Direction { In, Out };
    using TrafficLog = std::function<void(Direction, qint64 atUs, const QByteArray &bytes)>;

    explicit Board(BoardOptions options = {});

    // Bytes received at the board's own speed: the first has arrived at atUs,
    // each further one spacingUs later.
    void receive(const QByteArray &bytes, qint64 atUs, qint64 spacingUs = 0);
    // Bytes sent at another speed: only the long low level of a NUL gets
    // through, and it wakes a sleeping board; everything else is noise.
    void receiveAtOtherSpeed(const QByteArray &bytes, qint64 atUs);

    // Removes and returns the reply bytes that have left the board by nowUs
    // (at most maxBytes; an endless stream drops what does not fit).
    QByteArray takeDue(qint64 nowUs, qsizetype maxBytes = 4096);
    // When the next reply byte will have left the board; with skipFlowControl
    // the bytes 0x11 and 0x13 are passed over (the far end swallows them).
    [[nodiscard]] std::optional<qint64> nextOutputAtUs(bool skipFlowControl = false) const;
    [[nodiscard]] bool hasPendingOutput() const { return nextOutputAtUs().has_value(); }

    // Line settings and options.
    [[nodiscard]] qint32 baud() const { return m_options.baud; }
    [[nodiscard]] BoardHandshake handshake() const { return m_options.handshake; }
    [[nodiscard]] qint64 byteTimeUs() const;
    [[nodiscard]] const BoardOptions &options() const { return m_options; }
    [[nodiscard]] const BoardFaults &faults() const { return m_options.faults; }
    void setFaults(const BoardFaults &faults) { m_options.faults = faults; }

    // State, for tests.
    [[nodiscard]] quint8 parameter(int address) const;
    void setParameter(int address, quint8 value);
    [[nodiscard]] bool isAsleep() const { return m_asleep; }
    // Whether the board is out of its reset silence at atUs.
    [[nodiscard]] bool isReady(qint64 atUs) const { return atUs >= m_readyAtUs; }
    [[nodiscard]] int resetCount() const { return m_resets; }
    [[nodiscard]] bool isHungUp() const { return m_hungUp; }
    // When the byte that made it hang up arrived.
    [[nodiscard]] std::optional<qint64> hungUpAtUs() const { return m_hungUpAtUs; }
    [[nodiscard]] qint64 bytesReceived() const { return m_received; }
    // The configuration in force since the last reset (what GS "SC" reports).
    [[nodiscard]] std::pair<quint8, quint8> effectiveConfiguration() const;
    [[nodiscard]] bool isUserMode() const { return m_effective.mode != 0; }
    [[nodiscard]] bool isMrsMode() const { return (effectiveConfiguration().first & 0x80) == 0; }
    // The full ESC "I" reply: 16 identity characters, then the firmware text.
    [[nodiscard]] QByteArray identityReply() const;
    // The communication settings byte: speed code, bit 7 for hardware handshake.
    [[nodiscard]] static quint8 communicationSettings(qint32 baud, BoardHandshake handshake);
    // Speed code of a line speed, -1 for a speed the board does not know.
    [[nodiscard]] static int speedCode(qint32 baud);
    // The name the board gives itself when no user identity is set, e.g. "TH432 1K5 STD".
    [[nodiscard]] static QByteArray derivedName(quint8 configuration1, quint8 configuration2);
    // "1111000101000000" -> {0xF1, 0x40}; nothing for anything but 16 binary digits.
    [[nodiscard]] static std::optional<std::pair<quint8, quint8>> parseCode(const QString &code);

    void setTrafficLog(TrafficLog log) { m_log = std::move(log); }

private:
    enum class Parse { Idle, Esc, Gs, GsS, ReadAddress, WriteAddress, WriteValue };
    struct Effective {
        quint8 mode = 0;
        quint8 configuration1 = 0;
        quint8 configuration2 = 0;
        QByteArray identity;
    };
    struct Scheduled {
        qint64 atUs;
        char byte;
    };

    void processByte(char byte, qint64 atUs);
    void interpret(char byte, qint64 atUs);
    void execute(qint64 atUs);
    void reply(const QByteArray &bytes, qint64 atUs, qint64 latencyUs);
    void reset(qint64 atUs);
    void takeEffect();
    [[nodiscard]] QByteArray userIdentity() const;

    BoardOptions m_options;
    std::array<quint8, ParameterCount> m_parameters{};
    Effective m_effective;
    Parse m_parse = Parse::Idle;
    char m_command = 0;
    quint8 m_address = 0;
    qint64 m_lastByteUs = 0;
    bool m_asleep = false;
    qint64 m_readyAtUs = 0;
    int m_resets = 0;
    bool m_hungUp = false;
    std::optional<qint64> m_hungUpAtUs;
    qint64 m_received = 0;
    QList<Scheduled> m_output;        // in time order
    qint64 m_txBusyUntilUs = 0;
    std::optional<qint64> m_streamNextUs;
    TrafficLog m_log;
};

} // namespace tessary::sim
