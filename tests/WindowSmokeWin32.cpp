// The Windows program under wine, checked from beside it on the same display:
// the folder picker (called here, owned by a window of this program) opens at
// its start folder with an edit box; then the repodeck window, started on a
// folder whose stand-in git fetch sleeps, counts the repository in its title,
// is maximised, and closed with WM_CLOSE it leaves no git.exe behind. Exit
// code 0 when every check held; the file window-ready tells the script when
// to take its screenshot.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "app/FolderPicker.h"

namespace {

int failures = 0;
void check(bool held, const char* what) {
    if (!held)
        fprintf(stderr, "smoke: %s\n", what), failures++;
}

// Waits at most seconds for ready; a bound for a broken program, not a measure.
template <typename Ready>
bool waitFor(int seconds, Ready ready) {
    for (int tries = 0; tries < seconds * 10; tries++, Sleep(100))
        if (ready())
            return true;
    return false;
}

HWND ownedDialog(HWND owner) {
    for (HWND dialog = nullptr; (dialog = FindWindowExA(nullptr, dialog, "#32770", nullptr));)
        if (GetWindow(dialog, GW_OWNER) == owner)
            return dialog;
    return nullptr;
}

std::string selectedFolder(HWND dialog) {
    HWND tree = FindWindowExA(dialog, nullptr, WC_TREEVIEWA, nullptr);
    char text[MAX_PATH] = {};
    TVITEMA item = {};
    item.mask = TVIF_TEXT, item.pszText = text, item.cchTextMax = MAX_PATH;
    item.hItem = tree ? HTREEITEM(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)) : nullptr;
    return item.hItem && SendMessageA(tree, TVM_GETITEMA, 0, LPARAM(&item)) ? text : "";
}

void checkPicker(const std::string& start) {
    HWND owner = CreateWindowA("STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    std::thread inspect([&] {
        // The dialog fills itself in after it shows, its selection and edit box last.
        std::string expected = start.substr(start.find_last_of('\\') + 1);
        HWND dialog = nullptr;
        auto editShows = [&] { return IsWindowVisible(FindWindowExA(dialog, nullptr, "Edit", nullptr)); };
        bool atStart = waitFor(60, [&] {
            return (dialog = ownedDialog(owner)) && selectedFolder(dialog) == expected && editShows();
        });
        check(dialog != nullptr, "no picker owned by the window");
        check(editShows(), "the picker shows no edit box");
        check(atStart, ("the picker does not open at the start folder, but at " + selectedFolder(dialog)).c_str());
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    check(!pickFolder(start, uintptr_t(owner)), "a cancelled picker returned a folder");
    inspect.join();
    DestroyWindow(owner);
}

bool gitRuns() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (bool more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        found |= _stricmp(entry.szExeFile, "git.exe") == 0;
    CloseHandle(snapshot);
    return found;
}

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // A start folder near the top of the prefix's own drive: the picker opens
    // its way there level by level, wine's Z: drive is the whole Linux tree,
    // and the user's Temp lies under the hidden AppData, which it never shows.
    std::string start = "C:\\repodeck-picker-start";
    CreateDirectoryA(start.c_str(), nullptr);
    checkPicker(start);

    HWND window = nullptr;
    char title[64] = {};
    bool counting = waitFor(60, [&] {
        window = FindWindowA("repodeck", nullptr);
        return window && GetWindowTextA(window, title, sizeof title) && strstr(title, " 1 of 1");
    });
    check(counting, "no window of class \"repodeck\" counting its repository in the title");
    check(window && IsZoomed(window), "the window is not maximised");
    check(gitRuns(), "no git.exe runs during the scan");
    fclose(fopen("window-ready", "w"));  // the script takes its screenshot now
    Sleep(3000);
    PostMessageA(window, WM_CLOSE, 0, 0);
    check(waitFor(30, [&] { return !IsWindow(window) && !gitRuns(); }), "git.exe still runs after the close");
    return failures == 0 ? 0 : 1;
}
