// The command-line tool in process, against the simulated board on the
// virtual clock: exit status, what it prints, the bytes on the wire and the
// files it writes.
#include "boardsim/simulatedline.h"
#include "allboards.h"
#include "cliapp.h"
#include "clienvironment.h"
#include "database/databasefiles.h"
#include "database/mechanismdatabase.h"
#include "files.h"
#include "hookedclock.h"
#include "printer/csvlog.h"
#include "scriptedports.h"
#include "scriptedprompts.h"
#include "serial/virtualclock.h"
#include "clirig.h"
#include "terminal.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <barrier>
#include <condition_variable>
#include <csignal>
#include <mutex>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tessary;
using namespace tessary::sim;
using namespace tessary::test;
using Rig = tessary::test::CliRig;

namespace {

// An adapter of the plug tables: A to G and X are FTDI adapters with serial
// numbers, S has A's serial number under other USB ids, N no serial number
// (its by-id name), P tells nothing of itself (its path).
SerialPortInfo adapter(QChar name, const QString &device)
{
    if (name == u'P')
        return {device, {}, {}, {}, {}, {}, {}};
    if (name == u'N')
        return {device, "USB-Serial Controller", "Prolific", {}, 0x067b, 0x2303, "usb-Prolific_USB-Serial_Controller-if00-port0"};
    const bool s = name == u'S';
    return {device, "FT232R USB UART", "FTDI", s ? "A1" : QString(name) + u'1', quint16(s ? 0x067b : 0x0403),
            quint16(s ? 0x2303 : 0x6001), {}};
}

const QStringList Fields576 = {"--head-width", "576", "--head-type", "1500", "--mechanism", "standard", "--steps", "1",
                               "--rotation", "normal", "--strobe", "positive", "--head-up", "normal"};

// Puts what the words name on the ports: "2:9600" a board at 9600 bauds,
// "4:xon@38400" one with XON/XOFF, "5:noisy@4800" one that answers other
// speeds with noise, "6:noecho@2400" one that echoes no parameter write,
// "3:hangup@19200" one that hangs up amid the writes, "1:once" a device that answers a probe but not the probe
// after CAN, "2:double" one that answers a probe with two bytes, "3:probes"
// one that answers every probe and nothing else, "1:locked" a port that
// cannot be opened.
void place(Rig &rig, const QString &spec)
{
    for (const QString &word : spec.split(u' ', Qt::SkipEmptyParts)) {
        const int port = word.section(u':', 0, 0).toInt();
        const QString what = word.section(u':', 1);
        auto lastWasCancel = std::make_shared<bool>(false);
        const auto answerProbe = [=](const QByteArray &received, const LineSettings &) {
            const bool answer = received == QByteArray::fromHex("1b76") && (what != u"once" || !*lastWasCancel);
            *lastWasCancel = received == QByteArray::fromHex("18");
            return answer ? QByteArray(what == u"double" ? 2 : 1, '\x01') : QByteArray();
        };
        if (what == u"once" || what == u"double" || what == u"probes") {
            rig.env.simLine.attachDevice(port, std::make_shared<ScriptedDevice>(answerProbe));
        } else if (what == u"locked") {
            rig.env.simLine.failOpen(port, QStringLiteral("/dev/ttyS%1 is in use by another program").arg(port - 1));
        } else {
            const BoardOptions options{.baud = what.section(u'@', -1).toInt(),
                                       .handshake = what.startsWith(u"xon@") ? BoardHandshake::XonXoff : BoardHandshake::Hardware};
            rig.env.simLine.attachBoard(port, options, what.startsWith(u"noisy@") ? OtherSpeeds::Garbage : OtherSpeeds::Silence)
                .setFaults({.noEcho = what.startsWith(u"noecho@"), .hangUpAfter = what.startsWith(u"hangup@") ? 40 : -1});
        }
    }
}

// The faults of the fault table.
enum Fault { None, Busy, Vanished, Silent, HangUpInScan, HangUpInWrites, HangUpAfterReset, SilentAfterReset, Held, NoEcho,
             WrongEcho, SignalInScan, SignalInWrites, TraceUnwritable, LogUnwritable, OutputClosed, FaultCount };
const char *const FaultNames[FaultCount] = {
    "none", "busy", "vanished", "silent", "hang-up in the scan", "hang-up amid the writes",
    "hang-up after the reset", "silent from the reset on", "output held once found", "no echo", "wrong echo", "SIGINT in the scan",
    "SIGTERM once found", "trace on a full disk", "log on a full disk", "standard output closed"};

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    // Usage errors exit 2 and touch nothing; every command answers --help.
    void usageErrorsAndHelp()
    {
        const QList<QPair<QString, QString>> table = { // the arguments, a part of the message; "" an empty argument
            // A mistyped command, action or option suggests the nearest known one; what is missing is named.
            {"program --prot COM1", "tessary program: unknown option --prot; did you mean --port?\n"},
            {"program --all", "tessary program: unknown option --all; did you mean --all-boards?\n"},
            {"detect --fast", "tessary detect: unknown option --fast\n"}, {"prgram", "tessary: unknown command prgram; did you mean program?\n"},
            {"frobnicate", "tessary: unknown command frobnicate; see tessary --help\n"}, {"--verison", "tessary: unknown option --verison; did you mean --version?\n"},
            // A mistyped action suggests the group's nearest one, and only the group's own: flush is the record's, not the database's.
            {"db flsh x.cdb", "tessary db: unknown action flsh; see tessary db --help\n"}, {"record flsh", "tessary record: unknown action flsh; did you mean flush?\n"},
            {"db --lst", "tessary db: unknown option --lst; see tessary db --help\n"},
            {"completion bsh", "tessary completion: completes bash, zsh or fish, not \"bsh\"; did you mean bash?\n"},
            {"program --db x.cdb", "tessary program: --db needs --entry NAME, the entry to write\n"},
            {"program --entry Mechanism␣01", "tessary program: --entry needs --db FILE, the database that holds it\n"},
            {"detect --port", "tessary detect: --port needs a value (<port>)\n"}, {"program --code 1 --log", "tessary program: --log needs a value (<file>)\n"}, {"read --json=yes", "tessary read: --json takes no value\n"},
            {"code encode --head-width", "tessary code encode: --head-width needs a value (<dots>)\n"}, {"db list", "tessary db list: needs one FILE\n"},
            {"", "Usage: tessary <command>"}, {"detect --speed 9600", "--speed needs --port"}, {"detect --port COM7", "COM1 to COM6"},
            {"detect --port COM0=/dev/ttyS0", "--port takes COMn=DEVICE"}, {"read --port COM1 --speed 9601", "--speed takes"},
            {"detect --port COM2 --port COM2=/dev/pts/1", "COM2 is named twice"}, {"db", "needs an action"},
            {"detect --port /dev/a1 --port /dev/a2 --port /dev/a3 --port /dev/a4 --port /dev/a5 --port /dev/a6 --port /dev/a7", "there are six ports, COM1 to COM6"},
            {"detect --port COM1=/dev/null --port /dev/null", "COM1 (/dev/null) and COM2 (/dev/null) are one device"},
            {"identity --trace \"\"", "--trace needs a file, or - for standard error"},
            {"detect --port COM1 --port COM2 --speed 9600", "--speed probes one port"},
            {"read --port COM1 --handshake xon", "--handshake needs --speed"},
            {"read --port COM1 --speed 9600 --handshake rts", "--handshake takes xon or hw"},
            {"program --code 11110001", "16 characters 0 or 1"},
            {"program --code 1111000101000000 --head-width 576", "one way"}, {"program --mode auto", "--mode takes user or resistors"},
            {"program --mode resistors --code 1111000101000000", "straps"}, {"program --id A --auto-id", "not both"},
            {"program --mode resistors --id Ω-1", "Latin-1"}, {"program --mode resistors --id \"\"", "Please specify a mechanism identity !"},
            // A code naming no head type ("11") or no head width ("000") is never written.
            {"program --code 1111011101000000", "names no head type"}, {"program --code 1111010100000000", "names no head width"},
            // Every field option left out, by its flag, in one line.
            {"program --head-width 576 --head-type 1500 --mechanism standard --steps 1 --rotation normal --strobe positive",
             "tessary program: the configuration leaves out --head-up\n"},
            {"program --auto-id", "tessary program: the configuration leaves out --head-width, --head-type, --mechanism, "
             "--steps, --rotation, --strobe and --head-up (or give --code, or --db with --entry)\n"},
            {"code encode --head-width 500", "--head-width takes"}, {"code", "needs an action: decode or encode"}, {"record", "needs an action: use, flush, list, board or summary"},
            {"code decode 1010", "16 characters 0 or 1"}, {"db move x.cdb A --up --down", "one of --up, --down or --to"},
            {"db add x.cdb ␣␣␣ --code 1111000101000000", "Please enter a configuration name !"}, // blanks alone
            {"db add x.cdb tab\there --code 1111000101000000", "printable Latin-1"},
            // Every board at once: two boards never share a device; a board is named by its device.
            {"program --all-boards --code 1111000101000000 --port /dev/ttyS0 --port COM1", "--port: /dev/ttyS0 and /dev/ttyS0 are one device"},
            {"detect --all-boards --port COM2=/dev/ttyS1", "takes a device PATH"}, {"detect --all-boards --sequential", "--sequential does not go"},
            {"detect --all-boards" + QString(" --port /dev/ttyUSB%1").repeated(33).arg(1), "--all-boards takes --port at most 32 times"},
            {"detect --expect 2", "--expect goes with --all-boards"}, {"detect --all-boards --expect 0", "--expect takes a number of boards from 1"},
            {"program --code 1111000101000000 --station \"\"", "--station needs a name"},
            // What the audited boards should hold: an entry there is, one way.
            {"audit --expect Nothing", "tessary audit: --expect: the factory list has no entry named \"Nothing\"\n"},
            {"audit --code 1111000101000000 --head-width 576", "one way: --expect ENTRY, --code or field options"},
            {"audit --code 11110001", "16 characters 0 or 1"}, {"audit --head-width 500", "--head-width takes"},
            // Identities: each checked before any port is opened.
            {"program --mode resistors --id Seventeen-chars!!", "tessary program: --id: \"Seventeen-chars!!\" is 17 characters; the board holds 16\n"},
            {"program --mode resistors --id L7-{n:5}", "{n:5}: write the width with a 0 in front, {n:05}, for 5 digits"},
            {"program --mode resistors --id L7-{x}-A", "\": {x} is no placeholder; the number is written {n}, or {n:0W}"},
            {"program --mode resistors --id {n:00}", "\": {n:00} is no placeholder"}, {"program --mode resistors --id {n:017}", "\": {n:017} is no placeholder"},
            {"program --mode resistors --id {n:0016}", "\": {n:0016} is no placeholder"},
            {"program --mode resistors --id {n:016}", "--id \"{n:016}\" numbers its boards: give --serial-file FILE"},
            {"program --mode resistors --id L7-{n", "{n is no placeholder"}, {"program --mode resistors --id L7-}", "a } without its {"},
            {"program --mode resistors --id {n}-{n:02}", "one number per identity: {n:02} is the second placeholder"},
            {"program --mode resistors --id LINE7-SERIAL-{n:04}", "its identities are 17 characters at least (\"LINE7-SERIAL-0000\"); the board holds 16"},
            {"program --mode resistors --id Ω{n}", "printable Latin-1"},
            {"program --mode resistors --id ␣␣␣", "tessary program: --id: an identity of blanks only would make the board answer with no name, and no detection finds it then\n"},
            {"program --mode resistors --id L7 --serial-file s.txt", "--serial-file numbers the boards of an --id holding {n}"},
            {"program --mode resistors --id L7-{n} --serial-start 5", "--serial-start goes with --serial-file"},
            {"program --mode resistors --id L7-{n} --serial-file s.txt --serial-start 1e3", "--serial-start takes a number from 0, not \"1e3\""},
            {"program --mode resistors --id L7-{n} --serial-file no-such-serial.txt", "the serial file no-such-serial.txt does not exist; give --serial-start N"},
            {"program --mode resistors --id L7 --id-list l.txt", "give --id or --id-list, not both"},
            {"program --mode resistors --auto-id --id-list l.txt", "give --id-list or --auto-id, not both"},
            {"program --mode resistors --id-list l.txt --serial-file s.txt", "--id-list keeps its next line beside it"},
            {"program --mode resistors --id L7-{n} --serial-file s.txt --serial-from-record L7", "give one place for the identities"},
            {"program --code 1111000101000000 --code 1101001100100000", "tessary program: --code is given twice; give it once\n"},
            {"program --mode resistors --id L7 --serial-from-record L7", "--serial-from-record numbers the boards of an --id holding {n}"},
        };
        for (const auto &[arguments, message] : table) {
            Rig rig;
            rig.board(1);
            QCOMPARE(rig.run(arguments.split(u' ', Qt::SkipEmptyParts).replaceInStrings("\"\"", "").replaceInStrings("␣", " ")), 2);
            QVERIFY2(message.endsWith(u'\n') ? rig.err == message : rig.err.contains(message),
                     qPrintable(arguments + " -> " + rig.err));
            QVERIFY(rig.out.isEmpty() && rig.env.simLine.opens().isEmpty());
        }
        // Each help lists the options its command takes: the board's commands the port's and the trace's,
        // ports --port alone, the files and codes none of them.
        const QRegularExpression portOption("\n  --(port|speed|handshake|sequential|trace) ");
        for (const QString command : {"ports", "detect", "identity", "read", "wake", "sleep", "reset", "program", "audit",
                                      "db list", "db show", "db add", "db remove", "db move", "db factory",
                                      "db export", "db import", "code decode", "code encode"}) {
            Rig rig;
            QCOMPARE(rig.run(command.split(u' ') << "--help"), 0);
            QVERIFY2(rig.out.startsWith("Usage: tessary " + command), qPrintable(rig.out));
            QCOMPARE(rig.out.count(portOption), command == "ports" ? 1 : command.contains(u' ') ? 0 : 5);
            QCOMPARE(rig.out.contains("\n  --all-boards "), command == "detect" || command == "program" || command == "audit");
        }
        Rig rig;
        // A log whose rows have another shape (the old header included) is never appended to.
        for (const QByteArray &header : {QByteArray("time,port,speed,identity_before,identity_after,code,result,parameters"),
                                         QByteArray("started,ended,station")}) {
            rig.write("old.csv", header + "\n2024-05-06T07:08:09Z,/dev/ttyS0,115200\n");
            rig.board(1);
            QCOMPARE(rig.answer({"program", "--code", "1111000101000000", "--log", rig.path("old.csv")}, 2),
                     "tessary program: the log file " + rig.path("old.csv") + " holds rows under another header (\"" + header + "\"); give a new file\n");
            QVERIFY(rig.env.simLine.opens().isEmpty() && rig.read("old.csv") == header + "\n2024-05-06T07:08:09Z,/dev/ttyS0,115200\n");
        }
        for (const auto &[help, usage] : {std::pair("db --help", "Usage: tessary db list|show|add"), std::pair("code -h", "Usage: tessary code decode CODE"),
                                          std::pair("record --help", "Usage: tessary record use URL | flush | list")}) // each group's actions
            QVERIFY2(rig.run(QString(help).split(u' ')) == 0 && rig.out.startsWith(usage), help);
        rig.outClosed = true; // a help or version that could not be written is no success
        for (const char *asked : {"--help", "--version", "db --help", "program --help"})
            QCOMPARE(rig.expect(QString(asked).split(u' '), 1, "tessary: writing the output failed (Unknown error)\n"), "");
    }

