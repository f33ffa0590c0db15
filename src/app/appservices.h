#pragma once

namespace tessary {

class AppState;
class CommandGate;
class FileChooser;
class Prompts;
class SerialLink;

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
};

} // namespace tessary
