// tessary wake, sleep and reset: the board control commands, done only once
// their bytes have left the port.
#include "cliapp.h"

#include "printer/printerqueries.h"
#include "serial/seriallink.h"

namespace tessary {

int CliApp::boardControl(const Invocation &call)
{
    const Common &common = call.common;
    const bool wake = m_command == QLatin1String("wake");
    const bool sleep = m_command == QLatin1String("sleep");
    Location location;
    if (const auto exit = findBoard(common, location, wake))
        return *exit;

    PrinterQueries queries(*m_session.link, m_session.printer);
    // Finding the board has woken every port; one wake-up round is enough.
    const bool sent = wake ? queries.cancelAfterWakeup() : sleep ? queries.sleep() : queries.reset();
    const QString done = wake    ? QStringLiteral("Woke the board on %1.\n")
                       : sleep ? QStringLiteral("The board on %1 sleeps; tessary wake wakes it.\n")
                               : QStringLiteral("Reset the board on %1.\n");
    // Done only once the bytes went out; the link has said why not.
    if (!sent) {
        QJsonObject json = locationJson();
        json.insert(QStringLiteral("reason"), m_session.link->lastProblem());
        return fail(common,
                    QStringLiteral("the board on %1 was not %2")
                        .arg(portText(), wake    ? QStringLiteral("woken")
                                         : sleep ? QStringLiteral("put to sleep")
                                                 : QStringLiteral("reset")),
                    json);
    }
    QJsonObject json = locationJson();
    json.insert(QStringLiteral("ok"), true);
    printDone(common, json, done.arg(portText()));
    return Success;
}

} // namespace tessary
