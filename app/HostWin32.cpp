// Windows host: WinMain, the "repodeck" window class and window, a Direct3D 11
// device with its swap chain, and Dear ImGui's Win32 and Direct3D 11 backends.
// COM is initialised for the folder picker; the shutdown's last steps (COM, the
// window, the class) come after runApp's stopScan, in WinMain.
#include "app/Host.h"

#include <windows.h>
#include <d3d11.h>
#include <shellapi.h>

#include <cstdio>

#include <imgui.h>
#include <imgui_impl_dx11.h>
#include <imgui_impl_win32.h>

#include "app/App.h"

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

namespace {

constexpr const char* className = "repodeck";
constexpr int iconResource = 100;

HINSTANCE entryInstance = nullptr;  // as passed to WinMain; only for the icon
HWND mainWindowHandle = nullptr;
ID3D11Device* device = nullptr;
ID3D11DeviceContext* deviceContext = nullptr;
IDXGISwapChain* swapChain = nullptr;
ID3D11RenderTargetView* mainRenderTarget = nullptr;

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
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_KEYMENU)
            return 0;  // Alt and F10 stay with the interface, no window menu
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

}  // namespace

namespace host {

bool create(const char* title) {
    HINSTANCE module = GetModuleHandleA(nullptr);
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_CLASSDC;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = module;
    windowClass.hIcon = LoadIconA(entryInstance, MAKEINTRESOURCEA(iconResource));
    windowClass.lpszClassName = className;
    windowClass.hIconSm = LoadIconA(entryInstance, MAKEINTRESOURCEA(iconResource));
    RegisterClassExA(&windowClass);

    // Hidden until the device exists, so a failure never shows a window.
    mainWindowHandle = CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, 100, 100, 1280, 800, nullptr,
                                       nullptr, module, nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // for the folder picker

    if (!createDevice()) {
        // No dialog: a windowed program's standard error reaches only a
        // terminal that started it (wine's, say).
        fputs("repodeck: no Direct3D 11 device (feature level 11.0 or 10.0) could be created\n", stderr);
        releaseDevice();
        UnregisterClassA(className, module);
        return false;
    }
    createRenderTarget();

    // Maximised whatever show command started us; the resize that this sends
    // finds the device and sizes the buffers.
    ShowWindow(mainWindowHandle, SW_SHOWMAXIMIZED);
    UpdateWindow(mainWindowHandle);
    return true;
}

void initBackends() {
    ImGui_ImplWin32_Init(mainWindowHandle);
    ImGui_ImplDX11_Init(device, deviceContext);
}

bool pollEvents() {
    // The queue is drained to its end, also past the quit message.
    bool quit = false;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
        if (message.message == WM_QUIT)
            quit = true;
    }
    return !quit;
}

bool isMinimised() { return IsIconic(mainWindowHandle); }

void newFrame() {
    ImGui_ImplDX11_NewFrame();
    ImGui_ImplWin32_NewFrame();
}

void present(const float clearColour[4]) {
    deviceContext->OMSetRenderTargets(1, &mainRenderTarget, nullptr);
    if (mainRenderTarget)
        deviceContext->ClearRenderTargetView(mainRenderTarget, clearColour);
    ImGui_ImplDX11_RenderDrawData(ImGui::GetDrawData());
    swapChain->Present(1, 0);  // paced by the vertical blank
}

void setWindowTitle(const char* title) { SetWindowTextA(mainWindowHandle, title); }

void openLink(const char* address) { ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOWMAXIMIZED); }

void shutdownBackends() {
    ImGui_ImplDX11_Shutdown();
    ImGui_ImplWin32_Shutdown();
}

void destroy() { releaseDevice(); }

}  // namespace host

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    entryInstance = instance;
    int exitCode = runApp();
    if (exitCode != 0)
        return exitCode;  // create has already unregistered the class; COM stays as it is
    // After stopScan: COM, then the window (already gone after a normal
    // close), then the class.
    CoUninitialize();
    DestroyWindow(mainWindowHandle);
    UnregisterClassA(className, GetModuleHandleA(nullptr));
    return 0;
}
