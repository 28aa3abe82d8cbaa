#include "app/Theme.h"

#include <cstring>

#include <imgui.h>
#include <imgui_internal.h>

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

namespace {

constexpr float basePixels = 13.0f;  // the built-in font's size

// Latin with its extensions, Greek, Cyrillic, general punctuation (curly
// quotes, dashes), currency, arrows, box drawing and the replacement character.
constexpr ImWchar textRanges[] = {
    0x0020, 0x024F, 0x0370, 0x03FF, 0x0400, 0x052F, 0x2000, 0x206F, 0x20A0, 0x20CF,
    0x2190, 0x21FF, 0x2500, 0x257F, 0xFFFD, 0xFFFD, 0,
};

bool exists(const std::string& path) {
    if (FILE* file = ImFileOpen(path.c_str(), "rb")) {
        ImFileClose(file);
        return true;
    }
    return false;
}

const std::string* firstPresent(const std::vector<std::string>& paths) {
    for (const std::string& path : paths)
        if (exists(path))
            return &path;
    return nullptr;
}

}  // namespace

void applyScale(float scale, const FontFiles& files) {
    ImGuiIO& io = ImGui::GetIO();
    io.Fonts->Clear();
    float pixels = float(int(basePixels * scale + 0.5f));
    if (const std::string* text = firstPresent(files.text)) {
        io.Fonts->AddFontFromFileTTF(text->c_str(), pixels, nullptr, textRanges);
        if (const std::string* cjk = firstPresent(files.cjk)) {
            ImFontConfig merge;
            merge.MergeMode = true;
            io.Fonts->AddFontFromFileTTF(cjk->c_str(), pixels, &merge, io.Fonts->GetGlyphRangesChineseSimplifiedCommon());
        }
    }
    if (io.Fonts->Fonts.empty()) {
        ImFontConfig builtIn;
        builtIn.SizePixels = pixels;
        io.Fonts->AddFontDefault(&builtIn);
    }
    io.Fonts->Build();

    ImGuiStyle& style = ImGui::GetStyle();
    ImVec4 colours[ImGuiCol_COUNT];
    memcpy(colours, style.Colors, sizeof colours);
    style = ImGuiStyle();
    style.ScaleAllSizes(pixels / basePixels);
    memcpy(style.Colors, colours, sizeof colours);
}
