// SPDX-License-Identifier: MIT
#include "ScreenFit.h"

#include <QRectF>

#include <algorithm>
#include <cmath>

namespace vexalo {

namespace {
// The largest size a widget may have.
constexpr double pixelLimit = (1 << 24) - 1;
} // namespace

int twipsToPixels(float twips)
{
    const double pixels = std::round(double(twips) / twipsPerPixel);
    if (std::isnan(pixels))
        return 0;
    return int(std::clamp(pixels, -pixelLimit, pixelLimit));
}

bool keepOnScreen(MainWindowState &state, const QList<QRect> &screens)
{
    if (screens.isEmpty())
        return false;
    // In doubles, so that no stored value, however large, can overflow.
    const QRectF window(double(state.left) / twipsPerPixel, double(state.top) / twipsPerPixel,
                        double(state.width) / twipsPerPixel, double(state.height) / twipsPerPixel);
    for (const QRect &screen : screens) {
        if (window.intersects(QRectF(screen)))
            return false;
    }
    state.left = defaultMainLeft;
    state.top = defaultMainTop;
    return true;
}

} // namespace vexalo
