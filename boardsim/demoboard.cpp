#include "boardsim/demoboard.h"

#include <QFile>

namespace tessary::sim {

BoardOptions DemoBoard::defaultOptions()
{
    BoardOptions options;
    options.baud = 115200;
    options.handshake = BoardHandshake::Hardware;
    options.userMode = true;
    options.configuration1 = 0xF1; // "11110001"
    options.configuration2 = 0x40; // "01000000"
    options.strobePolarity = 1;    // what the hardware detects: the configuration's negative strobe
    return options;
}

DemoBoard::DemoBoard(const QString &logFile)
{
    PtyBoard::LogSink sink;
    if (!logFile.isEmpty()) {
        auto file = std::make_shared<QFile>(logFile);
        if (file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            sink = [file](const QString &line) {
                file->write(line.toUtf8() + '\n');
                file->flush();
            };
        }
    }
    m_board = std::make_unique<PtyBoardThread>(defaultOptions(), false, std::move(sink));
}

DemoBoard::~DemoBoard() = default;

} // namespace tessary::sim
