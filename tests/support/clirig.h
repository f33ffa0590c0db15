#pragma once

#include "boardsim/simulatedline.h"
#include "cliapp.h"
#include "clienvironment.h"
#include "files.h"
#include "hookedclock.h"
#include "scriptedports.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace tessary::test {

// A port's own line in a scan of every port at once; says when it ends.
class PortLine : public sim::SimulatedLine {
public:
    PortLine(const Clock &clock, std::function<void(const QList<Write> &)> ended)
        : sim::SimulatedLine(clock), m_ended(std::move(ended))
    {
    }
    ~PortLine() override { m_ended(writes()); }

private:
    std::function<void(const QList<Write> &)> m_ended;
};

// Six serial devices the system lists, the simulated line behind them and a
// clock that costs no time. A scan of every port at once gets a line and a
// clock per port, sharing the port's device with the main line.
class SimEnvironment : public CliEnvironment {
public:
    SimEnvironment() { ports.setDevices({"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3", "/dev/ttyS4", "/dev/ttyS5"}); }
    SerialPorts &serialPorts() override { return ports; }
    QSettings *settings() override { return &memory; }
    QString settingsProblem() const override { return {}; }
    SerialLine &line(const PortNames &table) override
    {
        QSet<int> existing;
        for (int port = 1; port <= 6; ++port)
            if (!table.device(port).isEmpty() && present.contains(port))
                existing.insert(port);
        simLine.setExistingPorts(existing);
        return simLine;
    }
    Clock &clock() override { return virtualClock; }
    PortSession portSession(const PortNames &table, int port) override
    {
        auto clock = std::make_unique<HookedClock>();
        clock->advance(virtualClock.now());
        clock->onWait = [this, port](int) {
            if (portWait)
                portWait(port);
        };
        auto line = std::make_unique<PortLine>(*clock, [this, port](const QList<sim::SimulatedLine::Write> &writes) {
            const std::lock_guard lock(mutex);
            portLines.remove(port);
            portWrites += writes;
            ended.insert(port);
            portEnded.notify_all();
        });
        line->setWakeups(false);
        line->setExistingPorts({});
        std::unique_lock lock(mutex);
        portLines.insert(port, line.get());
        simLine.sharePort(port, *line);
        line->setPortExists(port, !table.device(port).isEmpty() && present.contains(port));
        // The threads run as fast as they can: let them end from the highest
        // port down, the order a wrong merge would trip on.
        for (int higher = port + 1; lowestPortLast && higher <= 6; ++higher)
            if (!portEnded.wait_for(lock, std::chrono::seconds(10),
                                    [&] { return !simLine.portExists(higher) || ended.contains(higher); }))
                qFatal("COM%d waited for COM%d for ever", port, higher);
        return {std::move(clock), std::move(line)};
    }
    void portSessionsEnded(qint64 time) override { virtualClock.advance(qMax<qint64>(0, time - virtualClock.now())); }

    ScriptedPorts ports;
    QTemporaryDir settingsFolder; // the COM slots' memory, of this environment alone
    QSettings memory{settingsFolder.filePath("slots.ini"), QSettings::IniFormat};
    QSet<int> present = {1, 2, 3, 4, 5, 6};
    HookedClock virtualClock; // its hand: a signal, flow control, as the command waits
    sim::SimulatedLine simLine{virtualClock};
    std::mutex mutex;
    QList<sim::SimulatedLine::Write> portWrites;
    QHash<int, sim::SimulatedLine *> portLines; // each port's own line while its thread runs
    bool lowestPortLast = false;
    std::function<void(int port)> portWait; // on a port's own thread, at each of its waits
    QSet<int> ended;
    std::condition_variable portEnded;
};

// Standard output whose reader has gone: every write fails.
class ClosedOutput : public QIODevice {
public:
    ClosedOutput() { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64) override { return -1; }
};

