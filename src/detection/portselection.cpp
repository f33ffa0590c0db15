#include "detection/portselection.h"

#include "app/appservices.h"
#include "app/appstate.h"
#include "app/controls.h"
#include "app/keyboardhabits.h"
#include "app/prompts.h"
#include "protocol/replytext.h"
#include "serial/comslots.h"
#include "serial/commandgate.h"
#include "serial/portnames.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace tessary {

namespace {

constexpr QSize WindowSize{315, 257};
constexpr int DemoPort = 1; // the slot the demo board takes

QString plainCaption(int port) { return QStringLiteral("COM ") + QString::number(port); }

QLabel *label(QWidget *parent, const QString &name, const QString &text)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

} // namespace

QString handshakeToolTip(int handshake)
{
    switch (handshake) {
    case HandshakeXonXoff:
        return QStringLiteral("Software flow control: XON and XOFF characters");
    case HandshakeHardware:
        return QStringLiteral("Hardware flow control: the RTS and CTS lines");
    default:
        return {};
    }
}

PortCaption portCaptions(const AppServices &services)
{
    // The live slots name the devices behind the COM slots. A slot's device
    // that went keeps the name it had ("pts/3", not its link's).
    const ComSlots *comSlots = services.ports;
    PortCaption caption = [comSlots](int port) {
        const QString name = comSlots ? comSlots->slot(port).name : QString();
        return name.isEmpty() ? plainCaption(port) : QStringLiteral("%1 (%2)").arg(plainCaption(port), name);
    };
    // The demo board's pseudo-terminal says nothing to the user: its slot says what it is.
    if (services.demo) {
        return [caption](int port) {
            return port == DemoPort ? plainCaption(port) + QStringLiteral(" (demo board)") : caption(port);
        };
    }
    return caption;
}

PortSelection::PortSelection(AppServices &services, const PortCaption &caption, QWidget *parent)
    : QDialog(parent),
      m_services(services),
      m_caption(caption ? caption : PortCaption(plainCaption)),
      m_detector(services.link, services.state.link, services.prompts, this)
{
    setObjectName(QStringLiteral("PortSelection"));
    setWindowTitle(QStringLiteral("Communication Port Selection"));
    // A fixed dialog: no minimise or maximise button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 8);
    layout->setSpacing(4);

    QGroupBox *frame1 = makeGroupBox(this, QStringLiteral("Frame1"), QStringLiteral("Serial Port"));
    auto *grid = new QGridLayout(frame1);
    grid->setContentsMargins(8, 4, 8, 6);
    grid->setVerticalSpacing(2);
    m_ports = new QButtonGroup(frame1);
    m_ports->setObjectName(QStringLiteral("PortOptions"));
    for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port) {
        auto *option = new QRadioButton(m_caption(port), frame1);
        option->setObjectName(QStringLiteral("COM") + QString::number(port));
        m_ports->addButton(option, port);
        m_portButtons.append(option);
        const int index = port - PortNames::FirstPort;
        grid->addWidget(option, index % 3, (index / 3) * 2, 1, 2);
    }
    QLabel *speedCaption = label(frame1, QStringLiteral("label"), QStringLiteral("Baudrate:"));
    grid->addWidget(speedCaption, 3, 0);
    m_speed = new QComboBox(frame1);
    m_speed->setObjectName(QStringLiteral("serialspeed"));
    m_speed->setAccessibleName(QStringLiteral("Baudrate"));
    m_speed->setEditable(false);
    grid->addWidget(m_speed, 3, 1);
    QLabel *handshakeCaption = label(frame1, QStringLiteral("Label1"), QStringLiteral("Handshake:"));
    grid->addWidget(handshakeCaption, 4, 0);
    m_handshake = new QComboBox(frame1);
    m_handshake->setObjectName(QStringLiteral("serialhandshakeconf"));
    m_handshake->setAccessibleName(QStringLiteral("Handshake"));
    m_handshake->setEditable(false);
    grid->addWidget(m_handshake, 4, 1);
    // On Linux a drop-down list is named by its current entry; screen readers
    // find its caption through the label's buddy.
    speedCaption->setBuddy(m_speed);
    handshakeCaption->setBuddy(m_handshake);
    m_detect = makeButton(frame1, QStringLiteral("DetectSerialPrinter"), QStringLiteral("Detect Chipset"));
    grid->addWidget(m_detect, 3, 2, 2, 2, Qt::AlignVCenter);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    layout->addWidget(frame1);

    QGroupBox *frame2 = makeGroupBox(this, QStringLiteral("Frame2"), QStringLiteral("Current Chipset"));
    auto *frame2Layout = new QVBoxLayout(frame2);
    frame2Layout->setContentsMargins(8, 4, 8, 6);
    m_result = new QLabel(frame2);
    m_result->setObjectName(QStringLiteral("DetectedPrinter"));
    // Texts from the board are shown as they are, never as markup.
    m_result->setTextFormat(Qt::PlainText);
    m_result->setWordWrap(true);
    m_result->setAutoFillBackground(true);
    m_result->setFrameShape(QFrame::Panel);
    m_result->setFrameShadow(QFrame::Sunken);
    m_result->setMargin(3);
    m_result->setMinimumHeight(2 * m_result->fontMetrics().lineSpacing() + 10);
    m_result->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    QPalette yellow = m_result->palette();
    yellow.setColor(QPalette::Window, QColor(0xFF, 0xFF, 0xC0));
    yellow.setColor(QPalette::WindowText, Qt::black);
    m_result->setPalette(yellow);
    frame2Layout->addWidget(m_result);
    layout->addWidget(frame2);

    auto *buttons = new QHBoxLayout;
    m_autodetect = makeButton(this, QStringLiteral("Autodetect"), QStringLiteral("Autodetect Chipset"));
    m_ok = makeButton(this, QStringLiteral("OKButton"), QStringLiteral("OK"));
    buttons->addWidget(m_autodetect);
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    layout->addLayout(buttons);

    connect(m_detect, &QPushButton::clicked, this, &PortSelection::detectSerialPrinter);
    connect(m_autodetect, &QPushButton::clicked, this, &PortSelection::autodetect);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

    setTabOrder(m_portButtons.constFirst(), m_speed);
    setTabOrder(m_speed, m_handshake);
    setTabOrder(m_handshake, m_detect);
    setTabOrder(m_detect, m_autodetect);
    setTabOrder(m_autodetect, m_ok);

    m_detect->setToolTip(QStringLiteral("Asks for the board on the chosen port, at the chosen speed and handshake"));
    m_autodetect->setToolTip(QStringLiteral("Wakes the board, then tries every port at every speed, the fastest first"));
    m_ok->setToolTip(QStringLiteral("Closes this window and keeps what the detection found"));

    formLoad();
    setFixedSize(WindowSize.expandedTo(sizeHint()));
    applyKeyboardHabits(this);
}