    // The listed devices fill the slots in natural order, around the ports
    // a --port takes; the seventh has no slot. A slot is kept for the device
    // it had.
    void portsListsTheSlotsWithTheirDevices()
    {
        Rig rig;
        rig.env.ports.setDevices({"/dev/ttyUSB10", "/dev/ttyS1", "/dev/ttyUSB2", "/dev/ttyS10", "/dev/ttyUSB0", "/dev/ttyUSB9", "/dev/ttyACM0"});
        QCOMPARE(rig.answer({"ports", "--port", "COM2=/dev/ttyUSB0"}), "COM1  /dev/ttyACM0          present\nCOM2  /dev/ttyUSB0          present  given with --port\n"
                          "COM3  /dev/ttyS1            present\nCOM4  /dev/ttyS10           present\n"
                          "COM5  /dev/ttyUSB2          present\nCOM6  /dev/ttyUSB9          present\n");
        QCOMPARE(rig.run({"ports", "--json"}), 0); // ttyUSB0 takes the slot no device was kept for
        QCOMPARE(QJsonDocument::fromJson(rig.out.toUtf8())["ports"][1].toObject(),
                 QJsonObject({{"port", "COM2"}, {"device", "/dev/ttyUSB0"}, {"present", true}, {"mapped", false}}));
        // A device path keeps the slot the system gives it; one it does not list takes the first free one.
        QCOMPARE(rig.run({"ports", "--port", "/dev/ttyUSB2", "--port", "/dev/pts/99"}), 0);
        QVERIFY2(rig.out.startsWith("COM1  /dev/pts/99 ") && rig.out.contains("\nCOM5  /dev/ttyUSB2 "), qPrintable(rig.out));
        // What is known of an adapter, there or kept for. Every slot is kept for a device: the new one
        // takes the slot of the one seen longest ago (ttyACM0, whose COM1 the last run gave to pts/99).
        rig.env.ports.ports = {adapter('A', "/dev/ttyUSB7")};
        QCOMPARE(rig.run({"ports"}), 0);
        QVERIFY2(rig.out.startsWith("COM1  /dev/ttyUSB7          present  FT232R USB UART, FTDI, serial A1, USB 0403:6001\n"
                                    "COM2  -                     free     kept for ttyUSB0\n"), qPrintable(rig.out));
        rig.env.ports.ports = {};
        QCOMPARE(rig.run({"ports", "--json"}), 0);
        QCOMPARE(QJsonDocument::fromJson(rig.out.toUtf8())["ports"][0]["keptFor"].toObject(),
                 QJsonObject({{"device", "/dev/ttyUSB7"}, {"description", "FT232R USB UART"}, {"manufacturer", "FTDI"},
                              {"serialNumber", "A1"}, {"vendorId", "0403"}, {"productId", "6001"}}));
        QTimer::singleShot(0, [&] { rig.env.ports.plug(adapter('N', "/dev/ttyUSB3")), rig.app->interrupt(SIGTERM); });
        QCOMPARE(rig.run({"ports", "--watch", "--json", "--quiet"}), 143);
        QCOMPARE(rig.out + rig.err, R"({"byId":"usb-Prolific_USB-Serial_Controller-if00-port0","description":"USB-Serial Controller",)"
                                    R"("device":"/dev/ttyUSB3","event":"plugged","manufacturer":"Prolific","port":"COM5",)"
                                    R"("productId":"2303","vendorId":"067b"})" "\n");
        // Output that can no longer be written ends the watch at the next event, and says so.
        rig.outClosed = true;
        QTimer::singleShot(0, [&] { rig.env.ports.plug(adapter('B', "/dev/ttyUSB4")); });
        QCOMPARE(rig.answer({"ports", "--watch", "--quiet"}, 1), "tessary: writing the output failed (Unknown error)\n");
        // A bare name found only in /dev is the one there (a relative path is the current folder's, as the
        // desktop program's); a device mapped through a link keeps one slot, and a link and its target are never two.
        Rig here;
        const QString nul = here.path("nul");
        QVERIFY(QFile::link("/dev/null", nul));
        here.env.ports.setDevices({"/dev/null", "/dev/full"});
        QCOMPARE(here.answer({"ports", "--port", "COM2=" + nul, "--port", "zero"}).simplified(),
                 "COM1 /dev/full present COM2 " + nul + " present given with --port COM3 /dev/zero present given with --port COM4 - free COM5 - free COM6 - free"); // a present device keeps its slot
        // A device a mapping takes the slot of is lent another for the run, and has its own again after it.
        QCOMPARE(here.answer({"ports", "--port", "COM1=/dev/zero"}).simplified(), "COM1 /dev/zero present given with --port COM2 /dev/full present COM3 /dev/null present "
                                        "COM4 - free COM5 - free COM6 - free");
        QCOMPARE(here.answer({"ports"}).simplified(), "COM1 /dev/full present COM2 - free COM3 /dev/null present COM4 - free COM5 - free COM6 - free");
        QCOMPARE(here.expect({"ports", "--port", "COM1=" + nul, "--port", "COM3=/dev/null"}, 2,
                             "--port: COM1 (" + nul + ") and COM3 (/dev/null) are one device; give each device one slot\n"), "");
        // A machine that lists no serial port, devices that are not there: nothing to ask, the reason is the one line.
        Rig none;
        none.env.ports.setDevices({});
        none.env.present = {};
        QCOMPARE(none.expect({"detect"}, 1, "tessary: this machine lists no serial port; name the board's device with --port PATH\n"), "");
        QCOMPARE(none.expect({"detect", "--port", "/dev/ttyUSB7", "--port", "COM2=/dev/ttyUSB9"}, 1,
                             "tessary: /dev/ttyUSB7 does not exist; /dev/ttyUSB9 does not exist\n"), "");
        // Every board at once on all that the machine lists: the six slots, then the ports beyond them in natural order.
        none.env.ports.setDevices({"/dev/ttyS9", "/dev/ttyS8", "/dev/ttyS7", "/dev/ttyS6", "/dev/ttyS5", "/dev/ttyS4", "/dev/ttyS11", "/dev/ttyS10"});
        QCOMPARE(none.run({"detect", "--all-boards", "--json"}), 1);
        QCOMPARE(none.each({"device"}), QString("/dev/ttyS4 /dev/ttyS5 /dev/ttyS6 /dev/ttyS7 /dev/ttyS8 /dev/ttyS9 /dev/ttyS10 /dev/ttyS11").split(u' '));
    }

    // The slot each adapter gets as adapters come and go, each step seen by a
    // run of its own (the slots remembered in between) and all in one run
    // (`ports --watch`, stopped by SIGINT): the two agree.
    void slotsFollowAdaptersAcrossPlugsAndRuns()
    {
        // The options, the steps ("+A:ttyUSB0" plugs A in as /dev/ttyUSB0, "+A:x,B:y" two at once, "-A" unplugs it), and after
        // each step the adapters present, in their slots.
        const struct { QString name; QStringList options; QString steps, expected; } cases[] = {
            {"back as another device", {}, "+A:ttyUSB0 +B:ttyUSB1 -A +A:ttyUSB2", "A1|A1 B2|B2|A1 B2"},
            {"a new adapter leaves a kept slot", {}, "+A:ttyUSB0 -A +B:ttyUSB1 +A:ttyUSB0", "A1||B2|A1 B2"},
            {"by-id name without a serial number", {}, "+N:ttyUSB0 -N +A:ttyUSB1 +N:ttyUSB3", "N1||A2|N1 A2"},
            {"path alone: another path is another device", {}, "+P:ttyS0 +A:ttyUSB0 -P +P:ttyS0 -P +P:ttyS4", "P1|P1 A2|A2|P1 A2|A2|A2 P3"},
            {"same serial number, other USB ids", {}, "+A:ttyUSB0 -A +S:ttyUSB0", "A1||S2"},
            {"two at once, in natural order", {}, "+B:ttyUSB10,A:ttyUSB2", "A1 B2"},
            {"slots full: the one seen longest ago gives way", {}, "+A:ttyUSB0,B:ttyUSB1,C:ttyUSB2,D:ttyUSB3,E:ttyUSB4,F:ttyUSB5 -B -A,C,D,E,F +G:ttyUSB6 +B:ttyUSB1",
             "A1 B2 C3 D4 E5 F6|A1 C3 D4 E5 F6||G2|B1 G2"},
            {"--port holds its slot", {"--port", "COM2=/dev/ttyUSB9"}, "+A:ttyUSB0 +X:ttyUSB9 +B:ttyUSB1 -X", "A1|A1 X2|A1 X2 B3|A1 B3"}};
        for (const auto &[name, options, steps, expected] : cases) {
            QHash<QString, QChar> names; // "ttyUSB0": the adapter plugged in as it
            const auto apply = [&](ScriptedPorts &ports, const QString &step) {
                for (const QString &item : step.mid(1).split(u',')) {
                    ports.ports.removeIf([&](const SerialPortInfo &p) { return names.value(p.device.mid(5)) == item[0]; });
                    if (step[0] == u'+') {
                        names.insert(item.mid(2), item[0]);
                        ports.ports.append(adapter(item[0], "/dev/" + item.mid(2)));
                    }
                }
                ports.tell();
            };
            const auto shown = [](const QMap<int, QChar> &table) {
                QStringList words;
                for (auto it = table.cbegin(); it != table.cend(); ++it)
                    words << it.value() + QString::number(it.key());
                return words.join(u' ');
            };
            // A run for each step.
            Rig runs;
            runs.env.ports.ports.clear();
            QStringList seen;
            for (const QString &step : steps.split(u' ')) {
                apply(runs.env.ports, step);
                QVERIFY2(runs.run(QStringList{"ports"} + options) == 0, qPrintable(name + runs.err));
                QMap<int, QChar> table;
                static const QRegularExpression present("^COM(\\d)  /dev/(\\S+) +present", QRegularExpression::MultilineOption);
                for (auto match = present.globalMatch(runs.out); match.hasNext();) {
                    const auto line = match.next();
                    table.insert(line.captured(1).toInt(), names.value(line.captured(2)));
                }
                seen << shown(table);
            }
            QCOMPARE(seen.join(u'|'), expected);
            // One run that watches every step.
            Rig watch;
            watch.env.ports.ports.clear();
            seen.clear();
            QTimer::singleShot(0, [&] {
                QMap<int, QChar> table;
                for (const QString &step : steps.split(u' ')) {
                    const qsizetype from = watch.out.size();
                    apply(watch.env.ports, step);
                    static const QRegularExpression event("^COM(\\d): (\\S+) (plugged in|unplugged)", QRegularExpression::MultilineOption);
                    for (auto match = event.globalMatch(watch.out.mid(from)); match.hasNext();) {
                        const auto line = match.next();
                        if (line.captured(3) == "unplugged")
                            table.remove(line.captured(1).toInt());
                        else
                            table.insert(line.captured(1).toInt(), names.value(line.captured(2)));
                    }
                    seen << shown(table);
                }
                watch.app->interrupt(SIGINT);
            });
            QCOMPARE(watch.run(QStringList{"ports", "--watch"} + options), 130);
            QCOMPARE(seen.join(u'|'), expected);
            QCOMPARE(watch.err, "Watching COM1 to COM6 for devices that come or go; Ctrl+C ends.\n");
            QCOMPARE(watch.env.ports.watchers(), 0); // nothing watches once it has ended
        }
    }

    // The scan reports where the board is. --port alone scans that port; with
    // --speed (and --handshake) it is probed at that speed only, and no other
    // port hears a byte. The identity and the configuration read, as a terminal shows them.
    void detectReportsWhereTheBoardIs()
    {
        Rig rig;
        place(rig, "3:xon@9600 4:19200");
        QCOMPARE(rig.answer({"detect"}), "Port: COM3 (/dev/ttyS2)\nBaudrate: 9600\nHandshake: Xon-Xoff\nIdentity: TH432 1K5 STD    FW 4.12\n");
        QCOMPARE(rig.env.simLine.writtenBytes(3).count("\x1bI"), 1); // the identity the probe read: asked once
        // Progress on standard error: each port's speeds, then the finding.
        for (const char *line : {"Attempting to contact printer on COM 1 at 115200 bauds.\n",
                                 "Attempting to contact printer on COM 1 at 1200 bauds.\n",
                                 "TH432 1K5 STD found on COM 3 at 9600 bauds\n"})
            QVERIFY2(rig.err.contains(line), line);
        for (const auto &[handshake, code] : {std::pair("xon", 1), {"HW", 2}}) { // the port opened as asked (1 XON/XOFF, 2 hardware)
            rig.env.simLine.clearRecords();
            QCOMPARE(rig.run({"detect", "--port", "COM4", "--speed", "19200", "--handshake", handshake, "--json"}), 0);
            QCOMPARE(rig.json({"port", "speed", "handshake"}), "COM4 19200 hw"); // the board's settings byte says so
            QCOMPARE(rig.env.simLine.opens().first().handshake, code);
            for (const SimulatedLine::Open &open : rig.env.simLine.opens())
                QVERIFY(open.port == 4 && open.baud == 19200);
        }
        place(rig, "2:noisy@115200"); // noise at the speed probed is no board
        QCOMPARE(rig.run({"identity", "--port", "COM2", "--speed", "9600"}), 1);
        // The board's identity reaches the terminal without control characters (after its first 16
        // characters: those are text, or it is no board).
        rig.board(5, {.firmware = " FW\x1b[2J"});
        QCOMPARE(rig.run({"identity", "--port", "COM5"}), 0);
        QVERIFY2(rig.out == "TH432 1K5 STD    FW\uFFFD[2J\n" && !rig.err.contains(QChar(0x1b)), qPrintable(rig.out));
        // What the board holds, in words: KEL, 1 step, normal, 1500 Ohms, negative; 864 dots, head-up inverted.
        rig.board(6, {.configuration1 = 0xD1, .configuration2 = 0x90, .identity = "P"});
        QCOMPARE(rig.run({"read", "--port", "COM6", "--quiet"}), 0);
        QVERIFY2(rig.out.startsWith("Port: COM6 (/dev/ttyS5)\nBaudrate: 115200\nHandshake: DSR/DTR Mode\nConfiguration mode: User\n"
                                    "Identity determination: User\nConfiguration code: 1101000110010000\n  Printer mode: Chipset\n")
                     && rig.out.endsWith("  Head width: 864 dots\n  Head-up polarity: Inverted\nName: P\n"),
                 qPrintable(rig.out));
    }

