// SPDX-License-Identifier: MIT
#include "ui/help/AboutWindowOpener.h"

#include "ui/help/frmAbout.h"

#include <QWidget>

namespace {

// A window that has never been shown has no frame yet, so its outer size is
// its client size plus the frame that the main window wears under the same
// window manager.
QSize expectedOuterSize(const QWidget &window, const QWidget &mainWindow)
{
    const QSize client = window.size();
    const QSize mainFrame = mainWindow.frameGeometry().size() - mainWindow.geometry().size();
    return client + mainFrame;
}

} // namespace

TwipsPoint centredOver(const twips::WindowGeometry &mainWindow, float aboutWidth, float aboutHeight)
{
    TwipsPoint p;
    p.top = (mainWindow.height - aboutHeight) / 2.0f + mainWindow.top;
    p.left = (mainWindow.width - aboutWidth) / 2.0f + mainWindow.left;
    return p;
}

frmAbout *AboutWindowOpener::open(QWidget *mainWindow)
{
    if (!m_window) {
        // No parent: the window lives on its own and may outlast the main window.
        m_window = new frmAbout;
        if (mainWindow) {
            const QSize outer = expectedOuterSize(*m_window, *mainWindow);
            const TwipsPoint corner = centredOver(twips::outerGeometry(mainWindow), twips::fromPixels(outer.width()),
                                                  twips::fromPixels(outer.height()));
            twips::setOuterPosition(m_window, corner.left, corner.top);
        }
    } else if (m_window->isMinimized()) {
        // Already open: it comes to the front where it stands, with its text.
        m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    return m_window;
}
