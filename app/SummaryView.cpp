#include "app/SummaryView.h"

#include <algorithm>
#include <chrono>
#include <numeric>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <imgui.h>
#include <imgui_internal.h>

#include "app/Fonts.h"

#include "app/Host.h"
#include "app/WindowScan.h"
#include "log/TextFilter.h"
#include "scan/RepositoryState.h"
#include "scan/SummaryCells.h"

namespace {

// What the tab shows, user interface thread only: the rows so far, and the
// order of those that pass the filters.
struct SummaryView {
    uint64_t scan = ~uint64_t(0);  // the scan's number, and its records' generation, the rows are of
    uint64_t generation = 0;
    std::vector<RepositoryState> rows;
    std::vector<int> shown;
    TextFilter filter;
    bool attentionOnly = false;
    int sortColumn = -1;  // none: list order
    bool descending = false;
    bool dirty = true;
    bool refit = true;       // rows changed: the columns fit their content again
    bool userSized = false;  // a column resized by hand keeps its width this session
    std::set<std::string> selected;  // paths, of shown rows only
    std::string anchor;              // the row a Shift+click selects from
};
SummaryView view;

void takeNewRows() {
    if (scanNumber() != view.scan) {  // a new scan: start over
        view.scan = scanNumber();
        view.generation = 0;
        view.rows.clear();
        view.selected.clear();
        view.dirty = true;
    }
    // A record comes once when done, and again in its place when a retry replaces it.
    std::vector<std::pair<size_t, RepositoryState>> changed = summaryRecords().changedSince(view.generation, view.generation);
    view.dirty |= !changed.empty();
    view.refit |= view.dirty;
    for (auto& [place, row] : changed) {
        for (int column = 0; column < summaryColumnCount; column++)
            noteText(summaryCell(row, SummaryColumn(column)));
        if (place >= view.rows.size())
            view.rows.resize(place + 1);
        view.rows[place] = std::move(row);
    }
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
        if ((!view.attentionOnly || row.needsAttention()) &&
            view.filter.passes({row.path, summaryCell(row, branchColumn)}))
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
    // An action reaches only rows the user sees.
    std::set<std::string> shownSelected;
    for (int i : view.shown)
        if (view.selected.count(view.rows[i].path))
            shownSelected.insert(view.rows[i].path);
    view.selected.swap(shownSelected);
    view.dirty = false;
}

// A click on the row at position among those shown: it alone; with Ctrl it
// joins or leaves the selection; with Shift the rows from the last click's
// to it (added to the selection with Ctrl too).
void selectAt(int position) {
    const ImGuiIO& io = ImGui::GetIO();
    const std::string& path = view.rows[view.shown[position]].path;
    auto anchor = std::find_if(view.shown.begin(), view.shown.end(), [](int i) { return view.rows[i].path == view.anchor; });
    if (io.KeyShift && anchor != view.shown.end()) {
        if (!io.KeyCtrl)
            view.selected.clear();
        int from = int(anchor - view.shown.begin());
        for (int i = std::min(from, position); i <= std::max(from, position); i++)
            view.selected.insert(view.rows[view.shown[i]].path);
        return;
    }
    if (!io.KeyCtrl)
        view.selected.clear();
    if (!view.selected.erase(path))
        view.selected.insert(path);
    view.anchor = path;
}

void selectShown(bool (*wanted)(const RepositoryState&)) {
    view.selected.clear();
    for (int i : view.shown)
        if (wanted(view.rows[i]))
            view.selected.insert(view.rows[i].path);
}

// The selected rows' paths, in list order: the order an action works in.
std::vector<std::string> selectedPaths() {
    std::vector<std::string> paths;
    for (const RepositoryState& row : view.rows)
        if (view.selected.count(row.path))
            paths.push_back(row.path);
    return paths;
}

// What a selection can have done to it; no command: the state alone.
struct RowAction {
    const char* label;
    bool ScanOptions::*command;
};
const RowAction rowActions[] = {{"Refresh", nullptr},
                                {"Fetch", &ScanOptions::fetchEnabled},
                                {"Pull", &ScanOptions::pullEnabled},
                                {"Status", &ScanOptions::statusEnabled},
                                {"Submodule update", &ScanOptions::submoduleEnabled}};
// A file manager or a terminal each: a few at once, not a screenful.
constexpr size_t mostOpened = 10;

// The actions on the selection, as buttons above the table or as the items
// of a row's menu.
void drawActions(bool menu) {
    auto item = [&](const char* label, bool enabled) {
        if (menu)
            return ImGui::MenuItem(label, nullptr, false, enabled);
        ImGui::SameLine();
        ImGui::BeginDisabled(!enabled);
        bool pressed = ImGui::Button(label);
        ImGui::EndDisabled();
        return pressed;
    };
    size_t count = view.selected.size();
    for (const RowAction& action : rowActions)
        if (item(action.label, count && !scanBusy()))
            runOnRows(selectedPaths(), action.label, action.command);
    if (menu)
        ImGui::Separator();
    if (item("Open folder", count && count <= mostOpened))
        for (const std::string& path : selectedPaths())
            host::openLink(path);  // in the file manager
    if (item("Open terminal", count && count <= mostOpened))
        for (const std::string& path : selectedPaths())
            host::openTerminal(path);
    if (item(count > 1 ? "Copy paths" : "Copy path", count)) {
        std::string text;
        for (const std::string& path : selectedPaths())
            text += (text.empty() ? "" : "\n") + path;
        ImGui::SetClipboardText(text.c_str());
    }
}

}  // namespace

