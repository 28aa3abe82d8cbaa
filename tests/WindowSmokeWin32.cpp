// The GUI smoke test's other half, run beside repodeck.exe on the same display:
// finds the window by its class, checks its title, its maximised state and its
// icon resource, saves a screenshot that must not be one colour, and closes the
// window the way a user does (WM_CLOSE). Exit code 0 when every check held.
//
// Usage: WindowSmokeWin32 REPODECK_EXE SCREENSHOT_BMP
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <vector>

namespace {

int failures = 0;

void check(bool held, const char* what) {
    if (!held) {
        fprintf(stderr, "smoke: %s\n", what);
        failures++;
    }
}

// Waits at most seconds for ready; a bound for a broken program, not a measure.
template <typename Ready>
bool waitFor(int seconds, Ready ready) {
    for (int tries = 0; tries < seconds * 10; tries++) {
        if (ready())
            return true;
        Sleep(100);
    }
    return false;
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

// Icon group 100 of the program: 48 to 256 pixels, 32 bits each, 256 as PNG.
void checkIconResource(const char* program) {
    HMODULE module = LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    check(module != nullptr, "the program cannot be opened for its resources");
    if (!module)
        return;
    HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(100), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    check(group != nullptr, "no icon group 100");
    if (group) {
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
        WORD count = *reinterpret_cast<const WORD*>(data + 4);
        auto* entries = reinterpret_cast<const GroupIconEntry*>(data + 6);
        std::set<int> sizes;
        for (WORD i = 0; i < count; i++) {
            int size = entries[i].width ? entries[i].width : 256;
            sizes.insert(size);
            check(entries[i].bitCount == 32, "an icon image is not 32 bits per pixel");
            HRSRC image = FindResourceA(module, MAKEINTRESOURCEA(entries[i].id), MAKEINTRESOURCEA(3));  // RT_ICON
            const BYTE* bytes = image ? static_cast<const BYTE*>(LockResource(LoadResource(module, image))) : nullptr;
            bool png = bytes && memcmp(bytes, "\x89PNG", 4) == 0;
            check(png == (size == 256), "only the 256-pixel image is to be stored as PNG");
        }
        check(sizes == std::set<int>{48, 64, 96, 128, 192, 256}, "the icon sizes are not 48, 64, 96, 128, 192, 256");
    }
    // What the window class is given, large and small.
    check(LoadIconA(module, MAKEINTRESOURCEA(100)) != nullptr, "icon 100 does not load");
    check(LoadImageA(module, MAKEINTRESOURCEA(100), IMAGE_ICON, 16, 16, 0) != nullptr, "icon 100 does not load small");
    FreeLibrary(module);
}

// The window's pixels as the screen shows them, saved as a 32-bit BMP.
// Returns how many colours it holds (2 once it has more than one).
int screenshot(HWND window, const char* path) {
    RECT area;
    GetWindowRect(window, &area);
    int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return 0;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    GdiFlush();

    const DWORD* pixels = static_cast<const DWORD*>(bits);
    int colours = 1;
    for (size_t i = 1; i < size_t(width) * height && colours == 1; i++)
        if ((pixels[i] & 0xFFFFFF) != (pixels[0] & 0xFFFFFF))
            colours = 2;

    BITMAPFILEHEADER file = {};
    DWORD imageBytes = DWORD(width) * height * 4;
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + imageBytes;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), imageBytes);

    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return colours;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fputs("usage: WindowSmokeWin32 REPODECK_EXE SCREENSHOT_BMP\n", stderr);
        return 2;
    }
    checkIconResource(argv[1]);

    HWND window = nullptr;
    bool shown = waitFor(60, [&] {
        window = FindWindowA("repodeck", nullptr);
        return window && IsWindowVisible(window);
    });
    check(shown, "no visible window of class \"repodeck\"");
    if (!shown)
        return 1;
    char title[64] = {};
    waitFor(10, [&] { return GetWindowTextA(window, title, sizeof title) > 0; });
    check(strcmp(title, "repodeck") == 0, "the title is not \"repodeck\"");
    check(IsZoomed(window), "the window is not maximised");

    // A few frames in, the interface is drawn over the clear colour.
    Sleep(2000);
    check(waitFor(20, [&] { return screenshot(window, argv[2]) > 1; }), "the window shows a single colour");

    PostMessageA(window, WM_CLOSE, 0, 0);
    return failures == 0 ? 0 : 1;
}
