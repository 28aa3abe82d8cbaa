// Windows folder listing: FindFirstFileA/FindNextFileA in the enumeration's own
// order. Windows cannot name a folder here, so a junction cycle ends where the
// pattern passes MAX_PATH, which is refused even where the platform would take it.
#include "scan/DirectoryList.h"

#include <windows.h>

#include <cstring>

namespace {

struct FindHandle {
    HANDLE h;
    ~FindHandle() {
        if (h != INVALID_HANDLE_VALUE)
            FindClose(h);
    }
};

}  // namespace

bool listFolder(const std::string& folder, FolderListing& listing) {
    listing = {};
    // The separator is appended whatever folder ends in, as the walk joins names.
    std::string pattern = folder + "\\*.*";
    if (pattern.size() > MAX_PATH - 1)
        return false;
    WIN32_FIND_DATAA found;
    FindHandle find{FindFirstFileA(pattern.c_str(), &found)};
    if (find.h == INVALID_HANDLE_VALUE)
        return false;
    // FindNextFileA failing for any reason ends the folder, like its end does.
    do {
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
            continue;
        DirectoryEntry entry;
        entry.name = found.cFileName;
        entry.isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        listing.entries.push_back(std::move(entry));
    } while (FindNextFileA(find.h, &found));
    return true;
}
