#include "protocol/commands.h"

namespace tessary::Command {

namespace {
QByteArray bytes(std::initializer_list<char> list) { return QByteArray(list.begin(), qsizetype(list.size())); }
} // namespace

QByteArray identity() { return bytes({ESC, 'I'}); }
QByteArray probe() { return bytes({ESC, 'v'}); }
QByteArray reset() { return bytes({ESC, '@'}); }
QByteArray sleep() { return bytes({ESC, 'S'}); }
QByteArray cancel() { return bytes({CAN}); }
QByteArray wake() { return bytes({NUL}); }
QByteArray readParameter(quint8 address) { return bytes({GS, 'S', 'f', char(address)}); }
QByteArray readConfiguration() { return bytes({GS, 'S', 'C'}); }
QByteArray writeParameter(quint8 address, quint8 value)
{
    return bytes({GS, 'S', 'F', char(address), char(value)});
}
QByteArray strobePolarity() { return bytes({GS, 'S', 'h'}); }

} // namespace tessary::Command
