// Scratch folders and files for the Windows tests, which run under wine.
#pragma once

#include <windows.h>

#include <string>

#include "tests/TempFolder.h"

inline void makeFolder(const std::string& path) {
    CreateDirectoryA(path.c_str(), nullptr);
}
