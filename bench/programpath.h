#pragma once

// The path the desktop program's printer commands take, as the benchmark and
// the soak run them: the real serial line and event-loop clock, through the
// traffic record's wrappers when recording, with the traffic monitor open or
// not.
#include "app/appstate.h"
#include "app/prompts.h"
#include "serial/eventloopclock.h"
#include "serial/portnames.h"
#include "serial/qtserialline.h"
#include "serial/recordingline.h"
#include "serial/seriallink.h"
#include "serial/trafficmonitorwindow.h"
#include "serial/trafficrecord.h"

#include <QMap>

#include <memory>

namespace tessary::bench {

// Answers every question with OK and counts the messages: a benchmark run
// that shows one has not done what it measures.
class CountingPrompts : public Prompts {
public:
    bool message(const QString &text, MessageIcon, MessageButtons, DefaultButton) override
    {
        ++shown;
        last = text;
        return true;
    }
    int shown = 0;
    QString last;
};

class NoFiles : public FileChooser {
public:
    QString openFile(const FileDialogOptions &) override { return {}; }
    QString saveFile(const FileDialogOptions &) override { return {}; }
};

// How the traffic is seen while the commands run.
enum class Monitor {
    Bare,   // the serial line and clock alone, no recording wrappers
    Closed, // through the wrappers, recording, the monitor closed: the program as it starts
    Open,   // the traffic monitor window open, recording
};

const char *monitorTitle(Monitor monitor)
{
    switch (monitor) {
    case Monitor::Bare:
        return "bare serial line, no recording wrappers";
    case Monitor::Closed:
        return "recording, traffic monitor closed (the program as it starts)";
    case Monitor::Open:
        return "traffic monitor open and recording";
    }
    return "";
}

// The program's side: the real serial line on the given COM mapping.
struct Program {
    // recordLimit: the lines the traffic record keeps (the program's own by default).
    Program(const QMap<int, QString> &mapping, Monitor monitor, qsizetype recordLimit = TrafficRecord::DefaultLimit)
        : line(PortNames(mapping)),
          record(recordLimit),
          recordingLine(line, clock, record),
          recordingClock(clock, recordingLine),
          link(monitor == Monitor::Bare ? static_cast<SerialLine &>(line) : recordingLine,
               monitor == Monitor::Bare ? static_cast<Clock &>(clock) : recordingClock, &status)
    {
        // The program records always (RecordedPath), the monitor open or not.
        if (monitor != Monitor::Bare)
            record.startWatching();
        if (monitor == Monitor::Open) {
            window = std::make_unique<TrafficMonitorWindow>(record, prompts, files);
            window->show();
        }
    }
    QtSerialLine line;
    EventLoopClock clock;
    TrafficRecord record;
    RecordingLine recordingLine;
    RecordingClock recordingClock;
    PlainStatusLine status;
    SerialLink link;
    PrinterLink printer;
    CountingPrompts prompts;
    NoFiles files;
    std::unique_ptr<TrafficMonitorWindow> window;
};

} // namespace tessary::bench
