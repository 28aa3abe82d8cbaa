#include "app/Theme.h"

#include <cstring>

#include <imgui.h>
#include <imgui_internal.h>

const float clearColour[4] = {0.45f, 0.55f, 0.60f, 1.00f};

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
// The accent and indigo darkened for what text is drawn on (a hovered or
// pressed row or tab or button): dark enough for every text colour,
// a failed row's red included, to read at 4.5:1.
constexpr Rgb deepAccent = {64 / 255.0f, 18 / 255.0f, 58 / 255.0f};
constexpr Rgb deepIndigo = {30 / 255.0f, 28 / 255.0f, 90 / 255.0f};

struct ThemeEntry {
    ImGuiCol colour;
    Rgb base;
    float alpha;
};

// Child, separator, unfocused tab, table, drag-and-drop, navigation and
// modal dimming colours are not listed: they keep the dark preset's values.
constexpr ThemeEntry theme[] = {
    {ImGuiCol_Text, text, 0.86f},
    {ImGuiCol_TextDisabled, text, 0.66f},
    {ImGuiCol_WindowBg, dark, 1.00f},
    {ImGuiCol_PopupBg, dark, 0.96f},
    {ImGuiCol_Border, text, 0.45f},  // also round the frames: an unticked box shows
    {ImGuiCol_BorderShadow, dark, 0.50f},
    {ImGuiCol_FrameBg, dark, 1.00f},
    {ImGuiCol_FrameBgHovered, deepAccent, 1.00f},
    {ImGuiCol_FrameBgActive, deepIndigo, 1.00f},
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
    {ImGuiCol_ButtonHovered, accent, 0.36f},
    {ImGuiCol_ButtonActive, deepIndigo, 1.00f},
    {ImGuiCol_Header, deepAccent, 1.00f},
    {ImGuiCol_HeaderHovered, deepAccent, 1.00f},
    {ImGuiCol_HeaderActive, deepIndigo, 1.00f},
    {ImGuiCol_ResizeGrip, cyan, 0.04f},
    {ImGuiCol_ResizeGripHovered, accent, 0.78f},
    {ImGuiCol_ResizeGripActive, accent, 1.00f},
    {ImGuiCol_Tab, accent, 0.28f},
    {ImGuiCol_TabHovered, accent, 0.36f},
    {ImGuiCol_TabActive, indigo, 0.50f},
    {ImGuiCol_TableRowBgAlt, text, 0.03f},
    {ImGuiCol_PlotLines, text, 0.63f},
    {ImGuiCol_PlotLinesHovered, accent, 1.00f},
    {ImGuiCol_PlotHistogram, text, 0.63f},
    {ImGuiCol_PlotHistogramHovered, accent, 1.00f},
    {ImGuiCol_TextSelectedBg, accent, 0.43f},
};
static_assert(sizeof theme / sizeof theme[0] == 38);

}  // namespace

void applyColorTheme() {
    ImVec4* colours = ImGui::GetStyle().Colors;
    for (const ThemeEntry& entry : theme)
        colours[entry.colour] = ImVec4(entry.base.r, entry.base.g, entry.base.b, entry.alpha);
}

void applyScale(float scale) {
    ImGuiStyle& style = ImGui::GetStyle();
    ImVec4 colours[ImGuiCol_COUNT];
    memcpy(colours, style.Colors, sizeof colours);
    style = ImGuiStyle();
    // Frames outlined, so an unticked check box stands out from the window;
    // disabled controls faded less than Dear ImGui's 0.6, so they still read.
    style.FrameBorderSize = 1.0f;
    style.DisabledAlpha = 0.80f;
    style.ScaleAllSizes(float(int(13.0f * scale + 0.5f)) / 13.0f);  // as the font's pixels
    memcpy(style.Colors, colours, sizeof colours);
}
