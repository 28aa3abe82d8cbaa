#include "log/LogPane.h"

#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/Headless.h"

namespace {

int count(const std::string& text, const std::string& needle) {
    int found = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        found++;
    return found;
}

void clearPane(LogPane& pane) {
    std::lock_guard<std::recursive_mutex> lock(pane.mutex);
    pane.clear();
}

TEST(LogPane, ConcurrentWritersNeverTearALine) {
    LogPane pane;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; t++)
        writers.emplace_back([&pane, t] {
            for (int i = 0; i < 2000; i++)
                pane.addLog("writer %d line %d end\n", t, i);
        });
    Headless ui;
    for (int frame = 0; frame < 20; frame++)  // drawing while they write
        ui.frame([&] { ImGui::Begin("pane"), pane.draw(), ImGui::End(); });
    for (std::thread& writer : writers)
        writer.join();
    EXPECT_EQ(pane.lineOffsets.Size, 8001);
    EXPECT_EQ(count(pane.text(), "writer "), 8000);
    EXPECT_EQ(count(pane.text(), " end\n"), 8000);
}

// The pane drawn in a window that fills the display, as a tab's child does.
class LogPaneDraw : public testing::Test {
protected:
    void draw() {
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(600, 300));
        ImGui::Begin("pane", nullptr, ImGuiWindowFlags_NoDecoration);
        pane.draw(focusFilter);
        ImGui::End();
    }
    void frames(int n) {
        while (n-- > 0)
            ui.frame([&] { draw(); });
    }
    // The pane's non-empty lines as drawn, below the buttons and the filter
    // box (Dear ImGui's log adds empty lines between clipper steps).
    std::string shown() {
        std::string all = ui.capture([&] { draw(); }), lines;
        all.erase(std::remove(all.begin(), all.end(), '\r'), all.end());  // Windows' log ends lines in CR LF
        for (size_t at = all.find("---\n") + 4, end; at < all.size(); at = end + 1)
            if ((end = all.find('\n', at)) > at)
                lines += all.substr(at, end - at + 1);
        return lines;
    }
    void setFilter(const char* text) {
        snprintf(pane.filter.InputBuf, sizeof pane.filter.InputBuf, "%s", text);
        pane.filter.Build();
    }
    void clickButton(const char* label) { EXPECT_TRUE(ui.click(ImGui::FindWindowByName("pane")->GetID(label), [&] { draw(); })); }

    LogPane pane;
    Headless ui{600, 300};
    bool focusFilter = false;
};

TEST_F(LogPaneDraw, FiltersLinesAlsoWhileTheyArriveAndEscapeClears) {
    pane.addLog("alpha one\nbeta two\nalpha three\n");
    setFilter("-three,alpha");
    EXPECT_EQ(shown(), "alpha one\n");
    pane.write("alpha fo");
    EXPECT_EQ(shown(), "alpha one\nalpha fo\n");
    pane.write("ur\nbeta five\n");
    EXPECT_EQ(shown(), "alpha one\nalpha four\n");
    ui.press(ImGuiKey_Escape, [&] { draw(); });
    EXPECT_EQ(shown(), "alpha one\nbeta two\nalpha three\nalpha four\nbeta five\n");
    focusFilter = true;  // Ctrl+F: typing goes to the box
    frames(2);
    focusFilter = false;
    ImGui::GetIO().AddInputCharacter('z');
    frames(2);
    EXPECT_STREQ(pane.filter.InputBuf, "z");
}

