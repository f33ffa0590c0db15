#include "app/controls.h"

#include <QGroupBox>
#include <QIcon>
#include <QPushButton>

namespace tessary {

namespace {

constexpr QSize ButtonIconSize{20, 20};

} // namespace

QPushButton *makeButton(QWidget *parent, const QString &name, const QString &caption, const QString &iconName)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    if (!iconName.isEmpty()) {
        b->setIcon(QIcon(QStringLiteral(":/icons/%1").arg(iconName)));
        b->setIconSize(ButtonIconSize);
    }
    b->setAutoDefault(false);
    return b;
}

QGroupBox *makeGroupBox(QWidget *parent, const QString &name, const QString &caption)
{
    auto *box = new QGroupBox(caption, parent);
    box->setObjectName(name);
    box->setAccessibleName(caption);
    return box;
}

} // namespace tessary
