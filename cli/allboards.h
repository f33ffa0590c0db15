#pragma once

#include "app/appstate.h"
#include "boardprogram.h"
#include "portthreads.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <vector>

namespace tessary {

class BoardLines;
class CliEnvironment;

// Every board on every port at once, for a production line: one thread per
// port (PortThreads), each on its own line, clock and link, runs the steps of
// a scan of that port alone (its wake-up, every speed from the fastest down,
// the probe) until its own board answers, then, given an order, the steps of
// `program` on it. What fails on one port stops no other. Each board's
// progress is its live line; its messages are lines of their own, headed by
// its name.
class AllBoards {
public:
    static constexpr int MaxPorts = 32;

    struct Port {
        int com = 0; // its COM number, 0: none
        QString device;
        // "COM3 (ttyUSB2)", or the device alone ("ttyUSB9"; a path outside
        // /dev as given).
        [[nodiscard]] QString name() const;
    };

    // What happened on one port.
    struct Board {
        Port port;
        bool missing = false; // the device is not there
        PrinterLink printer;  // printerFound: a board answered the probe
        QByteArray identity;  // its reply to the probe's identity query
        bool programming = false; // the order's steps began
        BoardProgram program;
        bool stopped = false; // a stop ended its thread
        int parameters = 0;   // the parameter writes sent to it

        [[nodiscard]] bool found() const { return printer.printerFound; }
        // "ok", "echo-error", ..., "interrupted"; "found" or "no-board" for a scan alone.
        [[nodiscard]] QString result() const;
    };

    // command: the name the trace heads each board's exchanges with.
    AllBoards(CliEnvironment &environment, BoardLines &lines, QString command, bool assumeYes);

    // Runs every port at once; order null: the scan alone. ended() runs on
    // the calling thread as each port's thread ends (the log's row); what it
    // returns, if anything, is shown as a message.
    [[nodiscard]] std::vector<Board> run(const QList<Port> &ports, const ProgramOrder *order,
                                         const std::function<QString(const Board &)> &ended);
    // Stops every board at its next wait (a signal). Called on run()'s thread.
    void requestStop() { m_threads.requestStop(); }

private:
    PortThreads m_threads;
    BoardLines &m_lines;
    QString m_command;
    bool m_assumeYes = false;
};

} // namespace tessary
