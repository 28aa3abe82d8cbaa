// The window's font: the host's text font, with glyphs from the desktop's
// other fonts for the characters that the text holds and it lacks. Dear ImGui
// 1.86 cannot add glyphs to a built atlas, so new characters rebuild it, at
// most once a second. User interface thread only.
#pragma once

#include <string_view>

// Text that the window shows or is about to: its characters are wanted.
void noteText(std::string_view text);
// The text that every pane got since the last call.
void notePanes();

// Builds the atlas at 13 pixels times scale, with every character wanted so
// far that a font of the desktop has; the others show as "?". Between frames
// only; the renderer's font texture must be made afresh afterwards.
void buildFonts(float scale);
// True when characters that the atlas lacks are wanted, a font has them and
// the last build is a second old.
bool fontsWanted();
