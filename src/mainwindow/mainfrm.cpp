#include "mainwindow/mainfrm.h"

#include "app/controls.h"
#include "app/keyboardhabits.h"
#include "configuration/editorbinding.h"
#include "databaseframe/databasebinding.h"
#include "help/aboutfrm.h"
#include "help/helpfrm.h"
#include "printer/printerbinding.h"
#include "printer/programmingbinding.h"
#include "serial/trafficmonitorwindow.h"

#include <QAction>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace tessary {

namespace {

// The client area the three columns fill, below the menu bar and above the
// status bar.
constexpr QSize ClientSize{726, 509};
QLabel *label(QWidget *parent, const QString &name)
{
    auto *l = new QLabel(parent);
    l->setObjectName(name);
    l->setWordWrap(true);
    // Long texts from the board wrap instead of widening the fixed window.
    l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return l;
}

// Holds the window's content and asks for all of it: the window takes the
// size it needs, and scrolls only where the screen is smaller.
class ContentScrollArea : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override
    {
        const int frame = 2 * frameWidth();
        return widget() ? widget()->sizeHint() + QSize(frame, frame) : QScrollArea::sizeHint();
    }
};

// A caption colour that stays readable: the disabled look keeps the style's grey.
void colourCaption(QWidget *w, const QColor &colour)
{
    QPalette p = w->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::WindowText, colour);
        p.setColor(group, QPalette::ButtonText, colour);
    }
    w->setPalette(p);
}

// The column captions are bold; what the columns hold is not.
void makeColumnCaptionBold(QGroupBox *column)
{
    QFont bold = column->font();
    bold.setBold(true);
    QFont normal = column->font();
    normal.setBold(false);
    column->setFont(bold);
    for (QWidget *child : column->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        child->setFont(normal);
}

} // namespace

