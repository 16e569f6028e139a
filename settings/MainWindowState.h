// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

namespace vexalo {

// The main window's geometry as first laid out, and where a first run puts it.
inline constexpr float defaultMainLeft = 1200;
inline constexpr float defaultMainTop = 1200;
inline constexpr float defaultMainWidth = 7905;
inline constexpr float defaultMainHeight = 7815;

// What the settings store moves between the main window and the store. The
// window fills it with what it has now; loading overwrites only the values it
// could read, so a value that cannot be used leaves the window as it was.
struct MainWindowState {
    // Outer position and size in twips (15 to a pixel).
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
    // A window in either state does not save its geometry: the store keeps the
    // one it had when it was last closed in its normal state.
    bool minimized = false;
    bool maximized = false;

    QString findString;
    QString replaceString;
    QStringList folders; // Folder1 (newest) to Folder5
    // Run > Regular Expression. Its key is one an older version does not
    // know and leaves alone.
    bool regularExpression = false;
};

} // namespace vexalo
