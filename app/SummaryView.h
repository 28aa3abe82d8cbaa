// The Summary tab: one row per repository of the running or last scan.
#pragma once

#include <imgui.h>

#include "scan/RepositoryState.h"

// Inside the tab; user interface thread only. Rows come from the window's scan as
// each repository is done. focusFilter puts the keyboard into the filter box (Ctrl+F).
void drawSummary(bool focusFilter = false);

// The colour of a row's text, which names its most pressing state.
ImVec4 colourOf(const RepositoryState& row);