MainFrm::MainFrm(AppServices &services, QWidget *parent)
    : QMainWindow(parent), m_services(services)
{
    setObjectName(QStringLiteral("MainFrm"));
    QString title = QStringLiteral("Tessary Configurator ");
    if (services.demo)
        title += QStringLiteral("- demo board on COM1");
    setWindowTitle(title);
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
    // A fixed-size window: no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    buildMenus();

    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    central->setMinimumSize(ClientSize);
    auto *columns = new QHBoxLayout(central);
    columns->setContentsMargins(6, 6, 6, 6);
    columns->addWidget(buildDatabaseColumn(), 28);
    columns->addWidget(buildEditorColumn(), 45);
    m_printerColumn = buildPrinterColumn();
    columns->addWidget(m_printerColumn, 27);
    auto *scroll = new ContentScrollArea(this);
    scroll->setObjectName(QStringLiteral("ClientScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    scroll->setWidget(central);
    setCentralWidget(scroll);

    auto *bar = new QStatusBar(this);
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(false);
    // Text in a label is readable over the accessibility interface; the
    // status bar's own message is not.
    m_statusLabel = new QLabel(QStringLiteral("Status bar"), bar);
    m_statusLabel->setObjectName(QStringLiteral("StatusText"));
    // Entry names and file names are shown as they are, never as markup.
    m_statusLabel->setTextFormat(Qt::PlainText);
    m_statusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    bar->addWidget(m_statusLabel, 1);
    setStatusBar(bar);

    connect(&m_services.gate, &CommandGate::busyChanged, this, &MainFrm::setPrinterCommandsBusy);
    connect(&m_services.gate, &CommandGate::finished, this, [this] {
        // Queued: the command's own handler finishes unwinding before the
        // window goes.
        if (m_closeAfterCommand)
            QTimer::singleShot(0, this, [this] { close(); });
    });
    setPrinterCommandsBusy(m_services.gate.isBusy());

    // hook: editor binding
    new EditorBinding(this, m_editor, m_database, m_services.prompts, *this, this);
    // hook: database binding
    new DatabaseBinding(this, m_database, m_editor, m_services.prompts, m_services.files, *this, m_dbOps, this);
    // hook: printer commands
    new PrinterBinding(this, m_services, m_editor, m_database, *this, this);
    // hook: programming
    new ProgrammingBinding(this, m_editor, m_services, *this, this);
    // hook: help and about
    connect(findChild<QAction *>(QStringLiteral("Helphelp")), &QAction::triggered, this,
            [this] { Helpfrm::showHelp(this, m_services.state.AppDirectory); });
    connect(findChild<QAction *>(QStringLiteral("About")), &QAction::triggered, this, [this] { AboutFrm::showAbout(this); });
    applyKeyboardHabits(this);

    // One line over each printer command and each group of the editor.
    const QList<QPair<const char *, const char *>> toolTips = {
        {"GetID", "Finds the board on a serial port and shows its firmware identity"},
        {"GetSettings", "Reads the configuration the board holds into the editor"},
        {"ConfigPrinter", "Writes the editor's configuration and identity into the board, then resets it"},
        {"Wakeup", "Wakes a sleeping board: a wake-up byte on every port"},
        {"SleepButton", "Puts the board to sleep until it is woken"},
        {"Reset", "Restarts the board, which then works with the configuration it holds"},
        {"Frame12", "Resistors: the board takes its configuration from its straps; User: from the editor"},
        {"Frame13", "Automatic: the board names itself after its configuration; User: the identity given"},
        {"IdEditor", "The name the board reports as its identity (User identity determination)"},
        {"Printermode", "The printer mode of a configuration read from the board: shown, not chosen"},
        {"Frame2", "The mechanism type: Standard or KEL"},
        {"Frame11", "The level of the head-up sensor's signal that means the head is up"},
        {"Frame3", "How many motor steps advance the paper by one dot line"},
        {"Frame4", "The direction the stepper motor turns to feed the paper"},
        {"Frame7", "The width of the print head, in dots"},
        {"Frame5", "The resistance of the print head's dots"},
        {"Frame6", "The polarity of the head's strobe signal (the board detects it too)"},
    };
    for (const auto &[name, tip] : toolTips)
        findChild<QWidget *>(QLatin1String(name))->setToolTip(QLatin1String(tip));
}

MainFrm::~MainFrm() = default;

void MainFrm::buildMenus()
{
    auto *bar = new QMenuBar(this);
    bar->setObjectName(QStringLiteral("MenuBar"));
    setMenuBar(bar);

    auto addItem = [](QMenu *menu, const QString &name, const QString &caption) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(name);
        return action;
    };
    auto addSeparator = [](QMenu *menu, const QString &name) { menu->addSeparator()->setObjectName(name); };

    QMenu *file = bar->addMenu(QStringLiteral("Database"));
    file->setObjectName(QStringLiteral("File"));
    addItem(file, QStringLiteral("Ndb"), QStringLiteral("New database"));
    addItem(file, QStringLiteral("Od"), QStringLiteral("Open database"));
    addSeparator(file, QStringLiteral("sep2"));
    addItem(file, QStringLiteral("sd"), QStringLiteral("Save database"));
    addItem(file, QStringLiteral("Sda"), QStringLiteral("Save database as..."));
    addSeparator(file, QStringLiteral("sep1"));
    QAction *exit = addItem(file, QStringLiteral("Exit"), QStringLiteral("Exit"));
    connect(exit, &QAction::triggered, this, &MainFrm::exitProgram);

    QMenu *comm = bar->addMenu(QStringLiteral("Communication"));
    comm->setObjectName(QStringLiteral("Comm"));
    m_detectPrinter = addItem(comm, QStringLiteral("DetectPrinter"), QStringLiteral("Detect a Printer"));
    addSeparator(comm, QStringLiteral("Commsep"));
    QAction *monitor = addItem(comm, QStringLiteral("TrafficMonitor"), QStringLiteral("Traffic monitor"));
    // Open while a command runs too: that is when there is most to see.
    monitor->setEnabled(m_services.traffic != nullptr);
    connect(monitor, &QAction::triggered, this, [this] {
        if (m_services.traffic)
            TrafficMonitorWindow::showMonitor(this, *m_services.traffic, m_services.prompts, m_services.files);
    });

    QMenu *help = bar->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("Help"));
    addItem(help, QStringLiteral("Helphelp"), QStringLiteral("Contents"));
    addSeparator(help, QStringLiteral("Helpsep"));
    addItem(help, QStringLiteral("About"), QStringLiteral("About"));

    // The pop-up of the database list, never part of the menu bar.
    m_dbOps = new QMenu(QStringLiteral("Database Edition"), this);
    m_dbOps->setObjectName(QStringLiteral("dbOps"));
    addItem(m_dbOps, QStringLiteral("dbAnalyse"), QStringLiteral("Analyse"));
    addItem(m_dbOps, QStringLiteral("dbDelete"), QStringLiteral("Delete"));
    addItem(m_dbOps, QStringLiteral("dbMoveup"), QStringLiteral("Move up"));
    addItem(m_dbOps, QStringLiteral("dbMovedown"), QStringLiteral("Move down"));

    // The menu captions carry no mnemonics; F10 reaches the menu bar from
    // the keyboard, as on the usual desktops.
    auto *toMenuBar = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(toMenuBar, &QShortcut::activated, this, [bar] {
        if (!bar->actions().isEmpty()) {
            bar->setFocus(Qt::MenuBarFocusReason);
            bar->setActiveAction(bar->actions().constFirst());
        }
    });
}

