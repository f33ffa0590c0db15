#pragma once

namespace tessary {

class AppState;
class ComSlots;
class CommandGate;
class CommandRecorder;
class FileChooser;
class Prompts;
class SerialLink;
class TrafficRecord;

// What the windows are given: the program-wide state, the serial link with
// its one-command-at-a-time gate, and the dialogs. The program builds them
// over QSerialPort and real dialogs; tests over the simulated board, the
// virtual clock and scripted answers.
struct AppServices {
    AppState &state;
    SerialLink &link;
    CommandGate &gate;
    Prompts &prompts;
    FileChooser &files;
    bool demo = false; // the simulated board stands behind COM1
    // What went over the serial line, shown by the traffic monitor; null
    // when the line is not recorded.
    TrafficRecord *traffic = nullptr;
    // COM1 to COM6 as they follow the system's serial ports; null when the
    // slots are fixed (the tests that put boards on ports by number).
    ComSlots *ports = nullptr;
    // Where "Configure printer" and "Check configuration" keep their boards'
    // rows (the shared record, when the settings name one); null: nowhere.
    CommandRecorder *recorder = nullptr;
};

} // namespace tessary
