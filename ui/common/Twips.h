// SPDX-License-Identifier: MIT
#pragma once

#include <QRect>

class QWidget;

// Layouts and stored window geometry are in twips: 1440 to the inch, 15 to a
// logical pixel. Window values are outer ones (frame and title bar included)
// and single precision, as the settings store keeps them.
namespace twips {

constexpr int perPixel = 15;

int toPixels(float twips);
float fromPixels(int pixels);
// A control's place inside its window's client area.
QRect toPixelRect(float left, float top, float width, float height);

struct WindowGeometry {
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
};

WindowGeometry outerGeometry(const QWidget *window);
// Moves the window's outer top-left corner.
void setOuterPosition(QWidget *window, float left, float top);
// Sizes the window so that its outer size, frame included, is width by height.
void setOuterSize(QWidget *window, float width, float height);
void setOuterGeometry(QWidget *window, const WindowGeometry &geometry);

} // namespace twips