QGroupBox *MainFrm::buildDatabaseColumn()
{
    QGroupBox *column = makeGroupBox(nullptr, QStringLiteral("Frame9"), QStringLiteral("Mechanism database"));
    auto *layout = new QVBoxLayout(column);

    auto *list1 = new QListWidget(column);
    list1->setObjectName(QStringLiteral("List1"));
    list1->setAccessibleName(QStringLiteral("Database entries"));
    list1->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(list1, 1);

    layout->addWidget(makeButton(column, QStringLiteral("DbbAnalyse"), QStringLiteral("Analyse current entry"),
                             QStringLiteral("analyse.svg")));
    layout->addWidget(makeButton(column, QStringLiteral("DbbDelete"), QStringLiteral("Delete current entry")));
    auto *moves = new QHBoxLayout;
    moves->addWidget(makeButton(column, QStringLiteral("DbUp"), QStringLiteral("Move up"), QStringLiteral("move-up.svg")));
    moves->addWidget(
        makeButton(column, QStringLiteral("DbDown"), QStringLiteral("Move down"), QStringLiteral("move-down.svg")));
    layout->addLayout(moves);

    // The configuration codes, parallel to List1; never shown.
    auto *list2 = new QListWidget(column);
    list2->setObjectName(QStringLiteral("List2"));
    list2->setAccessibleName(QStringLiteral("Configuration codes"));
    list2->setFocusPolicy(Qt::NoFocus);
    list2->setVisible(false);
    layout->addWidget(list2);

    makeColumnCaptionBold(column);
    return column;
}

QGroupBox *MainFrm::optionGroup(QWidget *parent, const QString &name, const QString &caption,
                                const QList<QPair<QString, QString>> &options)
{
    QGroupBox *box = makeGroupBox(parent, name, caption);
    auto *layout = new QVBoxLayout(box);
    auto *group = new QButtonGroup(box);
    group->setObjectName(name + QStringLiteral("Options"));
    for (const auto &[optionName, optionCaption] : options) {
        auto *option = new QRadioButton(optionCaption, box);
        option->setObjectName(optionName);
        group->addButton(option);
        layout->addWidget(option);
    }
    layout->addStretch(1);
    m_groups.insert(name, group);
    return box;
}