// Copy puts exactly the shown lines on the clipboard, one line feed each, and
// Clear keeps the filter.
TEST_F(LogPaneDraw, CopyTakesExactlyTheShownLinesAndClearKeepsTheFilter) {
    struct Case {
        const char *text, *filter, *copied;
    } cases[] = {
        {"one\ntwo\n", "", "one\ntwo\n"}, {"one\ntwo", "", "one\ntwo\n"},        {"", "", ""},
        {"a 1\nb 2\na 3\nb 4", "b", "b 2\nb 4\n"}, {"a 1\nb 2\na 3\n", "-b", "a 1\na 3\n"},
    };
    frames(1);
    for (const Case& c : cases) {
        clearPane(pane);
        pane.addLog("%s", c.text);
        setFilter(c.filter);
        ui.clipboard = "untouched";
        clickButton("Copy");
        EXPECT_EQ(ui.clipboard, c.copied) << c.text << " / " << c.filter;
    }
    setFilter("odd");
    for (int i = 0; i < 1000; i++)  // far more than the view shows
        pane.addLog("line %d %s\n", i, i % 2 ? "odd" : "even");
    clickButton("Copy");
    EXPECT_EQ(count(ui.clipboard, "odd\n"), 500);
    EXPECT_EQ(ui.clipboard.substr(ui.clipboard.size() - 13), "line 999 odd\n");

    LogPane::clipboardLimit = 100;
    clickButton("Copy");
    LogPane::clipboardLimit = SIZE_MAX;
    EXPECT_EQ(count(ui.clipboard, "odd\n"), 500);  // unchanged
    EXPECT_EQ(count(pane.text(), "[repodeck] Copy: "), 1) << pane.text();

    clickButton("Clear");
    EXPECT_EQ(pane.text(), "");
    pane.addLog("even\nodd\n");
    EXPECT_EQ(shown(), "odd\n");
}

// A million lines are filtered over several frames and end with what a test
// of every line gives.
TEST_F(LogPaneDraw, AMillionLinesAreFilteredAcrossFrames) {
    std::string block;
    for (int i = 0; i < 1000; i++)
        block += i % 100 ? "plain line of text\n" : "needle in the line\n";
    for (int i = 0; i < 1000; i++)
        pane.addLog("%s", block.c_str());
    frames(1);
    setFilter("needle");
    int frameCount = 0;
    double slowest = 0;
    for (; frameCount < 100000 && (frameCount == 0 || pane.filtering()); frameCount++) {
        auto start = std::chrono::steady_clock::now();
        frames(1);
        slowest = std::max(slowest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    EXPECT_GT(frameCount, 2);
    EXPECT_LT(slowest, 1.0);  // a bound that only catches a frame doing all the work
    clickButton("Copy");
    EXPECT_EQ(ui.clipboard.size(), 10000 * std::string("needle in the line\n").size());
}

TEST_F(LogPaneDraw, FollowsTheBottomUnlessScrolledUpAndHomeEndJump) {
    for (int i = 0; i < 500; i++)
        pane.addLog("line %d\n", i);
    frames(3);
    ImGuiWindow* child = Headless::window("scrolling");
    ASSERT_NE(child, nullptr);
    auto atBottom = [&] { return child->Scroll.y > 0 && child->Scroll.y == child->ScrollMax.y; };
    pane.addLog("one more\n");
    frames(2);
    EXPECT_TRUE(atBottom());
    ImGui::GetIO().MousePos = ImVec2(300, 200);  // the wheel scrolls up; new lines leave the view alone
    ImGui::GetIO().MouseWheel = 5;
    frames(1);
    ImGui::GetIO().MouseWheel = 0;
    frames(1);
    float scrolledTo = child->Scroll.y;
    pane.addLog("later\n");
    frames(2);
    EXPECT_EQ(child->Scroll.y, scrolledTo);
    EXPECT_FALSE(atBottom());
    ui.press(ImGuiKey_Home, [&] { draw(); });
    EXPECT_EQ(child->Scroll.y, 0);
    ui.press(ImGuiKey_End, [&] { draw(); });
    frames(1);
    EXPECT_TRUE(atBottom());
    pane.addLog("%s\n", std::string(3000, 'x').c_str());  // long lines scroll sideways
    frames(2);
    EXPECT_GT(child->ScrollMax.x, 1000);
}

}  // namespace
