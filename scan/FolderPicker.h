// The platform's folder chooser; one file per platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Blocks until the user closes the chooser, which opens at startFolder (the
// user's home folder when it is empty) and stays above owner (a native window,
// 0 for none). It never creates a folder. nullopt when the user cancelled; an
// empty string when the chosen item has no path in the file system.
std::optional<std::string> pickFolder(const std::string& startFolder, uintptr_t owner);
