// The shell's folder browser in its new style with an edit box, modal on the
// user interface thread (which has COM initialised apartment-threaded for it)
// and owned by repodeck's window. A callback opens it at the start folder.
#include "scan/FolderPicker.h"

#include <windows.h>
#include <shlobj.h>

namespace {

int CALLBACK selectStart(HWND dialog, UINT message, LPARAM, LPARAM start) {
    if (message == BFFM_INITIALIZED)
        SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, start);
    return 0;
}

}  // namespace

std::optional<std::string> pickFolder(const std::string& startFolder, uintptr_t owner) {
    std::string start = startFolder;
    if (start.empty()) {
        char profile[MAX_PATH] = {};
        if (SHGetFolderPathA(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile) == S_OK)
            start = profile;
    }
    BROWSEINFOA browse = {};
    browse.hwndOwner = reinterpret_cast<HWND>(owner);
    browse.lpszTitle = "Parse Folders to find Git repositories.";
    // BIF_NONEWFOLDERBUTTON: picking a folder never makes one.
    browse.ulFlags = BIF_NEWDIALOGSTYLE | BIF_EDITBOX | BIF_RETURNONLYFSDIRS | BIF_NONEWFOLDERBUTTON;
    browse.lpfn = selectStart;
    browse.lParam = reinterpret_cast<LPARAM>(start.c_str());
    LPITEMIDLIST item = SHBrowseForFolderA(&browse);
    if (!item)
        return std::nullopt;  // cancelled
    // A virtual folder (Control Panel, say) has no path: the buffer stays empty.
    char path[MAX_PATH] = {};
    SHGetPathFromIDListA(item, path);
    CoTaskMemFree(item);
    return std::string(path);
}
