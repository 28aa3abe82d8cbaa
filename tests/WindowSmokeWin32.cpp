// The Windows program under wine, checked from beside it (tests/wine/gui-smoke):
// the folder picker, owned by a window of this program, opens at start folders
// of several depths and takes a typed folder; the repodeck window counts its
// repository in its title, is maximised, leaves no git.exe once the session
// ends, and closes on WM_CLOSE. Exit code 0 when every check held.
#include <windows.h>
#include <shlobj.h>
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

// The first visible name field of the dialog that owner owns, if it shows.
HWND ownedNameField(HWND owner, HWND& dialog) {
    for (dialog = nullptr; (dialog = FindWindowExA(nullptr, dialog, "#32770", nullptr));)
        if (GetWindow(dialog, GW_OWNER) == owner)
            break;
    if (!dialog)
        return nullptr;
    HWND found = nullptr;
    EnumChildWindows(dialog, [](HWND child, LPARAM out) {
        char name[16] = {};
        GetClassNameA(child, name, sizeof name);
        if (_stricmp(name, "Edit") != 0 || !IsWindowVisible(child))
            return TRUE;
        *reinterpret_cast<HWND*>(out) = child;
        return FALSE;
    }, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The picker, opened at start, answered with OK after typed went into its
// name field: "." returns the folder it is at, a path that folder.
void checkPicker(const std::string& start, const std::string& typed = ".") {
    HWND owner = CreateWindowA("STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    std::thread answer([&] {
        HWND dialog = nullptr, edit = nullptr;
        bool shown = waitFor(60, [&] { return (edit = ownedNameField(owner, dialog)) != nullptr; });
        check(shown, ("no picker with a name field owned by the window, at " + start).c_str());
        Sleep(500);  // the dialog fills itself in after it shows
        SendMessageA(edit, WM_SETTEXT, 0, LPARAM(typed.c_str()));
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        // A dialog that stays (a refusal) is cancelled, so the check fails instead of hanging.
        if (!waitFor(10, [&] { return !IsWindow(dialog); }))
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    std::optional<std::string> picked = pickFolder(start, uintptr_t(owner));
    std::string expected = typed == "." ? start : typed;
    check(picked == expected, ("picked " + picked.value_or("nothing") + ", expected " + expected).c_str());
    answer.join();
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
    // Start folders one, three and five levels deep on the prefix's own
    // drive, opened as they are; then a folder typed in the name field.
    std::string start = "C:\\repodeck-picker";
    for (const char* level : {"", "\\two\\three", "\\four\\five"}) {
        start += level;
        SHCreateDirectoryExA(nullptr, start.c_str(), nullptr);
        checkPicker(start);
    }
    checkPicker("C:\\repodeck-picker", "C:\\repodeck-picker\\two");
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
    DWORD_PTR ignored;  // the system ends the process once the window has answered
    SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_BLOCK, 30000, &ignored);
    check(waitFor(30, [] { return !gitRuns(); }), "git.exe still runs after the end of the session");
    PostMessageA(window, WM_CLOSE, 0, 0);
    check(waitFor(30, [&] { return !IsWindow(window); }), "the window is still open after WM_CLOSE");
    return failures == 0 ? 0 : 1;
}
