#pragma once

#include "printer/boardrecord.h"

#include <QFile>
#include <QString>

namespace tessary {

// The production log: one CSV row per board, appended to a file that gets
// its header line when it is new. Each row goes out in one write and is
// synced to the disk before the next board's, so several stations may append
// to one file and a power cut loses no board that had ended.
class CsvLog : public BoardRecorder {
public:
    enum class Opened {
        Ok,
        OtherHeader, // the file holds rows under another header: never mixed
        Failed,      // the file cannot be written
    };

    explicit CsvLog(const QString &path);

    // Opens the file for appending (creating it, with the header); a file of
    // rows under another header is left as it is. Done before any board is
    // touched. The reason says why it did not open ("holds rows under
    // another header (...)", or the system's words).
    [[nodiscard]] Opened open(QString *reason);
    [[nodiscard]] bool record(const BoardRow &row, QString *reason) override;

    [[nodiscard]] static QString header();
    // One field, quoted when it holds a comma, a quote or outer blanks;
    // control characters are replaced so a row stays one line.
    [[nodiscard]] static QString field(const QString &text);
    [[nodiscard]] static QString line(const BoardRow &row);

private:
    // Writes the bytes in one write and syncs them; false with the reason.
    [[nodiscard]] bool put(const QByteArray &bytes, QString *reason);

    QFile m_file;
    bool m_regular = false; // a file on a disk, not a device or a pipe
};

} // namespace tessary
