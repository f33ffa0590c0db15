#pragma once

#include "serial/commandgate.h"
#include "serial/recordingline.h"
#include "serial/seriallink.h"
#include "serial/trafficrecord.h"

namespace tessary {

// The serial path every printer command of the windows takes: the line and
// its clock through the recording wrappers, which record always, the link
// over them, and the command gate, whose command names head the record's
// lines.
struct RecordedPath {
    RecordedPath(SerialLine &serialLine, Clock &serialClock)
        : line(serialLine, serialClock, record), clock(serialClock, line), link(line, clock), gate(link)
    {
        QObject::connect(&gate, &CommandGate::started, &line, &RecordingLine::beginCommand);
        // Recorded always, within the record's bound: the traffic monitor
        // opened after a fault shows it.
        record.startWatching();
    }
    RecordedPath(const RecordedPath &) = delete;
    RecordedPath &operator=(const RecordedPath &) = delete;

    TrafficRecord record;
    RecordingLine line;
    RecordingClock clock;
    SerialLink link;
    CommandGate gate;
};

} // namespace tessary
