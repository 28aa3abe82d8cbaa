// A real Dear ImGui context without a window: frames render to draw lists nobody
// shows, text is read through Dear ImGui's log, the mouse set as a backend does.
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
        io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
        for (int key = 0; key < ImGuiKey_COUNT; key++)
            io.KeyMap[key] = key;  // key map entries double as key indices
        io.Fonts->Build();
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

    // What one frame of draw shows, an item per line, without Windows' CR (a new
    // window shows its items from its second frame on); the clipboard is kept.
    std::string capture(const Draw& draw) {
        std::string saved = clipboard;
        frame([&] { ImGui::LogToClipboard(); draw(); ImGui::LogFinish(); });
        std::swap(saved, clipboard);
        std::erase(saved, '\r');
        return saved;
    }

    // A button (0 the left) pressed and released at pos, a frame each.
    void click(ImVec2 pos, const Draw& draw, const Draw& before = nullptr, int button = 0) {
        ImGui::GetIO().MousePos = pos;
        for (bool down : {false, true, false}) {
            ImGui::GetIO().MouseDown[button] = down;
            frame(draw, before);
        }
    }

    // The window named part, else the first whose name holds it, from the last frame.
    static ImGuiWindow* window(const char* part) {
        if (ImGuiWindow* named = ImGui::FindWindowByName(part))
            return named;
        for (ImGuiWindow* window : GImGui->Windows)
            if (strstr(window->Name, part))
                return window;
        return nullptr;
    }

    std::string clipboard;

private:
    ImGuiContext* context;
};
