#pragma once

#include "app/appservices.h"
#include "app/appstate.h"
#include "boardsim/simulatedline.h"
#include "hookedclock.h"
#include "mainwindow/mainfrm.h"
#include "scriptedports.h"
#include "scriptedprompts.h"
#include "serial/comslots.h"
#include "serial/recordedpath.h"

#include <QSettings>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

namespace tessary {
class PortSelection;
}

namespace tessary::test {

// The program in process, wired as main() wires it: the main window over the
// simulated line (COM1 to COM6 exist, boards where a test puts them) through
// the recording wrappers, the virtual clock, and scripted message boxes and
// file dialogs; the record's headings dated from 2026-03-02 14:05:00.000 +01:00 on the
// virtual clock. It starts shown, in a temporary folder of its own that holds
// default.cdb when one is given.
class WindowRig {
public:
    // "ZELPRINTERSCDB0", no entries.
    static QByteArray emptyDatabase();

    // default.cdb as these bytes, missing (nullopt), or a named pipe no program writes to (NamedPipe).
    static inline const QByteArray NamedPipe = "<named pipe>";
    explicit WindowRig(const std::optional<QByteArray> &defaultCdb = emptyDatabase(), bool demo = false);
    ~WindowRig();
    WindowRig(const WindowRig &) = delete;
    WindowRig &operator=(const WindowRig &) = delete;

    // Puts a board on the port (115200 bauds, hardware handshake unless told).
    sim::Board &board(int port = 1, const sim::BoardOptions &options = {}) { return line.attachBoard(port, options); }
    // That board found by a scan ("Check identity") among the ports that exist (the board's alone unless told).
    sim::Board &found(int port = 1, const sim::BoardOptions &options = {}, const QSet<int> &ports = {});

    // The control of that object name; a missing one fails the test's next check.
    template <typename T = QObject> [[nodiscard]] T *find(const char *name) const
    {
        T *found = window->findChild<T *>(QLatin1String(name));
        if (!found)
            qWarning("no control named %s", name);
        return found;
    }
    // A click as the user's on each control named, in turn (names separated by
    // blanks): a button, an option button or a menu item. A disabled control
    // takes no click.
    void click(const QString &names);
    // The text of a label, text field or button (its "text" property).
    [[nodiscard]] QString text(const char *name) const;
    [[nodiscard]] bool isEnabled(const char *name) const;
    [[nodiscard]] bool isChecked(const char *name) const;
    // Replaces the text of a field as the user types it.
    void type(const char *name, const QString &text);
    [[nodiscard]] QString status() const { return window->statusText(); }
    // The printer column as read: "identity|communication label|speed label|" then + or - for each of Check
    // identity, Check configuration, Configure printer, Wake up, Sleep and Reset, enabled or not.
    [[nodiscard]] QString printerColumn() const;

    // "Check identity": the port selection window is driven in place by
    // `inWindow` (an automatic scan when none), then closed with OK if still open.
    void checkIdentity(const std::function<void(PortSelection &)> &inWindow = {});

    // COM1 to COM6 follow `ports` from now on, wired as main() wires them
    // (the memory in a settings file of the rig's own): a port of the
    // simulated line exists while its slot's device is there.
    ComSlots &followPorts(const QMap<int, QString> &mappings = {});

    // Everything written to the ports, joined, and the writes one by one.
    [[nodiscard]] QByteArray wire() const { return line.writtenBytes(); }
    void clearWire() { line.clearRecords(); }

    QTemporaryDir folder;
    QString previousFolder;
    HookedClock clock;
    sim::SimulatedLine line{clock};
    RecordedPath path{line, clock};
    TrafficRecord &record = path.record;
    SerialLink &link = path.link;
    CommandGate &gate = path.gate;
    AppState state;
    ScriptedPrompts prompts;
    ScriptedFileChooser files;
    AppServices services;
    ScriptedPorts ports;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<ComSlots> comSlots;
    std::unique_ptr<MainFrm> window;

private:
    std::function<void(PortSelection &)> m_inWindow;
};

// The first of `wanted` that `lines` lack, in this order among others; empty when they hold them all.
inline QString missingInOrder(const QStringList &lines, const QStringList &wanted)
{
    qsizetype at = 0;
    for (const QString &line : wanted)
        if ((at = lines.indexOf(line, at) + 1) == 0)
            return line;
    return {};
}

} // namespace tessary::test
