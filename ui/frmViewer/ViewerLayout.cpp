// SPDX-License-Identifier: MIT
#include "ui/frmViewer/ViewerLayout.h"

namespace {

// Frame and the box's left margin and right margin; title bar, the row of
// the Save button and the bottom margin.
constexpr float widthAllowance = 350.0f;
constexpr float heightAllowance = 1200.0f;

} // namespace

ViewerLayout::Size ViewerLayout::textBoxSize(float outerWidth, float outerHeight, Size current)
{
    Size size = current;
    if (outerWidth > widthAllowance)
        size.width = outerWidth - widthAllowance;
    if (outerHeight > heightAllowance)
        size.height = outerHeight - heightAllowance;
    return size;
}
