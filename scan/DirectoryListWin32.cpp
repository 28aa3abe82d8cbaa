// Windows folder listing: FindFirstFileA/FindNextFileA in the enumeration's own
// order; a folder's identity and a link's target come from a handle to it.
// Names are UTF-8: the program's manifest makes that the narrow calls' code page.
#include "scan/DirectoryList.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace {

struct Handle {
    HANDLE h;
    BOOL(WINAPI* close)(HANDLE);
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE)
            close(h);
    }
};

// A handle to the file or folder that path leads to, for asking about it only.
Handle openToAsk(const std::string& path) {
    return {CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr),
            CloseHandle};
}

// The narrow find calls take at most MAX_PATH UTF-16 units, however many bytes
// they are in UTF-8; past that a folder is refused even where the platform
// would take it, so the walk does not depend on the long path setting.
bool fitsNarrowCalls(const std::string& path) {
    return MultiByteToWideChar(CP_ACP, 0, path.data(), int(path.size()), nullptr, 0) <= MAX_PATH - 1;
}

}  // namespace

bool listFolder(const std::string& folder, FolderListing& listing) {
    listing = {};
    // The separator is appended whatever folder ends in, as the walk joins names.
    std::string pattern = folder + "\\*.*";
    if (!fitsNarrowCalls(pattern))
        return false;
    WIN32_FIND_DATAA found;
    Handle find{FindFirstFileA(pattern.c_str(), &found), FindClose};
    if (find.h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    Handle self = openToAsk(folder);
    if (self.h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(self.h, &info))
        listing.id = {info.dwVolumeSerialNumber, uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
    // FindNextFileA failing for any reason ends the folder, like its end does.
    do {
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
            continue;
        DirectoryEntry entry;
        entry.name = found.cFileName;
        entry.isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        listing.entries.push_back(std::move(entry));
    } while (FindNextFileA(find.h, &found));
    return true;
}

std::string resolvedPath(const std::string& path) {
    Handle file = openToAsk(path);
    char resolved[4 * MAX_PATH];
    DWORD length = file.h == INVALID_HANDLE_VALUE ? 0 : GetFinalPathNameByHandleA(file.h, resolved, sizeof resolved, 0);
    if (length == 0 || length >= sizeof resolved)
        return {};
    // Without the "\\?\" that marks a long path, so it reads like the others.
    std::string text(resolved, length);
    if (text.starts_with("\\\\?\\UNC\\"))
        text.erase(2, 6);  // a share: "\\server\..."
    else if (text.starts_with("\\\\?\\"))
        text.erase(0, 4);
    return text;
}

std::string makePrivateFolder() {
    char temporary[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof temporary, temporary);
    if (length == 0 || length > MAX_PATH)
        return {};
    // The folder inherits the user's own profile folder's access rights.
    for (unsigned attempt = 0; attempt < 100; attempt++) {
        std::string folder = std::string(temporary) + "repodeck-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetTickCount() + attempt);
        if (CreateDirectoryA(folder.c_str(), nullptr))
            return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return {};
    }
    return {};
}

void removeFolder(const std::string& folder) { RemoveDirectoryA(folder.c_str()); }

std::string currentFolder() {
    char folder[4 * MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    return length == 0 || length >= sizeof folder ? "" : std::string(folder, length);
}
