// Listing one folder for the repository walk; one file per platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#ifdef _WIN32
constexpr char pathSeparator = '\\';
#else
constexpr char pathSeparator = '/';
#endif

// Which folder an entry is, where the platform can tell (device and inode on
// Linux); lets the walk notice a link back to one of its own ancestors.
struct FolderId {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool known() const { return device != 0 || inode != 0; }
    bool operator==(const FolderId&) const = default;
};

struct DirectoryEntry {
    std::string name;
    bool isFolder = false;  // links to folders count as folders
};

struct FolderListing {
    FolderId id;  // of the listed folder itself
    std::vector<DirectoryEntry> entries;  // without "." and "..", in walk order
};

// Lists folder into listing. Returns false, with listing empty, when the
// folder cannot be listed (gone, no permission, not a folder, path too long).
bool listFolder(const std::string& folder, FolderListing& listing);
