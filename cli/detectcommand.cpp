// tessary detect: where the board is, its line settings and its identity;
// with --all-boards every board on every port.
#include "cliapp.h"

#include "protocol/replytext.h"

#include <QJsonArray>
#include <QTextStream>

namespace tessary {

int CliApp::detect(const Invocation &call)
{
    if (call.common.allBoards)
        return detectAllBoards(call);
    Location location;
    if (const auto exit = findBoard(call.common, location))
        return *exit;
    QJsonObject json = locationJson();
    json.insert(QStringLiteral("ok"), true);
    json.insert(QStringLiteral("identity"), replyText(location.identity));
    print(call.common, json,
          locationText() + QStringLiteral("Identity: %1\n").arg(boardtext::shown(location.identity)));
    return Success;
}

int CliApp::detectAllBoards(const Invocation &call)
{
    const Common &common = call.common;
    const std::vector<BoardRun> runs = runAllBoards(common, {});
    QJsonArray json;
    QList<QStringList> rows = {{"Port", "Device", "Speed", "Handshake", "Identity", "Result"}};
    bool failed = false;
    QList<const BoardRun *> shown;
    for (const BoardRun &run : runs) {
        if (!reported(common, run))
            continue;
        shown << &run;
        failed = failed || outcomeFails(run.outcome);
        QJsonObject object = boardtext::runJson(m_command, run);
        object.insert(QStringLiteral("identity"), run.found() ? QJsonValue(replyText(run.identity)) : QJsonValue());
        json.append(object);
        rows.append({run.portName(), run.device, run.found() ? run.printer.baudRate : QStringLiteral("-"),
                     run.found() ? boardtext::handshakeCaption(run.printer.handshake) : QStringLiteral("-"),
                     run.found() ? boardtext::shown(run.identity) : QStringLiteral("-"), outcomeWord(run.outcome)});
    }
    return allBoardsEnd(call, runs, json, boardtext::table(rows) + boardtext::failedList(shown), false, failed);
}

} // namespace tessary
