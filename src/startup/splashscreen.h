#pragma once

#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;

namespace tessary {

// The program's first window: the product artwork and the revision, shown
// for a moment before the main window. After the delay it shows the main
// window once, through the function it was given, then closes and deletes
// itself.
class SplashScreen : public QWidget {
    Q_OBJECT
public:
    static constexpr int DisplayMs = 1500;
    static constexpr QSize WindowSize{376, 279};

    explicit SplashScreen(std::function<void()> showMainWindow, int delayMs = DisplayMs,
                          QWidget *parent = nullptr);

    [[nodiscard]] const QTimer &timer() const { return m_timer; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void splashEnd();

    std::function<void()> m_showMainWindow;
    QTimer m_timer;
    QLabel *m_picture = nullptr;
    QLabel *m_rev = nullptr;
    bool m_ended = false;
};

} // namespace tessary
