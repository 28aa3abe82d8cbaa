// The main window and the frame loop in a real headless Dear ImGui context,
// over a host that plays a script of events and records what it is asked, and
// a picker that records where it opens: what the window shows, what its
// controls change, and what it asks of the host and of the scan.
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/App.h"
#include "app/Host.h"
#include "app/MainWindow.h"
#include "app/Theme.h"
#include "log/LogPane.h"
#include "scan/FolderPicker.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"
#include "tests/Headless.h"
#include "tests/TempFolder.h"

namespace {
std::vector<std::string> calls, titles, opened, pickerStarts;
std::vector<host::Events> events;  // one per handleEvents; closed when used up
std::string readme;
std::optional<std::string> picked;
bool opens = true, scanRunningAtDestroy = false;
int zoomKeys = 8;  // the next of newFrame's keys; 0 starts them
}  // namespace

std::optional<std::string> pickFolder(const std::string& start, uintptr_t owner) {
    pickerStarts.push_back(start + " above " + std::to_string(owner));
    return picked;
}

namespace host {
bool create(const char* title) { return calls.push_back(std::string("create ") + title), true; }
void initBackends() {
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;  // a test leaves no imgui.ini behind
    io.DisplaySize = ImVec2(1280, 800);
    for (int key = 0; key < ImGuiKey_COUNT; key++)
        io.KeyMap[key] = key;
}
Events handleEvents(double wait) {
    calls.push_back(wait > 0 ? "wait" : "poll");
    Events next = events.empty() ? Events::closed : events.front();
    if (!events.empty())
        events.erase(events.begin());
    return next;
}
// Zoom keys held with Ctrl, one every other frame: +, +, 0, -.
void newFrame() {
    static const int keys[] = {-1, 102, -1, 102, -1, 104, -1, 103};
    ImGuiIO& io = ImGui::GetIO();
    io.DeltaTime = 1.0f / 60;
    std::fill(std::begin(io.KeysDown), std::end(io.KeysDown), false);
    int key = zoomKeys < 8 ? keys[zoomKeys++] : -1;
    if ((io.KeyCtrl = key >= 0))
        io.KeysDown[key] = true;
}
void present(const float[4]) { calls.push_back("frame"); }
void reloadFontTexture() { calls.push_back("fonts " + std::to_string(int(ImGui::GetIO().Fonts->Fonts[0]->FontSize))); }
void shutdownBackends() { calls.push_back(scanState.abortRequested ? "shutdown, abort raised" : "shutdown"); }
void destroy() {
    calls.push_back(ImGui::GetCurrentContext() ? "destroy" : "destroy, context gone");
    scanRunningAtDestroy = scanState.optionScanRunning;
}
bool isMinimised() { return false; }
float contentScale() { return 1; }
FontFiles fontFiles() { return {}; }
int keyIndex(Key key) { return 100 + int(key); }
void setWindowTitle(const char* title) { titles.push_back(title); }
uintptr_t nativeWindow() { return 7; }
std::string readmePath() { return readme; }
bool openLink(const std::string& path) { return opened.push_back(path), opens; }
}  // namespace host

