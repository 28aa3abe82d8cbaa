// A real Dear ImGui context without a window: frames are built and rendered to
// draw lists nobody shows, text is captured with the log, and the mouse and
// keys are worked by setting the io fields a host backend would set.
#pragma once

#include <functional>
#include <string>

#include <imgui.h>
#include <imgui_internal.h>

class Headless {
public:
    Headless(float width = 1280, float height = 800) {
        context = ImGui::CreateContext();
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
    Headless(const Headless&) = delete;
    Headless& operator=(const Headless&) = delete;

    // One whole frame; draw is called between NewFrame and Render, before
    // runs first, where a host takes its keys.
    void frame(const std::function<void()>& draw, const std::function<void()>& before = nullptr) {
        if (before)
            before();
        ImGui::NewFrame();
        draw();
        ImGui::Render();
    }

    // The text that draw puts on the screen, one item per line. A frame is
    // drawn first, since new windows lay themselves out before showing items.
    std::string capture(const std::function<void()>& draw) {
        frame(draw);
        std::string saved = clipboard;
        frame([&] {
            ImGui::LogToClipboard();
            draw();
            ImGui::LogFinish();
        });
        std::swap(saved, clipboard);
        return saved;
    }

    // Press and release the left button at pos, one frame each, so a button
    // under it reports its click in the last frame.
    void click(ImVec2 pos, const std::function<void()>& draw) {
        ImGui::GetIO().MousePos = pos;
        frame(draw);
        ImGui::GetIO().MouseDown[0] = true;
        frame(draw);
        ImGui::GetIO().MouseDown[0] = false;
        frame(draw);
    }

    // A key held for one frame with Ctrl and Shift as given, then released.
    void press(int key, const std::function<void()>& draw, bool ctrl = false, bool shift = false,
               const std::function<void()>& before = nullptr) {
        ImGuiIO& io = ImGui::GetIO();
        io.KeyCtrl = ctrl;
        io.KeyShift = shift;
        io.KeysDown[key] = true;
        frame(draw, before);
        io.KeysDown[key] = false;
        frame(draw, before);
        io.KeyCtrl = io.KeyShift = false;
    }

    std::string clipboard;

private:
    ImGuiContext* context;
};
