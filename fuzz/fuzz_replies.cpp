// Arbitrary bytes from the board, through the simulated line and the virtual
// clock: the read-back, the identity query, the manual probe and the
// automatic scan must end, with the port closed, whatever comes back.
#include "app/appstate.h"
#include "app/prompts.h"
#include "boardsim/simulatedline.h"
#include "configuration/configurationeditor.h"
#include "detection/detector.h"
#include "printer/printerqueries.h"
#include "serial/seriallink.h"
#include "serial/virtualclock.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

using namespace tessary;
using namespace tessary::sim;

namespace {

class SilentPrompts : public Prompts {
public:
    bool message(const QString &, MessageIcon, MessageButtons, DefaultButton) override { return true; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Each write is answered with the next piece of the input: its first byte says how long the piece is.
    auto input = std::make_shared<QByteArray>(reinterpret_cast<const char *>(data), qsizetype(size));
    VirtualClock clock;
    SimulatedLine line(clock);
    line.setWakeups(false);
    line.setExistingPorts({2});
    line.attachDevice(2, std::make_shared<ScriptedDevice>([input](const QByteArray &, const LineSettings &) {
        const QByteArray piece = input->mid(1, input->isEmpty() ? 0 : quint8(input->at(0)) % 64);
        input->remove(0, 1 + piece.size());
        return piece;
    }));
    SerialLink link(line, clock);
    SilentPrompts prompts;
    PrinterLink printer{true, 2, QStringLiteral("9600"), HandshakeHardware, true};

    PrinterQueries queries(link, printer);
    (void)queries.readSettings();
    (void)queries.identity();
    Detector detector(link, printer, prompts);
    (void)detector.probePort(2, QStringLiteral("9600"), Detector::HandshakeIndexHardware);
    (void)detector.autodetect();
    if (line.isOpen())
        std::abort();
    return 0;
}
