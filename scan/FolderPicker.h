// The platform's folder chooser; one file per platform.
#pragma once

#include <optional>
#include <string>

// Blocks until the user closes the chooser. nullopt when the user cancelled;
// an empty string when the chosen item has no path in the file system.
std::optional<std::string> pickFolder();
