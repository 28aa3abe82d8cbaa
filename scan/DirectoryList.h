// Listing one folder for the repository walk; one file per platform.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <vector>

#ifdef _WIN32
constexpr char pathSeparator = '\\';
#else
constexpr char pathSeparator = '/';
#endif

// Which folder an entry is, whatever path reached it (device and inode on
// Linux, volume serial number and file index on Windows); zero when unknown.
struct FolderId {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool known() const { return device != 0 || inode != 0; }
    auto operator<=>(const FolderId&) const = default;
};

struct DirectoryEntry {
    std::string name;
    bool isFolder = false;  // links to folders count as folders
    bool isLink = false;    // a symbolic link, a junction or another reparse point
};

struct FolderListing {
    FolderId id;  // of the listed folder itself
    std::vector<DirectoryEntry> entries;  // without "." and "..", in walk order
};

// Lists folder into listing. Returns false, with listing empty, when the
// folder cannot be listed (gone, no permission, not a folder, path too long).
bool listFolder(const std::string& folder, FolderListing& listing);

// The folder programs started now would start in.
std::string currentFolder();

// A path that names its folder from the root ("/x", "C:\x", "\\server\share").
inline bool isAbsolutePath(const std::string& path) {
    if (pathSeparator == '/')
        return path.starts_with("/");
    return path.starts_with("/") || path.starts_with("\\") || (path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/'));
}

// folder from the root, without "." and ".." or a separator at the end (the
// current folder before a relative one), so every path of a scan is absolute.
std::string absoluteFolder(const std::string& folder);

// A new empty folder that only this user may write, among the system's
// temporary files; empty when none can be made.
std::string makePrivateFolder();
// Removes folder, once more empty.
void removeFolder(const std::string& folder);

// The absolute path that path leads to, every link on the way resolved, in
// the form the platform's own paths take; empty when it cannot be resolved.
std::string resolvedPath(const std::string& path);

// Whether the resolved path lies in the resolved folder, or is that folder.
inline bool isInside(const std::string& path, const std::string& folder) {
    if (folder.empty() || path.compare(0, folder.size(), folder) != 0)
        return false;
    return path.size() == folder.size() || folder.back() == pathSeparator || path[folder.size()] == pathSeparator;
}
