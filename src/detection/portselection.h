#pragma once

#include "detection/detector.h"

#include <QDialog>

#include <functional>

class QButtonGroup;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace tessary {

struct AppServices;

// The caption of COMn's option: "COM 1 (ttyUSB0)" when a device stands
// behind the slot, "COM 1" otherwise.
using PortCaption = std::function<QString(int port)>;
// The captions of the services' live COM slots ("COM n" without them); the
// demo board's slot reads "COM 1 (demo board)".
[[nodiscard]] PortCaption portCaptions(const AppServices &services);
// What a handshake code (1 or 2) uses on the wire, for the tooltips that
// name it: "Hardware flow control: the RTS and CTS lines". Empty for none.
[[nodiscard]] QString handshakeToolTip(int handshake);

// "Communication Port Selection": finds the printer on COM1 to COM6 by a
// manual probe or an automatic scan and records it in the printer-link
// state. Created for each use; it keeps nothing between openings.
class PortSelection : public QDialog, public DetectionView {
    Q_OBJECT
public:
    explicit PortSelection(AppServices &services, const PortCaption &caption = {}, QWidget *parent = nullptr);
    ~PortSelection() override;

    // The detections the buttons run, through the services' command gate.
    void detectSerialPrinter();
    void autodetect();
    [[nodiscard]] bool isDetecting() const { return m_detecting; }

    // DetectionView
    void setResultText(const QString &text) override;
    void selectSpeed(int index) override;
    void selectHandshake(int index) override;
    void selectPort(int port) override;
    void setBusy(bool busy) override;
    void focusOk() override;

    // Escape and the close control: a running detection is stopped at its
    // next wait and the window closes once it has.
    void reject() override;

private:
    void formLoad();
    // Enables the options whose devices are there, with their captions.
    void showPorts();
    // Runs a detection through the gate; closes the window when it was stopped.
    void runDetection(const QString &name, const std::function<void()> &detection);
    [[nodiscard]] int selectedPort() const;

    AppServices &m_services;
    PortCaption m_caption;
    Detector m_detector;
    QButtonGroup *m_ports = nullptr;
    QList<QRadioButton *> m_portButtons;
    QComboBox *m_speed = nullptr;
    QComboBox *m_handshake = nullptr;
    QLabel *m_result = nullptr;
    QPushButton *m_detect = nullptr;
    QPushButton *m_autodetect = nullptr;
    QPushButton *m_ok = nullptr;
    bool m_detecting = false;
    bool m_closeWhenStopped = false;
};

} // namespace tessary
