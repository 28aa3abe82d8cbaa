// The common item dialog in its folder mode (IFileOpenDialog with
// FOS_PICKFOLDERS), modal on the user interface thread (which has COM
// initialised apartment-threaded for it) and owned by repodeck's window: it
// opens at the start folder, and its address bar and name field take a typed
// path. Where it cannot be made, the shell's older folder browser instead.
// While either is open, the window under it repaints its last frame from its
// own WM_PAINT (see the host).
#include "app/FolderPicker.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace {

constexpr const char* title = "Parse Folders to find Git repositories.";

// The COM interfaces are wide; repodeck's strings are UTF-8.
std::wstring wide(const std::string& text) {
    std::wstring result(text.size() + 1, L'\0');
    int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result.data(), int(result.size()));
    result.resize(length > 0 ? size_t(length - 1) : 0);
    return result;
}

std::string narrow(const wchar_t* text) {
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(length > 0 ? size_t(length) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), length, nullptr, nullptr);
    result.resize(result.size() - 1);
    return result;
}

// Sets made to false, and returns nullopt, when the dialog cannot be created.
std::optional<std::string> pickWithItemDialog(const std::string& start, HWND owner, bool& made) {
    IFileOpenDialog* dialog = nullptr;
    made = SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)));
    if (!made)
        return std::nullopt;
    DWORD options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST | FOS_NOCHANGEDIR);
    dialog->SetTitle(wide(title).c_str());
    IShellItem* folder = nullptr;
    if (SUCCEEDED(SHCreateItemFromParsingName(wide(start).c_str(), nullptr, IID_PPV_ARGS(&folder)))) {
        dialog->SetFolder(folder);  // not SetDefaultFolder: the last folder wins over the dialog's memory
        folder->Release();
    }
    std::optional<std::string> picked;
    IShellItem* item = nullptr;
    if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&item))) {
        // A virtual folder (Control Panel, say) has no path: empty.
        // Canonical: wine's dialog answers a typed "." with "…\\.".
        PWSTR path = nullptr;
        wchar_t full[32768] = {};
        bool named = SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path));
        picked = !named ? "" : narrow(GetFullPathNameW(path, 32768, full, nullptr) ? full : path);
        CoTaskMemFree(path);
        item->Release();
    }
    dialog->Release();
    return picked;
}

int CALLBACK selectStart(HWND dialog, UINT message, LPARAM, LPARAM start) {
    if (message == BFFM_INITIALIZED)
        SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, start);
    return 0;
}

std::optional<std::string> pickWithBrowser(const std::string& start, HWND owner) {
    BROWSEINFOA browse = {};
    browse.hwndOwner = owner;
    browse.lpszTitle = title;
    // BIF_NONEWFOLDERBUTTON: picking a folder never makes one.
    browse.ulFlags = BIF_NEWDIALOGSTYLE | BIF_EDITBOX | BIF_RETURNONLYFSDIRS | BIF_NONEWFOLDERBUTTON;
    browse.lpfn = selectStart;
    browse.lParam = reinterpret_cast<LPARAM>(start.c_str());
    LPITEMIDLIST item = SHBrowseForFolderA(&browse);
    if (!item)
        return std::nullopt;  // cancelled
    char path[MAX_PATH] = {};
    SHGetPathFromIDListA(item, path);
    CoTaskMemFree(item);
    return std::string(path);
}

}  // namespace

std::optional<std::string> pickFolder(const std::string& startFolder, uintptr_t owner) {
    std::string start = startFolder;
    if (start.empty()) {
        wchar_t profile[MAX_PATH] = {};
        if (SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile) == S_OK)
            start = narrow(profile);
    }
    bool made = false;
    std::optional<std::string> picked = pickWithItemDialog(start, reinterpret_cast<HWND>(owner), made);
    return made ? picked : pickWithBrowser(start, reinterpret_cast<HWND>(owner));
}
