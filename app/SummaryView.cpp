#include "app/SummaryView.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include <imgui.h>

#include "app/Host.h"
#include "scan/RepositoryState.h"

namespace {

// What the tab shows, user interface thread only: the rows so far, and the
// order of those that pass the filters.
struct SummaryView {
    uint64_t scan = ~uint64_t(0);
    std::vector<RepositoryState> rows;
    std::vector<int> shown;
    ImGuiTextFilter filter;
    bool attentionOnly = false;
    int sortColumn = -1;  // none: list order
    bool descending = false;
    bool dirty = true;
};
SummaryView view;

void takeNewRows() {
    uint64_t scan;
    std::vector<RepositoryState> added = scanSummary.since(view.rows.size(), scan);
    if (scan != view.scan) {  // a new scan: start over
        view.scan = scan;
        view.rows.clear();
        added = scanSummary.since(0, scan);
        view.dirty = true;
    }
    view.dirty |= !added.empty();
    std::move(added.begin(), added.end(), std::back_inserter(view.rows));
}

// Counts sort as numbers, then by the cell's text; the other columns by
// their text alone.
using SortKey = std::pair<int, std::string>;
SortKey sortKey(const RepositoryState& row, int column) {
    int count = column == changesColumn    ? row.staged + row.changed + row.untracked + row.conflicted
                : column == stashColumn    ? row.stashes
                : column == upstreamColumn ? row.ahead + row.behind
                : column == fetchColumn    ? int(row.fetchedRefs.size())
                : column == pullColumn     ? row.pulledCommits
                                           : 0;
    return {count, summaryCell(row, SummaryColumn(column))};
}

void arrangeRows() {
    view.shown.clear();
    for (int i = 0; i < int(view.rows.size()); i++) {
        const RepositoryState& row = view.rows[i];
        std::string branch = summaryCell(row, branchColumn);
        if ((!view.attentionOnly || row.needsAttention()) &&
            (view.filter.PassFilter(row.path.c_str()) || (!branch.empty() && view.filter.PassFilter(branch.c_str()))))
            view.shown.push_back(i);
    }
    if (view.sortColumn >= 0) {
        // Each key made once, not twice per comparison: 10,000 rows sort within a frame.
        std::vector<SortKey> keys(view.rows.size());
        for (int i : view.shown)
            keys[i] = sortKey(view.rows[i], view.sortColumn);
        std::stable_sort(view.shown.begin(), view.shown.end(), [&](int a, int b) {
            return view.descending ? keys[b] < keys[a] : keys[a] < keys[b];
        });
    }
    view.dirty = false;
}

// Stopped, failed, changed, ahead or behind, clean: the most pressing state names the colour.
ImVec4 colourOf(const RepositoryState& row) {
    if (!row.stop.empty() && !row.failed())
        return ImGui::GetStyleColorVec4(ImGuiCol_TextDisabled);  // grey: a stop is no failure
    if (row.failed())
        return ImVec4(0.95f, 0.35f, 0.35f, 1.0f);
    if (!row.summarized)
        return ImGui::GetStyleColorVec4(ImGuiCol_Text);
    if (row.staged || row.changed || row.untracked || row.conflicted || row.stashes || !row.inProgress.empty())
        return ImVec4(0.95f, 0.80f, 0.30f, 1.0f);
    if (row.ahead || row.behind || row.upstreamGone || row.noUpstream)
        return ImVec4(0.40f, 0.75f, 0.95f, 1.0f);
    return ImVec4(0.45f, 0.85f, 0.45f, 1.0f);
}

void drawRow(const RepositoryState& row, int index) {
    ImGui::TableNextRow();
    ImGui::PushID(index);
    ImGui::PushStyleColor(ImGuiCol_Text, colourOf(row));
    for (int column = 0; column < summaryColumnCount; column++) {
        ImGui::TableSetColumnIndex(column);
        std::string cell = summaryCell(row, SummaryColumn(column));
        if (column != repositoryColumn) {
            ImGui::TextUnformatted(cell.c_str());
            continue;
        }
        if (ImGui::Selectable(cell.c_str(), false,
                              ImGuiSelectableFlags_SpanAllColumns | ImGuiSelectableFlags_AllowDoubleClick) &&
            ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left))
            host::openLink(row.path.c_str());  // the folder, in the file manager
        if (ImGui::IsItemHovered() && !row.lastMessage().empty())
            ImGui::SetTooltip("%s", row.lastMessage().c_str());
        if (ImGui::BeginPopupContextItem("row")) {
            if (ImGui::MenuItem("Copy path"))
                ImGui::SetClipboardText(row.path.c_str());
            ImGui::EndPopup();
        }
    }
    ImGui::PopStyleColor();
    ImGui::PopID();
}

}  // namespace

void drawSummary() {
    takeNewRows();
    view.dirty |= ImGui::Checkbox("Needs attention only", &view.attentionOnly);
    ImGui::SameLine();
    ImGui::SetNextItemWidth(-10);
    if (ImGui::InputTextWithHint("##summaryFilter", "Filter path and branch (include, -exclude)", view.filter.InputBuf,
                                 IM_ARRAYSIZE(view.filter.InputBuf))) {
        view.filter.Build();
        view.dirty = true;
    }

    constexpr ImGuiTableFlags flags = ImGuiTableFlags_Sortable | ImGuiTableFlags_SortTristate |
                                      ImGuiTableFlags_Resizable | ImGuiTableFlags_ScrollX | ImGuiTableFlags_ScrollY |
                                      ImGuiTableFlags_RowBg | ImGuiTableFlags_BordersInnerV |
                                      ImGuiTableFlags_SizingFixedFit;
    if (!ImGui::BeginTable("summary", summaryColumnCount, flags))
        return;
    ImGui::TableSetupScrollFreeze(0, 1);
    for (const char* name : summaryColumnNames)
        ImGui::TableSetupColumn(name);
    ImGui::TableHeadersRow();
    if (ImGuiTableSortSpecs* specs = ImGui::TableGetSortSpecs(); specs && specs->SpecsDirty) {
        view.sortColumn = specs->SpecsCount > 0 ? specs->Specs[0].ColumnIndex : -1;
        view.descending = specs->SpecsCount > 0 && specs->Specs[0].SortDirection == ImGuiSortDirection_Descending;
        specs->SpecsDirty = false;
        view.dirty = true;
    }
    if (view.dirty)
        arrangeRows();

    ImGuiListClipper clipper;
    clipper.Begin(int(view.shown.size()));
    while (clipper.Step())
        for (int i = clipper.DisplayStart; i < clipper.DisplayEnd; i++)
            drawRow(view.rows[view.shown[i]], view.shown[i]);
    ImGui::EndTable();
}
