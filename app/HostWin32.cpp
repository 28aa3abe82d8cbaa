// Windows host: WinMain, the "repodeck" window class and window, a Direct3D 11
// device with its swap chain, and Dear ImGui's Win32 and Direct3D 11 backends.
// COM is initialised for the folder picker; the shutdown's last steps (COM, the
// window, the class) come after runApp's stopScan, in WinMain. The console's
// control events close the window as its close box does; the end of the
// session stops the scan before the system ends the process.
#include "app/Host.h"

#include <windows.h>
#include <d3d11.h>
#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include <imgui.h>
#include <imgui_impl_dx11.h>
#include <imgui_impl_win32.h>
// Dear ImGui's own TrueType reader, here to tell which font has a glyph.
#define STBTT_STATIC
#define STB_TRUETYPE_IMPLEMENTATION
#include <imstb_truetype.h>

#include "app/App.h"
#include "app/Theme.h"
#include "app/Panes.h"
#include "app/WindowScan.h"

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

namespace {

// A Unicode window class: Dear ImGui's backend reads WM_CHAR as UTF-16, which
// an ANSI window would send as code page bytes (one per message in UTF-8).
constexpr const wchar_t* className = L"repodeck";
constexpr UINT systemTimer = 0x0118;  // WM_SYSTIMER, which the headers do not name
constexpr int iconResource = 100;

HINSTANCE entryInstance = nullptr;  // as passed to WinMain; only for the icon
HWND mainWindowHandle = nullptr;
ID3D11Device* device = nullptr;
ID3D11DeviceContext* deviceContext = nullptr;
IDXGISwapChain* swapChain = nullptr;
ID3D11RenderTargetView* mainRenderTarget = nullptr;

// The idle wait and what ends it from other threads, as on Linux: wakeAsked
// is raised before waiting is tested, and waiting before wakeAsked.
std::atomic<bool> waiting{false}, wakeAsked{false}, closeAsked{false};
std::mutex wakeMutex;
HANDLE shutDown = nullptr;  // set once the scan is stopped at the end

void wake() {
    wakeAsked = true;
    if (waiting.exchange(false)) {
        std::lock_guard<std::mutex> lock(wakeMutex);
        if (mainWindowHandle)
            PostMessageA(mainWindowHandle, WM_NULL, 0, 0);
    }
}

// On a thread of the system's: ask for the close, then hold the process until
// the scan is stopped, since it ends as soon as this returns.
BOOL WINAPI consoleControl(DWORD) {
    closeAsked = true;
    wake();
    WaitForSingleObject(shutDown, 10000);
    return TRUE;
}

void createRenderTarget() {
    ID3D11Texture2D* backBuffer = nullptr;
    swapChain->GetBuffer(0, IID_PPV_ARGS(&backBuffer));
    if (!backBuffer)
        return;  // no view this frame; the next resize tries again
    device->CreateRenderTargetView(backBuffer, nullptr, &mainRenderTarget);
    backBuffer->Release();
}

void releaseRenderTarget() {
    if (mainRenderTarget) {
        mainRenderTarget->Release();
        mainRenderTarget = nullptr;
    }
}

// The system's fonts in the order they are tried for a character: the
// monospaced text fonts, then Segoe UI (Latin with Vietnamese, Greek,
// Cyrillic, Hebrew, Arabic, symbols), Malgun Gothic (Hangul), Yu Gothic and
// MS Gothic (Japanese), Microsoft YaHei and SimSun (Chinese), and Tahoma, which
// wine has too. Each file is read the first time a character reaches it; a
// stock wine prefix has none of the others, and its text is then Dear ImGui's
// built-in font with "?" for what no font has.
class SystemFont {
public:
    SystemFont(const char* name, bool text) : name(name), text(text) {}

    std::string path() const {
        char windows[MAX_PATH] = {};
        GetWindowsDirectoryA(windows, MAX_PATH);
        return std::string(windows) + "\\Fonts\\" + name;
    }

    bool has(ImWchar c) {
        if (!read) {
            read = true;
            std::ifstream file(path(), std::ios::binary);
            data.assign(std::istreambuf_iterator<char>(file), {});
            int offset = data.empty() ? -1 : stbtt_GetFontOffsetForIndex(data.data(), 0);
            usable = offset >= 0 && stbtt_InitFont(&info, data.data(), offset);
        }
        return usable && stbtt_FindGlyphIndex(&info, c) != 0;
    }