// The command-line tool in process over the simulated environment, its clock at `now`; what it printed, and
// the files of a folder of its own.
struct CliRig {
    SimEnvironment env;
    QString out, err;
    QTemporaryDir dir;
    CliApp *app = nullptr; // while a command runs
    bool outClosed = false; // standard output takes nothing (its reader gone, a full disk)
    QDateTime now{QDate(2024, 5, 6), QTime(7, 8, 9), Qt::UTC};

    int run(const QStringList &arguments)
    {
        out.clear();
        err.clear();
        QTextStream outStream(&out), errStream(&err);
        ClosedOutput closed;
        if (outClosed)
            outStream.setDevice(&closed);
        CliApp cli(env, outStream, errStream);
        cli.setNow([this] { return now; });
        app = &cli;
        const int status = cli.run(QStringList{"tessary"} + arguments);
        app = nullptr;
        outStream.flush();
        errStream.flush();
        return status;
    }
    // Runs the command: "" when it exits with `status` and says `said` on standard error, else what it did.
    // What the command says: its standard output when it exits 0, else its standard error; after "exit N: "
    // when it does not exit with STATUS.
    [[nodiscard]] QString answer(const QStringList &arguments, int status = 0)
    {
        const int got = run(arguments);
        return got != status ? QStringLiteral("exit %1: %2%3").arg(got).arg(out, err) : got == 0 ? out : err;
    }
    [[nodiscard]] QString expect(const QStringList &arguments, int status, const QString &said)
    {
        const int got = run(arguments);
        return got == status && err.contains(said) ? QString() : QStringLiteral("exit %1: %2%3").arg(got).arg(out, err);
    }
    // The values of these keys of the JSON printed, joined by blanks.
    [[nodiscard]] QString json(const QStringList &keys) const
    {
        QStringList values;
        for (const QString &key : keys)
            values << QJsonDocument::fromJson(out.toUtf8())[key].toVariant().toString();
        return values.join(u' ');
    }
    // The values of these keys of each object of the JSON array printed.
    [[nodiscard]] QStringList each(const QStringList &keys) const
    {
        QStringList objects;
        for (const QJsonValue object : QJsonDocument::fromJson(out.toUtf8()).array()) {
            QStringList values;
            for (const QString &key : keys)
                values << object[key].toVariant().toString();
            objects << values.join(u' ');
        }
        return objects;
    }
    // The rows of a log under its header, sorted (the boards end in any order); none when there is no file.
    [[nodiscard]] QStringList rows(const char *name) const
    {
        QStringList rows = QString::fromUtf8(read(name)).split(u'\n', Qt::SkipEmptyParts);
        if (!rows.isEmpty() && rows.takeFirst() != "started,ended,station,tool,command,port,device,adapter_serial,speed,handshake,"
                                                    "firmware,identity_before,identity_after,database,entry,code,mode,verified,result,reason,writes")
            return {"another header"};
        rows.sort();
        return rows;
    }
    sim::Board &board(int port, const sim::BoardOptions &options = {}) { return env.simLine.attachBoard(port, options); }
    [[nodiscard]] QString path(const char *name) const { return dir.filePath(QLatin1String(name)); }
    [[nodiscard]] QByteArray read(const char *name) const { return fileBytes(path(name)); }
    void write(const char *name, const QByteArray &bytes) const { QVERIFY(writeFile(path(name), bytes)); }
    // Everything written, on the main line and the ports' own, in time order.
    [[nodiscard]] QList<sim::SimulatedLine::Write> writes() const
    {
        QList<sim::SimulatedLine::Write> all = env.simLine.writes() + env.portWrites;
        std::stable_sort(all.begin(), all.end(), [](const auto &a, const auto &b) { return a.at < b.at; });
        return all;
    }
    // What one port got, on the main line and its own, in hex.
    [[nodiscard]] QByteArray portWire(int port) const
    {
        QByteArray bytes;
        for (const sim::SimulatedLine::Write &w : writes())
            if (w.port == port)
                bytes += w.bytes;
        return bytes.toHex();
    }
};

} // namespace tessary::test
