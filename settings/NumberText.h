// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <optional>

namespace vexalo {

// A single-precision number as plain decimal text: "7905" when whole, the
// shortest fraction that reads back to the same value otherwise, never an
// exponent, never a locale's separators. Empty for a value that is not finite.
QString formatSingle(float value);

// Plain decimal text (C locale, optional sign, fraction and exponent, blanks
// around it allowed) as a single-precision number. Digit grouping and decimal
// commas are refused rather than guessed: "7,905" could be either.
std::optional<float> parseSingle(const QString &text);

} // namespace vexalo
