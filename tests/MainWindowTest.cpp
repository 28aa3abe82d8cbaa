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

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        frameCounter = 0, aboutAnimationTime = 0, opens = true;
        windowTitle.clear(), titles.clear(), opened.clear(), scans.clear(), lastFolder.clear(), readme.clear();
        scanState.scanPath[0] = '\0';
        scanState.abortRequested = false;
        ScanOptions& o = scanState.options;
        o.fetchEnabled = true, o.pullEnabled = o.submoduleEnabled = o.statusEnabled = false;
        o.remoteEnabled = o.readmeEnabled = false;
        for (const PaneTab& tab : paneTabs) {
            std::lock_guard<std::recursive_mutex> lock(tab.pane->mutex);
            tab.pane->clear();
        }
        frames(2);
    }
    void TearDown() override { stopScan(), scanState.mainScanRunning = false; }

    void frames(int count) {
        while (count-- > 0)
            ui.frame(drawMainWindow, takeWindowKeys);
    }
    // The lines of exactly one frame (without the CR that Windows' log adds).
    std::vector<std::string> frameText() {
        std::istringstream in(ui.capture([] { drawMainWindow(); }));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line.substr(0, line.find('\r')));
        return lines;
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
    void click(ImGuiID id) { EXPECT_TRUE(ui.click(id, [] { drawMainWindow(); }, takeWindowKeys)); }

    Headless ui;
};

TEST_F(MainWindowTest, StatusLineAndTitleRunTheSpinnerWhileBusy) {
    EXPECT_EQ(statusLine(), "Path:   ");  // colon, separator and idle status: three spaces
    std::strcpy(scanState.scanPath, "/home/me/src");
    EXPECT_EQ(statusLine(), "Path: /home/me/src  ");
    frames(100);
    // Busy, from frame 16 on: "-", "\", "|", "/" in runs of 16 frames, the
    // title with them; the title is written only when its text changes.
    scanState.mainScanRunning = true;
    frameCounter = 15;
    std::string shown;
    for (int i = 0; i < 64; i++)
        shown += statusLine().back();
    EXPECT_EQ(shown, std::string(16, '-') + std::string(16, '\\') + std::string(16, '|') + std::string(16, '/'));
    scanState.mainScanRunning = false;
    EXPECT_EQ(statusLine().back(), ' ');
    EXPECT_EQ(titles, (std::vector<std::string>{"repodeck", "repodeck -", "repodeck \\", "repodeck |",
                                                "repodeck /", "repodeck"}));
}

TEST_F(MainWindowTest, CheckBoxesFlipTheirOptionsAlsoWhileBusy) {
    ScanOptions& o = scanState.options;
    std::atomic<bool>* flags[] = {&o.fetchEnabled,  &o.pullEnabled,   &o.submoduleEnabled,
                                  &o.statusEnabled, &o.remoteEnabled, &o.readmeEnabled};
    const char* labels[] = {"git fetch    ", "git pull    ", "git submodule update    ", "git status    ",
                            "git remote    ", "Display the first 128 characters of README.MD/.txt"};
    ImGuiWindow* options = Headless::window("/Options_");
    for (int i = 0; i < 6; i++) {
        std::string before, after;
        for (std::atomic<bool>* flag : flags)
            before += *flag ? '1' : '0';
        scanState.mainScanRunning = i % 2;
        click(options->GetID(labels[i]));
        for (std::atomic<bool>* flag : flags)
            after += *flag ? '1' : '0';
        before[i] ^= 1;  // that one flag, and no other
        EXPECT_EQ(after, before) << labels[i];
    }
}

// A scan over stand-in git whose fetch sleeps: the status line and the title
// count the repositories, and "Stop" ends the scan and its child.
TEST_F(MainWindowTest, ProgressShowsAndStopEndsASlowScan) {
    TempFolder root;
    for (std::string name : {"one", "two", "three"}) {
        std::filesystem::create_directories(root / name + pathSeparator + ".git");
        writeFile(root / name + pathSeparator + ".fakegit-fetch", "sleep 60000\n");
    }
    ASSERT_TRUE(startMainScan(root.path().c_str()));
    std::string status;
    for (int i = 0; i < 2000 && status.find(" of ") == std::string::npos; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10)), status = statusLine();  // 20 s: a hang, not a measure
    EXPECT_NE(status.find(" 1 of 3: " + (root / "one")), std::string::npos) << status;
    EXPECT_NE(titles.back().find(" 1 of 3"), std::string::npos) << titles.back();
    click(mainWindow()->GetID("Stop"));
    EXPECT_FALSE(scanState.busy());
    EXPECT_FALSE(scanState.currentChildProcess.holdsChild());
    EXPECT_NE(logsPane.text().find("Error Code: -1"), std::string::npos) << logsPane.text();
    EXPECT_TRUE(scans.empty());  // no picker was opened
}

