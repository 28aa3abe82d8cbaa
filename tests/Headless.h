// A real Dear ImGui context without a window: frames are built and rendered to
// draw lists nobody shows, text is captured with the log, and the mouse and
// keys are worked by setting the io fields a host backend would set.
#pragma once

#include <cstring>
#include <functional>
#include <string>

#include <imgui.h>
#include <imgui_internal.h>

class Headless {
public:
    using Draw = std::function<void()>;

    Headless(float width = 1280, float height = 800) : context(ImGui::CreateContext()) {
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.DisplaySize = ImVec2(width, height);
        io.DeltaTime = 1.0f / 60;
        io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
        for (int key = 0; key < ImGuiKey_COUNT; key++)
            io.KeyMap[key] = key;  // key map entries double as key indices
        unsigned char* pixels;
        int w, h;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
        io.SetClipboardTextFn = [](void* user, const char* text) { *static_cast<std::string*>(user) = text; };
        io.GetClipboardTextFn = [](void* user) { return static_cast<std::string*>(user)->c_str(); };
        io.ClipboardUserData = &clipboard;
    }
    ~Headless() { ImGui::DestroyContext(context); }

    // One whole frame: before runs first, where a host takes its keys.
    void frame(const Draw& draw, const Draw& before = nullptr) {
        if (before)
            before();
        ImGui::NewFrame();
        draw();
        ImGui::Render();
    }

    // The text that draw shows, one item per line, from a second frame, since
    // new windows lay themselves out before showing items; the clipboard stays.
    std::string capture(const Draw& draw) {
        std::string saved = clipboard;
        frame(draw);
        frame([&] { ImGui::LogToClipboard(), draw(), ImGui::LogFinish(); });
        std::swap(saved, clipboard);
        return saved;
    }

    // Press and release the left button at pos, one frame each, so a button
    // under it reports its click in the last frame.
    void click(ImVec2 pos, const Draw& draw, const Draw& before = nullptr) {
        ImGui::GetIO().MousePos = pos;
        for (bool down : {false, true, false})
            ImGui::GetIO().MouseDown[0] = down, frame(draw, before);
    }

    // Clicks an item where a user finds it: the mouse sweeps the display until
    // Dear ImGui reports the item hovered. False when no such item shows.
    bool click(ImGuiID id, const Draw& draw, const Draw& before = nullptr) {
        ImGuiIO& io = ImGui::GetIO();
        for (io.MousePos.y = 3; io.MousePos.y < io.DisplaySize.y; io.MousePos.y += 6)
            for (io.MousePos.x = 3; io.MousePos.x < io.DisplaySize.x; io.MousePos.x += 12)
                if (frame(draw, before), GImGui->HoveredId == id)
                    return click(io.MousePos, draw, before), true;
        return false;
    }

    // The window whose name holds part, from the last frame.
    static ImGuiWindow* window(const char* part) {
        for (ImGuiWindow* window : GImGui->Windows)
            if (strstr(window->Name, part))
                return window;
        return nullptr;
    }

    // A key held for one frame with Ctrl and Shift as given, then released.
    void press(int key, const Draw& draw, bool ctrl = false, bool shift = false, const Draw& before = nullptr) {
        ImGuiIO& io = ImGui::GetIO();
        io.KeyCtrl = ctrl, io.KeyShift = shift;
        for (bool down : {true, false})
            io.KeysDown[key] = down, frame(draw, before);
        io.KeyCtrl = io.KeyShift = false;
    }

    std::string clipboard;

private:
    ImGuiContext* context;
};
