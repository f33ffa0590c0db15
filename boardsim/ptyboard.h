#pragma once

#include "boardsim/board.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace tessary::sim {

// The board behind a pseudo-terminal, so the program's real serial code
// talks to it. It reads the line settings the program set on its end and
// answers only at its own speed; with XON/XOFF on the program's end the line
// discipline itself swallows 0x11 and 0x13. Every byte each way is logged in
// hex with a millisecond timestamp.
class PtyBoard : public QObject {
    Q_OBJECT
public:
    using LogSink = std::function<void(const QString &line)>;

    explicit PtyBoard(const BoardOptions &options = {}, QObject *parent = nullptr);
    ~PtyBoard() override;

    // Creates the pseudo-terminal; on success path() is the program's end.
    [[nodiscard]] bool open();
    [[nodiscard]] QString path() const { return m_path; }
    [[nodiscard]] QString errorString() const { return m_error; }
    // Makes (or replaces) a symbolic link to the program's end; removed again on close.
    [[nodiscard]] bool makeLink(const QString &linkPath);

    // Starts answering; call in the thread this object lives in.
    void start();
    // Stops answering and closes the pseudo-terminal (the program sees a hang-up).
    void close();
    // Takes in what the line still holds for the board, as if it had been read
    // in time: a board told to stop just after the program's last bytes logs
    // them all, however late it was scheduled.
    void takeWaiting();

    // Bytes sent at another speed are answered with noise instead of silence.
    void setGarbageAtOtherSpeeds(bool on) { m_garbage = on; }
    void setLog(LogSink sink) { m_log = std::move(sink); }

    [[nodiscard]] Board &board() { return m_board; }
    // Call after changing the board from outside (faults, parameters).
    void boardChanged() { schedule(); }
    [[nodiscard]] bool isHungUp() const { return m_hungUp; }
    // The speed the program's end is set to now, 0 when unknown.
    [[nodiscard]] qint32 programSpeed() const;

signals:
    void hungUp();

private:
    void onReadable() { (void)takeIn(); }
    bool takeIn(); // whether bytes were read
    void onTimer();
    void schedule();
    void hangUp();
    void closeMaster();
    void flushOutLog();
    void log(const QString &text) const;
    [[nodiscard]] qint64 nowUs() const { return m_elapsed.nsecsElapsed() / 1000; }

    Board m_board;
    int m_master = -1;
    int m_slave = -1; // held open so that reading the master never fails with EIO
    QString m_path;
    QString m_link;
    QString m_error;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_timer = nullptr;
    QElapsedTimer m_elapsed;
    LogSink m_log;
    bool m_garbage = false;
    bool m_hungUp = false;
    quint32 m_seed = 0x2545F491u;
    QByteArray m_outLog; // the reply being sent, logged once complete
    qint64 m_outLogUs = 0;
    qint64 m_streamed = 0;
    qint64 m_streamLoggedUs = -1'000'000;
};

// Formats bytes as "1B 49".
[[nodiscard]] QString hexBytes(const QByteArray &bytes);

} // namespace tessary::sim
