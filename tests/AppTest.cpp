// The start-up, frame loop and shutdown that both hosts share, over a host
// that plays a script of events and records what it is asked; and the folder
// the picker starts in, over a picker that records it.
#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "app/App.h"
#include "app/Host.h"
#include "app/MainWindow.h"
#include "log/LogPane.h"
#include "scan/FolderPicker.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"
#include "tests/TestRepos.h"

namespace {

std::vector<std::string> calls;
std::vector<host::Events> events;  // one per handleEvents; closed when used up
bool scanRunningAtDestroy = false;
std::vector<std::string> pickerStarts;
std::optional<std::string> picked;
int zoomKeys = 8;  // the next key of newFrame's list; 0 to start it

}  // namespace

std::optional<std::string> pickFolder(const std::string& start, uintptr_t) {
    pickerStarts.push_back(start);
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
// Zoom keys held with Ctrl, one a frame: +, +, 0, -, then none.
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
    scanRunningAtDestroy = scanState.optionScanThread.joinable() && scanState.optionScanRunning;
}
bool isMinimised() { return false; }
float contentScale() { return 1; }
FontFiles fontFiles() { return {}; }
int keyIndex(Key key) { return 100 + int(key); }
void setWindowTitle(const char*) {}
uintptr_t nativeWindow() { return 0; }
std::string readmePath() { return {}; }
bool openDocument(const std::string&) { return false; }

}  // namespace host

namespace {

class AppTest : public testing::Test {
protected:
    void SetUp() override {
        resetScanState();
        calls.clear(), events.clear(), pickerStarts.clear();
    }
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

// The fetch sleeps for five minutes: only a stop ends it in time.
TEST_F(AppTest, CloseDuringAScanTearsTheWindowDownThenStopsTheScan) {
    TempFolder temp;
    StandinGit git("[ \"$1\" = fetch ] && touch \"$MARKS/started\" && exec sleep 300\necho \"stand-in $*\"\n");
    setenv("MARKS", temp.path().c_str(), 1);
    std::filesystem::create_directories(temp / "tree/first/.git");
    ASSERT_TRUE(startMainScan((temp / "tree").c_str()));
    while (!std::filesystem::exists(temp / "started"))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    events = {host::Events::none, host::Events::none};
    EXPECT_EQ(runApp(), 0);
    // No frame after the close; abortRequested raised before the teardown.
    std::vector<std::string> expected = {"create repodeck", "poll", "frame", "poll", "frame", "poll",
                                         "shutdown, abort raised", "destroy, context gone"};
    EXPECT_EQ(calls, expected);
    EXPECT_TRUE(scanRunningAtDestroy);
    EXPECT_FALSE(scanState.optionScanThread.joinable());
    EXPECT_FALSE(scanState.busy());
    EXPECT_NE(logsPane.text().find("Error Code: -1"), std::string::npos) << logsPane.text();
}

// The picker starts at home the first time, then where the last scan was;
// a folder named on the command line counts, and Rescan needs no picker.
TEST_F(AppTest, PickerStartsAtTheLastFolderScanned) {
    TempFolder first, second;
    picked = first.path();
    scanFolder();
    picked = std::nullopt;  // cancelled: the last folder stays
    scanFolder();
    scanFolderAt(second.path());
    rescanFolder();
    waitForScan();
    scanFolder();
    EXPECT_EQ(pickerStarts, (std::vector<std::string>{"", first.path(), second.path()}));
    EXPECT_EQ(occurrences(logsPane.text(), "Path to Scan: " + second.path() + "\n"), 2);
}

}  // namespace
