// SPDX-License-Identifier: MIT
#include "ScreenPlacement.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace {

qint64 area(const QRect &rect)
{
    return rect.isEmpty() ? 0 : qint64(rect.width()) * rect.height();
}

} // namespace

namespace placement {

QRect ontoScreen(const QRect &outer, const QList<QRect> &screens)
{
    if (screens.isEmpty() || outer.isEmpty())
        return outer;
    QRect best = screens.first();
    qint64 bestArea = -1;
    for (const QRect &screen : screens) {
        const qint64 shown = area(outer.intersected(screen));
        if (shown > bestArea) {
            best = screen;
            bestArea = shown;
        }
    }
    if (2 * bestArea >= area(outer))
        return outer;
    // Right and bottom edges first, so that a window larger than the screen
    // keeps its title bar and left edge in reach.
    QRect moved = outer;
    moved.moveRight(std::min(moved.right(), best.right()));
    moved.moveBottom(std::min(moved.bottom(), best.bottom()));
    moved.moveLeft(std::max(moved.left(), best.left()));
    moved.moveTop(std::max(moved.top(), best.top()));
    return moved;
}

QRect tallAtTop(const QRect &outer, const QList<QRect> &workAreas)
{
    const QRect *best = nullptr;
    qint64 bestArea = 0;
    for (const QRect &screen : workAreas) {
        const qint64 shown = area(outer.intersected(screen));
        if (shown > bestArea) {
            best = &screen;
            bestArea = shown;
        }
    }
    if (!best || outer.height() <= best->height())
        return outer;
    QRect moved = outer;
    moved.moveTop(best->top());
    return moved;
}

QList<QRect> workAreas()
{
    QList<QRect> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens << screen->availableGeometry();
    return screens;
}

} // namespace placement
