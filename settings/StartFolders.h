// SPDX-License-Identifier: MIT
#pragma once

#include "engine/files/ProtectedList.h"

#include <QString>

class FileSystemPlaces;

namespace vexalo {

// The folder Dir1 opens at start for the stored Folder1: Folder1 itself when
// it is a folder that can be opened, else its nearest parent that can, else
// (an empty or relative Folder1) the program folder. txtLastFolder still
// shows Folder1 as stored.
QString folderToOpen(const QString &folder1, const QString &programFolder);

// Start-up's last two steps: makes the program folder the working folder and
// loads the protected-extension list, the program folder's "exception.txt"
// first. The list belongs to the program folder, so it is looked for there
// even when the working folder could not be changed. A list that exists but
// cannot be read comes back with its error, for the Replace command to refuse.
ProtectedList enterProgramFolder(FileSystemPlaces &places);

} // namespace vexalo
