// The main window in a real headless Dear ImGui context: what it shows, what
// its controls change, and what it asks of the host and of the scan.
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/Host.h"
#include "app/MainWindow.h"
#include "app/Theme.h"
#include "log/LogPane.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"
#include "tests/Headless.h"
#include "tests/TempFolder.h"

// The host and the picker's side of the scan, recorded in their place.
namespace {
std::vector<std::string> titles, opened, scans;
std::string readme, lastFolder;
bool opens = true;
}  // namespace

namespace host {
void setWindowTitle(const char* title) { titles.push_back(title); }
uintptr_t nativeWindow() { return 7; }
int keyIndex(Key key) { return 100 + int(key); }
std::string readmePath() { return readme; }
bool openDocument(const std::string& path) { return opened.push_back(path), opens; }
}  // namespace host

void scanFolder(uintptr_t owner) { scans.push_back("picker " + std::to_string(owner)); }
void scanFolderAt(const std::string& folder) { scans.push_back(folder); }
void rescanFolder() { scanFolderAt(lastFolder); }
const std::string& lastScannedFolder() { return lastFolder; }

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line.empty() || line.back() != '\r' ? line : line.substr(0, line.size() - 1));
    return result;
}

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        frameCounter = 0;
        windowTitle.clear();
        aboutAnimationTime = 0;
        titles.clear(), opened.clear(), scans.clear(), lastFolder.clear(), readme.clear();
        scanState.scanPath[0] = '\0';
        scanState.abortRequested = false;
        ScanOptions& o = scanState.options;
        o.fetchEnabled = true, o.pullEnabled = o.submoduleEnabled = o.statusEnabled = false;
        o.remoteEnabled = o.readmeEnabled = false;
        for (const PaneTab& tab : paneTabs) {
            std::lock_guard<std::recursive_mutex> lock(tab.pane->mutex);
            tab.pane->clear();
        }
    }
    void TearDown() override { stopScan(), scanState.mainScanRunning = false; }

    void frames(int count) {
        for (int i = 0; i < count; i++)
            ui.frame(drawMainWindow, takeWindowKeys);
    }
    // The text of exactly one frame, one item per line.
    std::vector<std::string> frameText() {
        ui.frame([] { ImGui::LogToClipboard(), drawMainWindow(), ImGui::LogFinish(); });
        return lines(ui.clipboard);
    }
    std::string statusLine() {
        for (const std::string& line : frameText())
            if (line.rfind("Path:", 0) == 0)
                return line;
        return "no status line";
    }
    static ImGuiWindow* mainWindow() { return ImGui::FindWindowByName("Main"); }
    static ImGuiTabBar* tabBar() { return GImGui->TabBars.GetByKey(mainWindow()->GetID("#tabBar")); }
    static ImGuiID tabId(const char* label) { return ImHashStr(label, 0, tabBar()->ID); }

    // Finds an item the way a user does: the mouse sweeps over the window
    // until Dear ImGui reports the item hovered; then clicks it.
    void click(ImGuiID id) {
        ImGuiIO& io = ImGui::GetIO();
        for (float y = 3; y < 800; y += 6)
            for (float x = 3; x < 1000; x += 12) {
                io.MousePos = ImVec2(x, y);
                frames(1);
                if (GImGui->HoveredId == id)
                    return ui.click(io.MousePos, [] { drawMainWindow(); });
            }
        ADD_FAILURE() << "item not found";
    }
    void clickTab(const char* label) { frames(1), click(tabId(label)); }

    Headless ui;
};

TEST_F(MainWindowTest, FillsTheWorkAreaWithOptionsAndTabsInOrder) {
    frames(2);
    EXPECT_EQ(mainWindow()->Size.x, 1280);
    EXPECT_EQ(mainWindow()->Size.y, 800);
    const char* expected[] = {"Logs", "Repositories", "Updates", "Status", "Compacts", "Remotes", "Read Me", "About"};
    ASSERT_EQ(tabBar()->Tabs.Size, 8);
    for (int i = 0; i < 8; i++)
        EXPECT_STREQ(tabBar()->GetTabName(&tabBar()->Tabs[i]), expected[i]);
    EXPECT_EQ(tabBar()->SelectedTabId, tabId("Logs"));
}

