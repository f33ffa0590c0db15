#include "boardsim/ptyrig.h"

namespace tessary::sim {

PtyRig::PtyRig(const BoardOptions &options, int port)
    : m_board(options), m_line(PortNames({{port, m_board.path()}}, {})), m_link(m_line, m_clock)
{
}

} // namespace tessary::sim
