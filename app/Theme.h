// repodeck's look: its colours laid over Dear ImGui's dark preset, and sizes
// that follow the desktop's scale and the user's zoom (the font: Fonts.h).
#pragma once

// What the window is cleared to before the main window is drawn over it.
extern const float clearColour[4];

// Overwrites colours of the current context's style; call it right after
// ImGui::StyleColorsDark(). The other colours stay the preset's.
void applyColorTheme();

// Every size of the style follows the scale; the colours stay.
void applyScale(float scale);
