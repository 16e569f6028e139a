// SPDX-License-Identifier: MIT
#pragma once

class MessageBoxes;
class LinkOpener;
class ProcessLauncher;
class FileSystemPlaces;

// Everything a window needs from the outside world. main() passes the real
// ones; tests pass fakes that record what was asked and answer from a script.
struct Services {
    MessageBoxes *messages = nullptr;
    LinkOpener *links = nullptr;
    ProcessLauncher *processes = nullptr;
    FileSystemPlaces *places = nullptr;
};
