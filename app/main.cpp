// SPDX-License-Identifier: MIT
// The one place that creates the real platform objects; everything below
// receives them through Services.
#include "platform/QtFileSystemPlaces.h"
#include "platform/QtLinkOpener.h"
#include "platform/QtMessageBoxes.h"
#include "platform/QtProcessLauncher.h"
#include "ui/common/Translations.h"
#include "ui/frmMain/frmMain.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstring>

namespace {

bool asksTheTerminal(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char *option : {"-h", "--help", "-?", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

// The window takes no arguments; --help and --version answer a terminal and
// the manual page, and are answered without a display, so they work over ssh.
int answerTheTerminal(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vexalo4"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VEXALO_VERSION));
    translations::install(&app);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QCoreApplication::translate("main",
                                    "Finds a text in a set of files and replaces it, in one batch, in a window.\n"
                                    "vexalo4-cli does the same on the command line."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (asksTheTerminal(argc, argv))
        return answerTheTerminal(argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vexalo4"));
    QGuiApplication::setDesktopFileName(QStringLiteral(VEXALO_APP_ID));
    translations::install(&app);

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
