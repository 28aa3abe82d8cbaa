#include "log/LogPane.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

LogPane logsPane, reposPane, updatesPane, statusPane, compactPane, remotesPane, readmePane;

const PaneTab paneTabs[paneCount] = {
    {"Logs", "Logs", &logsPane},
    {"Repositories", "Repos", &reposPane},
    {"Updates", "Updates", &updatesPane},
    {"Status", "Status", &statusPane},
    {"Compacts", "Compacts", &compactPane},
    {"Remotes", "Remotes", &remotesPane},
    {"Read Me", "ReadMe", &readmePane},
};

LogPane::LogPane() {
    filter.Build();
    clear();
}

void LogPane::addLog(const char* fmt, ...) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    int oldSize = buf.size();
    va_list args;
    va_start(args, fmt);
    buf.appendfv(fmt, args);
    va_end(args);
    const char* text = buf.begin();
    for (int newSize = buf.size(); oldSize < newSize; oldSize++)
        if (text[oldSize] == '\n')
            lineOffsets.push_back(oldSize + 1);
}

void LogPane::write(const char* text) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    addLog("%s", text);
}

void LogPane::write(const std::string& text) { write(text.c_str()); }

void LogPane::write(int32_t value) {
    char digits[16];
    snprintf(digits, sizeof digits, "%" PRId32, value);
    write(digits);
}

void LogPane::write(uint32_t value) { write(uint64_t(value)); }

void LogPane::write(uint64_t value) {
    char digits[24];
    snprintf(digits, sizeof digits, "%" PRIu64, value);
    write(digits);
}

void LogPane::clear() {
    buf.clear();
    lineOffsets.clear();
    lineOffsets.push_back(0);
    filteredLines.clear();
    filteredUpTo = 0;
}

std::string LogPane::text() const {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return std::string(buf.begin(), buf.size());
}

void LogPane::refreshFilteredLines() {
    const char* begin = buf.begin();
    int completeLines = lineOffsets.Size - 1;
    for (; filteredUpTo < completeLines; filteredUpTo++) {
        const char* lineStart = begin + lineOffsets[filteredUpTo];
        const char* lineEnd = begin + lineOffsets[filteredUpTo + 1] - 1;
        if (filter.PassFilter(lineStart, lineEnd))
            filteredLines.push_back(filteredUpTo);
    }
}

void LogPane::draw() {
    std::lock_guard<std::recursive_mutex> lock(mutex);

    bool clearPressed = ImGui::Button("Clear");
    ImGui::SameLine();
    bool copyPressed = ImGui::Button("Copy");
    ImGui::SameLine();
    ImGui::SetNextItemWidth(-10);
    if (ImGui::InputTextWithHint(" ", "Filter (include, -exclude)", filter.InputBuf, IM_ARRAYSIZE(filter.InputBuf))) {
        filter.Build();
        filteredLines.clear();
        filteredUpTo = 0;
    }
    ImGui::Separator();
    ImGui::BeginChild("scrolling", ImVec2(0, 0), false, ImGuiWindowFlags_HorizontalScrollbar);
    if (clearPressed)
        clear();
    if (copyPressed)
        ImGui::LogToClipboard();

    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(0, 0));
    const char* begin = buf.begin();
    const char* end = buf.end();
    auto lineEnd = [&](int line) {
        return line + 1 < lineOffsets.Size ? begin + lineOffsets[line + 1] - 1 : end;
    };
    if (filter.IsActive()) {
        // The clipper emits every item while a Copy capture runs, so Copy still
        // gets every passing line.
        refreshFilteredLines();
        int lastLine = lineOffsets.Size - 1;
        bool lastPasses = filter.PassFilter(begin + lineOffsets[lastLine], end);
        int count = filteredLines.Size + (lastPasses ? 1 : 0);
        ImGuiListClipper clipper;
        clipper.Begin(count);
        while (clipper.Step())
            for (int item = clipper.DisplayStart; item < clipper.DisplayEnd; item++) {
                int line = item < filteredLines.Size ? filteredLines[item] : lastLine;
                ImGui::TextUnformatted(begin + lineOffsets[line], lineEnd(line));
            }
        clipper.End();
    } else {
        ImGuiListClipper clipper;
        clipper.Begin(lineOffsets.Size);
        while (clipper.Step())
            for (int line = clipper.DisplayStart; line < clipper.DisplayEnd; line++)
                ImGui::TextUnformatted(begin + lineOffsets[line], lineEnd(line));
        clipper.End();
    }
    ImGui::PopStyleVar();

    if (autoScroll && ImGui::GetScrollY() >= ImGui::GetScrollMaxY())
        ImGui::SetScrollHereY(1.0f);
    ImGui::EndChild();
}