namespace {

int occurrences(const std::string& text, const std::string& needle) {
    int found = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        found++;
    return found;
}

// Repositories whose stand-in git fetch sleeps for a minute: only a stop ends it in time.
void makeSlowRepositories(const TempFolder& root, std::initializer_list<const char*> names) {
    for (std::string name : names) {
        std::filesystem::create_directories(root / name + pathSeparator + ".git");
        writeFile(root / name + pathSeparator + ".fakegit-fetch", "sleep 60000\n");
    }
}

void resetState() {
    frameCounter = 0, aboutAnimationTime = 0, opens = true, picked.reset();
    windowTitle.clear(), calls.clear(), events.clear(), titles.clear(), opened.clear(), pickerStarts.clear();
    readme.clear();
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

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override { resetState(), frames(2); }
    void TearDown() override { stopScan(), scanState.mainScanRunning = false; }

    void frames(int count) {
        while (count-- > 0)
            ui.frame(drawMainWindow, takeWindowKeys);
    }
    // The lines of exactly one frame (without the CR that Windows' log adds).
    std::vector<std::string> frameText() {
        ui.frame([] { ImGui::LogToClipboard(), drawMainWindow(), ImGui::LogFinish(); });
        std::istringstream in(ui.clipboard);
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
    makeSlowRepositories(root, {"one", "two", "three"});
    ASSERT_TRUE(startMainScan(root.path().c_str()));
    std::string status;
    for (int i = 0; i < 2000 && (status.find(" of ") == std::string::npos || !scanState.childRunning()); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10)), status = statusLine();  // 20 s: a hang, not a measure
    EXPECT_NE(status.find(" 1 of 3: " + (root / "one")), std::string::npos) << status;
    EXPECT_NE(titles.back().find(" 1 of 3"), std::string::npos) << titles.back();
    click(mainWindow()->GetID("Stop"));
    EXPECT_FALSE(scanState.busy());
    EXPECT_FALSE(scanState.childRunning());
    EXPECT_NE(logsPane.text().find("Error Code: -1"), std::string::npos) << logsPane.text();
    EXPECT_TRUE(pickerStarts.empty());
}

// The picker opens at home (an empty start) the first time, then where the
// last scan was, also one named on the command line; Rescan and F5 scan that
// folder again without it, and do nothing before the first scan.
TEST_F(MainWindowTest, PickerStartsAtTheLastFolderAndRescanNeedsNone) {
    TempFolder first, second;
    auto scanned = [&](const TempFolder& folder) { return occurrences(logsPane.text(), "Scan: " + folder.path() + "\n"); };
    click(mainWindow()->GetID("Rescan"));
    picked = first.path();
    click(mainWindow()->GetID("Scan Folder"));
    picked.reset();  // cancelled: the last folder stays
    click(mainWindow()->GetID("Scan Folder"));
    scanFolderAt(second.path());
    click(mainWindow()->GetID("Rescan"));
    ui.press(host::keyIndex(host::Key::f5), drawMainWindow);
    click(mainWindow()->GetID("Scan Folder"));
    EXPECT_EQ(pickerStarts, (std::vector<std::string>{" above 7", first.path() + " above 7", second.path() + " above 7"}));
    EXPECT_EQ(scanned(first), 1);
    EXPECT_EQ(scanned(second), 3);
    EXPECT_EQ(occurrences(logsPane.text(), "Path to Scan: "), 4);
}

TEST_F(MainWindowTest, CtrlTabSwitchesTabsInsteadOfWindows) {
    EXPECT_EQ(tabBar()->SelectedTabId, tabId("Logs"));  // the window opens on Logs, though Summary leads
    for (bool shift : {false, true, true, true})
        ui.press(ImGuiKey_Tab, drawMainWindow, true, shift, takeWindowKeys);
    EXPECT_EQ(tabBar()->SelectedTabId, tabId("About"));  // one right, three left: round the end
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

// The picture's rows 0 and 31 in its first frame (t = 1/60), and far along
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

class AppTest : public testing::Test {
protected:
    void SetUp() override { resetState(); }
    void TearDown() override { stopScan(); }
};

// Idle, the loop draws a few frames after an event and then only waits; a
// wait that brings nothing draws nothing.
TEST_F(AppTest, IdleWindowWaitsAndDrawsOnlyAfterEvents) {
    using E = host::Events;
    events = {E::none, E::none, E::none, E::none, E::none, E::some, E::none, E::none, E::none, E::none, E::none};
    EXPECT_EQ(runApp(), 0);
    std::vector<std::string> expected = {"create repodeck", "poll", "frame", "poll", "frame", "poll", "frame", "wait",
                                         "wait", "wait", "frame", "poll", "frame", "poll", "frame", "poll", "frame",
                                         "wait", "wait", "wait", "shutdown, abort raised", "destroy, context gone"};
    EXPECT_EQ(calls, expected);
}

TEST_F(AppTest, ZoomKeysRebuildTheFontAtTheNewSize) {
    events.assign(9, host::Events::some);
    zoomKeys = 0;
    EXPECT_EQ(runApp(), 0);
    std::string fonts;
    for (const std::string& call : calls)
        fonts += call.rfind("fonts", 0) == 0 ? call + ", " : "";
    EXPECT_EQ(fonts, "fonts 14, fonts 16, fonts 13, fonts 12, ");
    zoom = 1.0f;
}

TEST_F(AppTest, CloseDuringAScanTearsTheWindowDownThenStopsTheScan) {
    TempFolder root;
    makeSlowRepositories(root, {"first"});
    ASSERT_TRUE(startMainScan(root.path().c_str()));
    for (int i = 0; i < 2000 && !(scanState.optionScanRunning && scanState.childRunning()); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // 20 s: a hang, not a measure
    events = {host::Events::none, host::Events::none};
    EXPECT_EQ(runApp(), 0);
    // No frame after the close; abortRequested raised before the teardown.
    std::vector<std::string> expected = {"create repodeck", "poll", "frame", "poll", "frame", "poll",
                                         "shutdown, abort raised", "destroy, context gone"};
    EXPECT_EQ(calls, expected);
    EXPECT_TRUE(scanRunningAtDestroy);
    EXPECT_FALSE(scanState.busy());
    EXPECT_NE(logsPane.text().find("Error Code: -1"), std::string::npos) << logsPane.text();
}

}  // namespace
