// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QRect>

namespace placement {

// Where a window that would open at outer (frame included) should open
// instead: as asked when at least half of it lies on one screen, otherwise
// moved by the least amount that puts it on the screen it overlaps most (or,
// overlapping none, the first), as far as its size allows.
QRect ontoScreen(const QRect &outer, const QList<QRect> &screens);

// Where a window taller than the work area of the screen it lies on (at 200%
// on a small screen) should open: at that area's top, so its title bar and
// as many of its controls as the screen holds are in reach. A window that
// fits is left where it is.
QRect tallAtTop(const QRect &outer, const QList<QRect> &workAreas);

// The screens' work areas (without panels and docks).
QList<QRect> workAreas();

} // namespace placement
