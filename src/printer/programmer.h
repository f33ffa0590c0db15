#pragma once

#include "configuration/configurationcode.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace tessary {

class ConfigurationEditor;
class Prompts;
class SerialLink;
class StatusLine;
struct PrinterLink;

// What is to be programmed, taken from the editor once its choices have
// passed the checks. Taken once, before the first byte goes out: the editor
// stays usable while the board is being written, and a change made meanwhile
// must not mix two configurations on the board.
struct ProgrammingPlan {
    enum class Mode { None, Resistors, User };
    enum class Identity { None, Automatic, User };

    Mode mode = Mode::None;
    Identity identity = Identity::None;
    MechanismSettings settings;
    QString name; // the mechanism identity, for Identity::User

    [[nodiscard]] static ProgrammingPlan fromEditor(const ConfigurationEditor &editor);

    // The parameter writes the plan stands for, in the order they are sent:
    // 6 <- 0, or 6 <- 1, 7 <- byte 1, 8 <- byte 2; then 9 <- 0, or the first
    // 16 characters of the name from 9 on and a terminating 0 when shorter.
    struct Write {
        quint8 address = 0;
        quint8 value = 0;
        bool operator==(const Write &) const = default;
    };
    [[nodiscard]] QList<Write> configurationWrites() const;
    [[nodiscard]] QList<Write> identityWrites() const;
};

// What one programming run did, for the window and for a command-line front
// end.
struct ProgrammingResult {
    enum class Outcome {
        Refused,   // a check failed; nothing was sent
        Cancelled, // the polarity question was answered Cancel; nothing was written
        Completed, // every write was sent and the board reset; its identity read unless the line was lost
        Stopped,   // a stop (a window closing) ended it at a wait; see progress()
        NotReset,  // the line failed (or the port could not be opened, or held
                   // its output): the run ended there and the reset did not go out
    };
    struct Write {
        quint8 address = 0;
        quint8 value = 0;
        std::optional<quint8> echo; // nothing when the board did not answer
        // A missing echo is a failed one, whatever the value written.
        [[nodiscard]] bool verified() const { return echo == value; }
    };

    Outcome outcome = Outcome::Refused;
    // Every parameter write sent, in order; one a stop cut short at its echo
    // wait has no echo.
    QList<Write> writes;
    // The polarity the board's hardware reported to GS "Sh" (User mode only;
    // 0 when it did not answer).
    std::optional<quint8> detectedPolarity;
    bool resetSent = false;
    // The board's identity after the reset; empty when it did not answer.
    QByteArray identity;
    bool identityRead = false;
    // The reset left, then the line hung up (or the port could not be opened
    // again) before the board answered: its identity was not asked.
    bool lineLostAfterReset = false;

    [[nodiscard]] int echoFailures() const;
    [[nodiscard]] bool completed() const { return outcome == Outcome::Completed; }
};

// Programming the board: the configuration mode, the two configuration
// bytes and the mechanism identity, each parameter checked against the
// board's echo; then the reset and the identity the board reports after it.
// Runs without widgets: messages go to Prompts, the cancel note to the
// status line, everything else into the result.
class Programmer {
public:
    static QString configurationModeMissing() { return QStringLiteral("Please select a configuration mode !"); }
    static QString identityMethodMissing()
    {
        return QStringLiteral("Please select an identity determination method !");
    }
    static QString identityMissing() { return QStringLiteral("Please specify a mechanism identity !"); }
    static QString polarityQuestion()
    {
        return QStringLiteral("Hardware detected polarity doesn't match user choice !  Program anyway ?");
    }
    static QString cancelledStatus() { return QStringLiteral("Programming cancelled !"); }
    // "Strobe polarity detected by the board: Positive; chosen: Negative"
    static QString polarityStatus(int detected, int chosen)
    {
        const auto word = [](int polarity) {
            return polarity == 0 ? QStringLiteral("Positive")
                 : polarity == 1 ? QStringLiteral("Negative")
                                 : QString::number(polarity);
        };
        return QStringLiteral("Strobe polarity detected by the board: %1; chosen: %2").arg(word(detected), word(chosen));
    }
    static QString programmingError()
    {
        return QStringLiteral("Programming error ! Please check cables and power.");
    }
    static QString nothingWrittenMessage()
    {
        return QStringLiteral("The serial line failed before anything was written: the board keeps the configuration "
                              "it had. Please check cables and power, then configure it again.");
    }
    static QString notResetMessage()
    {
        return QStringLiteral("The serial line failed: the board was not reset and may hold part of the "
                              "configuration. Please check cables and power, then configure it again.");
    }
    static QString lineLostAfterResetMessage()
    {
        return QStringLiteral("The reset left the port, then the serial line hung up before the board "
                              "answered. Please check cables and power, then check the board's configuration.");
    }

    static constexpr int ResetPauseMs = 1000; // the board restarts after ESC "@"

    // The port is opened with the printer-link state as it is when each group
    // of writes starts; whether a printer was found is not looked at.
    Programmer(SerialLink &link, const PrinterLink &printer, Prompts &prompts, StatusLine &status);

    // The four checks before anything is sent: a configuration mode, an
    // identity method, every setting in User mode, a name for a user
    // identity. The first that fails shows its message and gives false.
    [[nodiscard]] bool checkChoices(const ConfigurationEditor &editor);
    // The same checks where no board is reached yet (the command line's
    // options), their message on the prompts given.
    [[nodiscard]] static bool checkChoices(const ConfigurationEditor &editor, Prompts &prompts);

    // Writes the plan, resets the board and reads its identity. In User mode
    // a board whose detected strobe polarity differs from the plan's asks
    // first; Cancel closes the port and writes nothing. A stop requested
    // meanwhile (a window closing) ends it at its next wait by CommandStopped;
    // progress() then tells how far it got. A line that fails (or a port that
    // cannot be opened) ends the run at its next step with one message and
    // the outcome NotReset: nothing further is sent on a line that is gone.
    [[nodiscard]] ProgrammingResult program(const ProgrammingPlan &plan);

    // One parameter: GS "SF" address value, byte by byte, then the echo
    // within 500 ms. A wrong or missing echo (also for a value of 0) shows
    // the programming error message once while the line is up; the caller
    // goes on. The port must be open.
    ProgrammingResult::Write writeParameter(quint8 address, quint8 value);

    // What the run in progress (or the last one) has done so far.
    [[nodiscard]] const ProgrammingResult &progress() const { return m_result; }

private:
    [[nodiscard]] bool openPort();
    [[nodiscard]] bool confirmPolarity(const ProgrammingPlan &plan);
    // False when the line failed: the writes after it are not attempted.
    [[nodiscard]] bool writeAll(const QList<ProgrammingPlan::Write> &writes);
    // The run ends because the line is gone: one message, no reset.
    ProgrammingResult notReset();

    SerialLink &m_link;
    const PrinterLink &m_printer;
    Prompts &m_prompts;
    StatusLine &m_status;
    ProgrammingResult m_result;
};

} // namespace tessary