PortSelection::~PortSelection()
{
    if (m_services.ports)
        m_services.ports->unwatch();
}

void PortSelection::formLoad()
{
    m_detector.begin();
    // The options follow the devices while the window is open.
    if (m_services.ports) {
        m_services.ports->watch();
        connect(m_services.ports, &ComSlots::changed, this, &PortSelection::showPorts);
    }
    showPorts();
    m_speed->addItems(speedTexts());
    // The captions stay as they always were; the tooltips name the lines.
    connect(m_handshake, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_handshake->setToolTip(handshakeToolTip(index + 1)); });
    m_handshake->addItems({QStringLiteral("Xon-Xoff"), QStringLiteral("DSR/DTR Mode")});
    for (int index = 0; index < m_handshake->count(); ++index)
        m_handshake->setItemData(index, handshakeToolTip(index + 1), Qt::ToolTipRole);
    m_speed->setCurrentIndex(3);
    m_handshake->setCurrentIndex(1);
    setResultText(Detector::initialText());
    // No port is chosen until the user or a scan chooses one.
    m_ports->setExclusive(false);
    for (QRadioButton *option : std::as_const(m_portButtons))
        option->setChecked(false);
    m_ports->setExclusive(true);
}

void PortSelection::showPorts()
{
    for (QRadioButton *option : std::as_const(m_portButtons)) {
        const int port = m_ports->id(option);
        const bool exists = m_services.link.portExists(port);
        option->setText(m_caption(port));
        if (!exists && option->isChecked()) {
            // A chosen port whose device went is chosen no more.
            m_ports->setExclusive(false);
            option->setChecked(false);
            m_ports->setExclusive(true);
        }
        option->setEnabled(exists);
    }
}

int PortSelection::selectedPort() const
{
    int port = 0;
    for (QRadioButton *option : m_portButtons) {
        if (option->isChecked())
            port = m_ports->id(option);
    }
    return port;
}

void PortSelection::detectSerialPrinter()
{
    // The port chosen now: one whose device has just gone is refused as not there.
    const int port = selectedPort();
    runDetection(m_detect->text(), [this, port] {
        m_detector.detectSerialPrinter(port, m_speed->currentText(), m_handshake->currentIndex());
    });
}

void PortSelection::autodetect()
{
    runDetection(m_autodetect->text(), [this] { m_detector.autodetect(); });
}

void PortSelection::runDetection(const QString &name, const std::function<void()> &detection)
{
    if (m_detecting || m_services.gate.isBusy())
        return;
    m_detecting = true;
    m_closeWhenStopped = false;
    const bool completed = m_services.gate.run(name, detection);
    m_detecting = false;
    // Stopped: the user (or the main window) is closing; the port is closed.
    if (!completed || m_closeWhenStopped)
        QDialog::reject();
}

void PortSelection::reject()
{
    if (m_detecting) {
        m_closeWhenStopped = true;
        m_services.gate.requestStop();
        return;
    }
    QDialog::reject();
}

void PortSelection::setResultText(const QString &text) { m_result->setText(printableText(text)); }

void PortSelection::selectSpeed(int index) { m_speed->setCurrentIndex(index); }

void PortSelection::selectHandshake(int index) { m_handshake->setCurrentIndex(index); }

void PortSelection::selectPort(int port)
{
    if (QAbstractButton *option = m_ports->button(port))
        option->setChecked(true);
}

void PortSelection::setBusy(bool busy)
{
    if (busy)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
    m_autodetect->setEnabled(!busy);
    m_detect->setEnabled(!busy);
    m_ok->setEnabled(!busy);
}

void PortSelection::focusOk() { m_ok->setFocus(Qt::OtherFocusReason); }

} // namespace tessary
