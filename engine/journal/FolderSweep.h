// SPDX-License-Identifier: MIT
#pragma once

// Deleting the journal's folders with system calls only: shared by the
// program and the small one it starts to delete the entries a run gave up
// for room, which loads nothing else. No Qt here.

#include <cstddef>

namespace vexalo::journal {

// What an entry given up for room is renamed to start with until it is gone.
inline constexpr char droppedPrefix[] = ".dropped-";

// Deletes the folder path (relative to the open folder at, or AT_FDCWD) and
// the files in it, reading names into buffer. False if it is still there.
bool deleteFolder(int at, const char *path, char *buffer, std::size_t size);

// Deletes every given-up entry in the journal folder root.
void sweepDropped(const char *root);

} // namespace vexalo::journal