// The row's tone, as the terminal shows it too.
ImVec4 colourOf(const RepositoryState& row) {
    switch (row.tone()) {
    case RepositoryState::Tone::stopped: return ImGui::GetStyleColorVec4(ImGuiCol_TextDisabled);  // grey
    case RepositoryState::Tone::failed: return ImVec4(0.95f, 0.35f, 0.35f, 1.0f);
    case RepositoryState::Tone::unread: break;
    case RepositoryState::Tone::changed: return ImVec4(0.95f, 0.80f, 0.30f, 1.0f);
    case RepositoryState::Tone::moved: return ImVec4(0.40f, 0.75f, 0.95f, 1.0f);
    case RepositoryState::Tone::clean: return ImVec4(0.45f, 0.85f, 0.45f, 1.0f);
    }
    return ImGui::GetStyleColorVec4(ImGuiCol_Text);
}

namespace {

// A cell's text, ended by "…" where the column is too narrow for it; its
// item keeps the whole width, so a fitting column makes room for all of it.
// True when the text was cut and the mouse is on it.
bool drawCell(const std::string& text) {
    ImVec2 pos = ImGui::GetCursorScreenPos(), size = ImGui::CalcTextSize(text.c_str());
    float room = ImGui::GetContentRegionAvail().x;
    if (size.x <= room) {
        ImGui::TextUnformatted(text.c_str());
        return false;
    }
    ImVec2 shownEnd(pos.x + room, pos.y + size.y);
    ImGui::RenderTextEllipsis(ImGui::GetWindowDrawList(), pos, shownEnd, shownEnd.x, shownEnd.x, text.c_str(), nullptr,
                              &size);
    ImGui::LogRenderedText(&pos, text.c_str());  // whole, for Dear ImGui's log
    ImGui::ItemSize(size);
    return ImGui::IsMouseHoveringRect(pos, shownEnd) && ImGui::IsWindowHovered();
}

// "checked 2 min ago", by the desktop's clock; empty for a row never checked.
std::string checkedText(std::chrono::system_clock::time_point at) {
    using namespace std::chrono;
    if (at == system_clock::time_point())
        return {};
    long long ago = std::max<long long>(0, duration_cast<seconds>(system_clock::now() - at).count());
    auto text = [](long long count, const char* unit) { return "checked " + std::to_string(count) + unit + " ago"; };
    return ago < 60 ? text(ago, " s") : ago < 3600 ? text(ago / 60, " min") : ago < 86400 ? text(ago / 3600, " h")
                                                                                          : text(ago / 86400, " days");
}

// The row's tooltip: the last line git had for it, the commits its last
// fetch and pull brought, and when it was checked.
std::string rowTip(const RepositoryState& row) {
    std::string tip = row.lastMessage();
    auto brought = [&](const char* what, const std::vector<std::string>& commits, size_t count) {
        if (commits.empty())
            return;
        // Appended piece by piece: GCC 12 at -O3 takes "text" + std::string for
        // an overlapping copy (-Wrestrict) and the Windows build stops.
        tip += tip.empty() ? "" : "\n";
        tip += what;
        tip += " brought:";
        for (const std::string& commit : commits)
            tip += "\n  " + commit;
        if (count > commits.size())
            tip += "\n  and " + std::to_string(count - commits.size()) + " more";
    };
    brought("The last fetch", row.fetchedSubjects, 0);
    brought("The last pull", row.pulledSubjects, size_t(row.pulledCommits));
    std::string checked = checkedText(row.checkedAt);
    return tip + (tip.empty() || checked.empty() ? "" : "\n") + checked;
}

// The row at position among those shown; index is its place in the list.
void drawRow(const RepositoryState& row, int index, int position) {
    ImGui::TableNextRow();
    ImGui::PushID(index);
    ImGui::PushStyleColor(ImGuiCol_Text, colourOf(row));
    std::string cutText;  // the whole text of the cut cell under the mouse
    for (int column = 0; column < summaryColumnCount; column++) {
        ImGui::TableSetColumnIndex(column);
        std::string cell = summaryCell(row, SummaryColumn(column));
        if (column == repositoryColumn) {
            // The row's selectable, and over it the path, cut like any cell.
            ImVec2 start = ImGui::GetCursorScreenPos();
            bool selected = view.selected.count(row.path);
            if (ImGui::Selectable("##row", selected,
                                  ImGuiSelectableFlags_SpanAllColumns | ImGuiSelectableFlags_AllowDoubleClick |
                                      ImGuiSelectableFlags_AllowItemOverlap)) {
                if (ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left))
                    host::openLink(row.path.c_str());  // the folder, in the file manager
                else
                    selectAt(position);
            }
            if (ImGui::IsItemHovered())
                cutText = rowTip(row);
            if (ImGui::IsItemClicked(ImGuiMouseButton_Right) && !selected)
                view.selected = {row.path};  // the menu acts on the row it was opened on
            if (ImGui::BeginPopupContextItem("row")) {
                drawActions(true);
                ImGui::EndPopup();
            }
            ImGui::SameLine(0, 0);
            ImGui::SetCursorScreenPos(start);
        }
        if (drawCell(cell))
            cutText = cell;
    }
    if (!cutText.empty())
        ImGui::SetTooltip("%s", cutText.c_str());
    ImGui::PopStyleColor();
    ImGui::PopID();
}

