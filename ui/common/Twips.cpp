// SPDX-License-Identifier: MIT
#include "Twips.h"

#include <QWidget>

#include <cmath>

namespace twips {

int toPixels(float twips)
{
    return static_cast<int>(std::lround(twips / perPixel));
}

float fromPixels(int pixels)
{
    return static_cast<float>(pixels) * perPixel;
}

QRect toPixelRect(float left, float top, float width, float height)
{
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

WindowGeometry outerGeometry(const QWidget *window)
{
    const QRect frame = window->frameGeometry();
    return {fromPixels(frame.x()), fromPixels(frame.y()), fromPixels(frame.width()), fromPixels(frame.height())};
}

void setOuterPosition(QWidget *window, float left, float top)
{
    // For a top-level widget, move() places the frame, not the client area.
    window->move(toPixels(left), toPixels(top));
}

void setOuterSize(QWidget *window, float width, float height)
{
    // The frame's thickness is only known once the window manager has framed
    // the window; before that it counts as zero.
    const QSize frameExtra = window->frameGeometry().size() - window->geometry().size();
    window->resize(std::max(1, toPixels(width) - frameExtra.width()), std::max(1, toPixels(height) - frameExtra.height()));
}

void setOuterGeometry(QWidget *window, const WindowGeometry &geometry)
{
    setOuterSize(window, geometry.width, geometry.height);
    setOuterPosition(window, geometry.left, geometry.top);
}

} // namespace twips