QGroupBox *MainFrm::buildEditorColumn()
{
    QGroupBox *column = makeGroupBox(nullptr, QStringLiteral("Frame8"), QStringLiteral("Configuration editor"));
    auto *rows = new QVBoxLayout(column);

    // Row 1: the identity, and the logic voltage that is never shown.
    auto *row1 = new QHBoxLayout;
    QGroupBox *idEditor = makeGroupBox(column, QStringLiteral("IdEditor"), QStringLiteral("Mechanism identity"));
    auto *idLayout = new QVBoxLayout(idEditor);
    auto *configName = new QLineEdit(idEditor);
    configName->setObjectName(QStringLiteral("ConfigName"));
    configName->setAccessibleName(QStringLiteral("Mechanism identity"));
    // What the field shows is what the board and the database get.
    configName->setMaxLength(ConfigurationEditor::MaxNameLength);
    idLayout->addWidget(configName);
    row1->addWidget(idEditor, 1);
    QGroupBox *frame1 = optionGroup(column, QStringLiteral("Frame1"), QStringLiteral("Logic voltage"),
                                    {{QStringLiteral("Voltage5"), QStringLiteral("5     Volts")},
                                     {QStringLiteral("Voltage3"), QStringLiteral("3.3  Volts")}});
    // The board takes its logic voltage from the configuration; the user
    // cannot choose it.
    frame1->setVisible(false);
    row1->addWidget(frame1);
    rows->addLayout(row1);

    auto addRow = [rows](const QList<QGroupBox *> &boxes) {
        auto *row = new QHBoxLayout;
        for (QGroupBox *box : boxes)
            row->addWidget(box, 1);
        rows->addLayout(row);
    };

    QGroupBox *printerMode = optionGroup(column, QStringLiteral("Printermode"), QStringLiteral("Printer mode"),
                                         {{QStringLiteral("ModeMRS"), QStringLiteral("MRS")},
                                          {QStringLiteral("ModeChipset"), QStringLiteral("Chipset")}});
    // Display only: the program shows the mode the board reports.
    for (QAbstractButton *b : m_groups.value(QStringLiteral("Printermode"))->buttons())
        b->setEnabled(false);
    addRow({printerMode,
            optionGroup(column, QStringLiteral("Frame2"), QStringLiteral("Mechanism"),
                        {{QStringLiteral("MechaStd"), QStringLiteral("Standard")},
                         {QStringLiteral("MechaKEL"), QStringLiteral("KEL")}}),
            optionGroup(column, QStringLiteral("Frame11"), QStringLiteral("Head-up polarity"),
                        {{QStringLiteral("HupNormal"), QStringLiteral("Normal")},
                         {QStringLiteral("HupInverted"), QStringLiteral("Inverted")}})});

    addRow({optionGroup(column, QStringLiteral("Frame3"), QStringLiteral("Motor steps"),
                        {{QStringLiteral("Step1"), QStringLiteral("1 step/dotline")},
                         {QStringLiteral("Steps2"), QStringLiteral("2 steps/dotline")}}),
            optionGroup(column, QStringLiteral("Frame4"), QStringLiteral("Motor rotation"),
                        {{QStringLiteral("StepperNormal"), QStringLiteral("Normal")},
                         {QStringLiteral("StepperInverted"), QStringLiteral("Inverted")}})});

    // Row 4: the tall head-width group beside head type over strobe polarity.
    auto *row4 = new QHBoxLayout;
    QGroupBox *frame7 = optionGroup(column, QStringLiteral("Frame7"), QStringLiteral("Head width"),
                                    {{QStringLiteral("HW384"), QStringLiteral("2''               384 pixels")},
                                     {QStringLiteral("HW432"), QStringLiteral("2''               432 pixels")},
                                     {QStringLiteral("HW448"), QStringLiteral("2''               448 pixels")},
                                     {QStringLiteral("HW576"), QStringLiteral("3''               576 pixels")},
                                     {QStringLiteral("HW640"), QStringLiteral("3''               640 pixels")},
                                     {QStringLiteral("HW832"), QStringLiteral("4 ''              832 pixels")},
                                     {QStringLiteral("HW864"), QStringLiteral("4 ''              864 pixels")}});
    row4->addWidget(frame7, 1);
    auto *row4right = new QVBoxLayout;
    QGroupBox *frame5 = optionGroup(column, QStringLiteral("Frame5"), QStringLiteral("Head type"),
                                    {{QStringLiteral("HeadST"), QStringLiteral("800 Ohms")},
                                     {QStringLiteral("HeadHS"), QStringLiteral("3000 Ohms")},
                                     {QStringLiteral("HeadLV"), QStringLiteral("1500 Ohms")}});
    row4right->addWidget(frame5);
    QGroupBox *frame6 = optionGroup(column, QStringLiteral("Frame6"), QStringLiteral("Strobe polarity"),
                                    {{QStringLiteral("StrobeRohm"), QStringLiteral("Positive")},
                                     {QStringLiteral("StrobeKyo"), QStringLiteral("Negative")}});
    row4right->addWidget(frame6);
    row4->addLayout(row4right, 1);
    rows->addLayout(row4, 1);

    rows->addWidget(makeButton(column, QStringLiteral("NewConfig"), QStringLiteral("Save configuration to database"),
                           QStringLiteral("save-config.svg")));

    makeColumnCaptionBold(column);
    return column;
}

