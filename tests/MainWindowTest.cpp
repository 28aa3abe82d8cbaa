// The main window in a real headless Dear ImGui context: what it shows, what
// its controls change, and what it asks of the host and of the scan.
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/Host.h"
#include "app/MainWindow.h"
#include "app/Theme.h"
#include "log/LogPane.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"
#include "tests/Headless.h"

// What the window asked for, recorded in place of a window and a scan.
namespace {
std::vector<std::string> titles;
std::vector<std::string> links;
int scanFolderCalls = 0;
}  // namespace

namespace host {
void setWindowTitle(const char* title) { titles.push_back(title); }
void openLink(const char* address) { links.push_back(address); }
}  // namespace host

// The scan's own would open the folder picker.
void scanFolder() { scanFolderCalls++; }

namespace {

const char* const optionLabels[] = {
    "git fetch    ", "git pull    ", "git submodule update    ", "git status    ", "git remote    ",
    "Display the first 128 characters of README.MD/.txt",
};

std::atomic<bool>* optionFlags() {
    static std::atomic<bool>* flags[] = {
        &scanState.options.fetchEnabled,  &scanState.options.pullEnabled,   &scanState.options.submoduleEnabled,
        &scanState.options.statusEnabled, &scanState.options.remoteEnabled, &scanState.options.readmeEnabled,
    };
    return *flags;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();  // Dear ImGui's log ends lines with CR LF on Windows
        result.push_back(line);
    }
    return result;
}

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        frameCounter = 0;
        lastTitleFrame = -1;
        aboutAnimationTime = 0;
        titles.clear();
        links.clear();
        scanFolderCalls = 0;
        scanState.scanPath[0] = '\0';
        setBusy(false);
        for (int i = 0; i < 6; i++)
            optionFlags()[i] = i == 0;
        for (const PaneTab& tab : paneTabs) {
            std::lock_guard<std::recursive_mutex> lock(tab.pane->mutex);
            tab.pane->clear();
        }
    }
    void TearDown() override { setBusy(false); }

    static void setBusy(bool busy) {
        scanState.mainScanRunning = busy;
        scanState.optionScanRunning = false;
        scanState.readmeScanRunning = false;
    }

    void frames(int count) {
        for (int i = 0; i < count; i++)
            ui.frame(drawMainWindow);
    }

    // The text of exactly one frame, one item per line.
    std::string frameText() {
        ui.frame([] {
            ImGui::LogToClipboard();
            drawMainWindow();
            ImGui::LogFinish();
        });
        return ui.clipboard;
    }

    std::string statusLine() {
        for (const std::string& line : lines(frameText()))
            if (line.rfind("Path:", 0) == 0)
                return line;
        ADD_FAILURE() << "no status line";
        return "";
    }

    static ImGuiWindow* mainWindow() { return ImGui::FindWindowByName("Main"); }

    // A child window of "Main" drawn in the last frame.
    static ImGuiWindow* child(const char* name) {
        std::string prefix = std::string("Main/") + name + "_";
        for (ImGuiWindow* window : GImGui->Windows)
            if (window->Active && std::strncmp(window->Name, prefix.c_str(), prefix.size()) == 0)
                return window;
        return nullptr;
    }

    static ImGuiTabBar* tabBar() { return GImGui->TabBars.GetByKey(mainWindow()->GetID("#tabBar")); }

    // Finds an item the way a user does: the mouse sweeps over area until
    // Dear ImGui reports the item hovered.
    ImVec2 locate(ImGuiID id, ImRect area) {
        ImGuiIO& io = ImGui::GetIO();
        for (float y = area.Min.y + 3; y < area.Max.y; y += 6)
            for (float x = area.Min.x + 3; x < area.Max.x; x += 12) {
                io.MousePos = ImVec2(x, y);
                ui.frame(drawMainWindow);
                if (GImGui->HoveredId == id)
                    return io.MousePos;
            }
        ADD_FAILURE() << "item not found";
        return ImVec2(-1, -1);
    }

    void clickTab(const char* label) {
        frames(1);
        ImGuiTabBar* bar = tabBar();
        ui.click(locate(ImHashStr(label, 0, bar->ID), bar->BarRect), drawMainWindow);
    }

    // The region from the options to the tab bar, where "Scan Folder" is.
    ImRect middle() {
        frames(1);
        return ImRect(mainWindow()->Pos.x, child("Options")->Rect().Max.y, mainWindow()->Rect().Max.x,
                      tabBar()->BarRect.Min.y);
    }

    Headless ui;
};

