#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tessary {

// Where a run's serial numbers come from: a counter file on this machine, or
// a named counter in the shared record. Each number is handed out once, ever:
// taken in one locked step for every board of the run and spent at once,
// whatever then becomes of the boards.
class NumberCounter {
public:
    virtual ~NumberCounter() = default;
    // One number per board (boards: each board's device, in port order, so
    // the counter may keep which board took which), consecutive, in that
    // order. Nothing, with the reason in *error, when none could be taken:
    // then no board may be written.
    [[nodiscard]] virtual std::optional<QList<qint64>> take(const QStringList &boards, QString *error) = 0;
    // Where the numbers come from, for messages: "the serial file line7.txt".
    [[nodiscard]] virtual QString shown() const = 0;
};

} // namespace tessary
