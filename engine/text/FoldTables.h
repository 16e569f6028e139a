// SPDX-License-Identifier: MIT
#pragma once

// The case-folding tables the needle's byte search and its character search
// share; nothing outside engine/text includes it.

#include <array>

namespace vexalo::textdetail {

using FoldTable = std::array<unsigned char, 256>;

// ASCII letters only: what an ASCII needle needs in a UTF-8 file, where every
// byte of 0x80 and above belongs to a longer character.
constexpr FoldTable makeAsciiFold()
{
    FoldTable t{};
    for (int i = 0; i < 256; ++i)
        t[i] = static_cast<unsigned char>(i >= 'A' && i <= 'Z' ? i + 32 : i);
    return t;
}

// Latin-1 letter pairs: A-Z and the accented capitals 0xC0-0xDE, except the
// multiplication sign 0xD7 whose partner 0xF7 is the division sign.
constexpr FoldTable makeLatin1Fold()
{
    FoldTable t = makeAsciiFold();
    for (int i = 0xC0; i <= 0xDE; ++i) {
        if (i != 0xD7)
            t[i] = static_cast<unsigned char>(i + 32);
    }
    return t;
}

inline constexpr FoldTable asciiFold = makeAsciiFold();
inline constexpr FoldTable latin1Fold = makeLatin1Fold();

} // namespace vexalo::textdetail