QGroupBox *MainFrm::buildPrinterColumn()
{
    QGroupBox *column = makeGroupBox(nullptr, QStringLiteral("Frame10"), QStringLiteral("Printer"));
    auto *layout = new QVBoxLayout(column);

    QGroupBox *identityf = makeGroupBox(column, QStringLiteral("Identityf"), QStringLiteral("Firmware Identity"));
    auto *identityLayout = new QVBoxLayout(identityf);
    identityLayout->addWidget(label(identityf, QStringLiteral("Identity")));
    layout->addWidget(identityf);

    layout->addWidget(makeButton(column, QStringLiteral("GetID"), QStringLiteral("Check identity")));

    const QColor red(0xC0, 0x00, 0x00);
    const QColor green(0x00, 0x80, 0x00);
    QGroupBox *frame12 = optionGroup(column, QStringLiteral("Frame12"), QStringLiteral("Configuration mode"),
                                     {{QStringLiteral("ConfRes"), QStringLiteral("Resistors")},
                                      {QStringLiteral("ConfUser"), QStringLiteral("User")}});
    colourCaption(frame12->findChild<QRadioButton *>(QStringLiteral("ConfRes")), red);
    colourCaption(frame12->findChild<QRadioButton *>(QStringLiteral("ConfUser")), green);
    layout->addWidget(frame12);

    QGroupBox *frame13 = optionGroup(column, QStringLiteral("Frame13"), QStringLiteral("Identity determination"),
                                     {{QStringLiteral("IdAuto"), QStringLiteral("Automatic")},
                                      {QStringLiteral("IdUser"), QStringLiteral("User")}});
    colourCaption(frame13->findChild<QRadioButton *>(QStringLiteral("IdAuto")), red);
    colourCaption(frame13->findChild<QRadioButton *>(QStringLiteral("IdUser")), green);
    layout->addWidget(frame13);

    layout->addWidget(makeButton(column, QStringLiteral("GetSettings"), QStringLiteral("Check configuration"),
                             QStringLiteral("check-config.svg")));
    layout->addWidget(makeButton(column, QStringLiteral("ConfigPrinter"), QStringLiteral("Configure printer"),
                             QStringLiteral("configure-printer.svg")));

    QGroupBox *frame14 = makeGroupBox(column, QStringLiteral("Frame14"), QStringLiteral("Communication"));
    auto *commLayout = new QVBoxLayout(frame14);
    commLayout->addWidget(label(frame14, QStringLiteral("LabelCom")));
    commLayout->addWidget(label(frame14, QStringLiteral("LabelBauds")));
    layout->addWidget(frame14);

    auto *wakeSleep = new QHBoxLayout;
    wakeSleep->addWidget(makeButton(column, QStringLiteral("Wakeup"), QStringLiteral("Wake up")));
    wakeSleep->addWidget(makeButton(column, QStringLiteral("SleepButton"), QStringLiteral("Sleep")));
    layout->addLayout(wakeSleep);
    layout->addWidget(makeButton(column, QStringLiteral("Reset"), QStringLiteral("Reset")));
    layout->addStretch(1);

    makeColumnCaptionBold(column);
    return column;
}

