// SPDX-License-Identifier: MIT
#pragma once

#include "MainWindowState.h"

#include <QList>
#include <QRect>

namespace vexalo {

inline constexpr int twipsPerPixel = 15;

// Twips to whole pixels, held within what a window can take, so a stored
// value of any size cannot overflow the window system's coordinates.
int twipsToPixels(float twips);
inline float pixelsToTwips(int pixels)
{
    return float(pixels) * twipsPerPixel;
}

// Geometry that would put the window wholly off every screen (given in
// pixels, as the window system reports them) moves the window to the default
// position and keeps its size. Any overlap, negative positions included, is
// kept as stored. Without any screen there is nothing to judge by, and the
// geometry stays. Returns true when the window was moved.
bool keepOnScreen(MainWindowState &state, const QList<QRect> &screens);

} // namespace vexalo
