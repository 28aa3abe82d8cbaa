// The platform's folder chooser, beside the host it belongs to; one file per
// platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Blocks until the user closes the chooser, which opens at startFolder (the
// user's home folder when it is empty) and stays above owner (a native window,
// 0 for none); meanwhile the window under it shows its last frame. A typed
// path that is no folder is refused in the chooser, and no folder is ever
// made. nullopt when the user cancelled; an empty string when the chosen item
// has no path in the file system.
std::optional<std::string> pickFolder(const std::string& startFolder, uintptr_t owner);