    // One fault table for every command that talks to the board: each board command of CliApp::subcommands(),
    // in every mode (a scan of its port, a probe at one speed, the sequential scan, every board at once),
    // against every fault a serial line shows. Through the trace (the recording wrappers), as the program
    // runs. Each case checks the exit status, one outcome per named port (the JSON, the log's rows), and
    // that nothing is called ok unless the board's own record holds the command's bytes.
    void everyBoardCommandMeetsEveryFault_data()
    {
        QTest::addColumn<QString>("command"); // the arguments before the mode's; "MISSING name": a command without an entry
        QTest::addColumn<QStringList>("own");  // what the board must get, in order, after it was found (hex)
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("status");
        // Each board command's runs, by its name in the table of subcommands.
        const QMap<QString, QList<std::tuple<QString, QStringList, int>>> runs = { // arguments, own, column below
            {"detect", {{"detect", {}, 0}}},
            {"identity", {{"identity", {"1b49"}, 1}}},
            {"read", {{"read", {"1d5366061d5366091d53431b49"}, 2}}},
            {"wake", {{"wake", {"18"}, 3}}},
            {"sleep", {{"sleep", {"181b5318"}, 4}}},
            {"reset", {{"reset", {"1b40"}, 5}}},
            {"program", {{"program --code 1111000101000000 --id ABCDE --yes", {"1b40"}, 6},
                         {"program --code 1111000101000000 --id ABCDE --yes --verify", {"1b40", "1d5366061d5366091d53431b49"}, 7},
                         // Each board its own identity ("A0001", "A0002"): from a serial file, from a list.
                         {"program --code 1111000101000000 --id A{n:04} --serial-file SERIALFILE --serial-start 1 --yes", {"1b40"}, 6},
                         {"program --code 1111000101000000 --id-list IDLIST --yes", {"1b40"}, 6}}},
            {"audit", {{"audit --code 1111000101000000", {"1d5366061d5366091d53431b49"}, 8}}},
        };
        // The exit status for each fault: detect, identity, read, wake, sleep, reset, program, program --verify, audit;
        // then every board at once for detect, program, program --verify and audit ("-": the fault does not apply).
        const char *const statuses[FaultCount][2] = {
            {"000000000", "0000"}, {"111111111", "1111"}, {"111111111", "1111"},                       // none, busy, vanished
            {"111111111", "0000"}, {"111111111", "1111"}, {"011111111", "0111"}, {"000000010", "0010"}, // silent, the three hang-ups
            {"000000110", "0110"},                                                                      // silent from the reset on
            {"011111111", "0111"}, {"000000110", "0110"}, {"000000110", "0110"},                       // held, no echo, wrong echo
            {"SSSSSSSSS", "SSSS"}, {"TTTTTTTTT", "TTTT"},                                               // SIGINT in the scan, SIGTERM after it
            {"111111111", "1111"}, {"------111", "-111"}, {"111111111", "1111"}};                       // trace, log, standard output
        for (const CliApp::Subcommand &subcommand : CliApp::subcommands()) {
            if (subcommand.reach != CliApp::Reach::Board)
                continue;
            if (!runs.contains(subcommand.name)) {
                QTest::addRow("%s has no row", qPrintable(subcommand.name)) << "MISSING " + subcommand.name << QStringList() << QString() << 0 << 0;
                continue;
            }
            const bool allBoards = std::ranges::any_of(subcommand.options, [](const QCommandLineOption &o) { return o.names().contains("all-boards"); });
            for (const auto &[arguments, own, column] : runs.value(subcommand.name))
                for (const QString mode : {"scan", "probe", "sequential", "all-boards"}) {
                    if (mode == "all-boards" && !allBoards)
                        continue;
                    for (int fault = 0; fault < FaultCount; ++fault) {
                        const char status = mode == "all-boards" ? statuses[fault][1][column == 0 ? 0 : column - 5]
                                                                 : statuses[fault][0][column];
                        if (status == '-')
                            continue;
                        const QString named = arguments.section(' ', 0, 0) + (column == 7 ? " --verify" : "")
                                            + (arguments.contains("--serial-file") ? " --serial-file" : "")
                                            + (arguments.contains("--id-list") ? " --id-list" : "");
                        QTest::addRow("%s, %s, %s", qPrintable(named),
                                      qPrintable(mode), FaultNames[fault])
                            << arguments << own << mode << fault << (status == 'S' ? 130 : status == 'T' ? 143 : status - '0');
                    }
                }
        }
    }

