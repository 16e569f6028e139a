// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>

class QWidget;

namespace colours {

// Gives a control its own fixed background together with
// a text colour and a selection that read on it. The desktop's own colours
// are made for its own backgrounds: a dark scheme's near-white text would
// vanish on these pale ones.
void setFixedBackground(QWidget *widget, const QColor &background);

// The contrast ratio of two colours as accessibility guidelines measure it,
// from 1 (the same) to 21 (black on white).
double contrast(const QColor &a, const QColor &b);

} // namespace colours