TEST_F(MainWindowTest, FillsTheWorkAreaAndShowsTheOptionsAndTabs) {
    std::vector<std::string> shown = lines(ui.capture(drawMainWindow));
    ImGuiWindow* main = mainWindow();
    EXPECT_EQ(main->Pos.x, 0);
    EXPECT_EQ(main->Pos.y, 0);
    EXPECT_EQ(main->Size.x, 1280);
    EXPECT_EQ(main->Size.y, 800);

    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown[0], "Scan Options");
    std::string all;
    for (const std::string& line : shown)
        all += line + "\n";
    for (const char* label : optionLabels)
        EXPECT_NE(all.find(label), std::string::npos) << label;
    EXPECT_NE(all.find("[ Scan Folder ]"), std::string::npos);
    ASSERT_NE(child("Options"), nullptr);
    EXPECT_EQ(child("Options")->Size.x, 720);
    EXPECT_EQ(child("Options")->Size.y, 80);

    const char* expected[] = {"Logs", "Repositories", "Updates", "Status", "Compacts", "Remotes", "Read Me", "About"};
    ImGuiTabBar* bar = tabBar();
    ASSERT_EQ(bar->Tabs.Size, 8);
    for (int i = 0; i < 8; i++)
        EXPECT_STREQ(bar->GetTabName(&bar->Tabs[i]), expected[i]);
    EXPECT_EQ(bar->SelectedTabId, ImHashStr("Logs", 0, bar->ID));
}

TEST_F(MainWindowTest, StatusLineShowsPathAndSpinner) {
    frames(1);
    EXPECT_EQ(statusLine(), "Path:   ");  // colon, separator and idle status: three spaces

    std::strcpy(scanState.scanPath, "/home/me/src");
    EXPECT_EQ(statusLine(), "Path: /home/me/src  ");

    // While busy the last character runs "/", "-", "\", "|" in runs of 16 frames.
    setBusy(true);
    std::string shown;
    for (int i = 0; i < 130; i++)
        shown += statusLine().back();
    std::vector<std::pair<char, int>> runs;
    for (char c : shown)
        if (!runs.empty() && runs.back().first == c)
            runs.back().second++;
        else
            runs.push_back({c, 1});
    ASSERT_GE(runs.size(), 8u);
    const char cycle[] = "/-\\|";
    int start = int(std::strchr(cycle, runs[0].first) - cycle);
    for (size_t i = 0; i < runs.size(); i++) {
        EXPECT_EQ(runs[i].first, cycle[(start + i) % 4]) << "run " << i;
        if (i > 0 && i + 1 < runs.size()) {
            EXPECT_EQ(runs[i].second, 16) << "run " << i;
        }
    }

    // Any of the three running flags counts; idle shows a space.
    scanState.mainScanRunning = false;
    scanState.readmeScanRunning = true;
    EXPECT_NE(statusLine().back(), ' ');
    scanState.readmeScanRunning = false;
    EXPECT_EQ(statusLine().back(), ' ');
}

TEST_F(MainWindowTest, TitleIsWrittenWhenTheSpinnerMoves) {
    frames(1);
    ASSERT_EQ(titles, std::vector<std::string>{"repodeck"});  // though the window has it already
    frames(14);
    EXPECT_EQ(titles.size(), 1u);
    frames(1);  // frame 16
    EXPECT_EQ(titles.size(), 2u);
    frames(160 - 16);
    EXPECT_EQ(titles.size(), 11u);  // frames 1, 16, 32, ..., 160
    for (const std::string& title : titles)
        EXPECT_EQ(title, "repodeck");

    titles.clear();
    setBusy(true);
    frames(64);
    EXPECT_EQ(titles, (std::vector<std::string>{"repodeck |", "repodeck /", "repodeck -", "repodeck \\"}));

    titles.clear();
    setBusy(false);
    frames(16);
    EXPECT_EQ(titles, std::vector<std::string>{"repodeck"});
}

TEST_F(MainWindowTest, FrameCounterWrapsWithoutBreakingTheCycle) {
    setBusy(true);
    frameCounter = UINT32_MAX - 2;
    frames(4);
    EXPECT_EQ(frameCounter, 1u);
    EXPECT_EQ(titles, (std::vector<std::string>{"repodeck |", "repodeck /"}));
}

