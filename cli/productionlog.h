#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>

namespace tessary {

// The production log: one CSV row per board programmed, appended to a file
// that gets a header line when it is new. Each row goes out in one write, so
// several stations may append to one file.
class ProductionLog {
public:
    struct Row {
        QDateTime time;
        QString port;
        QString speed;
        QString identityBefore;
        QString identityAfter;
        QString code;
        QString result;
        int parameters = 0; // the parameter writes sent to the board
    };

    explicit ProductionLog(const QString &path);

    // Opens the file for appending (creating it); false, with the reason,
    // when it cannot be. Done before the board is touched.
    [[nodiscard]] bool open(QString *reason);
    [[nodiscard]] bool append(const Row &row, QString *reason);

    [[nodiscard]] static QString header();
    // One field, quoted when it holds a comma, a quote, a line break or outer
    // blanks; control characters are replaced so a row stays one line.
    [[nodiscard]] static QString field(const QString &text);
    [[nodiscard]] static QString line(const Row &row);

private:
    QFile m_file;
    bool m_needsHeader = false;
};

} // namespace tessary
