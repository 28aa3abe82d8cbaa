// repodeck's colours, laid over Dear ImGui's dark preset.
#pragma once

// Overwrites 37 colours of the current context's style; call it right after
// ImGui::StyleColorsDark(). The other colours and every size stay the preset's.
void applyColorTheme();
