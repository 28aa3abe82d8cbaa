// Summary tab figures: what a whole frame costs with 10,000 rows, drawn in a
// headless Dear ImGui context at 1280 by 800 the way the main window draws a
// tab: in list order, sorted by the Repository column, the one frame after a
// click on a column's header (which sorts every row again), and a frame in
// which one more row arrives while the rows are sorted, as during a scan.
// Prints one "name value" line per figure, each the median of the runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <imgui_internal.h>

#include "app/SummaryView.h"
#include "app/WindowScan.h"
#include "bench/SummaryFrame.h"
#include "scan/RepositoryState.h"
#include "scan/SummaryCells.h"
#include "tests/Headless.h"

namespace {

constexpr int rowCount = 10000;
constexpr int runs = 5;
constexpr int framesPerRun = 200;
constexpr int arrivals = 50;

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A mix of states as a large scan finds them, decided by the number alone; the
// paths are not in list order, so sorting moves rows.
RepositoryState rowOf(int n) {
    RepositoryState row;
    row.path = "/home/builder/src/group" + std::to_string(n * 7919 % 97) + "/project" + std::to_string(n);
    row.summarized = n % 50 != 0;
    row.branch = n % 5 == 0 ? "feature/summary-" + std::to_string(n % 13) : "main";
    row.commit = "0123abc";
    row.detached = n % 31 == 0;
    if (n % 3 != 2)
        row.upstream = "origin/" + row.branch;
    row.ahead = n % 7 == 0 ? n % 4 : 0;
    row.behind = n % 3 == 0 ? 2 : 0;
    row.changed = n % 4 == 1 ? n % 9 : 0;
    row.untracked = n % 4 == 1;
    row.stashes = n % 17 == 0;
    row.operations[fetchOperation] = {true, n % 50 == 0 ? 128 : 0,
                                      n % 50 == 0 ? "fatal: could not read from remote repository." : ""};
    if (n % 3 == 0)
        row.fetchedRefs = {"origin/main"};
    return row;
}

double frameMedian(Headless& ui) {
    std::vector<double> costs;
    for (int run = 0; run < runs; run++) {
        Clock::time_point start = Clock::now();
        for (int i = 0; i < framesPerRun; i++)
            ui.frame(drawSummaryTab);
        costs.push_back(msSince(start) / framesPerRun);
    }
    return median(costs);
}

// The middle of a column's header, once the table has been laid out.
ImVec2 header(int column) {
    ImGuiTable* table = GImGui->Tables.GetByIndex(0);
    return ImVec2((table->Columns[column].MinX + table->Columns[column].MaxX) / 2, table->OuterRect.Min.y + 6);
}

// A click on a header, timed over the frame of the release, which sorts.
double timedClick(Headless& ui, int column) {
    ImGuiIO& io = ImGui::GetIO();
    io.MousePos = header(column);
    ui.frame(drawSummaryTab);
    io.MouseDown[0] = true;
    ui.frame(drawSummaryTab);
    io.MouseDown[0] = false;
    Clock::time_point start = Clock::now();
    ui.frame(drawSummaryTab);
    double ms = msSince(start);
    io.MousePos = ImVec2(-1, -1);  // away, so no row stays hovered
    return ms;
}

// The first repository the tab shows, to check that a click sorted the rows.
std::string firstShown(Headless& ui) {
    std::string text = ui.capture(drawSummaryTab);
    size_t at = text.find("| /");
    return at == std::string::npos ? "" : text.substr(at + 2, text.find(" |", at + 2) - at - 2);
}

}  // namespace

int main() {
    std::vector<RepositoryState> rows;
    for (int n = 0; n < rowCount + arrivals; n++)
        rows.push_back(rowOf(n));
    std::string smallest = std::min_element(rows.begin(), rows.begin() + rowCount, [](const auto& a, const auto& b) {
                               return a.path < b.path;
                           })->path;
    for (int n = 0; n < rowCount; n++)
        summaryRecords().put(rows[size_t(n)]);

    Headless ui(1280, 800);
    for (int i = 0; i < 5; i++)  // the rows are taken in, the layout settles
        ui.frame(drawSummaryTab);
    printf("frame_ms_unsorted %.4f\n", frameMedian(ui));

    // Each click on a header sorts every row again: by Branch, then by
    // Repository, and so on, ending sorted by Repository.
    std::vector<double> resorts;
    for (int run = 0; run < runs; run++) {
        timedClick(ui, branchColumn);
        resorts.push_back(timedClick(ui, repositoryColumn));
    }
    if (firstShown(ui) != smallest) {
        fprintf(stderr, "SummaryBench: a click on Repository did not sort the rows (first: \"%s\")\n",
                firstShown(ui).c_str());
        return 1;
    }
    printf("frame_ms_sorted %.4f\n", frameMedian(ui));
    printf("frame_ms_resort %.4f\n", median(resorts));

    // One row more each frame, still sorted by Repository.
    std::vector<double> arriving;
    for (int n = rowCount; n < rowCount + arrivals; n++) {
        summaryRecords().put(rows[size_t(n)]);
        Clock::time_point start = Clock::now();
        ui.frame(drawSummaryTab);
        arriving.push_back(msSince(start));
    }
    printf("frame_ms_row_arrives %.4f\n", median(arriving));
    return 0;
}
