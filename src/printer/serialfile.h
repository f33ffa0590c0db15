#pragma once

#include "printer/serialnumbers.h"

#include <optional>

namespace tessary {

// The next serial number in a small text file ("42\n"), for the boards of
// this machine's runs. A run takes its numbers under an exclusive lock on the
// file: it reads the next number (or, on a file that does not exist yet,
// starts at `start`), writes the number after the last one taken to a new
// file beside it, syncs it, renames it over the file and syncs the folder,
// and only then lets go. So two runs at once never share a number, and no
// crash gives one back: a run writes its boards only once the file says
// their numbers are taken.
class SerialFile final : public NumberCounter {
public:
    // start: where a new file begins; none: the file must exist.
    explicit SerialFile(QString path, std::optional<qint64> start = std::nullopt);

    [[nodiscard]] std::optional<QList<qint64>> take(const QStringList &boards, const NumberCheck &check,
                                                    QString *error) override;

    // What the file holds now, read without the lock (a check before the
    // run; the numbers themselves are read again under the lock): the next
    // number, or none for a file that does not exist (or is empty). Nothing,
    // with the reason, for a file that holds no number.
    [[nodiscard]] static std::optional<std::optional<qint64>> peek(const QString &path, QString *error);

    // How long a run waits for another run's lock before it gives up.
    static constexpr int LockWaitMs = 10'000;

private:
    QString m_path;
    std::optional<qint64> m_start;
};

} // namespace tessary
