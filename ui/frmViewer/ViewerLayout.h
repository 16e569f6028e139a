// SPDX-License-Identifier: MIT
#pragma once

// The viewer's text box follows the window: its right and bottom margins stay
// fixed while the Save button and the path box keep their places.
class ViewerLayout {
public:
    struct Size {
        float width = 0;
        float height = 0;
    };

    // The text box's size in twips for the window's outer size in twips. A
    // window no wider than 350 or no taller than 1200 twips leaves that
    // dimension as it was, since the box would have none left.
    static Size textBoxSize(float outerWidth, float outerHeight, Size current);
};
