// SPDX-License-Identifier: MIT
#include "ui/help/WindowIcons.h"

namespace {

// Every size drawn for the desktop goes in, so that a title bar, a task bar
// and an Alt-Tab switcher each get a picture rendered for their size rather
// than a scaled one.
QIcon iconFromSizes(const QString &pattern, std::initializer_list<int> sizes)
{
    QIcon icon;
    for (const int size : sizes)
        icon.addFile(pattern.arg(size), QSize(size, size));
    return icon;
}

} // namespace

QIcon WindowIcons::mainWindow()
{
    return iconFromSizes(QStringLiteral(":/vexalo/icon/%1x%1/apps/example.vexalo.Vexalo4.png"),
                         {16, 22, 24, 32, 48, 64, 128, 256});
}

QIcon WindowIcons::viewer()
{
    return iconFromSizes(QStringLiteral(":/vexalo/help/icon-viewer-%1.png"), {16, 32, 48});
}

QIcon WindowIcons::about()
{
    return iconFromSizes(QStringLiteral(":/vexalo/help/icon-about-%1.png"), {16, 32, 48});
}

QPixmap WindowIcons::aboutBanner()
{
    return QPixmap(QStringLiteral(":/vexalo/help/banner.png"));
}
