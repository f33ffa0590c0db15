#pragma once

#include <QJsonDocument>
#include <QProcess>
#include <QStringList>

namespace tessary::test {

// A program the build made, by its path in the build folder: "cli/tessary".
inline QString built(const QString &program) { return qEnvironmentVariable("TESSARY_BIN_DIR") + u'/' + program; }

// How a program ran: its exit status (-1 when it did not end by itself within a minute) and what it printed.
struct Ran {
    int status = -1;
    QString out, err;
    // A value of the JSON object it printed, as text.
    [[nodiscard]] QString json(const char *key) const { return QJsonDocument::fromJson(out.toUtf8())[key].toVariant().toString(); }
};

// Runs a program to its end, in that environment (the test's own when none is given).
inline Ran runProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment = {})
{
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(program, arguments);
    const bool ended = process.waitForFinished(60'000) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace tessary::test
