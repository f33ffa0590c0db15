#include "configuration/programmer.h"

#include "app/appstate.h"
#include "app/prompts.h"
#include "configuration/configurationeditor.h"
#include "protocol/commands.h"
#include "protocol/printerqueries.h"
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

bool Programmer::checkChoices(const ConfigurationEditor &editor)
{
    if (!editor.configurationModeResistors() && !editor.configurationModeUser()) {
        m_prompts.warning(configurationModeMissing());
        return false;
    }
    if (!editor.identityAuto() && !editor.identityUser()) {
        m_prompts.warning(identityMethodMissing());
        return false;
    }
    if (editor.configurationModeUser() && !editor.checkSettingsComplete(m_prompts))
        return false;
    if (editor.identityUser() && editor.name().isEmpty()) {
        m_prompts.warning(identityMissing());
        return false;
    }
    return true;
}

ProgrammingResult Programmer::programPrinter(const ConfigurationEditor &editor)
{
    if (!checkChoices(editor)) {
        m_result = {};
        return m_result;
    }
    return program(ProgrammingPlan::fromEditor(editor));
}

ProgrammingResult Programmer::program(const ProgrammingPlan &plan)
{
    m_lineFailureShown = false;
    m_result = {};
    // Until it has run to its end, what is done so far reads as stopped.
    m_result.outcome = ProgrammingResult::Outcome::Stopped;
    if (plan.mode == ProgrammingPlan::Mode::User) {
        openPort();
        if (!confirmPolarity(plan)) {
            m_link.closePort();
            m_status.showStatus(cancelledStatus());
            m_result.outcome = ProgrammingResult::Outcome::Cancelled;
            return m_result;
        }
        // The port is still open from the polarity query.
        writeAll(plan.configurationWrites());
    } else if (plan.mode == ProgrammingPlan::Mode::Resistors) {
        openPort();
        writeAll(plan.configurationWrites());
    }

    if (plan.identity != ProgrammingPlan::Identity::None) {
        openPort();
        writeAll(plan.identityWrites());
    }

    openPort();
    m_link.sendString(Command::reset());
    m_link.closePort();
    m_result.resetSent = true;

    // The board restarts; it hears nothing until it is back.
    m_link.delay(ResetPauseMs);

    m_result.identity = PrinterQueries(m_link, m_printer).identity();
    m_result.identityRead = true;

    m_result.outcome = ProgrammingResult::Outcome::Completed;
    return m_result;
}

ProgrammingResult::Write Programmer::writeParameter(quint8 address, quint8 value)
{
    // Byte by byte with no wait between them: a stop can only land at the
    // echo wait, after the whole command has gone out.
    m_link.sendCharByChar(Command::writeParameter(address, value));
    const ProgrammingResult::Write write{address, value, m_link.getValue()};
    m_result.writes.append(write);
    if (!write.verified()) {
        // A board that is there but does not echo gets one message per
        // parameter. A port that is closed (it could not be opened, or the
        // line hung up) cannot carry any of the writes: one message for the
        // run, not one box per write.
        const bool lineDown = !m_link.isOpen();
        if (!lineDown || !m_lineFailureShown)
            m_prompts.plain(programmingError());
        if (lineDown)
            m_lineFailureShown = true;
    }
    return write;
}

void Programmer::openPort()
{
    // A port that cannot be opened has been reported on the status line by
    // the link; the writes then meet silence, as with a board that is off.
    m_link.openPort(m_printer.comPort, m_printer.baudRate, m_printer.handshake);
}

bool Programmer::confirmPolarity(const ProgrammingPlan &plan)
{
    m_link.sendString(Command::strobePolarity());
    const quint8 detected = m_link.readByte();
    m_result.detectedPolarity = detected;
    if (detected == plan.settings.strobePolarity)
        return true;
    // The question names neither; the status line does, while it is asked.
    m_status.showStatus(polarityStatus(detected, plan.settings.strobePolarity));
    return m_prompts.confirm(polarityQuestion());
}

void Programmer::writeAll(const QList<ProgrammingPlan::Write> &writes)
{
    for (const ProgrammingPlan::Write &w : writes)
        writeParameter(w.address, w.value);
    m_link.closePort();
}

} // namespace tessary
