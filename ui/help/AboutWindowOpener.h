// SPDX-License-Identifier: MIT
#pragma once

#include "ui/common/Twips.h"
#include "ui/help/frmAbout.h"

#include <QPointer>

class QWidget;

// Top-left corner, in twips, that centres a window of aboutWidth x aboutHeight
// over the main window's outer geometry. Single precision, neither rounded
// nor kept on the screen: a window larger than the main window sits partly
// above and to the left of it.
struct TwipsPoint {
    float left = 0;
    float top = 0;
};
TwipsPoint centredOver(const twips::WindowGeometry &mainWindow, float aboutWidth, float aboutHeight);

// Keeps the one About window. Opening creates it centred over the main window,
// or, while it is open, only brings it to the front where it stands.
class AboutWindowOpener {
public:
    frmAbout *open(QWidget *mainWindow);
    // The open About window, or null once the user has closed it.
    frmAbout *window() const { return m_window; }

private:
    QPointer<frmAbout> m_window;
};