    const char* name;
    bool text;

private:
    bool read = false, usable = false;
    std::vector<unsigned char> data;
    stbtt_fontinfo info = {};
};

SystemFont systemFonts[] = {{"consola.ttf", true},   {"CascadiaMono.ttf", true}, {"segoeui.ttf", false},
                            {"malgun.ttf", false},   {"YuGothR.ttc", false},     {"msgothic.ttc", false},
                            {"msyh.ttc", false},     {"simsun.ttc", false},      {"tahoma.ttf", false}};

template <typename Interface>
void release(Interface*& pointer) {
    if (pointer) {
        pointer->Release();
        pointer = nullptr;
    }
}

void releaseDevice() {
    releaseRenderTarget();
    release(swapChain);
    release(deviceContext);
    release(device);
}

bool createDevice() {
    DXGI_SWAP_CHAIN_DESC description = {};
    description.BufferDesc.Width = 0;  // the client area's
    description.BufferDesc.Height = 0;
    description.BufferDesc.RefreshRate = {60, 1};
    description.BufferDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    description.SampleDesc = {1, 0};
    description.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    description.BufferCount = 2;
    description.OutputWindow = mainWindowHandle;
    description.Windowed = TRUE;
    description.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
    description.Flags = DXGI_SWAP_CHAIN_FLAG_ALLOW_MODE_SWITCH;

    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_0};
    D3D_FEATURE_LEVEL obtained;
    return D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, levels, 2, D3D11_SDK_VERSION,
                                         &description, &swapChain, &device, &obtained, &deviceContext) == S_OK;
}

LRESULT WINAPI windowProcedure(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (ImGui_ImplWin32_WndProcHandler(hWnd, msg, wParam, lParam))
        return 1;
    switch (msg) {
    case WM_SIZE:
        // The maximise at start-up comes here before the view exists.
        if (device && wParam != SIZE_MINIMIZED) {
            releaseRenderTarget();
            swapChain->ResizeBuffers(0, LOWORD(lParam), HIWORD(lParam), DXGI_FORMAT_UNKNOWN, 0);
            createRenderTarget();
        }
        return 0;
    case WM_PAINT:
        // Also while a modal loop (the folder picker, a resize) holds the
        // frame loop: the last frame again, never an unpainted window.
        host::presentAgain();
        ValidateRect(hWnd, nullptr);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_KEYMENU)
            return 0;  // Alt and F10 stay with the interface, no window menu
        break;
    case WM_DPICHANGED: {
        // The window keeps its size on the screen: the system's suggestion.
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(hWnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_ENDSESSION:
        // The process ends when this returns: no git may be left behind.
        if (wParam)
            stopScan();
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

}  // namespace

namespace host {

bool create(const char* title) {
    HINSTANCE module = GetModuleHandleA(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_CLASSDC;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = module;
    windowClass.hIcon = LoadIconA(entryInstance, MAKEINTRESOURCEA(iconResource));
    windowClass.lpszClassName = className;
    windowClass.hIconSm = LoadIconA(entryInstance, MAKEINTRESOURCEA(iconResource));
    RegisterClassExW(&windowClass);

    // Hidden until the device exists, so a failure never shows a window. The
    // title is ASCII; SetWindowTextA converts later ones.
    std::wstring wideTitle(title, title + strlen(title));
    mainWindowHandle = CreateWindowExW(0, className, wideTitle.c_str(), WS_OVERLAPPEDWINDOW, 100, 100, 1280, 800,
                                       nullptr, nullptr, module, nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // for the folder picker

    if (!createDevice()) {
        // No dialog: a windowed program's standard error reaches only a
        // terminal that started it (wine's, say).
        fputs("repodeck: no Direct3D 11 device (feature level 11.0 or 10.0) could be created\n", stderr);
        releaseDevice();
        UnregisterClassW(className, module);
        return false;
    }
    createRenderTarget();

    // Maximised whatever show command started us; the resize that this sends
    // finds the device and sizes the buffers.
    ShowWindow(mainWindowHandle, SW_SHOWMAXIMIZED);
    UpdateWindow(mainWindowHandle);
    paneTextArrived = wake;
    // Dear ImGui hands the clipboard a UTF-16 copy, twice the text's size, in
    // one global block: larger panes are refused in the pane rather than lost.
    LogPane::clipboardLimit = size_t(256) << 20;
    shutDown = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(consoleControl, TRUE);
    return true;
}

void initBackends() {
    ImGui_ImplWin32_Init(mainWindowHandle);
    ImGui_ImplDX11_Init(device, deviceContext);
}

Events handleEvents(double waitSeconds) {
    bool woken = wakeAsked.exchange(false);
    if (waitSeconds > 0 && !woken && !closeAsked) {
        waiting = true;
        woken = wakeAsked.exchange(false);
        if (!woken)
            MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(waitSeconds * 1000), QS_ALLINPUT);
        waiting = false;
        woken |= wakeAsked.exchange(false);
    }
    // The queue is drained to its end, also past the quit message. Timers
    // change nothing on the screen: the system's own (0x118, the caret's
    // blink, which wine's input method keeps running) would otherwise keep an
    // idle window drawing.
    bool quit = false, some = woken;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
        quit |= message.message == WM_QUIT;
        some |= message.message != WM_TIMER && message.message != systemTimer;
        // Dear ImGui's backend keeps only whether a button is down: a press
        // and its release in one drain would be no click at all, so the
        // rest waits until a frame has seen the press.
        if (message.message >= WM_LBUTTONDOWN && message.message <= WM_XBUTTONDBLCLK)
            break;
    }
    if (quit || closeAsked)
        return Events::closed;
    return some ? Events::some : Events::none;
}

bool isMinimised() { return IsIconic(mainWindowHandle); }

void newFrame() {
    ImGui_ImplDX11_NewFrame();
    ImGui_ImplWin32_NewFrame();
}

void presentAgain() {
    if (ImGui::GetCurrentContext() && ImGui::GetDrawData() && mainRenderTarget)
        present(clearColour);
}

void present(const float clearColour[4]) {
    deviceContext->OMSetRenderTargets(1, &mainRenderTarget, nullptr);
    if (mainRenderTarget)
        deviceContext->ClearRenderTargetView(mainRenderTarget, clearColour);
    ImGui_ImplDX11_RenderDrawData(ImGui::GetDrawData());
    swapChain->Present(1, 0);  // paced by the vertical blank
}

// GetDpiForWindow is Windows 10's; earlier systems get the 96 dots per inch
// that they scale for the program themselves.
float contentScale() {
    using GetDpi = UINT(WINAPI*)(HWND);
    static GetDpi getDpi =
        reinterpret_cast<GetDpi>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32"), "GetDpiForWindow")));
    UINT dpi = getDpi ? getDpi(mainWindowHandle) : 0;
    return dpi ? dpi / 96.0f : 1.0f;
}

FontFace textFont() {
    for (SystemFont& font : systemFonts)
        if (font.text && GetFileAttributesA(font.path().c_str()) != INVALID_FILE_ATTRIBUTES)
            return {font.path()};
    return {};
}

FontFace fontFor(ImWchar c) {
    for (SystemFont& font : systemFonts)
        if (font.has(c))
            return {font.path()};
    return {};
}

void reloadFontTexture() {
    ImGui_ImplDX11_InvalidateDeviceObjects();
    ImGui_ImplDX11_CreateDeviceObjects();
}

int keyIndex(Key key) {
    switch (key) {
    case Key::f: return 'F';
    case Key::f5: return VK_F5;
    case Key::equal: return VK_OEM_PLUS;
    case Key::minus: return VK_OEM_MINUS;
    case Key::zero: return '0';
    case Key::keypadAdd: return VK_ADD;
    case Key::keypadSubtract: return VK_SUBTRACT;
    }
    return -1;
}

void setWindowTitle(const char* title) { SetWindowTextA(mainWindowHandle, title); }

// %APPDATA%\\repodeck\\imgui.ini, in UTF-8 as Dear ImGui opens its files.
std::string layoutFile() {
    wchar_t appData[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData) != S_OK)
        return {};
    std::filesystem::path folder = std::filesystem::path(appData) / L"repodeck";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder, error))
        return {};
    std::u8string path = (folder / L"imgui.ini").u8string();
    return std::string(path.begin(), path.end());
}

