#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <optional>

namespace tessary {

class Prompts;
class SerialLink;
struct PrinterLink;

// What the port selection window shows while a detection runs. The detector
// decides, the window only displays.
class DetectionView {
public:
    virtual ~DetectionView() = default;
    virtual void setResultText(const QString &text) = 0;
    // Index in the speed list (0 "1200" ... 8 "115200").
    virtual void selectSpeed(int index) = 0;
    // 0 "Xon-Xoff", 1 "DSR/DTR Mode".
    virtual void selectHandshake(int index) = 0;
    // Checks the option button of COMn.
    virtual void selectPort(int port) = 0;
    virtual void setBusy(bool busy) = 0;
    virtual void focusOk() = 0;
};

// The handshake code the board's communication settings byte asks for: its
// low three bits equal to the speed's code and bit 7 clear mean XON/XOFF (1);
// anything else, and no byte at all, hardware handshake (2).
[[nodiscard]] int handshakeFromSettings(std::optional<quint8> settings, const QString &speed);

// One NUL at 57600 bauds without flow control on every existing port, then a
// 1000 ms pause: a sleeping board wakes on the long low level of a NUL
// whatever its own speed.
void wakeupPrinter(SerialLink &link);

// The printer detection: the manual probe of one port at one speed and the
// automatic scan of every port and speed. Only this class writes the
// printer-link state. Every wait may throw CommandStopped (a window is
// closing); the port is closed on every way out.
class Detector {
public:
    static constexpr int IdentityWaitMs = 250;
    static constexpr int QueryWaitMs = 100;
    static constexpr int WakeupPauseMs = 1000;
    static constexpr int WakeupSpeedIndex = 7; // "57600"
    static constexpr int HandshakeIndexHardware = 1;

    static QString noPortSelectedMessage() { return QStringLiteral("You must select a serial port"); }
    static QString noSuchPortMessage() { return QStringLiteral("This port does not exist"); }
    static QString initialText() { return QStringLiteral("No printer found yet, please start detection."); }
    static QString nothingFoundText() { return QStringLiteral("No printer found"); }
    // "Attempting to contact printer on COM 3 at 9600 bauds."
    static QString attemptText(int port, const QString &speed);

    // view may be null (a command-line tool shows nothing while it scans).
    Detector(SerialLink &link, PrinterLink &printer, Prompts &prompts, DetectionView *view = nullptr);

    // The window opens: no printer until a detection finds one.
    void begin();

    // The manual detection on the port the user picked (0: none picked).
    void detectSerialPrinter(int port, const QString &speed, int handshakeIndex);

    // The identity query, the probe and the settings query on one port at one
    // speed; returns the text for the result label.
    QString probePort(int port, const QString &speed, int handshakeIndex);
    // The board's reply to the identity query of the probe that found it
    // (empty until one has): whoever wants the identity need not ask again.
    [[nodiscard]] QByteArray identityReply() const { return m_identity; }

    // The automatic scan: wake every port, then every existing port at every
    // speed from the fastest down, then the identity query where the board
    // answered. Returns the text shown at its end.
    QString autodetect();

    // The automatic scan in its parts, so that a caller can also run the
    // ports at once, one Detector on its own line per port: beginScan wakes
    // every port; scanPort runs one port's steps; finishScan queries the
    // identity where the board answered. autodetect() runs scanPort one port
    // after another until a board answers.
    void beginScan();
    // Every speed from the fastest down on one existing port: the speed at
    // which the board answered the probe twice, or nothing. Writes no
    // printer-link state.
    std::optional<QString> scanPort(int port);
    // The identity query at the port and speed that answered (port 0: none
    // did); returns the text shown at the scan's end.
    QString finishScan(int port, const QString &speed);

    // Why the port could not be opened, where the last opening of it in
    // this detection failed (busy, no permission, gone, also gone since an
    // earlier opening); nothing where it opened, or was not tried.
    [[nodiscard]] std::optional<QString> unopenedReason(int port) const;

private:
    // Opens without the settle pause of OpenPort: the scan's waits are its own.
    // A port that cannot be opened counts as one that does not answer; its
    // cause goes to the status line once per detection.
    bool open(int port, const QString &speed, int handshake);
    void show(const QString &text);

    SerialLink &m_link;
    PrinterLink &m_printer;
    Prompts &m_prompts;
    DetectionView *m_view = nullptr;
    QSet<int> m_reportedPorts;
    QSet<int> m_openedPorts; // the last opening of each succeeded
    QHash<int, QString> m_openFailures; // the last reason each port did not open
    QByteArray m_identity;
};

} // namespace tessary
