#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace tessary {

// Why the numbers first, first + 1, ... (count of them) cannot be handed out
// (an identity they would make is too long, a list has fewer lines left), in
// words; empty when they can. Asked by the counter while it holds its lock,
// so a refused run spends no number.
using NumberCheck = std::function<QString(qint64 first, qint64 count)>;

// Where a run's serial numbers come from: a counter file on this machine, or
// a named counter in the shared record. Each number is handed out once, ever:
// taken in one locked step for every board of the run and spent at once,
// whatever then becomes of the boards.
class NumberCounter {
public:
    virtual ~NumberCounter() = default;
    // One number per board (boards: each board's device, in port order, so
    // the counter may keep which board took which), consecutive, in that
    // order. Nothing, with the reason in *error, when none could be taken or
    // `check` refuses the numbers that would be: then no number is spent and
    // no board may be written.
    [[nodiscard]] virtual std::optional<QList<qint64>> take(const QStringList &boards, const NumberCheck &check,
                                                            QString *error) = 0;
};

} // namespace tessary
