// SPDX-License-Identifier: MIT
#include "ui/help/WindowIcons.h"

QIcon WindowIcons::mainWindow()
{
    return QIcon(QStringLiteral(":/vexalo/help/icon-main.png"));
}

QIcon WindowIcons::viewer()
{
    return QIcon(QStringLiteral(":/vexalo/help/icon-viewer.png"));
}

QIcon WindowIcons::about()
{
    return QIcon(QStringLiteral(":/vexalo/help/icon-about.png"));
}

QPixmap WindowIcons::aboutBanner()
{
    return QPixmap(QStringLiteral(":/vexalo/help/banner.png"));
}