TEST_F(MainWindowTest, CheckBoxesFlipTheirOptions) {
    frames(2);
    ImGuiWindow* options = child("Options");
    ASSERT_NE(options, nullptr);
    for (int i = 0; i < 6; i++) {
        ImVec2 at = locate(options->GetID(optionLabels[i]), options->Rect());
        bool before[6];
        for (int j = 0; j < 6; j++)
            before[j] = optionFlags()[j];
        ui.click(at, drawMainWindow);
        for (int j = 0; j < 6; j++)
            EXPECT_EQ(optionFlags()[j], j == i ? !before[j] : before[j]) << optionLabels[i] << " / " << optionLabels[j];
        // Also while a scan runs.
        setBusy(true);
        ui.click(at, drawMainWindow);
        EXPECT_EQ(optionFlags()[i], before[i]) << optionLabels[i];
        setBusy(false);
    }
}

TEST_F(MainWindowTest, ScanFolderCallsTheScanOncePerClickBusyOrNot) {
    ImVec2 button = locate(mainWindow()->GetID("Scan Folder"), middle());
    ui.click(button, drawMainWindow);
    EXPECT_EQ(scanFolderCalls, 1);
    setBusy(true);
    ui.click(button, drawMainWindow);
    EXPECT_EQ(scanFolderCalls, 2);
    frames(3);
    EXPECT_EQ(scanFolderCalls, 2);
}

TEST_F(MainWindowTest, EachTabShowsItsPaneInItsChildWindow) {
    for (const PaneTab& tab : paneTabs)
        tab.pane->addLog("marker of %s\n", tab.childName);
    for (const PaneTab& tab : paneTabs) {
        clickTab(tab.label);
        std::string shown = frameText();
        EXPECT_NE(child(tab.childName), nullptr) << tab.label;
        for (const PaneTab& other : paneTabs)
            EXPECT_EQ(shown.find(std::string("marker of ") + other.childName) != std::string::npos, &other == &tab)
                << tab.label << " shows " << other.label;
    }
}

TEST_F(MainWindowTest, AboutShowsNameLinkAndCredits) {
    clickTab("About");
    std::vector<std::string> shown = lines(frameText());
    auto at = std::find(shown.begin(), shown.end(), "repodeck 1.0");
    ASSERT_NE(at, shown.end());
    ASSERT_GE(shown.end() - at, 4 + 32);
    EXPECT_EQ(at[1], "[ " REPODECK_ABOUT_LINK " ]");  // how the log shows a button
    EXPECT_EQ(at[2].rfind("Developed by ", 0), 0u) << at[2];
    EXPECT_EQ(at[3].rfind("Special Thanks to ", 0), 0u) << at[3];
    EXPECT_NE(at[3].find(" and "), std::string::npos) << at[3];

    ImGuiTabBar* bar = tabBar();
    ImGuiID aboutTab = ImHashStr("About", 0, bar->ID);
    ImRect below(mainWindow()->Pos.x, bar->BarRect.Max.y, mainWindow()->Rect().Max.x, bar->BarRect.Max.y + 120);
    ui.click(locate(ImHashStr(REPODECK_ABOUT_LINK, 0, aboutTab), below), drawMainWindow);
    EXPECT_EQ(links, std::vector<std::string>{REPODECK_ABOUT_LINK});
}

// Rows 0, 1, 2 and 31 of the picture in its first frame (t = 1/60), worked out
// apart from repodeck in Python, rounding every float step to 32 bits.
TEST_F(MainWindowTest, AboutAnimationStartsFromTheKnownPicture) {
    clickTab("About");
    aboutAnimationTime = 0;
    std::vector<std::string> shown = lines(frameText());
    EXPECT_EQ(aboutAnimationTime, 0.016666668f);
    auto at = std::find(shown.begin(), shown.end(), "repodeck 1.0");
    ASSERT_GE(shown.end() - at, 4 + 32);
    std::vector<std::string> rows(shown.end() - 32, shown.end());
    for (const std::string& row : rows)
        EXPECT_EQ(row.size(), 128u);
    EXPECT_EQ(rows[0],
              "JJIIHGGFFEEDDCBBAAAA/++99887766544332221100zzyyyxxwwwvvvuuuuttttsssssrrrrrrrqqqqqqqqqqqqqqrrrrrrrrsssstt"
              "ttuuuvvvwwxxxyyzz0011223");
    EXPECT_EQ(rows[1],
              "KKJJIIHGGFFEEDCCBBAAA//++99887665544332211100zzyyyxxxwwvvvvuuutttttsssssrrrrrrrrrrrrrrrrrrrrrrsssssstt"
              "ttuuuvvvwwwxxxyyzz00112233");
    EXPECT_EQ(rows[2],
              "LLKKJJIIHGGFFEEDDCBBAAAA/++99887766544333221100zzzyyxxxwwwvvvvuuuuttttsssssssssrrrrrrrrrrsssssssstttttu"
              "uuuvvvwwwxxyyyzz001122334");
    EXPECT_EQ(rows[31],
              "IJJKKLLMMMNNOOPPPQQRRRSSSTTTTUUUUUVVVVVVVWWWWWWWWWWWWVVVVVVVVUUUUUTTTTSSSSRRRQQQPPPOONNNMMLLLKKJJIIHHGG"
              "FFEEDDCCBBAAAA//++9887766");
}

