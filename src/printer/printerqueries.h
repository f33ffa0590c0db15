#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace tessary {

class SerialLink;
struct PrinterLink;

// What the settings read-back read from the board: each reply as it came,
// nothing where the board said nothing. Plain data: the window and the
// command line decide what to make of it.
struct ReadBackResult {
    std::optional<quint8> configurationMode; // parameter 6; none: no reply
    std::optional<quint8> identityMode;      // parameter 9; none: no reply
    QByteArray configurationReply;           // the GS "SC" reply as received
    std::optional<QString> code;             // the 16-character code; none when the reply was unusable
    QByteArray identityReply;                // the ESC "I" reply as received
    QString name;                            // the identity name in it

    // The modes as the window shows them: a mode query without a reply
    // reads as 0 (Resistors, Automatic).
    [[nodiscard]] bool configurationModeUser() const { return configurationMode.value_or(0) != 0; }
    [[nodiscard]] bool identityUser() const { return identityMode.value_or(0) != 0; }
    // Not one byte came back for any of the four queries: nothing was read.
    [[nodiscard]] bool answeredNothing() const
    {
        return !configurationMode && !identityMode && configurationReply.isEmpty() && identityReply.isEmpty();
    }
};

// The exchanges of the main window's printer commands, each opening the port
// with the printer-link state and closing it on every way out (a stop
// included). No widgets: a command-line tool runs them as well.
class PrinterQueries {
public:
    static constexpr int IdentityDelayMs = 100;
    static constexpr int SleepDelayMs = 10;

    static QString readErrorMessage() { return QStringLiteral("Error while reading printer parameters !"); }

    PrinterQueries(SerialLink &link, const PrinterLink &printer);

    // ESC "I", 100 ms, then the whole reply, unchanged. Empty when the board
    // does not answer or the port cannot be opened.
    [[nodiscard]] QByteArray identity();

    // Reads the configuration mode, the identity mode, the configuration
    // bytes and the identity: GS "Sf" 6, GS "Sf" 9, GS "SC", ESC "I". A port
    // that cannot be opened, or a line that fails on the way, reads as a
    // board that does not answer: nothing more is sent on it.
    // configurationRead, when given, is told what has been read as soon as
    // the configuration reply is in, before the identity is asked (the
    // window gives its button back at once after an unusable reply).
    [[nodiscard]] ReadBackResult readSettings(const std::function<void(const ReadBackResult &)> &configurationRead = {});

    // The configuration code in a GS "SC" reply: two bytes, or four counted
    // by their last two. None for any other length.
    [[nodiscard]] static std::optional<QString> codeFromReply(const QByteArray &reply);
    // The configuration name in an identity reply: the first 16 characters
    // without outer blanks, and without a trailing "MRS" (the printer mode
    // the board appends).
    [[nodiscard]] static QString nameFromIdentity(const QByteArray &reply);

    // The board control commands return whether their bytes went out: false
    // without a printer, when the port could not be opened, the line failed or
    // flow control held the output until it was dropped (the serial link has
    // said why on the status line).

    // "Wake up": wakes every port (WakeupPrinter), then CAN to the printer.
    bool wakeUp();
    // Its last step alone, for a caller whose detection has just woken every
    // port: CAN to the printer. Nothing without a printer.
    bool cancelAfterWakeup();
    // "Sleep": CAN, ESC "S", 10 ms, CAN. Nothing without a printer.
    bool sleep();
    // "Reset": ESC "@", and the port closed as soon as the two bytes have
    // left. Nothing without a printer.
    bool reset();

private:
    // Opens the port with the printer-link state; false when it cannot be
    // opened (the serial link has said why on the status line).
    bool openPrinterPort();
    // One command on its own: the port opened, the bytes sent, the port
    // closed once they have left. Nothing without a printer.
    bool sendAlone(const QByteArray &bytes);

    SerialLink &m_link;
    const PrinterLink &m_printer;
};

} // namespace tessary