TEST_F(MainWindowTest, ScanFolderPicksAndRescanOrF5RepeatTheLastFolder) {
    click(mainWindow()->GetID("Scan Folder"));
    click(mainWindow()->GetID("Rescan"));  // nothing scanned yet: disabled, and F5 too
    ui.press(host::keyIndex(host::Key::f5), drawMainWindow);
    lastFolder = "/last";
    click(mainWindow()->GetID("Rescan"));
    ui.press(host::keyIndex(host::Key::f5), drawMainWindow);
    EXPECT_EQ(scans, (std::vector<std::string>{"picker 7", "/last", "/last"}));
}

TEST_F(MainWindowTest, CtrlTabSwitchesTabsInsteadOfWindows) {
    for (bool shift : {false, true, true})
        ui.press(ImGuiKey_Tab, drawMainWindow, true, shift, takeWindowKeys);
    EXPECT_EQ(tabBar()->SelectedTabId, tabId("About"));  // one right, two left: round the end
    EXPECT_EQ(GImGui->NavWindowingTarget, nullptr);
}

TEST_F(MainWindowTest, AboutOpensTheReadmeOrSaysWhyNot) {
    click(tabId("About"));
    auto shows = [&](const std::string& text) {
        std::vector<std::string> lines = frameText();
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    };
    EXPECT_TRUE(shows("There is no README.md beside the program to open."));
    readme = "/doc/README.md";
    click(ImHashStr(readme.c_str(), 0, tabId("About")));
    opens = false;
    click(ImHashStr(readme.c_str(), 0, tabId("About")));
    EXPECT_EQ(opened, std::vector<std::string>(2, readme));
    EXPECT_TRUE(shows("Nothing on this desktop opened /doc/README.md."));
}

// The picture's rows 0, 1 and 31 in its first frame (t = 1/60), and far along
// the clock, where float rounding shows, FNV-1a of the 32 rows joined by line
// feeds: both worked out apart from repodeck in Python, rounding every float
// step to 32 bits. The clock stands still while another tab shows.
TEST_F(MainWindowTest, AboutAnimationDrawsTheKnownPictureAndKeepsItsClock) {
    click(tabId("About"));
    aboutAnimationTime = 0;
    std::vector<std::string> rows = frameText();
    ASSERT_GE(rows.size(), 32u);
    rows.erase(rows.begin(), rows.end() - 32);
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
    rows = frameText();
    uint64_t hash = 0xcbf29ce484222325;
    for (auto row = rows.end() - 32; row != rows.end(); ++row)
        for (char c : *row + (row + 1 == rows.end() ? "" : "\n"))
            hash = (hash ^ uint8_t(c)) * 0x100000001b3;
    EXPECT_EQ(hash, 0x2f75920aab83c639u);
    click(tabId("Status"));
    float left = aboutAnimationTime;
    frames(30);
    EXPECT_EQ(aboutAnimationTime, left);
}

// The first font file found, at 13 pixels times the scale, with Cyrillic and
// arrows; the built-in font without one. Sizes scale, colours stay.
TEST(ThemeTest, ScaleLoadsTheFirstFontFoundAndKeepsTheColours) {
    Headless ui;
    applyColorTheme();
    ImGuiStyle themed = ImGui::GetStyle();
    TempFolder fonts;
    std::filesystem::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf", fonts / "mono.ttf");
    for (float scale : {2.0f, 3.0f}) {
        bool found = scale == 2;
        FontFiles files = {{fonts / "missing.ttf", found ? fonts / "mono.ttf" : ""}, {}};
        EXPECT_EQ(applyScale(scale, files), found ? fonts / "mono.ttf" : "");
        ImFont* font = ImGui::GetIO().Fonts->Fonts[0];
        EXPECT_EQ(font->FontSize, 13 * scale);
        EXPECT_EQ(font->FindGlyphNoFallback(0x0416) != nullptr, found);  // Ж
        EXPECT_EQ(font->FindGlyphNoFallback(0x2192) != nullptr, found);  // →
        EXPECT_EQ(ImGui::GetStyle().FramePadding.x, themed.FramePadding.x * scale);
        EXPECT_EQ(memcmp(ImGui::GetStyle().Colors, themed.Colors, sizeof themed.Colors), 0);
    }
}

}  // namespace