// Far along the clock float rounding shows in the picture: every step must be
// taken in the precision prescribed. FNV-1a of the 32 rows joined by newlines,
// worked out like the rows above.
TEST_F(MainWindowTest, AboutAnimationKeepsItsPrecisionFarAlong) {
    clickTab("About");
    aboutAnimationTime = 12345.678f;
    std::vector<std::string> shown = lines(frameText());
    ASSERT_GE(shown.size(), 32u);
    uint64_t hash = 0xcbf29ce484222325;
    for (auto row = shown.end() - 32; row != shown.end(); ++row)
        for (char c : *row + (row + 1 == shown.end() ? "" : "\n"))
            hash = (hash ^ uint8_t(c)) * 0x100000001b3;
    EXPECT_EQ(hash, 0x2f75920aab83c639u);
}

TEST_F(MainWindowTest, AboutClockStandsStillWhileAnotherTabShows) {
    clickTab("About");
    float shownFor = aboutAnimationTime;
    EXPECT_GT(shownFor, 0);
    std::string before = frameText();
    clickTab("Status");
    float left = aboutAnimationTime;
    frames(30);
    EXPECT_EQ(aboutAnimationTime, left);
    clickTab("About");
    EXPECT_GT(aboutAnimationTime, left);
    EXPECT_NE(frameText(), before);  // the picture moved on
}

TEST(ThemeTest, OverwritesItsColoursAndKeepsThePresetsOthers) {
    Headless ui;
    ImGui::StyleColorsDark();
    ImGuiStyle preset = ImGui::GetStyle();
    applyColorTheme();
    const ImVec4* colours = ImGui::GetStyle().Colors;

    auto expectColour = [&](ImGuiCol entry, float r, float g, float b, float a) {
        EXPECT_EQ(colours[entry].x, r) << entry;
        EXPECT_EQ(colours[entry].y, g) << entry;
        EXPECT_EQ(colours[entry].z, b) << entry;
        EXPECT_EQ(colours[entry].w, a) << entry;
    };
    expectColour(ImGuiCol_Text, 0.86f, 0.93f, 0.90f, 0.78f);
    expectColour(ImGuiCol_WindowBg, 0.0862745121f, 0.0862745121f, 0.0862745121f, 0.90f);  // 22/255
    expectColour(ImGuiCol_TabActive, 89 / 255.0f, 85 / 255.0f, 198 / 255.0f, 1.0f);
    expectColour(ImGuiCol_CheckMark, 0.71f, 0.22f, 0.27f, 1.0f);

    const ImGuiCol kept[] = {
        ImGuiCol_ChildBg,          ImGuiCol_Separator,          ImGuiCol_SeparatorHovered,
        ImGuiCol_SeparatorActive,  ImGuiCol_TabUnfocused,       ImGuiCol_TabUnfocusedActive,
        ImGuiCol_TableHeaderBg,    ImGuiCol_TableBorderStrong,  ImGuiCol_TableBorderLight,
        ImGuiCol_TableRowBg,       ImGuiCol_TableRowBgAlt,      ImGuiCol_DragDropTarget,
        ImGuiCol_NavHighlight,     ImGuiCol_NavWindowingHighlight, ImGuiCol_NavWindowingDimBg,
        ImGuiCol_ModalWindowDimBg,
    };
    int changed = 0;
    for (int i = 0; i < ImGuiCol_COUNT; i++) {
        bool same = std::memcmp(&colours[i], &preset.Colors[i], sizeof(ImVec4)) == 0;
        bool isKept = std::find(std::begin(kept), std::end(kept), i) != std::end(kept);
        if (isKept) {
            EXPECT_TRUE(same) << i;
        }
        changed += !same;
    }
    EXPECT_EQ(changed, 37);
    EXPECT_EQ(ImGui::GetStyle().WindowPadding.x, preset.WindowPadding.x);
    EXPECT_EQ(ImGui::GetStyle().FrameRounding, preset.FrameRounding);
}

}  // namespace
