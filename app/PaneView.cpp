#include "app/PaneView.h"

#include <cstdint>
#include <new>
#include <string>

#include <imgui.h>

size_t LogPane::clipboardLimit = SIZE_MAX;

// Built from the pane, not from what Dear ImGui rendered, so nothing of the
// window around it comes along. A text too large for the clipboard or for
// memory is refused with a line in the pane.
void LogPane::copyShownLines() {
    size_t length = shownSize();
    if (length + 1 > clipboardLimit) {
        addLog("[repodeck] Copy: the %.1f MB shown are more than the clipboard takes (%.1f MB); nothing was "
               "copied. Narrow the filter and copy again.\n",
               double(length) / 1e6, double(clipboardLimit) / 1e6);
        return;
    }
    std::string text;
    try {
        text = shownText();
    } catch (const std::bad_alloc&) {
        addLog("[repodeck] Copy: not enough memory for the %.1f MB shown; nothing was copied.\n", double(length) / 1e6);
        return;
    }
    ImGui::SetClipboardText(text.c_str());
}

void LogPane::draw(bool focusFilter) {
    std::lock_guard<std::recursive_mutex> lock(mutex);

    bool clearPressed = ImGui::Button("Clear");
    ImGui::SameLine();
    bool copyPressed = ImGui::Button("Copy");
    ImGui::SameLine();
    ImGui::SetNextItemWidth(-10);
    if (focusFilter)
        ImGui::SetKeyboardFocusHere();
    if (ImGui::InputTextWithHint(" ", "Filter (include, -exclude)", filter.input, IM_ARRAYSIZE(filter.input)))
        refilter();
    // After the box, which on Escape has already given up its edit.
    if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape)) && filter.input[0]) {
        filter.input[0] = '\0';
        refilter();
    }
    ImGui::Separator();
    ImGui::BeginChild("scrolling", ImVec2(0, 0), false, ImGuiWindowFlags_HorizontalScrollbar);
    if (clearPressed)
        clear();
    // Home and End move the view, unless a text box has the keys.
    bool toTop = false, toBottom = false;
    if (!ImGui::IsAnyItemActive()) {
        toTop = ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Home));
        toBottom = ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_End));
    }

    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(0, 0));
    ImGuiListClipper clipper;
    clipper.Begin(showLines());
    while (clipper.Step())
        for (int index = clipper.DisplayStart; index < clipper.DisplayEnd; index++) {
            std::string_view line = shownLine(index);
            ImGui::TextUnformatted(line.data(), line.data() + line.size());
        }
    clipper.End();
    ImGui::PopStyleVar();

    // A Copy during filtering waits for the last slice, a frame or so later.
    copyPending |= copyPressed;
    if (copyPending && !filtering()) {
        copyPending = false;
        copyShownLines();
    }

    // The view follows new lines while it is at the bottom.
    if (toTop)
        ImGui::SetScrollY(0);
    else if (toBottom || ImGui::GetScrollY() >= ImGui::GetScrollMaxY())
        ImGui::SetScrollHereY(1.0f);
    ImGui::EndChild();
}
