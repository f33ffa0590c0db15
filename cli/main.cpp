#include "cliapp.h"
#include "clienvironment.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

// The waits run the event loop, so the application object must exist; the
// command runs to its end before main() returns.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessary"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.3"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    tessary::SystemEnvironment environment;
    tessary::CliApp cli(environment, out, err);
    const int status = cli.run(QCoreApplication::arguments());
    out.flush();
    err.flush();
    return status;
}
