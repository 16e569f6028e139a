// SPDX-License-Identifier: MIT
// The one place that creates the real platform objects; everything below
// receives them through Services.
#include "platform/QtFileSystemPlaces.h"
#include "platform/QtLinkOpener.h"
#include "platform/QtMessageBoxes.h"
#include "platform/QtProcessLauncher.h"
#include "ui/frmMain/frmMain.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vexalo4"));

    QtMessageBoxes messages;
    QtLinkOpener links;
    QtProcessLauncher processes;
    QtFileSystemPlaces places;
    const Services services{&messages, &links, &processes, &places};

    frmMain window(services);
    window.startUp();
    window.show();
    return app.exec();
}
