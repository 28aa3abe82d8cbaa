// The Summary tab in a real headless Dear ImGui context: rows in list order,
// sorted by a clicked header, and the clean ones hidden on request.
#include "app/SummaryView.h"

#include <gtest/gtest.h>
#include <imgui_internal.h>

#include "app/Host.h"
#include "scan/RepositoryState.h"
#include "tests/Headless.h"

namespace {
std::string opened;
}  // namespace

namespace host {
bool openLink(const std::string& address) { return opened = address, true; }
}  // namespace host

namespace {

RepositoryState row(const char* path, int changed, int fetchExitCode) {
    RepositoryState state;
    state.path = path;
    state.summarized = true;
    state.branch = "main";
    state.changed = changed;
    state.operations[fetchOperation] = {true, fetchExitCode, fetchExitCode ? "fatal: no remote" : ""};
    return state;
}

class SummaryViewTest : public testing::Test {
protected:
    void SetUp() override {
        scanSummary.clear();
        for (const RepositoryState& state : {row("/b-changed", 2, 0), row("/a-clean", 0, 0), row("/c-failed", 0, 128)})
            scanSummary.add(state);
    }
    static void draw() {
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(1000, 400));
        ImGui::Begin("summary window", nullptr, ImGuiWindowFlags_NoDecoration);
        drawSummary();
        ImGui::End();
    }
    // The repositories as listed, top to bottom.
    std::string shown() {
        std::string text = ui.capture(draw), paths;
        for (size_t at = text.find("| /"); at != std::string::npos; at = text.find("| /", at + 1))
            paths += text.substr(at + 2, text.find(" |", at + 2) - at - 2) + " ";
        return paths;
    }
    // The middle of a column's header.
    ImVec2 header(int column) {
        ImGuiTable* table = GImGui->Tables.GetByIndex(0);
        return ImVec2((table->Columns[column].MinX + table->Columns[column].MaxX) / 2, table->OuterRect.Min.y + 6);
    }
    Headless ui;
};

TEST_F(SummaryViewTest, SortsByAClickedColumnAndHidesTheCleanRows) {
    EXPECT_EQ(shown(), "/b-changed /a-clean /c-failed ");
    ui.click(header(repositoryColumn), draw);
    EXPECT_EQ(shown(), "/a-clean /b-changed /c-failed ");
    ui.click(header(changesColumn), draw);
    EXPECT_EQ(shown(), "/a-clean /c-failed /b-changed ");
    ui.click(header(changesColumn), draw);
    EXPECT_EQ(shown(), "/b-changed /a-clean /c-failed ");

    ui.click(ImVec2(16, 16), draw);  // "Needs attention only"
    EXPECT_EQ(shown(), "/b-changed /c-failed ");

    // A double click opens the repository's folder.
    ImVec2 first(header(repositoryColumn).x, header(repositoryColumn).y + ImGui::GetTextLineHeightWithSpacing());
    ui.click(first, draw);
    ui.click(first, draw);
    EXPECT_EQ(opened, "/b-changed");
}

}  // namespace
