// What the headless benches of the Summary share: the host a program without
// a window needs (include this in one file of each program), the main
// window's way of drawing the Summary tab, and the median of several runs.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include <imgui.h>

#include "app/Host.h"
#include "app/SummaryView.h"

namespace host {
bool openLink(const std::string&) { return true; }  // a double click never happens here
bool openTerminal(const std::string&) { return true; }
FontFace textFont() { return {}; }  // Dear ImGui's built-in font: the same for every run
FontFace fontFor(ImWchar) { return {}; }
}  // namespace host

// The main window's way of showing a tab: a full-size window, a bordered child.
inline void drawSummaryTab() {
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImGui::GetIO().DisplaySize);
    ImGui::Begin("Main", nullptr, ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoSavedSettings);
    ImGui::BeginChild("Summary", ImVec2(0, 0), true);
    drawSummary();
    ImGui::EndChild();
    ImGui::End();
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}
