#include "printer/programmer.h"

#include "app/appstate.h"
#include "app/prompts.h"
#include "configuration/configurationeditor.h"
#include "printer/printerqueries.h"
#include "protocol/commands.h"
#include "protocol/replytext.h"
#include "serial/seriallink.h"

namespace tessary {

ProgrammingPlan ProgrammingPlan::fromEditor(const ConfigurationEditor &editor)
{
    ProgrammingPlan plan;
    if (editor.configurationModeResistors())
        plan.mode = Mode::Resistors;
    else if (editor.configurationModeUser())
        plan.mode = Mode::User;
    if (editor.identityAuto())
        plan.identity = Identity::Automatic;
    else if (editor.identityUser())
        plan.identity = Identity::User;
    plan.settings = editor.settings();
    plan.name = editor.name();
    return plan;
}

QList<ProgrammingPlan::Write> ProgrammingPlan::configurationWrites() const
{
    switch (mode) {
    case Mode::Resistors:
        return {{Parameter::ConfigurationMode, 0}};
    case Mode::User:
        return {{Parameter::ConfigurationMode, 1},
                {Parameter::ConfigurationByte1, configurationByte1(settings)},
                {Parameter::ConfigurationByte2, configurationByte2(settings)}};
    case Mode::None:
        break;
    }
    return {};
}

QList<ProgrammingPlan::Write> ProgrammingPlan::identityWrites() const
{
    switch (identity) {
    case Identity::Automatic:
        return {{Parameter::IdentityFirst, 0}};
    case Identity::User: {
        // One byte per character: the editor keeps the name to Latin-1.
        const QByteArray bytes = name.left(Parameter::IdentityLength).toLatin1();
        QList<Write> writes;
        for (qsizetype i = 0; i < bytes.size(); ++i)
            writes.append({quint8(Parameter::IdentityFirst + i), quint8(bytes.at(i))});
        // A full-length identity fills 9 to 24 and needs no end mark.
        if (bytes.size() < Parameter::IdentityLength)
            writes.append({quint8(Parameter::IdentityFirst + bytes.size()), 0});
        return writes;
    }
    case Identity::None:
        break;
    }
    return {};
}

int ProgrammingResult::echoFailures() const
{
    int failures = 0;
    for (const Write &w : writes)
        failures += w.verified() ? 0 : 1;
    return failures;
}

Programmer::Programmer(SerialLink &link, const PrinterLink &printer, Prompts &prompts, StatusLine &status)
    : m_link(link), m_printer(printer), m_prompts(prompts), m_status(status)
{
}

bool Programmer::checkChoices(const ConfigurationEditor &editor) { return checkChoices(editor, m_prompts); }

bool Programmer::checkChoices(const ConfigurationEditor &editor, Prompts &prompts)
{
    if (!editor.configurationModeResistors() && !editor.configurationModeUser()) {
        prompts.warning(configurationModeMissing());
        return false;
    }
    if (!editor.identityAuto() && !editor.identityUser()) {
        prompts.warning(identityMethodMissing());
        return false;
    }
    if (editor.configurationModeUser() && !editor.checkSettingsComplete(prompts))
        return false;
    // A name of blanks only is none: the detection would not find the board again by it.
    if (editor.identityUser() && trimBlanks(editor.name()).isEmpty()) {
        prompts.warning(identityMissing());
        return false;
    }
    return true;
}

ProgrammingResult Programmer::program(const ProgrammingPlan &plan)
{
    m_result = {};
    // Until it has run to its end, what is done so far reads as stopped.
    m_result.outcome = ProgrammingResult::Outcome::Stopped;
    if (plan.mode == ProgrammingPlan::Mode::User) {
        if (!openPort())
            return notReset();
        if (!confirmPolarity(plan)) {
            m_link.closePort();
            m_status.showStatus(cancelledStatus());
            m_result.outcome = ProgrammingResult::Outcome::Cancelled;
            return m_result;
        }
        // The port is still open from the polarity query.
        if (!writeAll(plan.configurationWrites()))
            return notReset();
    } else if (plan.mode == ProgrammingPlan::Mode::Resistors) {
        if (!openPort() || !writeAll(plan.configurationWrites()))
            return notReset();
    }

    if (plan.identity != ProgrammingPlan::Identity::None) {
        if (!openPort() || !writeAll(plan.identityWrites()))
            return notReset();
    }

    if (!openPort())
        return notReset();
    m_link.sendString(Command::reset());
    // Sent only once the two bytes have left: the close says so.
    m_result.resetSent = m_link.closePort();
    if (!m_result.resetSent)
        return notReset();

    // The board restarts; it hears nothing until it is back. A line that
    // hung up meanwhile (or the port gone with it) is asked nothing more:
    // the reset left, the board did not answer.
    m_result.outcome = ProgrammingResult::Outcome::Completed;
    if (!m_link.lineFailed())
        m_link.delay(ResetPauseMs);
    if (m_link.lineFailed() || !openPort()) {
        m_result.lineLostAfterReset = true;
        m_prompts.error(lineLostAfterResetMessage());
        return m_result;
    }
    m_result.identity = PrinterQueries(m_link, m_printer).identity();
    m_result.identityRead = true;
    return m_result;
}

ProgrammingResult Programmer::notReset()
{
    m_link.closePort();
    m_prompts.error(m_result.writes.isEmpty() ? nothingWrittenMessage() : notResetMessage());
    m_result.outcome = ProgrammingResult::Outcome::NotReset;
    return m_result;
}

ProgrammingResult::Write Programmer::writeParameter(quint8 address, quint8 value)
{
    // Byte by byte with no wait between them: a stop can only land at the
    // echo wait, after the whole command has gone out, so it counts as sent.
    m_link.sendCharByChar(Command::writeParameter(address, value));
    m_result.writes.append({address, value, std::nullopt});
    m_result.writes.last().echo = m_link.getValue();
    const ProgrammingResult::Write write = m_result.writes.last();
    // A board that is there but does not echo gets one message per
    // parameter. A line that is gone (it failed during the write or its echo
    // wait) gets the run's one message instead.
    if (!write.verified() && m_link.isOpen())
        m_prompts.plain(programmingError());
    return write;
}

bool Programmer::openPort()
{
    // A port that cannot be opened has been reported on the status line by
    // the link.
    return m_link.openPort(m_printer.comPort, m_printer.baudRate, m_printer.handshake);
}

bool Programmer::confirmPolarity(const ProgrammingPlan &plan)
{
    m_link.sendString(Command::strobePolarity());
    // No reply reads as polarity 0.
    const quint8 detected = m_link.readByte().value_or(0);
    // A line that failed meanwhile is not asked about: the writes end the run.
    if (!m_link.isOpen())
        return true;
    m_result.detectedPolarity = detected;
    if (detected == plan.settings.strobePolarity)
        return true;
    // The question names neither; the status line does, while it is asked.
    m_status.showStatus(polarityStatus(detected, plan.settings.strobePolarity));
    return m_prompts.confirm(polarityQuestion());
}

bool Programmer::writeAll(const QList<ProgrammingPlan::Write> &writes)
{
    for (const ProgrammingPlan::Write &w : writes) {
        if (!m_link.isOpen())
            return false;
        writeParameter(w.address, w.value);
    }
    const bool open = m_link.isOpen();
    m_link.closePort();
    return open;
}

} // namespace tessary
