// Finding and reading the README that the preview shows; one file per platform.
#pragma once

#include <string>

// The first of README.MD and README.txt in repository that exists, as a file
// or as a folder, with the letters' case ignored as the platform's names do;
// empty when there is neither. The path is repository, a separator, the name.
std::string findReadme(const std::string& repository);

// At most limit + 1 bytes of the file at path, up to its first zero byte, so
// the caller can tell a text longer than limit. Empty when the path is not a
// readable regular file. Never blocks on a pipe or device.
std::string readFileStart(const std::string& path, size_t limit);
