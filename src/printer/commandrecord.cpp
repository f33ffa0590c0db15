#include "printer/commandrecord.h"

#include "printer/printerqueries.h"
#include "serial/comslots.h"

namespace tessary {

namespace {

BoardRun runOf(const WindowBoard &board)
{
    BoardRun run;
    run.com = board.printer.comPort;
    run.device = board.device;
    run.started = board.started;
    run.ended = board.ended;
    run.printer = board.printer;
    return run;
}

RecordContext withAdapter(RecordContext context, const WindowBoard &board)
{
    if (!board.adapterSerial.isEmpty())
        context.adapterSerials.insert(board.device, board.adapterSerial);
    return context;
}

} // namespace

WindowBoard windowBoard(const PrinterLink &printer, const ComSlots *ports)
{
    WindowBoard board;
    board.printer = printer;
    if (ports) {
        const ComSlot slot = ports->slot(printer.comPort);
        board.device = slot.device;
        board.adapterSerial = slot.adapter.serialNumber;
    }
    return board;
}

BoardRow programmedRow(RecordContext context, const WindowBoard &board, const ProgramOrder &order,
                       const BoardProgram &done)
{
    BoardRun run = runOf(board);
    run.program = done;
    run.decide();
    context.order = &order;
    return recordRow(run, withAdapter(context, board));
}

BoardRow readRow(RecordContext context, const WindowBoard &board, const ReadBackResult &read)
{
    BoardRun run = runOf(board);
    run.identity = read.identityReply;
    run.decide();
    context.order = nullptr;
    BoardRow row = recordRow(run, withAdapter(context, board));
    row.code = read.code.value_or(QString());
    row.mode = read.configurationModeUser() ? QStringLiteral("user") : QStringLiteral("resistors");
    return row;
}

} // namespace tessary
