// The shell's classic folder browser, modal on the user interface thread, which
// has COM initialised apartment-threaded for it.
#include "scan/FolderPicker.h"

#include <windows.h>
#include <shlobj.h>

std::optional<std::string> pickFolder() {
    BROWSEINFOA browse = {};
    browse.lpszTitle = "Parse Folders to find Git repositories.";
    LPITEMIDLIST item = SHBrowseForFolderA(&browse);
    if (!item)
        return std::nullopt;  // cancelled
    // A virtual folder (Control Panel, say) has no path: the buffer stays empty.
    char path[MAX_PATH] = {};
    SHGetPathFromIDListA(item, path);
    CoTaskMemFree(item);
    return std::string(path);
}