QButtonGroup *MainFrm::buttonGroup(const QString &frameName) const { return m_groups.value(frameName); }

void MainFrm::formLoad()
{
    m_services.state.initialise(QDir::currentPath());

    findChild<QLabel *>(QStringLiteral("LabelCom"))->setText(QStringLiteral("No chipset found, please"));
    findChild<QLabel *>(QStringLiteral("LabelBauds"))->setText(QStringLiteral("perform a chipset detection"));
    findChild<QLabel *>(QStringLiteral("Identity"))->setText(QStringLiteral("Please, run chipset detection"));

    // Until a printer is found only the identity check can do anything.
    for (const char *name : {"GetSettings", "ConfigPrinter", "Wakeup", "SleepButton", "Reset"})
        findChild<QPushButton *>(QLatin1String(name))->setEnabled(false);
    findChild<QPushButton *>(QStringLiteral("GetID"))->setEnabled(true);

    m_dbOps->hide();
    m_dbOps->menuAction()->setVisible(false);

    m_database.setModified(false);

    // The editor's binding shows its start state on the option buttons.
    m_editor.resetToStartState();

    // hook: load default database
    findChild<DatabaseBinding *>(QString(), Qt::FindDirectChildrenOnly)->loadDefaultDatabase();
}

void MainFrm::showStatus(const QString &text)
{
    if (m_statusLabel)
        m_statusLabel->setText(text);
}

QString MainFrm::statusText() const { return m_statusLabel ? m_statusLabel->text() : QString(); }

void MainFrm::setPrinterCommandsBusy(bool busy)
{
    // Disabling the column keeps each button's own enabled state for later.
    m_printerColumn->setEnabled(!busy);
    m_detectPrinter->setEnabled(!busy);
}

bool MainFrm::confirmLeaving()
{
    if (m_leaveConfirmed || !m_database.isModified())
        return true;
    return m_services.prompts.confirm(modifiedQuestion());
}

void MainFrm::exitProgram()
{
    if (!confirmLeaving())
        return;
    m_leaveConfirmed = true;
    close();
}

void MainFrm::showEvent(QShowEvent *event)
{
    if (!m_loaded) {
        m_loaded = true;
        formLoad();
    }
    if (!m_centred) {
        m_centred = true;
        if (QScreen *s = screen())
            fitToScreen(s->availableGeometry());
        else
            setFixedSize(sizeHint());
    }
    QMainWindow::showEvent(event);
}

void MainFrm::fitToScreen(const QRect &available)
{
    // The frame is known once the window manager has framed the window;
    // before, allow for a title bar.
    QSize frame = frameGeometry().size() - geometry().size();
    if (frame.isNull())
        frame = QSize(0, style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this));
    setFixedSize(sizeHint().boundedTo(available.size() - frame));
    QRect outer(QPoint(), size() + frame);
    outer.moveCenter(available.center());
    move(outer.topLeft());
}

void MainFrm::closeEvent(QCloseEvent *event)
{
    if (!confirmLeaving()) {
        event->ignore();
        return;
    }
    m_leaveConfirmed = true;
    if (m_services.gate.isBusy()) {
        // The command ends at its next wait with the port closed; the window
        // closes once it has.
        m_closeAfterCommand = true;
        m_services.gate.requestStop();
        event->ignore();
        return;
    }
    event->accept();
    emit quitRequested();
}

} // namespace tessary