TEST_F(MainWindowTest, StatusLineAndTitleRunTheSpinnerWhileBusy) {
    EXPECT_EQ(statusLine(), "Path:   ");  // colon, separator and idle status: three spaces
    std::strcpy(scanState.scanPath, "/home/me/src");
    EXPECT_EQ(statusLine(), "Path: /home/me/src  ");
    frames(100);
    EXPECT_EQ(titles, std::vector<std::string>{"repodeck"});  // written once, not every frame

    // Busy, from frame 16 on: "-", "\", "|", "/" in runs of 16 frames, the
    // title with them.
    scanState.mainScanRunning = true;
    frameCounter = 15;
    std::string shown;
    for (int i = 0; i < 64; i++)
        shown += statusLine().back();
    EXPECT_EQ(shown, std::string(16, '-') + std::string(16, '\\') + std::string(16, '|') + std::string(16, '/'));
    scanState.mainScanRunning = false;
    frames(1);
    EXPECT_EQ(titles, (std::vector<std::string>{"repodeck", "repodeck -", "repodeck \\", "repodeck |", "repodeck /",
                                                "repodeck"}));
    EXPECT_EQ(statusLine().back(), ' ');
}

TEST_F(MainWindowTest, CheckBoxesFlipTheirOptionsAlsoWhileBusy) {
    ScanOptions& o = scanState.options;
    std::atomic<bool>* flags[] = {&o.fetchEnabled,  &o.pullEnabled,   &o.submoduleEnabled,
                                  &o.statusEnabled, &o.remoteEnabled, &o.readmeEnabled};
    const char* labels[] = {"git fetch    ", "git pull    ", "git submodule update    ", "git status    ",
                            "git remote    ", "Display the first 128 characters of README.MD/.txt"};
    frames(2);
    ImGuiWindow* options = nullptr;
    for (ImGuiWindow* window : GImGui->Windows)
        options = strstr(window->Name, "/Options_") ? window : options;
    ASSERT_NE(options, nullptr);
    for (int i = 0; i < 6; i++) {
        bool before[6];
        for (int j = 0; j < 6; j++)
            before[j] = *flags[j];
        scanState.mainScanRunning = i % 2;
        click(options->GetID(labels[i]));
        for (int j = 0; j < 6; j++)
            EXPECT_EQ(*flags[j], j == i ? !before[j] : before[j]) << labels[i] << " / " << labels[j];
    }
}

// A scan over stand-in git whose fetch sleeps: the status line and the title
// count the repositories, and "Stop" ends the scan and its child.
TEST_F(MainWindowTest, ProgressShowsAndStopEndsASlowScan) {
    TempFolder root;
    for (const char* name : {"one", "two", "three"}) {
        std::filesystem::create_directories(root / name + pathSeparator + ".git");
        writeFile(root / name + pathSeparator + ".fakegit-fetch", "sleep 60000\n");
    }
    frames(2);
    ASSERT_TRUE(startMainScan(root.path().c_str()));
    std::string status;
    for (int i = 0; i < 2000 && status.find(" of ") == std::string::npos; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // at most 20 s: a hang, not a measure
        status = statusLine();
    }
    EXPECT_NE(status.find(" 1 of 3: " + (root / "one")), std::string::npos) << status;
    EXPECT_NE(titles.back().find(" 1 of 3"), std::string::npos) << titles.back();
    click(mainWindow()->GetID("Stop"));
    EXPECT_FALSE(scanState.busy());
    EXPECT_FALSE(scanState.currentChildProcess.holdsChild());
    EXPECT_NE(logsPane.text().find("Error Code: -1"), std::string::npos) << logsPane.text();
    EXPECT_TRUE(scans.empty());  // no picker was opened
}

TEST_F(MainWindowTest, ScanFolderPicksRescanAndF5RepeatTheLastFolder) {
    frames(2);
    click(mainWindow()->GetID("Scan Folder"));
    click(mainWindow()->GetID("Rescan"));  // nothing scanned yet: disabled
    ui.press(host::keyIndex(host::Key::f5), drawMainWindow);
    lastFolder = "/last";
    click(mainWindow()->GetID("Rescan"));
    ui.press(host::keyIndex(host::Key::f5), drawMainWindow);
    EXPECT_EQ(scans, (std::vector<std::string>{"picker 7", "/last", "/last"}));
}

TEST_F(MainWindowTest, CtrlTabSwitchesTabsInsteadOfWindows) {
    frames(2);
    auto pressTab = [&](bool shift) { ui.press(ImGuiKey_Tab, drawMainWindow, true, shift, takeWindowKeys); };
    pressTab(false);
    EXPECT_EQ(tabBar()->SelectedTabId, tabId("Repositories"));
    EXPECT_EQ(GImGui->NavWindowingTarget, nullptr);
    pressTab(true);
    pressTab(true);
    EXPECT_EQ(tabBar()->SelectedTabId, tabId("About"));  // round the end
}