uintptr_t nativeWindow() { return reinterpret_cast<uintptr_t>(mainWindowHandle); }

// The README travels beside the program.
std::string readmePath() {
    char program[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    std::string path(program, length);
    path = path.substr(0, path.find_last_of("\\/") + 1) + "README.md";
    return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES ? std::string() : path;
}

bool openLink(const std::string& path) {
    HINSTANCE result = ShellExecuteA(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

// Windows Terminal where it is installed, told the folder with -d (where a ';'
// would start another tab, so it is escaped, and a closing backslash would
// escape the quote), else a console of its own with cmd; either starts in folder.
bool openTerminal(const std::string& folder) {
    char found[MAX_PATH] = {};
    std::string line;
    if (SearchPathA(nullptr, "wt.exe", nullptr, MAX_PATH, found, nullptr) > 0) {
        line.append("\"").append(found).append("\" -d \"");
        for (char c : folder)
            line.append(c == ';' ? "\\;" : std::string(1, c));
        line.append(folder.ends_with("\\") ? "\\\"" : "\"");
    } else {
        line.append("cmd.exe");
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, folder.c_str(),
                        &startup, &started))
        return false;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

void shutdownBackends() {
    ImGui_ImplDX11_Shutdown();
    ImGui_ImplWin32_Shutdown();
}

void destroy() {
    releaseDevice();
    std::lock_guard<std::mutex> lock(wakeMutex);
    paneTextArrived = nullptr;
}

}  // namespace host

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    entryInstance = instance;
    int exitCode = runApp(__argc > 1 ? __argv[1] : nullptr);
    if (exitCode != 0)
        return exitCode;  // create has already unregistered the class; COM stays as it is
    SetEvent(shutDown);  // a console event waiting for the stop may let go
    // After stopScan: COM, then the window (already gone after a normal
    // close), then the class.
    CoUninitialize();
    DestroyWindow(mainWindowHandle);
    UnregisterClassW(className, GetModuleHandleA(nullptr));
    return 0;
}
