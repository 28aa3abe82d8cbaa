// repodeck's look: its colours laid over Dear ImGui's dark preset, and a font
// and sizes that follow the desktop's scale and the user's zoom.
#pragma once

#include <string>
#include <vector>

// Overwrites 37 colours of the current context's style; call it right after
// ImGui::StyleColorsDark(). The other colours stay the preset's.
void applyColorTheme();

// Font files to try, best first: text fonts with wide coverage, then fonts
// that add CJK glyphs. Missing files are skipped.
struct FontFiles {
    std::vector<std::string> text;
    std::vector<std::string> cjk;
};

// Text at 13 pixels times scale: the first text font found, with Latin, Greek,
// Cyrillic, punctuation and arrows, merged with the first CJK font found, or
// Dear ImGui's built-in font when none is there. Every size of the style
// follows the scale; the colours stay. Between frames only; the renderer's
// font texture must be made afresh afterwards.
void applyScale(float scale, const FontFiles& files);