TEST_F(MainWindowTest, AboutOpensTheReadmeOrSaysWhyNot) {
    clickTab("About");
    auto shows = [&](const std::string& text) {
        std::vector<std::string> shown = frameText();
        return std::find(shown.begin(), shown.end(), text) != shown.end();
    };
    EXPECT_TRUE(shows("There is no README.md beside the program to open."));
    readme = "/doc/README.md";
    click(ImHashStr(readme.c_str(), 0, tabId("About")));
    EXPECT_EQ(opened, std::vector<std::string>{readme});
    opens = false;
    click(ImHashStr(readme.c_str(), 0, tabId("About")));
    opens = true;
    EXPECT_TRUE(shows("Nothing on this desktop opened /doc/README.md."));
}

// The picture's rows 0, 1 and 31 in its first frame (t = 1/60), and far along
// the clock, where float rounding shows, FNV-1a of the 32 rows joined by line
// feeds: both worked out apart from repodeck in Python, rounding every float
// step to 32 bits. The clock stands still while another tab shows.
TEST_F(MainWindowTest, AboutAnimationDrawsTheKnownPictureAndKeepsItsClock) {
    clickTab("About");
    aboutAnimationTime = 0;
    std::vector<std::string> shown = frameText();
    ASSERT_GE(shown.size(), 32u);
    std::vector<std::string> rows(shown.end() - 32, shown.end());
    EXPECT_EQ(rows[0],
              "JJIIHGGFFEEDDCBBAAAA/++99887766544332221100zzyyyxxwwwvvvuuuuttttsssssrrrrrrrqqqqqqqqqqqqqqrrrrrrrrsssstt"
              "ttuuuvvvwwxxxyyzz0011223");
    EXPECT_EQ(rows[1],
              "KKJJIIHGGFFEEDCCBBAAA//++99887665544332211100zzyyyxxxwwvvvvuuutttttsssssrrrrrrrrrrrrrrrrrrrrrrsssssstt"
              "ttuuuvvvwwwxxxyyzz00112233");
    EXPECT_EQ(rows[31],
              "IJJKKLLMMMNNOOPPPQQRRRSSSTTTTUUUUUVVVVVVVWWWWWWWWWWWWVVVVVVVVUUUUUTTTTSSSSRRRQQQPPPOONNNMMLLLKKJJIIHHGG"
              "FFEEDDCCBBAAAA//++9887766");

    aboutAnimationTime = 12345.678f;
    shown = frameText();
    uint64_t hash = 0xcbf29ce484222325;
    for (auto row = shown.end() - 32; row != shown.end(); ++row)
        for (char c : *row + (row + 1 == shown.end() ? "" : "\n"))
            hash = (hash ^ uint8_t(c)) * 0x100000001b3;
    EXPECT_EQ(hash, 0x2f75920aab83c639u);

    clickTab("Status");
    float left = aboutAnimationTime;
    frames(30);
    EXPECT_EQ(aboutAnimationTime, left);
}

TEST(ThemeTest, ScaleLoadsTheFirstFontFoundAndKeepsTheColours) {
    Headless ui;
    ImGui::StyleColorsDark();
    applyColorTheme();
    ImGuiStyle themed = ImGui::GetStyle();
    EXPECT_EQ(themed.Colors[ImGuiCol_Text].w, 0.78f);
    TempFolder fonts;
    std::filesystem::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf", fonts / "mono.ttf");
    struct Case {
        FontFiles files;
        float scale, pixels;
        bool cyrillic;
    } cases[] = {{{{fonts / "missing.ttf", fonts / "mono.ttf"}, {}}, 2.0f, 26, true},
                 {{{fonts / "missing.ttf"}, {}}, 3.0f, 39, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(applyScale(c.scale, c.files), c.cyrillic ? fonts / "mono.ttf" : "");
        ImFont* font = ImGui::GetIO().Fonts->Fonts[0];
        EXPECT_EQ(font->FontSize, c.pixels);
        EXPECT_EQ(font->FindGlyphNoFallback(0x0416) != nullptr, c.cyrillic);  // Ж
        EXPECT_EQ(font->FindGlyphNoFallback(0x2192) != nullptr, c.cyrillic);  // →
        EXPECT_EQ(ImGui::GetStyle().FramePadding.x, themed.FramePadding.x * c.scale);
        EXPECT_EQ(memcmp(ImGui::GetStyle().Colors, themed.Colors, sizeof themed.Colors), 0);
    }
}

}  // namespace
