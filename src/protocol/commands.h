#pragma once

#include <QByteArray>

namespace tessary {

// Board parameters, read with GS "Sf" n and written with GS "SF" n v.
namespace Parameter {
constexpr quint8 ConfigurationMode = 6;  // 0 resistors, otherwise user (written as 1)
constexpr quint8 ConfigurationByte1 = 7;
constexpr quint8 ConfigurationByte2 = 8;
constexpr quint8 IdentityFirst = 9;      // 9 to 24; 0 at 9 means automatic identity
constexpr quint8 IdentityLast = 24;
constexpr int IdentityLength = 16;
constexpr quint8 CommunicationSettings = 28; // bits 0-2 speed code, bit 7 handshake
} // namespace Parameter

// Every command the program sends to the controller board, as its exact
// bytes: no terminator, no checksum; parameter bytes go raw.
namespace Command {
constexpr char ESC = 27;
constexpr char GS = 29;
constexpr char CAN = 24;
constexpr char NUL = 0;

QByteArray identity();                            // ESC "I": a text, the identity
QByteArray probe();                               // ESC "v": exactly one byte
QByteArray reset();                               // ESC "@": no reply
QByteArray sleep();                               // ESC "S": no reply
QByteArray cancel();                              // CAN
QByteArray wake();                                // NUL
QByteArray readParameter(quint8 address);         // GS "Sf" n: one byte
QByteArray readConfiguration();                   // GS "SC": two bytes (four: the last two count)
QByteArray writeParameter(quint8 address, quint8 value); // GS "SF" n v: echo of v
QByteArray strobePolarity();                      // GS "Sh": one byte, 0 or 1
} // namespace Command

} // namespace tessary