    void everyBoardCommandMeetsEveryFault()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, own);
        QFETCH(QString, mode);
        QFETCH(int, fault);
        QFETCH(int, status);
        if (command.startsWith("MISSING "))
            QFAIL(qPrintable("the board command \"" + command.mid(8) + "\" has no row in the fault table"));
        const bool all = mode == "all-boards", programs = command.startsWith("program"), logs = programs || command.startsWith("audit");
        const QStringList modeOptions = mode == "scan" ? QStringList{"--port", "COM1"}
                                      : mode == "probe" ? QStringList{"--port", "COM1", "--speed", "115200"}
                                      : mode == "sequential" ? QStringList{"--port", "COM1", "--sequential"}
                                                            : QStringList{"--all-boards", "--port", "/dev/ttyS0", "--port", "/dev/ttyS1"};
        // What the board takes in until it is found (its own record of it, and its count, which has the
        // wake-ups at other speeds too): a detection alone, in the same mode.
        static QHash<QString, std::pair<qint64, qint64>> leads;
        const bool wakes = command.startsWith("wake"), sleeps = command.startsWith("sleep"); // sleep: the line goes in its pause
        const QString leadKey = mode + (wakes ? " wake" : "");
        if (!leads.contains(leadKey)) {
            Rig dry;
            Board &board = dry.board(1);
            if (all)
                dry.board(2, {.baud = 9600});
            QByteArray in;
            board.setTrafficLog([&](Board::Direction way, qint64, const QByteArray &bytes) { in += way == Board::Direction::In ? bytes : ""; });
            QCOMPARE(dry.run(QStringList{wakes ? "wake" : "detect"} + modeOptions), 0);
            leads.insert(leadKey, {in.size() - (wakes ? 1 : 0), board.bytesReceived() - (wakes ? 1 : 0)});
        }
        const auto [leadHeard, lead] = leads.value(leadKey);

        Rig rig;
        Board &board = rig.board(1);
        if (all)
            rig.board(2, {.baud = 9600}); // a board beside it that nothing befalls
        QByteArray heard, said; // the board's own record of what it took in and sent
        board.setTrafficLog([&](Board::Direction way, qint64, const QByteArray &bytes) { (way == Board::Direction::In ? heard : said) += bytes; });
        board.setFaults({.silent = fault == Silent, .noEcho = fault == NoEcho, .wrongEchoAddress = fault == WrongEcho ? 8 : -1,
                         .hangUpAfter = fault == HangUpInScan ? 2 : fault == HangUpInWrites ? int(lead + (programs ? 8 : sleeps ? 3 : 0)) : -1,
                         .hangUpAfterReset = fault == HangUpAfterReset});
        // (A port the user may not open is refused the same way, with the reason the system gives: tst_cli_pty.)
        const QString unopened = fault == Busy ? "/dev/ttyS0 is in use by another program" : "";
        rig.env.simLine.failOpen(1, unopened);
        if (fault == Vanished)
            rig.env.present.remove(1);
        bool signalled = false;
        // At each wait of the line COM1's board is on, on that line's own thread.
        const auto atWait = [&](SimulatedLine *line) {
            const qint64 got = board.bytesReceived();
            if (fault == Held && got >= lead && line)
                line->holdOutputUntil(-1);
            if (fault == SilentAfterReset && heard.contains("\x1b@")) // a board that hangs as it restarts
                board.setFaults({.silent = true});
            const int signal = fault == SignalInScan && got >= 1 && got < lead ? SIGINT
                             : fault == SignalInWrites && (programs ? heard.contains("\x1dSF") : got >= lead) ? SIGTERM : 0;
            if (signal && !std::exchange(signalled, true))
                QMetaObject::invokeMethod(qApp, [&rig, signal] { rig.app->interrupt(signal); },
                                          QThread::currentThread() == qApp->thread() ? Qt::DirectConnection : Qt::BlockingQueuedConnection);
        };
        rig.env.virtualClock.onWait = [&](int) { atWait(&rig.env.simLine); };
        rig.env.portWait = [&](int port) {
            if (port != 1)
                return;
            std::unique_lock lock(rig.env.mutex);
            SimulatedLine *line = rig.env.portLines.value(1);
            lock.unlock();
            atWait(line);
        };
        rig.outClosed = fault == OutputClosed;
        rig.write("ids.txt", "A0001\nA0002\nA0003\n");
        const char *counter = command.contains("IDLIST") ? "ids.txt.next" : "serial.txt";
        QCOMPARE(rig.run(QString(command).replace("SERIALFILE", rig.path("serial.txt")).replace("IDLIST", rig.path("ids.txt")).split(u' ')
                         + modeOptions
                         + QStringList{"--json", "--trace", fault == TraceUnwritable ? "/dev/full" : rig.path("trace")}
                         + (logs ? QStringList{"--log", fault == LogUnwritable ? "/dev/full" : rig.path("log")} : QStringList())),
                 status);

        // How no board was met, in one line: a port that cannot be opened, its reason alone (no word of a board that may
        // sleep); no answer, with a hint for a board that may sleep where no wake-up went out.
        const QString probed = "No printer found on COM 1 at 115200 bauds" + QString(wakes ? "" : "; if the board sleeps, try tessary wake once, with the same --port");
        const QString unmet = fault == Silent ? (mode == "probe" ? probed : "No printer found: no board answered at any speed, after a wake-up") : unopened;
        if (!all && !unmet.isEmpty())
            QCOMPARE(rig.err.split(u'\n').filter(QRegularExpression("^(?!Attempting)")).join(u'\n'), "tessary: " + unmet + '\n');
        // What the board holds: after it was found, the command's bytes in order (programming: every write
        // before the reset); for a detection, an answer.
        const QByteArray after = heard.mid(leadHeard).toHex();
        qsizetype at = 0;
        bool got = !said.isEmpty();
        if (programs)
            for (const char *write : {"1d53460601", "1d534607f1", "1d53460840", "1d53460941", "1d5346", "1d53460e00"})
                got = got && (at = after.indexOf(write, at)) >= 0;
        for (const QString &part : std::as_const(own))
            got = got && (at = after.indexOf(part.toLatin1(), qMax<qsizetype>(at, 0))) >= 0;
        const auto claimsOk = [](const QJsonValue &object) { return object["ok"].toBool() || object["result"].toString() == "ok"; };
        // One outcome per named port, and none called ok without its bytes. (A log that cannot be written
        // refuses the run before any port is opened.)
        if (fault != OutputClosed && fault != LogUnwritable) {
            const QJsonDocument json = QJsonDocument::fromJson(rig.out.toUtf8());
            const QJsonArray objects = all ? json.array() : QJsonArray{json.object()};
            for (const QJsonValue object : objects) {
                QCOMPARE(object["command"].toString(), command.section(u' ', 0, 0)); // the JSON names its command
                if (object["writesPlanned"].isDouble()) // what programming was asked
                    QCOMPARE(object["identityMode"].toString() + ' ' + object["mode"].toString(), "user user");
                if (all ? fault == None : fault != TraceUnwritable) // ok exactly when the run exits 0
                    QCOMPARE(object["ok"].toBool(), status == 0);
            }
            // Each board's own identity: taken once by each board found, never twice, the file after the last one taken.
            if (command.contains("SERIALFILE") || command.contains("IDLIST")) {
                QStringList given;
                for (const QJsonValue object : objects)
                    if (object["id"].isString())
                        given << object["id"].toString();
                QCOMPARE(given, QStringList({"A0001", "A0002"}).mid(0, given.size()));
                QCOMPARE(rig.read(counter), given.isEmpty() ? QByteArray() : QByteArray::number(given.size() + 1) + '\n');
                QVERIFY(!got || given.contains("A0001")); // written: its identity was taken first
            }
            if (all) {
                QStringList devices;
                for (const QJsonValue object : json.array()) {
                    devices << object["device"].toString() + ' ' + object["result"].toString();
                    if (object["device"] == "/dev/ttyS0" && claimsOk(object))
                        QVERIFY2(got, qPrintable("called ok without its bytes: " + QString::fromLatin1(heard.toHex())));
                }
                QCOMPARE(devices.replaceInStrings(QRegularExpression(" [a-z-]+$"), ""), QStringList({"/dev/ttyS0", "/dev/ttyS1"}));
            } else {
                QVERIFY2(json.isObject(), qPrintable(rig.out));
                QVERIFY(unmet.isEmpty() || json["error"] == unmet); // the JSON's error is the line said
                QVERIFY2(!claimsOk(json.object()) || got, qPrintable("called ok without its bytes: " + QString::fromLatin1(heard.toHex())));
                // Programming, and a stop, say how it ended.
                QCOMPARE(json["result"].isString(), logs || status > 128);
            }
        }
        if (logs && fault != LogUnwritable) {
            const QStringList rows = rig.rows("log");
            QCOMPARE(rows.size(), all ? 2 : 1);
            if (fault == Busy || fault == Vanished) // a port not opened is a port error, not a board not found
                QCOMPARE(rows.filter(",port-error,").size(), 1);
            for (const QString &row : rows.filter(",/dev/ttyS0,")) {
                QVERIFY2(!row.contains(",ok,,") || got, qPrintable("logged ok without its bytes: " + row));
                // The writes counted are writes the board got.
                QVERIFY2(row.section(u',', -1).section(u'/', 0, 0).toInt() <= heard.mid(leadHeard).count("\x1dSF"), qPrintable(row));
            }
        }
        // An audit stopped says that no board was written; no board ever gets a parameter write or a reset.
        if (command.startsWith("audit")) {
            const QByteArray wires = heard.toHex() + '|' + rig.portWire(1) + '|' + rig.portWire(2);
            QVERIFY(!wires.contains("1d5346") && !wires.contains("1b40"));
            if (status > 128 && all)
                QVERIFY2(rig.err.endsWith("; nothing was written to any board\n"), qPrintable(rig.err));
        }
        if (fault != TraceUnwritable && fault != LogUnwritable && fault != Vanished) // nothing opened: nothing to trace
            QVERIFY(rig.read("trace").startsWith("---- tessary "));
        // A trace on a full disk is said once, the command going through; a log that cannot take its rows refuses the run first.
        QCOMPARE(rig.err.count("tessary: writing the trace failed (No space left on device); the trace is incomplete\n"), int(fault == TraceUnwritable));
        QVERIFY(fault != TraceUnwritable || got);
        if (fault == LogUnwritable)
            QVERIFY2(rig.err == "tessary: cannot write the log file /dev/full: No space left on device\n" && rig.writes().isEmpty(), qPrintable(rig.err));
        // A line that went stops the command: nothing is written on it after, and nothing is called sent.
        QVERIFY2(!rig.read("trace").contains("not sent"), rig.read("trace"));
        QVERIFY(rig.read("trace").count("waited 5 ms") <= 1); // the close's looks at held output: one line
        QVERIFY(!rig.env.simLine.isOpen());
        QVERIFY(rig.env.portLines.isEmpty());
    }

    // The same answer, from the same steps on every port the one-port-after-
    // another scan reaches, at the same speeds in the same order, whatever
    // order the ports' threads end in. Every board at once: each port gets
    // the bytes `program` on that port alone sends it, and the same result.
    void parallelScanAnswersAsTheSequentialScan()
    {
        const auto wirePerPort = [](const Rig &rig) {
            QMap<int, QStringList> wire;
            for (const SimulatedLine::Write &write : rig.writes())
                wire[write.port] << QString::number(write.baud) + ':' + write.bytes.toHex();
            return wire;
        };
        // The boards placed, and the answer: port, speed, handshake; empty: no board.
        const struct { QString name, placement, answer; } cases[] = {
            {"none", "", ""},
            {"COM1 at 115200", "1:115200", "COM1 115200 hw"},
            {"COM6 at 1200", "6:1200", "COM6 1200 hw"},
            {"two boards, the lower one slower", "2:1200 5:115200", "COM2 1200 hw"},
            {"two boards, the higher one slower", "3:57600 4:2400", "COM3 57600 hw"},
            {"XON/XOFF board", "4:xon@38400", "COM4 38400 xon"},
            {"answers only the first probe", "1:once 4:4800", "COM4 4800 hw"},
            {"two bytes to a probe", "2:double 3:19200", "COM3 19200 hw"},
            {"probes answered, identity not", "2:probes 5:9600", ""},
            {"port in use", "1:locked 2:28800", "COM2 28800 hw"},
            {"noise at other speeds", "1:noisy@2400 3:noisy@9600", "COM1 2400 hw"},
            {"no echo, a hang-up amid the writes", "1:noecho@9600 2:57600 3:hangup@19200 5:1200", "COM1 9600 hw"}};
        for (const auto &[name, placement, answer] : cases) {
            Rig sequential;
            place(sequential, placement);
            const int status = sequential.run({"detect", "--sequential", "--json"});
            QVERIFY2(status == (answer.isEmpty() ? 1 : 0), qPrintable(name + ": " + sequential.err));
            if (!answer.isEmpty())
                QCOMPARE(sequential.json({"port", "speed", "handshake"}), answer);
            for (const bool lowestPortLast : {false, true}) {
                Rig parallel;
                parallel.env.lowestPortLast = lowestPortLast;
                place(parallel, placement);
                QCOMPARE(parallel.run({"detect", "--json"}), status);
                QCOMPARE(parallel.out, sequential.out);
                QCOMPARE(parallel.err.count("in use by another program"), sequential.err.count("in use by another program"));
                for (int port = 1; port <= 6; ++port)
                    if (wirePerPort(sequential).value(port).size() > 1) // reached by the scan: more than the wake-up
                        QCOMPARE(wirePerPort(parallel).value(port), wirePerPort(sequential).value(port));
            }
            const QStringList program = {"program", "--code", "1111000101000000", "--id", "GANG", "--json"};
            Rig all;
            place(all, placement);
            const int allStatus = all.run(program + QStringList{"--all-boards"});
            const QStringList found = all.each({"port", "result", "speed", "handshake"}); // of each board found
            QStringList alone;
            for (int port = 1; port <= 6; ++port) {
                Rig single;
                place(single, placement);
                (void)single.run(program + QStringList{"--port", QStringLiteral("COM%1").arg(port)});
                if (single.json({"result"}) != "no-board")
                    alone << single.json({"port", "result", "speed", "handshake"});
                QCOMPARE(wirePerPort(all).value(port), wirePerPort(single).value(port));
            }
            QCOMPARE(found, alone);
            QCOMPARE(allStatus, alone.isEmpty() || alone.filter(" ok ").size() < alone.size() ? 1 : 0);
            Rig scan;
            place(scan, placement);
            QCOMPARE(scan.run({"detect", "--all-boards", "--json"}), alone.isEmpty() || !alone.filter("port-error").isEmpty() ? 1 : 0);
            QCOMPARE(QJsonDocument::fromJson(scan.out.toUtf8()).array().size(), alone.size());
        }
    }

    // Every board at once: a line per board as it goes, the table and the count, a log row per board as
    // each ends, each board numbered from the serial file (one that fails keeps the number it took: spent,
    // and its row says so); a signal stops every board at its next wait, each logged as interrupted.
    void allBoardsReportLogAndStopTogether()
    {
        Rig rig;
        place(rig, "1:115200 3:noecho@9600 5:1200");
        rig.write("serial.txt", "1\n");
        const QStringList program = {"program", "--all-boards", "--code", "1111000101000000", "--log", rig.path("line.csv"),
                                     "--station", "LINE-7"};
        QCOMPARE(rig.run(program + QStringList{"--id", "L7-{n:04}", "--serial-file", rig.path("serial.txt")}), 1);
        const QString failed = "parameter 6: wrote 01, no echo; parameter 7: wrote F1, no echo; parameter 8: wrote 40, no echo; 8 more; "
                               "it took the identity ";
        QCOMPARE(rig.out, "Port  Device      Speed   Identity before           Identity after            Result\n"
                          "COM1  /dev/ttyS0  115200  TH432 1K5 STD    FW 4.12  L7-0001          FW 4.12  ok\n"
                          "COM3  /dev/ttyS2  9600    TH432 1K5 STD    FW 4.12  L7-0002          FW 4.12  echo-error\n"
                          "COM5  /dev/ttyS4  1200    TH432 1K5 STD    FW 4.12  L7-0003          FW 4.12  ok\n2 ok, 1 failed\n"
                          "Failed:\n/dev/ttyS2: echo-error: " + failed + "\"L7-0002\"\n");
        for (const char *line : {"COM5 (ttyS4): trying 2400 bauds\n", "COM5 (ttyS4) 1200 bauds: writing 10/11\n",
                                 "COM5 (ttyS4) 1200 bauds: writing 11/11\n", "COM5 (ttyS4) 1200 bauds: ok\n",
                                 "COM3 (ttyS2) 9600 bauds: writing 0/11\n", "COM3 (ttyS2) 9600 bauds: echo-error\n",
                                 "tessary: COM3 (ttyS2): Programming error ! Please check cables and power.\n",
                                 "tessary: no board answered on COM2 (ttyS1), COM4 (ttyS3), COM6 (ttyS5)\n"})
            QVERIFY2(rig.err.contains(line), line);
        QVERIFY(!rig.err.contains("COM3 (ttyS2) 9600 bauds: writing 1/11")); // counted as the board echoes them
        QCOMPARE(rig.err.count("Programming error"), 11); // once for each write not echoed, no more
        // What the wire carries for a numbered identity.
        QVERIFY2(rig.portWire(1).endsWith("1d534609" "4c" "1d53460a" "37" "1d53460b" "2d" "1d53460c" "30" "1d53460d" "30" "1d53460e" "30"
                                          "1d53460f" "31" "1d534610" "00" "1b40" "1b49"), rig.portWire(1));
        QCOMPARE(rig.read("serial.txt"), "4\n");
        const QString start = "2024-05-06T07:08:09.000Z,2024-05-06T07:08:09.000Z,LINE-7,tessary 2.3,program,";
        QCOMPARE(rig.rows("line.csv"),
                 QStringList({start + "COM1,/dev/ttyS0,,115200,hw,FW 4.12,TH432 1K5 STD,L7-0001,,,1111000101000000,user,,ok,,11/11",
                              start + "COM3,/dev/ttyS2,,9600,hw,FW 4.12,TH432 1K5 STD,L7-0002,,,1111000101000000,user,,echo-error,\""
                                  + failed + "\"\"L7-0002\"\"\",0/11",
                              start + "COM5,/dev/ttyS4,,1200,hw,FW 4.12,TH432 1K5 STD,L7-0003,,,1111000101000000,user,,ok,,11/11"}));
        // Each named port has its row, a port without a board too; --expect counts the boards found.
        QCOMPARE(rig.run({"detect", "--all-boards", "--port", "COM1", "--port", "/dev/ttyS1", "--expect", "2"}), 1);
        QCOMPARE(rig.out, "Port  Device      Speed   Handshake     Identity                  Result\n"
                          "COM1  /dev/ttyS0  115200  DSR/DTR Mode  L7-0001          FW 4.12  found\n"
                          "COM2  /dev/ttyS1  -       -             -                         no-board\n");
        QVERIFY2(rig.err.endsWith("tessary: no board answered on COM2 (ttyS1)\ntessary: found 1 board, expected 2\n"), qPrintable(rig.err));
        QCOMPARE(rig.run({"detect", "--all-boards", "--expect", "3", "--quiet"}), 0);
        const auto listed = std::exchange(rig.env.ports.ports, {}); // a machine without serial ports: nothing found is no success
        QCOMPARE(rig.run({"detect", "--all-boards", "--quiet"}), 1);
        QCOMPARE(rig.out + rig.err, "Port  Device  Speed  Handshake  Identity  Result\n" // a failed run shows its table
                                    "tessary: this machine lists no serial port; name the boards' devices with --port PATH\n");
        rig.env.ports.ports = listed;
        // A signal once every board holds part of the identity: each stops at its next wait.
        std::array<bool, 7> met{};
        std::barrier together(3, [&]() noexcept {
            QMetaObject::invokeMethod(qApp, [&] { rig.app->interrupt(SIGTERM); }, Qt::BlockingQueuedConnection);
        });
        rig.env.portWait = [&](int port) {
            if (const Board *board = rig.env.simLine.board(port); board && !met[port] && board->parameter(10) == 'T')
                met[port] = true, together.arrive_and_wait();
        };
        QCOMPARE(rig.run(program + QStringList{"--id", "STOP", "--json", "--port", "COM1", "--port", "COM3", "--port", "COM5"}), 143);
        // The sixth write went out, the stop met its echo wait: five echoed (none by the board that never echoes).
        QCOMPARE(rig.each({"port", "result", "writesEchoed"}), QStringList({"COM1 interrupted 5", "COM3 interrupted 0", "COM5 interrupted 5"}));
        const QString log = QString::fromUtf8(rig.read("line.csv"));
        for (const char *echoed : {"5", "0"})
            QCOMPARE(log.count(QStringLiteral(",interrupted,stopped after %1 of 8 parameter writes were echoed; the board may hold a "
                                              "partial configuration and should be programmed again,%1/8\n").arg(echoed)),
                     echoed == QLatin1String("5") ? 2 : 1);
        QVERIFY2(rig.err.endsWith("tessary: stopped by SIGTERM: 3 of 3 ports stopped before their end; a board stopped while "
                                  "being programmed may hold a partial configuration and should be programmed again\n"), qPrintable(rig.err));
        // On a terminal the lines are redrawn in place (a change within a tenth of a second), a board's
        // message above them; with --quiet only the messages.
        QString screen, quietScreen;
        QTextStream terminal(&screen), quietTerminal(&quietScreen);
        BoardLines lines(terminal, true, false), quiet(quietTerminal, true, true);
        for (BoardLines *view : {&lines, &quiet}) {
            view->message("tessary: before any line"); // nothing drawn yet to climb over
            view->show(0, "COM1: waking");
            view->flush();
            view->message("tessary: COM1: a note"); // over the one line drawn
            view->show(1, "COM2: waking");
            view->show(1, "COM2: waking");
        }
        QTRY_VERIFY(screen.endsWith("COM2: waking\n"));
        lines.show(1, "COM2 9600 bauds: ok");
        lines.message("tessary: COM2: a note");
        QCOMPARE(screen, "tessary: before any line\n\r\x1b[2KCOM1: waking\n\x1b[1A\r\x1b[Jtessary: COM1: a note\n"
                         "\r\x1b[2KCOM1: waking\n\x1b[1A\r\x1b[2KCOM1: waking\n\r\x1b[2KCOM2: waking\n"
                         "\x1b[2A\r\x1b[Jtessary: COM2: a note\n\r\x1b[2KCOM1: waking\n\r\x1b[2KCOM2 9600 bauds: ok\n");
        QCOMPARE(quietScreen, "tessary: before any line\ntessary: COM1: a note\n");
        QString plain; // not a terminal: each line once as it changes, never redrawn
        QTextStream pipe(&plain);
        BoardLines piped(pipe, false, false);
        piped.show(0, "COM1: waking"), piped.flush(), piped.message("tessary: COM1: a note");
        QCOMPARE(plain, "COM1: waking\ntessary: COM1: a note\n");
    }

    // Each board found takes its own identity after the scan and before the first write, in port order,
    // from the serial file (or the list's next line); a run that cannot give every board one writes none.
    void eachBoardTakesItsOwnIdentity()
    {
        const QString boards = "1:1200 3:9600 5:115200"; // the lowest port found last: numbered in port order all the same
        const QStringList all = {"--all-boards", "--code", "1111000101000000"};
        const QStringList numbered = all + QStringList{"--id", "L7-{n:04}", "--serial-file", "SERIALFILE"};
        const QStringList fromOne = numbered + QStringList{"--serial-start", "1"};
        const QStringList one = {"--code", "1111000101000000", "--serial-file", "SERIALFILE", "--id"}; // one board: the port's scan
        const QStringList list = all + QStringList{"--id-list", "IDLIST"};
        const QString unwritten = "TH432 1K5 STD TH432 1K5 STD TH432 1K5 STD"; // as found
        // The boards placed, the options (SERIALFILE: the serial file, NOWHERE: one in a folder that is not there, IDLIST:
        // the identity list), the serial file (or the list's .next) before ("-": none), the exit status, what each board
        // found holds after (in port order), the serial file after ("-": none), and what is said on standard error.
        const struct { const char *tag; QString placement; QStringList options; const char *before; int status; QString identities;
                       const char *after; QString said; } table[] = {
            {"a new serial file begins at --serial-start", boards, fromOne, "-", 0, "L7-0001 L7-0002 L7-0003", "4\n"},
            {"{n} is the number as it is, written by a script without a line end", boards,
                all + QStringList{"--id", "{n}", "--serial-file", "SERIALFILE"}, "9", 0, "9 10 11", "12\n"},
            {"one board found by its scan, braces written twice", "6:4800", one + QStringList{"{{L7}}-{n:02}"}, "5\n", 0, "{L7}-05", "6\n"},
            {"a number whose identity is too long refuses the run, nothing taken", boards,
                all + QStringList{"--id", "LINE7-SERIAL-{n:03}", "--serial-file", "SERIALFILE"}, "998\n", 1, unwritten, "998\n",
                "tessary: --id \"LINE7-SERIAL-{n:03}\" makes \"LINE7-SERIAL-1000\" for number 1000, 17 characters; the board holds 16. "
                "No number was taken\n"},
            {"the last number a file may hold", "6:4800", one + QStringList{"{n}"}, "9999999999999998\n", 0, "9999999999999998",
                "9999999999999999\n"},
            {"a file at its last number", "6:4800", one + QStringList{"{n}"}, "9999999999999999\n", 1, "TH432 1K5 STD", "9999999999999999\n",
                "the serial file SERIALFILE holds 9999999999999999: no more numbers"},
            {"one board refused alike", "4:2400", one + QStringList{"LINE7-SERIAL-{n:03}"}, "1000\n", 1, "TH432 1K5 STD", "1000\n",
                "makes \"LINE7-SERIAL-1000\" for number 1000"},
            {"a file that holds no number", boards, numbered, "L7-0041\n", 1, unwritten, "L7-0041\n",
                "tessary: the serial file SERIALFILE holds \"L7-0041\", not the next number\n"},
            {"a serial file whose folder is not there", boards, QStringList(fromOne).replaceInStrings("SERIALFILE", "NOWHERE"), "-", 1, unwritten, "-", "its folder does not exist\n"},
            {"a list from its first line", boards, list, "-", 0, "A-1 B-2 C-3", "4\n"},
            {"a list from its next line", boards, list, "2\n", 0, "B-2 C-3 D-4", "5\n"},
            {"a list named through a link: the list's own next line", boards, all + QStringList{"--id-list", "IDLINK"}, "2\n", 0,
                "B-2 C-3 D-4", "5\n"},
            {"a new list shorter than the boards found leaves no file", "1:115200 2:115200 3:9600 4:4800 5:1200", list, "-", 1,
                unwritten + " TH432 1K5 STD TH432 1K5 STD", "-",
                "tessary: the identity list IDLIST has 4 identities left (of 4), the run found 5 boards. No identity was taken\n"},
            {"a list with too few lines left refuses the run", boards, list, "3\n", 1, unwritten, "3\n",
                "tessary: the identity list IDLIST has 2 identities left (of 4), the run found 3 boards. No identity was taken\n"},
            // Exit status 130: SIGINT once the numbers are taken, before the first write. The numbers stay spent.
            {"stopped once the numbers are taken", "2:115200 4:9600", fromOne, "-", 130, "TH432 1K5 STD TH432 1K5 STD", "3\n",
                "tessary: stopped by SIGINT: 2 of 6 ports stopped before their end"},
            {"one board stopped alike", "2:115200", one + QStringList{"L7-{n:04}", "--serial-start", "1"}, "-", 130, "TH432 1K5 STD", "2\n",
                "; it took the identity \"L7-0001\"\n"}};
        for (const auto &[tag, placement, rowOptions, before, status, identities, after, said] : table) {
            QStringList options = rowOptions;
            Rig rig;
            place(rig, placement);
            // At 130, every board found waits once the numbers are taken (its identity query), then the signal.
            bool signalled = false;
            QSet<QThread *> met;
            std::mutex metMutex;
            std::barrier together(placement.count(u':'), [&]() noexcept {
                signalled = true;
                QMetaObject::invokeMethod(qApp, [&rig] { rig.app->interrupt(SIGINT); },
                                          QThread::currentThread() == qApp->thread() ? Qt::DirectConnection : Qt::BlockingQueuedConnection);
            });
            rig.env.portWait = [&](int) {
                std::unique_lock lock(metMutex);
                if (status != 130 || signalled || met.contains(QThread::currentThread()) || rig.read("serial.txt").isEmpty())
                    return;
                met.insert(QThread::currentThread());
                lock.unlock();
                together.arrive_and_wait();
            };
            rig.env.virtualClock.onWait = rig.env.portWait;
            const bool listed = options.contains("IDLIST") || options.contains("IDLINK");
            const char *counter = listed ? "ids.txt.next" : "serial.txt";
            rig.write("ids.txt", "A-1\nB-2\r\nC-3\nD-4\n");
            QVERIFY(QFile::link(rig.path("ids.txt"), rig.path("link.txt")));
            if (QByteArray(before) != "-")
                rig.write(counter, before);
            options.replaceInStrings("SERIALFILE", rig.path("serial.txt")).replaceInStrings("IDLIST", rig.path("ids.txt")).replaceInStrings("IDLINK", rig.path("link.txt"))
                .replaceInStrings("NOWHERE", rig.path("none/serial.txt"));
            QVERIFY2(rig.run(QStringList{"program", "--log", rig.path("line.csv")} + options) == status, qPrintable(tag + (": " + rig.err)));
            QVERIFY2(rig.err.contains(QString(said).replace("SERIALFILE", rig.path("serial.txt")).replace("IDLIST", rig.path("ids.txt"))),
                     qPrintable(rig.err));
            QStringList held;
            for (int port = 1; port <= 6; ++port)
                if (const Board *board = rig.env.simLine.board(port)) {
                    QByteArray name;
                    for (int p = 9; p <= 24 && board->parameter(p) != 0; ++p)
                        name += char(board->parameter(p));
                    held << (name.isEmpty() ? "TH432 1K5 STD" : QString::fromLatin1(name));
                    // A refused run sends no parameter write.
                    QCOMPARE(rig.portWire(port).contains("1d5346"), name != "");
                }
            QCOMPARE(held.join(u' '), identities);
            QCOMPARE(QFile::exists(rig.path(counter)) ? rig.read(counter) : QByteArray("-"), QByteArray(after));
            // The log's rows: each board refused says why, in the reason of a cancelled row; one stopped names the identity it took.
            const QStringList rows = rig.rows("line.csv");
            QCOMPARE(rows.size(), rig.writes().isEmpty() ? 0 : held.size()); // none when refused before the scan
            if (!said.isEmpty())
                for (const QString &row : rows)
                    QVERIFY2(row.contains(status == 1 ? ",cancelled," : ",interrupted,") && row.endsWith(",0/" + row.section(u'/', -1)), qPrintable(row));
            QVERIFY(status == 1 || rows.filter("programmed again; it took the identity \"\"L7-0001\"\"\",0/11").size() == int(status == 130));
        }
    }

    // Each --port takes its slot; the scan wakes and tries those ports alone,
    // all at once, and the trace has every exchange.
    void traceWritesTheExchangesOfEveryPort()
    {
        Rig rig;
        place(rig, "4:9600");
        const QDateTime started = QDateTime::currentDateTime();
        QCOMPARE(rig.run({"identity", "--port", "COM2", "--port", "COM4", "--trace", rig.path("trace.txt")}), 0);
        const QDateTime ended = QDateTime::currentDateTime();
        const QStringList lines = QString::fromUtf8(rig.read("trace.txt")).split(u'\n');
        // Each port's scan under a heading of its own (a port below the answer runs to its end), then the
        // identity on the command's line; each dated when it began: local time to the millisecond, offset from UTC.
        QStringList headings;
        for (const QString &line : lines.filter(QRegularExpression("^----"))) {
            const QRegularExpressionMatch dated = QRegularExpression(
                "^(---- .* ----) (\\d{4}-\\d\\d-\\d\\d) (\\d\\d:\\d\\d:\\d\\d\\.\\d{3}) ([+-]\\d\\d:\\d\\d)$").match(line);
            const QDateTime at = QDateTime::fromString(dated.captured(2) + 'T' + dated.captured(3) + dated.captured(4),
                                                       Qt::ISODateWithMs);
            QVERIFY2(dated.hasMatch() && at >= started.addMSecs(-1) && at <= ended, qPrintable(line));
            headings << dated.captured(1);
        }
        headings.sort();
        QCOMPARE(headings, (QStringList{"---- tessary identity ----", "---- tessary identity: COM2 of the scan ----",
                                        "---- tessary identity: COM4 of the scan ----"}));
        for (const char *line : {"COM2      0 ms  sent      1B 76                                            <ESC>v",
                                 "COM2      0 ms  waited 100 ms, nothing came", "COM4      0 ms  waited 100 ms, 1 byte waiting",
                                 "COM4     50 ms  sent      1B 49                                            <ESC>I"})
            QVERIFY2(lines.contains(line), line);
        QCOMPARE(lines.filter("opened at 1200 bauds, no handshake").size(), 1); // COM2's last speed
        QCOMPARE(lines.filter(QRegularExpression("^COM\\d .* sent      00 ")).size(), 2); // one wake-up round
        QVERIFY(lines.filter(QRegularExpression("^COM[1356] ")).isEmpty());
        QVERIFY(lines.filter(QRegularExpression("^COM4 +\\d+ ms  received  54 48 34 33 32 .*TH432 1K5 STD")).size() >= 2);
        // A device or a pipe takes the lines as they come (a trace that cannot be written: `program`'s refusals). Qt's own
        // warnings never show.
        QTest::failOnWarning(QRegularExpression("."));
        QCOMPARE(::mkfifo(qPrintable(rig.path("pipe")), 0600), 0);
        const int reader = ::open(qPrintable(rig.path("pipe")), O_RDONLY | O_NONBLOCK);
        const auto closeReader = qScopeGuard([reader] { ::close(reader); });
        for (const QString &trace : {QStringLiteral("/dev/null"), rig.path("pipe"), rig.path("kept.txt"), rig.path("kept.txt")})
            QCOMPARE(rig.run({"identity", "--port", "COM4", "--speed", "9600", "--trace", trace}), 0);
        QCOMPARE(rig.read("kept.txt").count("---- tessary identity ---- 20"), 2); // a file is appended to, run after run
        char piped[4096] = {};
        QVERIFY(::read(reader, piped, sizeof piped - 1) > 0 && QByteArray(piped).startsWith("---- tessary identity ---- 20"));
        // A line that hangs up in the probe: what the probe writes after it is not sent, and the trace says so.
        rig.env.simLine.board(4)->setFaults({.hangUpAfter = int(rig.env.simLine.board(4)->bytesReceived()) + 3});
        QCOMPARE(rig.run({"identity", "--port", "COM4", "--speed", "9600", "--trace", rig.path("hung.txt")}), 1);
        QCOMPARE(QString(rig.read("hung.txt")).section(u'\n', 1),
                 "COM4      0 ms  opened at 9600 bauds, hardware handshake\n"
                 "COM4      0 ms  sent      1B 49                                            <ESC>I\n"
                 "COM4      0 ms  waited 250 ms, 24 bytes waiting\n"
                 "COM4    250 ms  received  54 48 34 33 32 20 31 4B 35 20 53 54 44 20 20 20 20 46 57 20 34 2E 31 32  TH432 1K5 STD    FW 4.12\n"
                 "COM4    250 ms  sent      1B 76                                            <ESC>v\n"
                 "COM4    350 ms  closed by the line: COM4: the line was hung up; the port was closed\n"
                 "                waited 100 ms\n"
                 "                not sent (port closed)  1D 53 66 1C                                      <GS>Sf<FS>\n"
                 "                waited 100 ms\n"
                 "                not sent (port closed)  18                                               <CAN>\n"
                 "COM4            not opened at 9600 bauds, hardware handshake: COM4 does not exist\n");
    }

    // The audit of one board: each field that differs from what it should hold in words, against an entry,
    // a code or the fields given (only those); what it did not answer is no ok. (That it reads back and writes
    // nothing: the fault table.)
    void auditNamesEachFieldThatDiffers()
    {
        const QStringList entry = {"--expect", "Mechanism 01"};
        // What the board holds (byte1 -1: a three-byte reply to the configuration query; by default 1111000101000000, "Mechanism
        // 01"), in User mode or not, the options; the exit status, the result, the differences then what went unanswered.
        const struct { int byte1, byte2; bool userMode; QStringList options; int status; QString result; QStringList said; } table[] = {
            {0xD1, 0x90, false, {}, 0, "ok", {}}, // nothing expected
            // One field of the entry's differs (each field: the row of every field below); the board holds no head type.
            {0xF7, 0x40, true, entry, 1, "drift", {"head type: the board holds none, expected 1500 Ohms"}},
            {0xF1, 0x48, true, {"--code", "1111000101000000"}, 1, "drift", {"reserved bits: the board holds 1000, expected 0000"}},
            {0x0C, 0x9F, false, entry, 1, "drift", // every field, in order
             {"configuration mode: the board holds Resistors, expected User",
              "printer mode: the board holds MRS, expected Chipset",
              "logic voltage: the board holds 3.3 V, expected 5",
              "mechanism: the board holds KEL, expected Standard",
              "motor steps: the board holds 2 steps/dotline, expected 1 step/dotline",
              "motor rotation: the board holds Inverted, expected Normal",
              "head type: the board holds 800 Ohms, expected 1500",
              "strobe polarity: the board holds Positive, expected Negative",
              "head width: the board holds 864 dots, expected 432",
              "head-up polarity: the board holds Inverted, expected Normal",
              "reserved bits: the board holds 1111, expected 0000"}},
            // The fields given alone are compared; the 432 dots the board holds are not asked about, nor any
            // field of a board whose every field holds other than 0.
            {0xF0, 0x40, true, {"--strobe", "negative", "--voltage", "5"}, 1, "drift", {"strobe polarity: the board holds Positive, expected Negative"}},
            {0xFF, 0xF0, true, {"--head-width", "832"}, 0, "ok", {}},
            {-1, 0x40, true, entry, 1, "read-failed", {"configuration bytes: the board's reply was unusable (3 bytes)"}}};
        for (const auto &[byte1, byte2, userMode, options, status, result, said] : table) {
            Rig rig;
            // In Resistors mode the board's straps are its configuration.
            const quint8 b1 = quint8(byte1 < 0 ? 0xF1 : byte1), b2 = quint8(byte2);
            Board &board = rig.board(1, {.userMode = userMode, .configuration1 = b1, .configuration2 = b2, .straps1 = b1, .straps2 = b2});
            board.setFaults({.threeByteConfiguration = byte1 < 0});
            QVERIFY2(rig.run(QStringList{"audit", "--port", "COM1", "--json"} + options) == status, qPrintable(rig.out + rig.err));
            const QJsonDocument json = QJsonDocument::fromJson(rig.out.toUtf8());
            QCOMPARE(json["result"].toString(), result);
            QCOMPARE(json["ok"].toBool(), result == "ok");
            QCOMPARE(json["differences"].toVariant().toStringList() + json["unanswered"].toVariant().toStringList(), said);
            QCOMPARE(json["reason"].toString(), said.join("; "));
            QCOMPARE(rig.err.split(u'\n', Qt::SkipEmptyParts).filter("tessary: "),
                     QStringList(said).replaceInStrings(QRegularExpression("^"), "tessary: " + result + ": "));
        }
    }

    // What a board holds, in words, and every entry that holds its code (a code that programming would
    // make of it: the printer-mode bit set). (An entry that is not there: the database bounds.)
    void auditShowsWhatTheBoardHoldsAndItsEntries()
    {
        Rig rig;
        rig.board(1, {.identity = "L7-0003"});
        QCOMPARE(rig.answer({"audit", "--port", "COM1"}), "Port: COM1 (/dev/ttyS0)\nBaudrate: 115200\nHandshake: DSR/DTR Mode\nFirmware: FW 4.12\nIdentity: L7-0003\n"
                          "Configuration mode: User\nIdentity determination: User\nConfiguration code: 1111000101000000\n"
                          "  Printer mode: Chipset\n  Logic voltage: 5 V\n  Mechanism: Standard\n  Motor steps: 1 step/dotline\n"
                          "  Motor rotation: Normal\n  Head type: 1500 Ohms\n  Strobe polarity: Negative\n  Head width: 432 dots\n"
                          "  Head-up polarity: Normal\n"
                          "Entries: Mechanism 01, Mechanism 08, Mechanism 26, Mechanism 28 (factory list)\nResult: ok\n");
        rig.write("line7.cdb", QByteArray("ZELPRINTERSCDB0\x03\r\n") + record("TH432 1K5", "0111000101000000") + record("TH576", "1111000001100000")
                                   + record("TH432 again", "1111000101000000"));
        QCOMPARE(rig.run({"audit", "--port", "COM1", "--db", rig.path("line7.cdb"), "--expect", "TH576", "--quiet"}), 1);
        QVERIFY2(rig.out.endsWith("Entries: TH432 1K5, TH432 again (" + rig.path("line7.cdb") + ")\n"
                                  "Expected: \"TH576\" of " + rig.path("line7.cdb") + ", code 1111000001100000\nDifferences:\n" // each on a line
                                  "  strobe polarity: the board holds Negative, expected Positive\n  head width: the board holds 432 dots, expected 576\n"
                                  "Result: drift\n"),
                 qPrintable(rig.out + rig.err));
    }

    // Every board at once: the table, the count, the boards that drifted with their reasons, a log row per
    // board with the command audit (what it holds in code and mode, what it should in database and entry,
    // no writes). That nothing is written to a board: the fault table.
    void auditOfEveryBoardTablesAndLogs()
    {
        Rig rig;
        place(rig, "1:115200 5:1200");
        rig.board(3, {.baud = 9600, .configuration2 = 0x60, .identity = "L7-0002"});
        QCOMPARE(rig.run({"audit", "--all-boards", "--expect", "Mechanism 01", "--log", rig.path("line7.csv"), "--station", "LINE-7"}), 1);
        QCOMPARE(rig.out, "Port  Device      Speed   Identity       Mode  Code              Entries                                                 Result\n"
                          "COM1  /dev/ttyS0  115200  TH432 1K5 STD  user  1111000101000000  Mechanism 01, Mechanism 08, Mechanism 26, Mechanism 28  ok\n"
                          "COM3  /dev/ttyS2  9600    L7-0002        user  1111000101100000  -                                                       drift\n"
                          "COM5  /dev/ttyS4  1200    TH432 1K5 STD  user  1111000101000000  Mechanism 01, Mechanism 08, Mechanism 26, Mechanism 28  ok\n"
                          "Expected: \"Mechanism 01\" of the factory list, code 1111000101000000\n2 ok, 1 failed\n"
                          "Failed:\n/dev/ttyS2: drift: head width: the board holds 576 dots, expected 432\n");
        QVERIFY2(rig.err.contains("COM3 (ttyS2) 9600 bauds: drift\n"), qPrintable(rig.err));
        const QString start = "2024-05-06T07:08:09.000Z,2024-05-06T07:08:09.000Z,LINE-7,tessary 2.3,audit,";
        QCOMPARE(rig.rows("line7.csv"), QStringList({start + "COM1,/dev/ttyS0,,115200,hw,FW 4.12,TH432 1K5 STD,TH432 1K5 STD,factory list,Mechanism 01,"
                                            "1111000101000000,user,,ok,,0/0",
                                    start + "COM3,/dev/ttyS2,,9600,hw,FW 4.12,L7-0002,L7-0002,factory list,Mechanism 01,"
                                            "1111000101100000,user,,drift,\"head width: the board holds 576 dots, expected 432\",0/0",
                                    start + "COM5,/dev/ttyS4,,1200,hw,FW 4.12,TH432 1K5 STD,TH432 1K5 STD,factory list,Mechanism 01,"
                                            "1111000101000000,user,,ok,,0/0"}));
    }

    // Sleep, then wake: finding the board wakes every port it scans already,
    // so only the CAN to the board follows (what each sends: the table above).
    void sleepThenWakeWakesEachPortOnce()
    {
        for (const auto &[wake, portsWoken] : QList<QPair<QString, int>>{
                 {"wake --port COM2 --speed 115200", 1}, {"wake --port COM2", 1}, {"wake", 6}}) {
            Rig rig;
            Board &board = rig.board(2);
            QCOMPARE(rig.run({"sleep", "--port", "COM2", "--speed", "115200", "--quiet"}), 0);
            QVERIFY(board.isAsleep() && rig.out.isEmpty());
            rig.env.simLine.clearRecords();
            QCOMPARE(rig.run(wake.split(u' ')), 0);
            QVERIFY(!board.isAsleep() && rig.out == "Woke the board on COM2 (/dev/ttyS1).\n");
            QCOMPARE(std::ranges::count_if(rig.writes(), [](const auto &w) { return w.bytes == QByteArray(1, '\0') && w.baud == 57600; }), portsWoken);
        }
    }

    void programWritesVerifiesAndLogs()
    {
        Rig rig;
        Board &board = rig.board(2);
        const QString log = rig.path("line.csv");
        QCOMPARE(rig.run({"program", "--code", "1111000101000000", "--id", "LINE,7", "--verify", "--log", log, "--station", "BENCH 2"}), 0);
        // One header for the file, one row per board; an automatic identity
        // by default; a 16-character --id fills the identity without an end mark.
        QCOMPARE(rig.run(QStringList{"program", "--log", log, "--quiet", "--yes", "--station", "BENCH 2"} + Fields576), 0);
        QVERIFY(rig.out.isEmpty() && board.parameter(9) == 0);
        QCOMPARE(board.effectiveConfiguration(), std::make_pair(quint8(0xF0), quint8(0x60)));
        QCOMPARE(rig.run({"program", "--code", "1111000101000000", "--id", "Seventeen chars!", "--log", log, "--station", "BENCH 2"}), 0);
        QVERIFY(rig.out.contains("Configuration mode: User, code 1111000101000000 (bytes F1 40)\n") && rig.out.contains("Identity after: Seventeen chars! FW 4.12\n"));
        const QString start = "2024-05-06T07:08:09.000Z,2024-05-06T07:08:09.000Z,BENCH 2,tessary 2.3,program,COM2,/dev/ttyS1,,"
                              "115200,hw,FW 4.12,";
        QCOMPARE(rig.rows("line.csv"), QStringList({start + "\"LINE,7\",TH576 1K5 STD,,,1111000001100000,user,,ok,,4/4",
                                                    start + "TH432 1K5 STD,\"LINE,7\",,,1111000101000000,user,yes,ok,,10/10",
                                                    start + "TH576 1K5 STD,Seventeen chars!,,,1111000101000000,user,,ok,,19/19"}));
        // A disk that fills up half-way through a row (here the largest file the process may write): the part
        // written is given back, so the next run's row starts a line of its own.
        const QByteArray whole = rig.read("line.csv");
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{}, saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0 && (limit = saved, limit.rlim_cur = rlim_t(whole.size() + 40), true));
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        const int cut = rig.run({"program", "--all-boards", "--json", "--code", "1111000101000000", "--log", log, "--station", "BENCH 2"});
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &saved) == 0);
        QVERIFY2(cut == 1 && rig.err.contains("tessary: cannot write the log file: File too large\n"), qPrintable(rig.err));
        QCOMPARE(rig.each({"result", "ok"}), QStringList{"ok false"}); // the board took it, but it has no row
        QCOMPARE(rig.read("line.csv"), whole);
        QCOMPARE(rig.run({"program", "--code", "1111000101000000", "--log", log, "--station", "BENCH 2"}), 0);
        QVERIFY(rig.read("line.csv").mid(whole.size()).startsWith(start.toUtf8()));
        // A last line that lost its end (an editor, a crash) gets it back: the next row starts a line of its own.
        const qint64 end = QFileInfo(log).size() - 1;
        QVERIFY(QFile::resize(log, end));
        QCOMPARE(rig.run({"program", "--code", "1111000101000000", "--log", log, "--station", "BENCH 2"}), 0);
        QCOMPARE(rig.read("line.csv").mid(end, 1 + start.size()), "\n" + start.toUtf8());
        // What the run writes and reads must take it before the board is touched, in the program's words (Qt's own never show):
        // a folder not there, a folder, a named pipe nothing reads or a device (it would hold the run for ever, or never end); a
        // serial file of two names would keep, under the other, the numbers already given.
        rig.env.simLine.clearRecords();
        QVERIFY(::mkfifo(qPrintable(rig.path("pipe")), 0600) == 0);
        rig.write("n1", "5\n");
        QVERIFY(::link(qPrintable(rig.path("n1")), qPrintable(rig.path("n2"))) == 0);
        QTest::failOnWarning(QRegularExpression("."));
        for (const auto &[arguments, said] : QList<QPair<QString, QString>>{ // ~ the test's folder
                 {"--log ~/no/such/line.csv", "cannot write the log file ~/no/such/line.csv: No such file or directory"},
                 {"--trace ~/none/trace.txt", "cannot write the trace ~/none/trace.txt: No such file or directory"},
                 {"--trace ~", "cannot write the trace ~: Is a directory"}, {"--log ~/pipe", "cannot write the log file ~/pipe: no program reads the named pipe"},
                 {"--trace ~/pipe", "cannot write the trace ~/pipe: no program reads the named pipe"},
                 {"--mode resistors --id-list ~/pipe", "cannot read the identity list ~/pipe: it is a named pipe (FIFO), not a file"},
                 {"--mode resistors --id-list /dev/zero", "cannot read the identity list /dev/zero: it is a device, not a file"},
                 {"--db ~/pipe --entry X", "Couldn't open the database file ~/pipe : it is a named pipe (FIFO), not a file"},
                 {"--mode resistors --id L{n} --serial-file ~/n2", "the serial file ~/n2 has 2 names (hard links), which would keep numbers "
                                                                   "already given; give a file of one name"}}) {
            const QStringList fields = arguments.contains("--mode") || arguments.contains("--db") ? QStringList() : Fields576 + QStringList{"--yes"};
            QCOMPARE(rig.expect(QStringList{"program"} + QString(arguments).replace(u'~', rig.dir.path()).split(u' ') + fields, 1,
                                "tessary: " + QString(said).replace(u'~', rig.dir.path()) + '\n'), "");
            QVERIFY(rig.env.simLine.opens().isEmpty() && rig.err.count(u'\n') == 1);
        }
        // Two options naming one file, however spelled, would write the trace into the log: refused before any port.
        QVERIFY(QFile::link(log, rig.path("link.csv")) && ::link(qPrintable(log), qPrintable(rig.path("hard.csv"))) == 0);
        QVERIFY(QFile::link(rig.path("new.csv"), rig.path("later.csv"))); // to a file not made yet
        const QByteArray logged = rig.read("line.csv");
        for (const auto &[first, second, names] : QList<std::tuple<QString, QString, QString>>{
                 {"--yes --log " + log, "--trace " + log, "--log and --trace"}, {"--yes --log " + log, "--trace " + rig.path("link.csv"), "--log and --trace"},
                 {"--yes --log " + rig.path("hard.csv"), "--trace " + log, "--log and --trace"},
                 {"--yes --log " + rig.path("new.csv"), "--trace " + rig.path("./new.csv"), "--log and --trace"},
                 {"--yes --log " + rig.path("new.csv"), "--trace " + rig.path("later.csv"), "--log and --trace"},
                 {"--yes --port " + rig.path("tty"), "--log " + rig.path("tty"), "--port and --log"}, // the board's own line
                 {"--mode resistors --id L{n} --serial-file " + rig.path("n"), "--serial-start 1 --trace " + rig.path("n"), "--serial-file and --trace"},
                 {"--mode resistors --id-list " + rig.path("n"), "--log " + rig.path("n.next"), "--id-list's next line (" + rig.path("n.next") + ") and --log"}}) {
            QCOMPARE(rig.expect(QStringList{"program"} + first.split(u' ') + second.split(u' ') + (first.contains("--id") ? QStringList() : Fields576), 2,
                                QString("tessary program: %1 name one file, %2; give each its own\n").arg(names, second.section(u' ', -1))), "");
            QVERIFY(rig.env.simLine.opens().isEmpty() && !QFile::exists(rig.path("new.csv")) && !QFile::exists(rig.path("n")));
        }
        QCOMPARE(rig.read("line.csv"), logged);
        // Resistors whose straps set MRS mode: the board names itself with 13 characters and "MRS", so
        // a 16-character identity is not what it reports.
        rig.board(3, {.straps1 = 0x61});
        rig.env.present = {3};
        // Without the read-back the identity it answers after its reset is its word all the same.
        for (const char *verify : {"--verify", "--yes"}) {
            QCOMPARE(rig.expect({"program", "--mode", "resistors", "--id", "SIXTEEN CHARS ID", verify, "--json"}, 1,
                                "identity: wrote \"SIXTEEN CHARS ID\", the board reports \"SIXTEEN CHARSMRS\"\n"), "");
            QCOMPARE(rig.json({"result", "verified"}), "verify-failed false");
        }
    }

    void programFromADatabaseEntryOrInResistorsMode()
    {
        Rig rig;
        Board &board = rig.board(1, {.strobePolarity = 0}); // Mechanism 11 has a positive strobe
        QCOMPARE(rig.run({"db", "factory", rig.path("f.cdb")}), 0);
        QCOMPARE(rig.run({"program", "--db", rig.path("f.cdb"), "--entry", "Mechanism 11", "--json"}), 0);
        QCOMPARE(board.effectiveConfiguration(), std::make_pair(quint8(0xF4), quint8(0xA0))); // 1111010010100000
        QCOMPARE(rig.expect({"program", "--db", rig.path("f.cdb"), "--entry", "Mechanism 99"}, 1, "no entry named \"Mechanism 99\""), "");
        // Resistors mode writes the mode and the automatic identity alone,
        // without asking the board's polarity.
        rig.env.simLine.clearRecords();
        QCOMPARE(rig.run({"program", "--port", "COM1", "--speed", "115200", "--mode", "resistors", "--verify"}), 0);
        QVERIFY(rig.portWire(1).contains("1d534606001d53460900") && !rig.portWire(1).contains("1d5368"));
        QVERIFY(rig.out.contains("Verified: the board holds what was written.\n"));
        // The board detects another strobe polarity than the code's: asked, and cancelled without --yes.
        rig.env.simLine.clearRecords();
        QCOMPARE(rig.expect({"program", "--code", "1111000101000000", "--id", "X", "--json"}, 1,
                            "Hardware detected polarity doesn't match user choice !  Program anyway ?\n"
                            "tessary: answered Cancel (give --yes to answer OK)\ntessary: Programming cancelled !"), "");
        QVERIFY(rig.json({"result"}) == "cancelled" && !rig.portWire(1).contains("1d5346") && !rig.env.simLine.isOpen());
    }

    // The record of `program`: its header, and one row of each result, each column as the issue of the run
    // left it. The board is on COM1, whose adapter has the serial number A1.
    void everyResultHasItsRecordRow()
    {
        // Found at 115200 bauds; the identity after, then database and entry, the code and mode.
        const QString found = "115200,hw,FW 4.12,TH432 1K5 STD,", written = found + "TH432 1K5 STD,,,1111000101000000,user,",
                      stopped = found + ",,,1111000101000000,user,";
        const QStringList code = {"--code", "1111000101000000"};
        // The fault, the options, the exit status, and the log's row after the columns of where and what (DB: the database file):
        // ok, echo-error (no echo, a wrong echo), verify-failed, cancelled, reset-not-sent, interrupted, no-board, port-error.
        const struct { QString fault; QStringList options; int status; QString row; } table[] = {
            {"", {"--db", "DB", "--entry", "Line entry", "--verify"}, 0, found + "TH432 1K5 STD,DB,Line entry,1111000101000000,user,yes,ok,,4/4"},
            {"no echo", code, 1, written + ",echo-error,\"parameter 6: wrote 01, no echo; parameter 7: wrote F1, no echo; "
                                           "parameter 8: wrote 40, no echo; 1 more\",0/4"},
            {"wrong echo", code, 1, written + ",echo-error,\"parameter 8: wrote 40, the board echoed 41\",4/4"},
            {"three-byte configuration", code + QStringList{"--verify"}, 1,
             written + "no,verify-failed,configuration bytes: the board's reply was unusable (3 bytes),4/4"},
            {"other polarity", code + QStringList{"--id", "X"}, 1,
             stopped + ",cancelled,Programming cancelled ! (the board detects the other strobe polarity),0/5"},
            {"hang-up before the writes", code, 1, // its identity before: the probe's
             stopped + ",reset-not-sent,COM1: the line was hung up; the port was closed; nothing was written to the board and it was not reset,0/4"},
            {"hang-up amid the writes", code, 1,
             stopped + ",reset-not-sent,COM1: the line was hung up; the port was closed; the board was not reset and may hold part of the "
                       "configuration,1/4"},
            {"signal", code + QStringList{"--verify"}, 143,
             stopped + "no,interrupted,stopped after 2 of 4 parameter writes were echoed; the board may hold a partial configuration and "
                       "should be programmed again,2/4"},
            {"silent", code + QStringList{"--verify"}, 1, ",,,,,,,1111000101000000,user,no,no-board,\"no board answered at any speed, after a wake-up\",0/4"},
            {"busy", code, 1, ",,,,,,,1111000101000000,user,,port-error,/dev/ttyS0 is in use by another program,0/4"}};
        for (const auto &[fault, options, status, row] : table) {
            Rig rig;
            rig.env.ports.ports = {adapter('A', "/dev/ttyS0")};
            Board &board = rig.board(1, {.strobePolarity = fault == "other polarity" ? 0 : 1});
            QCOMPARE(rig.run({"db", "add", rig.path("f.cdb"), "Line entry", "--code", "1111000101000000"}), 0);
            board.setFaults({.silent = fault == "silent", .noEcho = fault == "no echo", .wrongEchoAddress = fault == "wrong echo" ? 8 : -1,
                             .threeByteConfiguration = fault == "three-byte configuration",
                             .hangUpAfter = fault == "hang-up amid the writes" ? 28 : fault == "hang-up before the writes" ? 20 : -1});
            rig.env.simLine.failOpen(1, fault == "busy" ? "/dev/ttyS0 is in use by another program" : "");
            const bool signal = fault == "signal";
            rig.env.virtualClock.onWait = [&rig, &board, signal](int) { // at the echo wait of the third write
                if (signal && board.parameter(8) == 0x40 && board.parameter(6) == 1 && rig.app)
                    std::exchange(rig.app, nullptr)->interrupt(SIGTERM);
            };
            board.setParameter(8, 0);
            QVERIFY2(rig.run(QStringList{"program", "--port", "COM1", "--station", "LINE 7", "--log", rig.path("line.csv"), "--json"}
                             + QStringList(options).replaceInStrings("DB", rig.path("f.cdb"))) == status,
                     qPrintable(fault + ": " + rig.err));
            QCOMPARE(rig.rows("line.csv"), QStringList("2024-05-06T07:08:09.000Z,2024-05-06T07:08:09.000Z,LINE 7,tessary 2.3,program,COM1,"
                                                       "/dev/ttyS0,A1," + QString(row).replace("DB", rig.path("f.cdb"))));
            QCOMPARE(rig.json({"identityBefore"}).left(16).trimmed(), row.section(u',', 3, 3)); // the JSON says what the log says
            QCOMPARE(rig.err.contains("The serial line failed before anything was written: the board keeps the configuration it had."),
                     fault == "hang-up before the writes");
        }
        // Fields that could break a row.
        for (const auto &[text, field] : QList<QPair<QString, QString>>{
                 {"A,B", "\"A,B\""}, {"say \"hi\"", "\"say \"\"hi\"\"\""}, {" X", "\" X\""}, {"A\r\nB", "A\uFFFD\uFFFDB"}})
            QCOMPARE(CsvLog::field(text), field);
    }

    void dbCommandsEditTheFileAsTheWindowSavesIt()
    {
        Rig rig;
        const QString file = rig.path("new.cdb");
        QCOMPARE(rig.run({"db", "add", file, "Mechanism 01", "--code", "1111000101000000"}), 0); // created
        // Sixteen characters are a whole name; a longer one is cut to sixteen,
        // as the window's field takes no more.
        QCOMPARE(rig.run(QStringList{"db", "add", file, "Sixteen chars ok"} + Fields576), 0);
        QCOMPARE(rig.err, QString());
        QCOMPARE(rig.expect({"db", "add", file, "A name of twenty chars", "--code", "1101001100100000"}, 0,
                            "the name is cut to its first 16 characters: \"A name of twenty\""), "");
        const QByteArray three = QByteArray("ZELPRINTERSCDB0\x03\r\n") + record("Mechanism 01", "1111000101000000")
                               + record("Sixteen chars ok", "1111000001100000") + record("A name of twenty", "1101001100100000");
        QCOMPARE(rig.read("new.cdb"), three);
        QCOMPARE(rig.run({"db", "show", file, "--index", "3"}), 0);
        QVERIFY(rig.out.startsWith("Name: A name of twenty\nCode: 1101001100100000\n"));
        QCOMPARE(rig.answer({"db", "list", file}), "  1  Mechanism 01      1111000101000000\n  2  Sixteen chars ok  1111000001100000\n"
                          "  3  A name of twenty  1101001100100000\n");
        // Read-only: read, never written.
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner));
        for (const QStringList &arguments : QList<QStringList>{{"db", "remove", file, "Mechanism 01"},
                                                              {"db", "factory", file, "--yes"},
                                                              {"db", "export", file, "--output", file}}) {
            QCOMPARE(rig.expect(arguments, 1, "was not written: it is read-only\n"), "");
        }
        QCOMPARE(rig.read("new.cdb"), three);
        QCOMPARE(rig.run({"db", "list", file}), 0);
        // Nor is what is not a regular file, also through a link: named, and left as it was.
        QVERIFY(::mkfifo(qPrintable(rig.path("fifo")), 0644) == 0 && QFile::link(rig.path("fifo"), rig.path("fifolink"))
                && QDir(rig.dir.path()).mkdir("folder"));
        const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{AF_UNIX, {}};
        qstrncpy(address.sun_path, qPrintable(rig.path("socket")), sizeof address.sun_path);
        QVERIFY(::bind(socket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        const auto closeSocket = qScopeGuard([socket] { ::close(socket); });
        QList<QPair<QString, QString>> kinds = {{"fifo", "a named pipe (FIFO)"}, {"fifolink", "a named pipe (FIFO)"},
                                                {"socket", "a socket"}, {"folder", "a folder"}};
        if (::mknod(qPrintable(rig.path("device")), S_IFCHR | 0644, makedev(1, 3)) == 0) // as root: /dev/null's numbers
            kinds.append(qMakePair(QString("device"), QString("a device")));
        for (const auto &[name, what] : kinds) {
            const QString target = rig.path(qPrintable(name));
            for (const QStringList &arguments : QList<QStringList>{{"db", "factory", target, "--yes"},
                                                                  {"db", "export", file, "--output", target}}) {
                QCOMPARE(rig.run(arguments), 1);
                QVERIFY2(rig.err == (arguments[1] == "export" ? "tessary: cannot write " + target + ": it is " + what + ", not a file\n"
                                                              : "tessary: Couldn't write the database file " + target + " : it is " + what
                                                                    + ", not a file; the file on disk was not changed\n"),
                         qPrintable(rig.err));
                QVERIFY(QFileInfo::exists(target) && !QFileInfo(target).isFile());
            }
        }
        // The factory list (its bytes are the window's); an existing file is replaced only with --yes.
        QCOMPARE(rig.run({"db", "factory", rig.path("f.cdb")}), 0);
        QCOMPARE(rig.expect({"db", "factory", rig.path("f.cdb")}, 1, "give --yes"), "");
        QVERIFY(QFile::link(rig.path("f.cdb"), rig.path("link.cdb"))); // a link to a file is written through
        QCOMPARE(rig.run({"db", "factory", rig.path("link.cdb"), "--yes"}), 0);
        QVERIFY(QFileInfo(rig.path("link.cdb")).isSymLink() && rig.read("f.cdb").size() == 18 + 29 * 34);
    }

    // Edits at the bounds of a database, and every command that reads one meeting a file that is none, through
    // the commands: the exit status, what is said (D: the file) and the file after. Before and after, the entries
    // in order (A, B, C; "" a database without entries), or a file of tests/data: one that is no database (its mark
    // in lower case), one cut short inside a record, one of 255 entries; a refusal leaves the file as it was.
    void dbEditsAtTheirBounds()
    {
        const auto bytes = [](const QString &what) {
            QFile file(qEnvironmentVariable("TESSARY_TEST_DATA") + '/' + what);
            QByteArray entries = QByteArray("ZELPRINTERSCDB0") + char(what.size()) + "\r\n";
            for (const QChar name : what)
                entries += record(QByteArray(1, name.toLatin1()), name == u'A' ? "1111000101000000" : name == u'B' ? "1111000001100000" : "1101001100100000");
            return !what.endsWith(".cdb") ? entries : file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
        };
        const QString notDb = "tessary: This is not a valid Z.E.L configuration database !\n";
        const struct { QString before, arguments; int status; QString said, after; } table[] = {
            {"ABC", "move D --index 1 --up", 1, "tessary: entry 1 cannot move to position 0 of 3\n", "ABC"},
            {"ABC", "move D --index 3 --down", 1, "tessary: entry 3 cannot move to position 4 of 3\n", "ABC"},
            {"ABC", "move D C --to 4", 1, "tessary: entry 3 cannot move to position 4 of 3\n", "ABC"},
            {"ABC", "move D --index 1 --down", 0, "\"A\" is now entry 2\n", "BAC"},
            {"ABC", "move D --index 3 --up", 0, "\"C\" is now entry 2\n", "ACB"},
            {"ABC", "move D A --to 3", 0, "\"A\" is now entry 3\n", "BCA"},
            {"ABC", "move D B --to 2", 0, "\"B\" is now entry 2\n", "ABC"},
            {"ABC", "move D A --to 0", 2, "tessary db move: --to takes a position from 1\n", "ABC"},
            {"ABC", "remove D --index 3", 0, "Removed entry 3 \"C\"\n", "AB"},
            {"ABC", "remove D --index 1", 0, "Removed entry 1 \"A\"\n", "BC"},
            {"ABC", "remove D --index 0", 1, "tessary: D has no entry 0 (it holds 3)\n", "ABC"},
            {"ABC", "remove D --index 4", 1, "tessary: D has no entry 4 (it holds 3)\n", "ABC"},
            {"A", "remove D A", 0, "Removed entry 1 \"A\"\n", ""},
            {"", "list D", 0, "", ""},
            {"", "show D --index 1", 1, "tessary: D has no entry 1 (it holds 0)\n", ""},
            {"", "add D A --code 1111000101000000", 0, "Added entry 1 \"A\" 1111000101000000\n", "A"},
            {"ABC", "add D A --code 1101001100100000", 1, "tessary: Overwrite existing configuration <A> ?\ntessary: answered Cancel (give "
                                                          "--yes to answer OK)\ntessary: D was not changed\n", "ABC"},
            {"count-255.cdb", "add D A --code 1111000101000000", 1, "tessary: D holds 255 entries, as many as a database file can hold\n", "count-255.cdb"},
            {"lowercase-magic.cdb", "list D", 1, notDb, "lowercase-magic.cdb"},
            {"lowercase-magic.cdb", "add D A --code 1111000101000000", 1, notDb, "lowercase-magic.cdb"},
            {"lowercase-magic.cdb", "remove D A", 1, notDb, "lowercase-magic.cdb"},
            {"lowercase-magic.cdb", "export D", 1, notDb, "lowercase-magic.cdb"},
            {"ABC", "export D --output D --yes", 1, "tessary: D is the database itself; give another file\n", "ABC"},
            {"lowercase-magic.cdb", "program --db D --entry A --port COM1", 1, notDb, "lowercase-magic.cdb"},
            {"lowercase-magic.cdb", "audit --db D --port COM1", 1, notDb, "lowercase-magic.cdb"},
            {"ABC", "audit --db D --expect Z --port COM1", 2, "tessary audit: --expect: D has no entry named \"Z\"\n", "ABC"},
            {"truncated-inside-record.cdb", "add D A --code 1111000101000000", 1, "tessary: Couldn't load the database file D : The file ends "
                                                                                  "before its 3 entries are complete (only 2 complete).\n", "truncated-inside-record.cdb"}};
        for (const auto &[before, arguments, status, said, after] : table) {
            Rig rig;
            rig.write("d.cdb", bytes(before));
            const QStringList words = QString(arguments).split(u' ').replaceInStrings(QRegularExpression("^D$"), rig.path("d.cdb"));
            QCOMPARE(rig.run((words.first() == "program" || words.first() == "audit" ? QStringList() : QStringList{"db"}) + words), status);
            const QString told = QString(said).replace(" D ", " " + rig.path("d.cdb") + ' ');
            QVERIFY2(rig.out + rig.err == told, qPrintable(arguments + ": " + rig.out + rig.err));
            QVERIFY2(rig.read("d.cdb") == bytes(after), qPrintable(arguments));
            QVERIFY(!rig.env.simLine.isOpen() && rig.env.simLine.writes().isEmpty());
        }
    }

    void importAndExportAsJson()
    {
        Rig rig;
        // Odd but storable: Latin-1 letters up to the last (ÿ), a name of sixteen, control characters, any code
        // of sixteen characters.
        rig.write("in.json", QStringLiteral(R"({"format": "tessary-cdb", "version": 1, "entries": [
            {"name": "Mechanism 01", "code": "1111000101000000"}, {"name": "Größe 16 Zeichen", "code": "1111000110000000"},
            {"name": " Tab\there\u0001ÿ", "code": "2 x\u00e9\r\n\u0000010101010"}]})").toUtf8());
        QCOMPARE(rig.run({"db", "import", rig.path("in.json"), rig.path("first.cdb")}), 0);
        const QByteArray bytes = QByteArray("ZELPRINTERSCDB0\x03\r\n") + record("Mechanism 01", "1111000101000000")
                               + record("Gr\xf6\xdf" "e 16 Zeichen", "1111000110000000")
                               + record(" Tab\there\x01\xff", QByteArray("2 x\xe9\r\n\0" "010101010", 16));
        QCOMPARE(rig.read("first.cdb"), bytes);
        QCOMPARE(rig.run({"db", "export", rig.path("first.cdb")}), 0);
        const QString exported = rig.out;
        QCOMPARE(rig.run({"db", "export", rig.path("first.cdb"), "--output", rig.path("again.json")}), 0);
        QVERIFY(exported.contains("Größe 16 Zeichen") && QString::fromUtf8(rig.read("again.json")) == exported);
        QCOMPARE(rig.expect({"db", "export", rig.path("first.cdb"), "--output", rig.path("again.json")}, 1, "exists; give --yes to replace it\n"), "");
        QCOMPARE(rig.run({"db", "import", rig.path("again.json"), rig.path("first.cdb")}), 1); // exists: needs --yes
        QCOMPARE(rig.run({"db", "import", rig.path("again.json"), rig.path("first.cdb"), "--yes"}), 0);
        QCOMPARE(rig.read("first.cdb"), bytes);
        QCOMPARE(::mkfifo(qPrintable(rig.path("pipe.json")), 0600), 0); // which nothing may ever write
        QCOMPARE(rig.expect({"db", "import", rig.path("pipe.json"), rig.path("out.cdb")}, 1,
                            "cannot read " + rig.path("pipe.json") + ": it is a named pipe (FIFO), not a file; give - to read standard input\n"), "");

        // Refused with the entry named, exit status 1 and no file written.
        const QByteArray head = R"({"format": "tessary-cdb", "version": 1, "entries": [{"name": "M", "code": "1111000101000000"}, )";
        const QByteArray more = QByteArray(R"({"name": "M", "code": "1111000101000000"}, )").repeated(254); // 256 in all, with head's and the last
        const QList<QPair<QByteArray, QString>> table = {
            {"ZELPRINTERSCDB0", "not valid JSON"},
            {R"({"format": "csv", "version": 1, "entries": []})", "\"format\" is not \"tessary-cdb\""},
            {R"({"format": "tessary-cdb", "version": 2, "entries": []})", "\"version\" is not 1"},
            {head + R"({"name": "A", "code": "111100010100000"}]})", "entry 2 \"A\": the code \"111100010100000\" is 15 characters, not 16"},
            {head + R"({"name": "A", "code": "11110001010000001"}]})", "the code \"11110001010000001\" is 17 characters, not 16"},
            {head + R"({"name": "seventeen chars!!", "code": "1111000101000000"}]})", "longer than 16"},
            {head + R"({"name": "A ", "code": "1111000101000000"}]})", "ends in a space"},
            {head + R"({"name": "\u0100", "code": "1111000101000000"}]})", "Latin-1"}, // the first beyond it
            {head + R"({"name": "A", "code": 1111000101000000}]})", "entry 2: needs a \"name\" and a \"code\", both texts"},
            {head + R"({"name": "a\u0000b", "code": "1111000101000000"}]})", "entry 2 \"a\uFFFDb\": the name holds a NUL, CR or LF"},
            {head + R"({"name": "a\rb", "code": "1111000101000000"}]})", "the name holds a NUL, CR or LF"},
            {head + R"({"name": "a\nb", "code": "1111000101000000"}]})", "the name holds a NUL, CR or LF"},
            {head + R"({"name": "\t", "code": "1111000101000000"}]})", "the name is blank"},
            {head + more + R"({"name": "M", "code": "1111000101000000"}]})", "256 entries, but a database file holds at most 255"},
        };
        for (const auto &[json, reason] : table) {
            rig.write("in.json", json);
            QCOMPARE(rig.run({"db", "import", rig.path("in.json"), rig.path("out.cdb")}), 1);
            QVERIFY2(rig.err.contains(reason) && !QFile::exists(rig.path("out.cdb")), qPrintable(rig.err));
        }
    }

    // Every file of tests/data that the window opens (and lists and saves) is exported, and its export imported
    // gives the bytes that saving the opened file gives; one the window refuses is refused too.
    void exportThenImportGivesTheFileBack()
    {
        const QString folder = qEnvironmentVariable("TESSARY_TEST_DATA");
        const QStringList files = QDir(folder).entryList({"*.cdb"});
        QVERIFY2(files.size() >= 16, "the database files of tests/data are missing");
        for (const QString &file : files) {
            // Why the import refuses the export; empty: it takes it.
            const QString refused = file == "repeated-names.cdb" ? "entry 2 \"Twin\": the name repeats entry 1's" : "";
            Rig rig;
            const QString path = folder + u'/' + file;
            MechanismDatabase database;
            test::ScriptedPrompts prompts;
            test::ScriptedFileChooser chooser;
            chooser.paths = {path, rig.path("resaved.cdb")};
            PlainStatusLine status;
            DatabaseFiles window(database, prompts, chooser, status);
            window.openDatabase();
            const bool opens = prompts.shown.isEmpty();
            window.saveDatabaseAs();
            QVERIFY2(rig.run({"db", "export", path, "--output", rig.path("export.json")}) == (opens ? 0 : 1), qPrintable(file + ": " + rig.err));
            if (!opens)
                continue;
            const QString imported = rig.expect({"db", "import", rig.path("export.json"), rig.path("imported.cdb")}, refused.isEmpty() ? 0 : 1, refused);
            QVERIFY2(imported.isEmpty(), qPrintable(file + ": " + imported));
            QVERIFY2(rig.read("imported.cdb") == (refused.isEmpty() ? rig.read("resaved.cdb") : QByteArray()), qPrintable(file));
        }
    }

    void codeDecodeAndEncode()
    {
        Rig rig;
        QCOMPARE(rig.answer({"code", "decode", "1011011100001111"}), "Configuration code: 1011011100001111 (bytes B7 0F)\n  Printer mode: Chipset\n  Logic voltage: 3.3 V\n"
                          "  Mechanism: Standard\n  Motor steps: 1 step/dotline\n  Motor rotation: Normal\n  Head type: not defined\n"
                          "  Strobe polarity: Negative\n  Head width: not defined\n  Head-up polarity: Normal\n"
                          "Note: positions 13 to 16 are reserved and should be 0000.\n");
        QCOMPARE(rig.run({"code", "encode", "--voltage", "3.3", "--head-width", "832", "--head-type", "800", "--mechanism", "kel",
                          "--steps", "2", "--rotation", "inverted", "--strobe", "negative", "--head-up", "inverted"}), 0);
        QCOMPARE(rig.out, "1000110111110000\n");
    }

    // Every command's JSON, whole, as scripts read it, for each way it ends: "ok" true with what it did, or false with why (the
    // error standard error gives, once). The rows run in order in one folder (DB1, DB2: database files). The JSON is written with
    // ' for its quotes; FIELDS432 stands for the fields of 1111000101000000. How the board commands meet a failing line: the fault table.
    void everyCommandsJsonSaysHowItEnded()
    {
        const QString fields432 = "{'headType':'1500 Ohms','headUpPolarity':'Normal','headWidth':'432 dots','logicVoltage':'5 V','mechanism':'Standard',"
                                  "'motorRotation':'Normal','motorSteps':'1 step/dotline','printerMode':'Chipset','strobePolarity':'Negative'}";
        const QString probe = " --port COM1 --speed 115200 --quiet", at = "'device':'/dev/ttyS0','handshake':'hw',", found = "TH432 1K5 STD    FW 4.12";
        const QString entries = "'entries':['Mechanism 01','Mechanism 08','Mechanism 26','Mechanism 28'],";
        const struct { QString arguments; BoardOptions board; int status; QString json; } table[] = {
            {"detect --port COM1 --quiet", {.baud = 9600, .handshake = BoardHandshake::XonXoff}, 0,
             "{'command':'detect','device':'/dev/ttyS0','handshake':'xon','identity':'" + found + "','ok':true,'port':'COM1','speed':'9600'}"},
            {"identity" + probe, {.identity = "L7-0001"}, 0,
             "{'command':'identity'," + at + "'identity':'L7-0001          FW 4.12','ok':true,'port':'COM1','speed':'115200'}"},
            {"read" + probe, {.configuration1 = 0xD1, .configuration2 = 0x90, .identity = "P"}, 0,
             "{'code':'1101000110010000','command':'read','configurationMode':'user','device':'/dev/ttyS0','fields':{'headType':'1500 Ohms',"
             "'headUpPolarity':'Inverted','headWidth':'864 dots','logicVoltage':'5 V','mechanism':'KEL','motorRotation':'Normal','motorSteps':'1 step/dotline',"
             "'printerMode':'Chipset','strobePolarity':'Negative'},'handshake':'hw','identity':'P                FW 4.12','identityMode':'user','name':'P',"
             "'ok':true,'port':'COM1','speed':'115200'}"},
            {"read" + probe, {.userMode = false, .identity = "P", .faults = {.threeByteConfiguration = true}}, 1,
             "{'code':null,'command':'read','configurationMode':'resistors','device':'/dev/ttyS0','error':'Error while reading printer parameters !',"
             "'handshake':'hw','identity':'P                FW 4.12','identityMode':'user','name':'P','ok':false,'port':'COM1','speed':'115200'}"},
            {"reset" + probe, {}, 0, "{'command':'reset'," + at + "'ok':true,'port':'COM1','speed':'115200'}"},
            {"program --code 1111000101000000 --id AB --verify" + probe, {}, 0,
             "{'code':'1111000101000000','command':'program','detectedPolarity':1,'device':'/dev/ttyS0','differences':[],'echoFailures':0,'handshake':'hw',"
             "'id':'AB','identityAfter':'AB               FW 4.12','identityBefore':'" + found + "','identityMode':'user','mode':'user','ok':true,"
             "'port':'COM1','reason':null,'result':'ok','speed':'115200','verified':true,'writes':[{'address':6,'echo':1,'value':1},"
             "{'address':7,'echo':241,'value':241},{'address':8,'echo':64,'value':64},{'address':9,'echo':65,'value':65},{'address':10,'echo':66,'value':66},"
             "{'address':11,'echo':0,'value':0}],'writesEchoed':6,'writesPlanned':6}"},
            // Asked whether to write over the polarity the board detects, and refused without --yes: nothing written.
            {"program --code 1111000101000000 --id X" + probe, {.strobePolarity = 0}, 1,
             "{'code':'1111000101000000','command':'program','detectedPolarity':0,'device':'/dev/ttyS0','differences':[],'echoFailures':0,'handshake':'hw',"
             "'id':'X','identityAfter':'','identityBefore':'" + found + "','identityMode':'user','mode':'user','ok':false,'port':'COM1',"
             "'reason':'Programming cancelled ! (the board detects the other strobe polarity)','result':'cancelled','speed':'115200','verified':null,"
             "'writes':[],'writesEchoed':0,'writesPlanned':5}"},
            {"audit --expect Mechanism␣01" + probe, {}, 0,
             "{'code':'1111000101000000','command':'audit','configurationMode':'user','device':'/dev/ttyS0','differences':[]," + entries + "'expected':"
             "{'code':'1111000101000000','database':'factory list','entry':'Mechanism 01','fields':['Printer mode: Chipset','Logic voltage: 5 V',"
             "'Mechanism: Standard','Motor steps: 1 step/dotline','Motor rotation: Normal','Head type: 1500 Ohms','Strobe polarity: Negative',"
             "'Head width: 432 dots','Head-up polarity: Normal']},'fields':FIELDS432,'firmware':'FW 4.12','handshake':'hw','identity':'TH432 1K5 STD',"
             "'identityMode':'automatic','ok':true,'port':'COM1','reason':null,'result':'ok','speed':'115200','unanswered':[]}"},
            {"audit --head-width 576 --strobe positive" + probe, {}, 1,
             "{'code':'1111000101000000','command':'audit','configurationMode':'user','device':'/dev/ttyS0','differences':['strobe polarity: the board "
             "holds Negative, expected Positive','head width: the board holds 432 dots, expected 576']," + entries + "'expected':{'code':null,"
             "'database':null,'entry':null,'fields':['Strobe polarity: Positive','Head width: 576 dots']},'fields':FIELDS432,'firmware':'FW 4.12',"
             "'handshake':'hw','identity':'TH432 1K5 STD','identityMode':'automatic','ok':false,'port':'COM1','reason':'strobe polarity: the board holds "
             "Negative, expected Positive; head width: the board holds 432 dots, expected 576','result':'drift','speed':'115200','unanswered':[]}"},
            {"db add DB1 Mechanism␣01 --code 1111000101000000", {}, 0, "{'code':'1111000101000000','index':1,'name':'Mechanism 01','ok':true,'replaced':false}"},
            {"db add DB1 NEW " + QStringList(Fields576).join(u' '), {}, 0, "{'code':'1111000001100000','index':2,'name':'NEW','ok':true,'replaced':false}"},
            {"db add DB1 Mechanism␣01␣␣ --code 1101001100100000 --yes", {}, 0, // trailing blanks are the field's filling
             "{'code':'1101001100100000','index':1,'name':'Mechanism 01','ok':true,'replaced':true}"},
            {"db move DB1 NEW --to 1", {}, 0, "{'code':'1111000001100000','index':1,'name':'NEW','ok':true}"},
            {"db list DB1", {}, 0, "{'count':2,'entries':[{'code':'1111000001100000','index':1,'name':'NEW'},"
                                   "{'code':'1101001100100000','index':2,'name':'Mechanism 01'}],'file':'DB1','ok':true}"},
            {"db remove DB1 NEW", {}, 0, "{'ok':true,'removed':{'code':'1111000001100000','index':1,'name':'NEW'}}"},
            {"db factory DB2", {}, 0, "{'count':29,'file':'DB2','ok':true}"},
            {"db show DB2 Mechanism␣01", {}, 0, "{'byte1':'F1','byte2':'40','code':'1111000101000000','fields':FIELDS432,'index':1,'name':'Mechanism 01','ok':true}"},
            {"db show DB2 --index 30", {}, 1, "{'command':'db show','error':'DB2 has no entry 30 (it holds 29)','ok':false}"},
            {"db list DB2.missing", {}, 1, "{'command':'db list','error':'Couldn't open the database file DB2.missing : No such file or directory','ok':false}"},
            {"code decode 1111000101000000", {}, 0, "{'byte1':'F1','byte2':'40','code':'1111000101000000','fields':FIELDS432,'ok':true}"},
            {"code encode --head-width 432 --head-type 1500 --mechanism standard --steps 1 --rotation normal --strobe negative --head-up normal", {}, 0,
             "{'byte1':'F1','byte2':'40','code':'1111000101000000','fields':FIELDS432,'ok':true}"},
            {"detect --all-boards --port /dev/ttyS0 --port /dev/ttyS1", {}, 0,
             "[{'command':'detect'," + at + "'identity':'" + found + "','ok':true,'port':'COM1','reason':null,'result':'found','speed':'115200'},"
             "{'command':'detect','device':'/dev/ttyS1','handshake':null,'identity':null,'ok':false,'port':'COM2',"
             "'reason':'no board answered at any speed, after a wake-up','result':'no-board','speed':null}]"},
            {"ports --port COM2=/dev/ttyS5", {}, 0,
             "{'ok':true,'ports':[{'device':'/dev/ttyS0','mapped':false,'port':'COM1','present':true},{'device':'/dev/ttyS5','mapped':true,'port':'COM2',"
             "'present':true},{'device':'/dev/ttyS1','mapped':false,'port':'COM3','present':true},{'device':'/dev/ttyS2','mapped':false,'port':'COM4',"
             "'present':true},{'device':'/dev/ttyS3','mapped':false,'port':'COM5','present':true},{'device':'/dev/ttyS4','mapped':false,'port':'COM6',"
             "'present':true}]}"}};
        Rig rig;
        const QRegularExpression quote("(?<=[{\\[,:])'|'(?=[:,}\\]])"); // a ' beside JSON's own signs
        for (const auto &[arguments, board, status, json] : table) {
            rig.board(1, board);
            const auto paths = [&rig](QString text) { return text.replace("DB1", rig.path("1.cdb")).replace("DB2", rig.path("2.cdb")); };
            QVERIFY2(rig.run(paths(arguments).split(u' ').replaceInStrings("␣", " ") << "--json") == status, qPrintable(arguments + rig.err));
            const QJsonObject printed = QJsonDocument::fromJson(rig.out.toUtf8()).object();
            QCOMPARE(QJsonDocument::fromJson(rig.out.toUtf8()).toJson(QJsonDocument::Compact), paths(QString(json).replace("FIELDS432", fields432).replace(quote, "\"")).toUtf8());
            QVERIFY2(status != 0 || !arguments.contains("--quiet") || rig.err.isEmpty(), qPrintable(rig.err)); // --quiet: no progress
            const QString error = printed["error"].toString();
            QVERIFY2(error.isEmpty() || (rig.err.endsWith("tessary: " + error + '\n') && rig.err.count(error) == 1), qPrintable(rig.err));
        }
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
