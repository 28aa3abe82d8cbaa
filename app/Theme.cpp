#include "app/Theme.h"

#include <imgui.h>

namespace {

struct Rgb {
    float r, g, b;
};

constexpr Rgb dark = {22 / 255.0f, 22 / 255.0f, 22 / 255.0f};
constexpr Rgb accent = {208 / 255.0f, 92 / 255.0f, 188 / 255.0f};
constexpr Rgb violet = {118 / 255.0f, 95 / 255.0f, 210 / 255.0f};
constexpr Rgb indigo = {89 / 255.0f, 85 / 255.0f, 198 / 255.0f};
constexpr Rgb text = {0.86f, 0.93f, 0.90f};
constexpr Rgb cyan = {0.47f, 0.77f, 0.83f};
constexpr Rgb red = {0.71f, 0.22f, 0.27f};
constexpr Rgb grab = {0.09f, 0.15f, 0.16f};

struct ThemeEntry {
    ImGuiCol colour;
    Rgb base;
    float alpha;
};

// Child, separator, unfocused tab, table, drag-and-drop, navigation and
// modal dimming colours are not listed: they keep the dark preset's values.
constexpr ThemeEntry theme[] = {
    {ImGuiCol_Text, text, 0.78f},
    {ImGuiCol_TextDisabled, text, 0.28f},
    {ImGuiCol_WindowBg, dark, 0.90f},
    {ImGuiCol_PopupBg, dark, 0.90f},
    {ImGuiCol_Border, dark, 0.75f},
    {ImGuiCol_BorderShadow, dark, 0.50f},
    {ImGuiCol_FrameBg, dark, 1.00f},
    {ImGuiCol_FrameBgHovered, accent, 0.78f},
    {ImGuiCol_FrameBgActive, accent, 1.00f},
    {ImGuiCol_TitleBg, violet, 1.00f},
    {ImGuiCol_TitleBgActive, indigo, 1.00f},
    {ImGuiCol_TitleBgCollapsed, dark, 0.75f},
    {ImGuiCol_MenuBarBg, dark, 0.47f},
    {ImGuiCol_ScrollbarBg, dark, 1.00f},
    {ImGuiCol_ScrollbarGrab, grab, 1.00f},
    {ImGuiCol_ScrollbarGrabHovered, accent, 0.78f},
    {ImGuiCol_ScrollbarGrabActive, accent, 1.00f},
    {ImGuiCol_CheckMark, red, 1.00f},
    {ImGuiCol_SliderGrab, cyan, 0.14f},
    {ImGuiCol_SliderGrabActive, red, 1.00f},
    {ImGuiCol_Button, cyan, 0.14f},
    {ImGuiCol_ButtonHovered, accent, 0.86f},
    {ImGuiCol_ButtonActive, accent, 1.00f},
    {ImGuiCol_Header, accent, 0.76f},
    {ImGuiCol_HeaderHovered, accent, 0.86f},
    {ImGuiCol_HeaderActive, indigo, 1.00f},
    {ImGuiCol_ResizeGrip, cyan, 0.04f},
    {ImGuiCol_ResizeGripHovered, accent, 0.78f},
    {ImGuiCol_ResizeGripActive, accent, 1.00f},
    {ImGuiCol_Tab, accent, 0.76f},
    {ImGuiCol_TabHovered, accent, 0.96f},
    {ImGuiCol_TabActive, indigo, 1.00f},
    {ImGuiCol_PlotLines, text, 0.63f},
    {ImGuiCol_PlotLinesHovered, accent, 1.00f},
    {ImGuiCol_PlotHistogram, text, 0.63f},
    {ImGuiCol_PlotHistogramHovered, accent, 1.00f},
    {ImGuiCol_TextSelectedBg, accent, 0.43f},
};
static_assert(sizeof theme / sizeof theme[0] == 37);

}  // namespace

void applyColorTheme() {
    ImVec4* colours = ImGui::GetStyle().Colors;
    for (const ThemeEntry& entry : theme)
        colours[entry.colour] = ImVec4(entry.base.r, entry.base.g, entry.base.b, entry.alpha);
}
