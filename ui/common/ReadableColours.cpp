// SPDX-License-Identifier: MIT
#include "ReadableColours.h"

#include <QPalette>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

double luminance(const QColor &colour)
{
    auto linear = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

} // namespace

namespace colours {

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

void setFixedBackground(QWidget *widget, const QColor &background)
{
    const bool pale = luminance(background) > 0.18;
    const QColor text = pale ? QColor(Qt::black) : QColor(Qt::white);
    const QColor dimmed = pale ? QColor(112, 112, 112) : QColor(176, 176, 176);
    // A selection of its own, the same whether or not the list has the focus,
    // so that what is selected stays plain to see on the fixed background.
    const QColor selection = pale ? QColor(38, 79, 140) : QColor(170, 200, 255);
    const QColor selectedText = pale ? QColor(Qt::white) : QColor(Qt::black);

    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, background);
    palette.setColor(QPalette::Button, background);
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText})
        palette.setColor(role, text);
    for (QPalette::ColorRole role :
         {QPalette::Text, QPalette::ButtonText, QPalette::WindowText, QPalette::PlaceholderText})
        palette.setColor(QPalette::Disabled, role, dimmed);
    palette.setColor(QPalette::PlaceholderText, dimmed);
    palette.setColor(QPalette::Highlight, selection);
    palette.setColor(QPalette::HighlightedText, selectedText);
    widget->setPalette(palette);
}

} // namespace colours