// Fixed columns as wide as their content, the Problem column the rest of the
// window (or a dozen characters past it, scrolled to).
float tableWidth(ImGuiID id) {
    float width = ImGui::GetContentRegionAvail().x;
    ImGuiTable* table = ImGui::TableFindByID(id);
    if (!table)
        return width;
    float columns = ImGui::GetFontSize() * 12;
    for (int column = 0; column < summaryColumnCount - 1; column++)
        columns += table->Columns[column].WidthGiven + table->CellPaddingX * 2 + table->CellSpacingX1 + table->CellSpacingX2;
    return std::max(width, columns);
}

}  // namespace

void drawSummary(bool focusFilter) {
    takeNewRows();
    view.dirty |= ImGui::Checkbox("Needs attention only", &view.attentionOnly);
    ImGui::SameLine();
    ImGui::SetNextItemWidth(-10);
    if (focusFilter)
        ImGui::SetKeyboardFocusHere();
    if (ImGui::InputTextWithHint("##summaryFilter", "Filter path and branch (include, -exclude)", view.filter.input,
                                 IM_ARRAYSIZE(view.filter.input))) {
        view.filter.build();
        view.dirty = true;
    }
    // After the box, which on Escape has already given up its edit.
    if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape)) && view.filter.input[0]) {
        view.filter.input[0] = '\0';
        view.filter.build();
        view.dirty = true;
    }

    if (ImGui::Button("Select needing attention"))
        selectShown([](const RepositoryState& row) { return row.needsAttention(); });
    const ImGuiIO& io = ImGui::GetIO();
    if (io.KeyCtrl && !io.WantTextInput && ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_A), false))
        selectShown([](const RepositoryState&) { return true; });
    drawActions(false);
    ImGui::SameLine();
    ImGui::Text("%d selected", int(view.selected.size()));

    constexpr ImGuiTableFlags flags = ImGuiTableFlags_Sortable | ImGuiTableFlags_SortTristate |
                                      ImGuiTableFlags_Resizable | ImGuiTableFlags_ScrollX | ImGuiTableFlags_ScrollY |
                                      ImGuiTableFlags_RowBg | ImGuiTableFlags_BordersInnerV |
                                      ImGuiTableFlags_SizingFixedFit;
    ImGuiID id = ImGui::GetID("summary");
    if (!ImGui::BeginTable("summary", summaryColumnCount, flags, ImVec2(0, 0), tableWidth(id)))
        return;
    ImGui::TableSetupScrollFreeze(0, 1);
    for (int column = 0; column < summaryColumnCount; column++)
        ImGui::TableSetupColumn(summaryColumnNames[column],
                                column == problemColumn ? ImGuiTableColumnFlags_WidthStretch : 0);
    ImGui::TableHeadersRow();
    ImGuiTable* table = ImGui::GetCurrentTable();
    view.userSized |= table->LastResizedColumn >= 0;
    if (view.refit && !view.userSized)
        ImGui::TableSetColumnWidthAutoAll(table);
    view.refit = false;
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
            drawRow(view.rows[view.shown[i]], view.shown[i], i);
    ImGui::EndTable();
}
