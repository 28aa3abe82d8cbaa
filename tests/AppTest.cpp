// The start-up, frame loop and shutdown that both hosts share, over a host
// that records what it is asked and reports the window closed when told to.
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/App.h"
#include "app/Host.h"
#include "log/LogPane.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"
#include "tests/TestRepos.h"

namespace {

std::vector<std::string> calls;
bool windowCanBeMade = true;
int framesBeforeClose = 0;
bool scanRunningAtDestroy = false;
ImVec4 clearColourSeen;

}  // namespace

namespace host {

bool create(const char* title) {
    calls.push_back(std::string("create ") + title);
    return windowCanBeMade;
}

void initBackends() {
    // The context exists, with the theme already laid over the dark preset.
    ImVec4 text = ImGui::GetStyle().Colors[ImGuiCol_Text];
    calls.push_back(text.w == 0.78f ? "initBackends, themed" : "initBackends");
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;  // a test leaves no imgui.ini behind
    io.DisplaySize = ImVec2(1280, 800);
    unsigned char* pixels;
    int width, height;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
}

bool pollEvents() {
    calls.push_back("pollEvents");
    return framesBeforeClose-- > 0;
}

bool isMinimised() { return false; }

void newFrame() {
    calls.push_back("newFrame");
    ImGui::GetIO().DeltaTime = 1.0f / 60;
}

void present(const float clearColour[4]) {
    ImDrawData* drawn = ImGui::GetDrawData();
    calls.push_back(drawn && drawn->CmdListsCount > 0 ? "present, drawn" : "present");
    clearColourSeen = ImVec4(clearColour[0], clearColour[1], clearColour[2], clearColour[3]);
}

void setWindowTitle(const char*) {}
void openLink(const char*) {}

void shutdownBackends() {
    calls.push_back(scanState.abortRequested ? "shutdownBackends, abort raised" : "shutdownBackends");
}

void destroy() {
    calls.push_back(ImGui::GetCurrentContext() ? "destroy" : "destroy, context gone");
    scanRunningAtDestroy = scanState.optionScanThread.joinable() && scanState.optionScanRunning;
}

}  // namespace host

namespace {

class AppTest : public testing::Test {
protected:
    void SetUp() override {
        resetScanState();
        calls.clear();
        windowCanBeMade = true;
        scanRunningAtDestroy = false;
    }
    void TearDown() override { stopScan(); }
};

TEST_F(AppTest, WindowThatCannotBeMadeEndsWithOneAndNothingElse) {
    windowCanBeMade = false;
    EXPECT_EQ(runApp(), 1);
    EXPECT_EQ(calls, std::vector<std::string>{"create repodeck"});
    EXPECT_EQ(ImGui::GetCurrentContext(), nullptr);
}

// A git fetch that runs until the test lets it go (or for five minutes).
const char* waitingGit =
    "if [ \"$1\" = fetch ]; then\n"
    "  touch \"$MARKS/started\"\n"
    "  i=0; while [ ! -f \"$MARKS/go\" ] && [ $i -lt 3000 ]; do sleep 0.1; i=$((i+1)); done\n"
    "fi\n"
    "echo \"stand-in $*\"\n";

TEST_F(AppTest, CloseDuringAScanTearsTheWindowDownThenStopsTheScan) {
    TempFolder temp;
    StandinGit git(waitingGit);
    setenv("MARKS", temp.path().c_str(), 1);
    std::filesystem::create_directories(temp / "tree/first/.git");
    ASSERT_TRUE(startMainScan((temp / "tree").c_str()));
    while (!std::filesystem::exists(temp / "started"))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    framesBeforeClose = 3;
    EXPECT_EQ(runApp(), 0);

    std::vector<std::string> expected = {"create repodeck", "initBackends, themed"};
    for (int i = 0; i < 3; i++)
        expected.insert(expected.end(), {"pollEvents", "newFrame", "present, drawn"});
    // No frame after the close; abortRequested raised before the teardown.
    expected.insert(expected.end(), {"pollEvents", "shutdownBackends, abort raised", "destroy, context gone"});
    EXPECT_EQ(calls, expected);
    EXPECT_TRUE(scanRunningAtDestroy);

    // The fetch was never let go: runApp returned because stopScan ended it.
    EXPECT_FALSE(scanState.optionScanThread.joinable());
    EXPECT_FALSE(scanState.busy());
    EXPECT_NE(logsPane.text().find("Error Code: -1"), std::string::npos) << logsPane.text();

    EXPECT_EQ(clearColourSeen.x, 0.45f);
    EXPECT_EQ(clearColourSeen.y, 0.55f);
    EXPECT_EQ(clearColourSeen.z, 0.60f);
    EXPECT_EQ(clearColourSeen.w, 1.00f);
}

TEST_F(AppTest, CloseWithNoScanEverStartedEndsWithZero) {
    framesBeforeClose = 1;
    EXPECT_EQ(runApp(), 0);
    EXPECT_EQ(calls.back(), "destroy, context gone");
    EXPECT_FALSE(scanState.busy());
}

}  // namespace
