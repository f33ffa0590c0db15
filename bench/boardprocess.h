#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace tessary::bench {

// tessary-boardsim as a child process, so that the board's work never counts
// in the CPU time of the program being measured.
class BoardProcess {
public:
    // log: where the board's traffic log goes.
    explicit BoardProcess(const QStringList &options, const QString &log = QStringLiteral("/dev/null"));
    ~BoardProcess();
    BoardProcess(const BoardProcess &) = delete;
    BoardProcess &operator=(const BoardProcess &) = delete;

    [[nodiscard]] bool isReady() const { return !m_path.isEmpty(); }
    [[nodiscard]] QString path() const { return m_path; }
    [[nodiscard]] QString errorString() const { return m_error; }
    [[nodiscard]] qint64 processId() const { return m_process.processId(); }

private:
    QProcess m_process;
    QString m_path;
    QString m_error;
};

} // namespace tessary::bench
