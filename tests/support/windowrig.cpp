#include "windowrig.h"
#include "files.h"

#include "detection/portselection.h"
#include "printer/printerbinding.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <QTimeZone>

#include <sys/stat.h>

namespace tessary::test {

QByteArray WindowRig::emptyDatabase() { return QByteArray("ZELPRINTERSCDB0") + QByteArray::fromHex("000d0a"); }

WindowRig::WindowRig(const std::optional<QByteArray> &defaultCdb, bool demo)
    : services{state, link, gate, prompts, files, demo, &record}
{
    previousFolder = QDir::currentPath();
    QDir::setCurrent(folder.path());
    if (defaultCdb == NamedPipe)
        QVERIFY(::mkfifo("default.cdb", 0644) == 0);
    else if (defaultCdb)
        writeFile(QStringLiteral("default.cdb"), *defaultCdb);
    line.setWakeups(false);
    // The record's headings are dated 2 March 2026, 14:05 at UTC+1, when the virtual clock starts.
    path.line.setWallClock(
        [this] { return QDateTime(QDate(2026, 3, 2), QTime(14, 5), QTimeZone(3600)).addMSecs(clock.now()); });
    window = std::make_unique<MainFrm>(services);
    link.setStatusLine(window.get());
    window->findChild<PrinterBinding *>()->setPortSelectionRunner([this](PortSelection &dialog) {
        dialog.show();
        if (m_inWindow)
            m_inWindow(dialog);
        else
            dialog.autodetect();
        if (dialog.isVisible())
            dialog.accept();
    });
    window->show(); // its first show runs the start-up
}

WindowRig::~WindowRig()
{
    link.setStatusLine(nullptr);
    window.reset();
    QDir::setCurrent(previousFolder);
}

ComSlots &WindowRig::followPorts(const QMap<int, QString> &mappings)
{
    settings = std::make_unique<QSettings>(folder.filePath(QStringLiteral("slots.ini")), QSettings::IniFormat);
    comSlots = std::make_unique<ComSlots>(ports, settings.get(), mappings);
    const auto present = [this] {
        QSet<int> there;
        for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port)
            if (comSlots->slot(port).present)
                there.insert(port);
        line.setExistingPorts(there);
    };
    QObject::connect(comSlots.get(), &ComSlots::changed, &line, present);
    present();
    comSlots->serve(path);
    services.ports = comSlots.get();
    return *comSlots;
}

sim::Board &WindowRig::found(int port, const sim::BoardOptions &options, const QSet<int> &ports)
{
    line.setExistingPorts(ports.isEmpty() ? QSet<int>{port} : ports);
    sim::Board &placed = board(port, options);
    checkIdentity();
    return placed;
}

void WindowRig::click(const QString &names)
{
    for (const QString &name : names.split(u' ', Qt::SkipEmptyParts)) {
        if (auto *action = window->findChild<QAction *>(name)) {
            if (action->isEnabled())
                action->trigger();
        } else if (auto *button = find<QAbstractButton>(qPrintable(name))) {
            button->click();
        }
    }
}

QString WindowRig::text(const char *name) const
{
    const QObject *control = find<QObject>(name);
    return control ? control->property("text").toString() : QString();
}

bool WindowRig::isEnabled(const char *name) const
{
    if (const auto *action = window->findChild<QAction *>(QLatin1String(name)))
        return action->isEnabled();
    const auto *widget = find<QWidget>(name);
    return widget && widget->isEnabled();
}

bool WindowRig::isChecked(const char *name) const
{
    const auto *button = find<QAbstractButton>(name);
    return button && button->isChecked();
}

QString WindowRig::printerColumn() const
{
    QString states;
    for (const char *name : {"GetID", "GetSettings", "ConfigPrinter", "Wakeup", "SleepButton", "Reset"})
        states += isEnabled(name) ? u'+' : u'-';
    return text("Identity") + u'|' + text("LabelCom") + u'|' + text("LabelBauds") + u'|' + states;
}

void WindowRig::type(const char *name, const QString &text)
{
    auto *field = find<QLineEdit>(name);
    if (!field)
        return;
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, text);
}

void WindowRig::checkIdentity(const std::function<void(PortSelection &)> &inWindow)
{
    m_inWindow = inWindow;
    click("GetID");
    m_inWindow = {};
}

} // namespace tessary::test
