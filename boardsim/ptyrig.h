#pragma once

#include "boardsim/ptyboardthread.h"
#include "serial/eventloopclock.h"
#include "serial/portnames.h"
#include "serial/qtserialline.h"
#include "serial/seriallink.h"

namespace tessary::sim {

// For real-time tests: a board on a pseudo-terminal (on its own thread)
// mapped to a COM port, and the program's real serial path to it:
// QtSerialLine, EventLoopClock and SerialLink.
//
//     PtyRig rig;                       // default board on COM1
//     QVERIFY2(rig.isReady(), qPrintable(rig.errorString()));
//     rig.link().openPort(1, "115200", HandshakeHardware);
class PtyRig {
public:
    explicit PtyRig(const BoardOptions &options = {}, int port = 1);

    [[nodiscard]] bool isReady() const { return m_board.isRunning(); }
    [[nodiscard]] QString errorString() const { return m_board.errorString(); }
    [[nodiscard]] QString devicePath() const { return m_board.path(); }
    [[nodiscard]] PortNames portNames() const { return m_line.portNames(); }

    [[nodiscard]] PtyBoardThread &board() { return m_board; }
    [[nodiscard]] QtSerialLine &line() { return m_line; }
    [[nodiscard]] EventLoopClock &clock() { return m_clock; }
    [[nodiscard]] SerialLink &link() { return m_link; }

private:
    PtyBoardThread m_board;
    QtSerialLine m_line;
    EventLoopClock m_clock;
    SerialLink m_link;
};

} // namespace tessary::sim
