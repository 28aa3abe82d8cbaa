#include "log/LogPane.h"

#include <chrono>
#include <climits>
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

TEST(LogPane, IndexesLineStartsAcrossPiecesAndClear) {
    LogPane pane;
    pane.addLog("abc");
    pane.write("def\n");
    pane.addLog("%s", "");
    pane.addLog("\n\n\n");
    EXPECT_EQ(pane.text(), "abcdef\n\n\n\n");
    std::vector<int> offsets(pane.lineOffsets.begin(), pane.lineOffsets.end());
    EXPECT_EQ(offsets, (std::vector<int>{0, 7, 8, 9, 10}));
    clearPane(pane);
    EXPECT_EQ(pane.lineOffsets.Size, 1);
    EXPECT_EQ(pane.text(), "");
}

TEST(LogPane, WritesNumbersAndStopsTextAtItsFirstZero) {
    LogPane pane;
    pane.write(int32_t(INT32_MIN));
    pane.write(" ");
    pane.write(uint32_t(UINT32_MAX));
    pane.write(" ");
    pane.write(uint64_t(18446744073709551615ull));
    pane.write(std::string(" kept\0dropped", 13));
    pane.write("%d%s\n");  // text is never taken for a format
    EXPECT_EQ(pane.text(), "-2147483648 4294967295 18446744073709551615 kept%d%s\n");
}

TEST(LogPane, AFullPaneSaysSoOnceAndTakesTextAgainAfterClear) {
    LogPane pane;
    pane.textLimit = 100;
    std::string line(59, 'x');
    for (int i = 0; i < 3; i++)
        pane.addLog("%s\n", line.c_str());
    EXPECT_EQ(pane.text(), line + "\n[repodeck] This pane is full; later text is not shown here.\n");
    clearPane(pane);
    pane.addLog("%s\n", line.c_str());
    EXPECT_EQ(pane.text(), line + "\n");
}

TEST(LogPane, ConcurrentWritersNeverTearALine) {
    LogPane pane;
    constexpr int threads = 4, lines = 2000;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; t++)
        writers.emplace_back([&pane, t] {
            for (int i = 0; i < lines; i++)
                pane.addLog("writer %d line %d end\n", t, i);
        });
    {
        Headless ui;
        for (int frame = 0; frame < 20; frame++)
            ui.frame([&] { ImGui::Begin("pane"), pane.draw(), ImGui::End(); });
    }
    for (std::thread& writer : writers)
        writer.join();
    EXPECT_EQ(pane.lineOffsets.Size, threads * lines + 1);
    EXPECT_EQ(count(pane.text(), "writer "), threads * lines);
    EXPECT_EQ(count(pane.text(), " end\n"), threads * lines);
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
        for (int i = 0; i < n; i++)
            ui.frame([&] { draw(); });
    }
    // The pane's non-empty lines as drawn, without the buttons and the filter
    // box above (Dear ImGui's log adds empty lines between clipper steps).
    std::string shown() {
        std::string all = ui.capture([&] { draw(); }), lines;
        for (size_t at = all.find("---\n") + 4, end; at < all.size(); at = end + 1)
            if ((end = all.find('\n', at)) > at)
                lines += all.substr(at, end - at + 1);
        return lines;
    }
    void setFilter(const char* text) {
        snprintf(pane.filter.InputBuf, sizeof pane.filter.InputBuf, "%s", text);
        pane.filter.Build();
    }
    // Buttons sit in one row at the top: "Clear", then "Copy".
    void clickButton(const char* label) {
        frames(1);
        ImGuiWindow* window = ImGui::FindWindowByName("pane");
        ImGuiID id = window->GetID(label);
        for (float x = 10; x < 200; x += 4) {
            ImGui::GetIO().MousePos = ImVec2(x, 14);
            frames(1);
            if (GImGui->HoveredId == id)
                return ui.click(ImGui::GetIO().MousePos, [&] { draw(); });
        }
        FAIL() << label << " not found";
    }
    ImGuiWindow* scrolling() {
        for (ImGuiWindow* window : GImGui->Windows)
            if (strstr(window->Name, "scrolling"))
                return window;
        return nullptr;
    }

    LogPane pane;
    Headless ui{600, 300};
    bool focusFilter = false;
};

TEST_F(LogPaneDraw, FiltersIncludeAndExcludeAlsoOnLinesStillArriving) {
    pane.addLog("alpha one\nbeta two\nalpha three\n");
    EXPECT_NE(shown().find("beta two"), std::string::npos);
    setFilter("-three,alpha");
    EXPECT_EQ(shown(), "alpha one\n");
    pane.write("alpha fo");
    EXPECT_EQ(shown(), "alpha one\nalpha fo\n");
    pane.write("ur\nbeta five\n");
    EXPECT_EQ(shown(), "alpha one\nalpha four\n");
    // Escape empties the box and shows everything again.
    ui.press(ImGuiKey_Escape, [&] { draw(); });
    EXPECT_STREQ(pane.filter.InputBuf, "");
    EXPECT_NE(shown().find("beta five"), std::string::npos);
}

// Copy puts exactly the shown lines on the clipboard, one line feed each.
TEST_F(LogPaneDraw, CopyTakesExactlyTheShownLines) {
    struct Case {
        const char *text, *filter, *copied;
    } cases[] = {
        {"one\ntwo\n", "", "one\ntwo\n"},
        {"one\ntwo", "", "one\ntwo\n"},  // an open last line gets its line feed
        {"", "", ""},
        {"a 1\nb 2\na 3\nb 4", "b", "b 2\nb 4\n"},
        {"a 1\nb 2\na 3\n", "-b", "a 1\na 3\n"},
    };
    for (const Case& c : cases) {
        clearPane(pane);
        pane.addLog("%s", c.text);
        setFilter(c.filter);
        ui.clipboard = "untouched";
        clickButton("Copy");
        EXPECT_EQ(ui.clipboard, c.copied) << c.text << " / " << c.filter;
    }
    // Lines scrolled out of view are copied too.
    clearPane(pane);
    setFilter("odd");
    for (int i = 0; i < 1000; i++)
        pane.addLog("line %d %s\n", i, i % 2 ? "odd" : "even");
    clickButton("Copy");
    EXPECT_EQ(count(ui.clipboard, "\n"), 500);
    EXPECT_EQ(ui.clipboard.substr(ui.clipboard.size() - 13), "line 999 odd\n");
}

TEST_F(LogPaneDraw, CopyTooLargeForTheClipboardSaysSoInThePane) {
    pane.addLog("%s\n", std::string(200, 'x').c_str());
    LogPane::clipboardLimit = 100;
    ui.clipboard = "untouched";
    clickButton("Copy");
    LogPane::clipboardLimit = SIZE_MAX;
    EXPECT_EQ(ui.clipboard, "untouched");
    EXPECT_EQ(count(pane.text(), "\n"), 2);
    EXPECT_NE(pane.text().find("[repodeck] Copy: "), std::string::npos) << pane.text();
}

TEST_F(LogPaneDraw, ClearEmptiesThePaneAndKeepsItsFilter) {
    pane.addLog("something\n");
    setFilter("after");
    clickButton("Clear");
    EXPECT_EQ(pane.text(), "");
    EXPECT_STREQ(pane.filter.InputBuf, "after");
    pane.addLog("before\nafter\n");
    EXPECT_EQ(shown(), "after\n");
}

TEST_F(LogPaneDraw, CtrlFPutsTheKeysIntoTheFilterBox) {
    focusFilter = true;
    frames(2);
    focusFilter = false;
    ImGui::GetIO().AddInputCharacter('z');
    frames(2);
    EXPECT_STREQ(pane.filter.InputBuf, "z");
}

// A million lines are filtered over several frames, each showing the lines
// found so far, and end with what a full test of every line gives.
TEST_F(LogPaneDraw, AMillionLinesAreFilteredAcrossFrames) {
    std::string block;
    for (int i = 0; i < 1000; i++)
        block += i % 100 ? "plain line of text\n" : "needle in the line\n";
    for (int i = 0; i < 1000; i++)
        pane.addLog("%s", block.c_str());
    frames(2);
    setFilter("needle");
    int frameCount = 0;
    double slowest = 0;
    do {
        auto start = std::chrono::steady_clock::now();
        frames(1);
        slowest = std::max(slowest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    } while (pane.filtering() && ++frameCount < 100000);
    EXPECT_GT(frameCount, 1);
    EXPECT_LT(slowest, 1.0);  // a bound that only catches a frame doing it all
    ui.clipboard.clear();
    clickButton("Copy");
    EXPECT_EQ(ui.clipboard.size(), 10000 * std::string("needle in the line\n").size());
}

TEST_F(LogPaneDraw, FollowsTheBottomUnlessScrolledUpAndHomeEndJump) {
    for (int i = 0; i < 500; i++)
        pane.addLog("line %d\n", i);
    frames(3);
    ImGuiWindow* child = scrolling();
    ASSERT_NE(child, nullptr);
    EXPECT_GT(child->Scroll.y, 0);
    pane.addLog("one more\n");
    frames(2);
    EXPECT_EQ(child->Scroll.y, child->ScrollMax.y);

    // The wheel over the text scrolls up; new lines then leave the view alone.
    ImGui::GetIO().MousePos = ImVec2(300, 200);
    ImGui::GetIO().MouseWheel = 5;
    frames(1);
    ImGui::GetIO().MouseWheel = 0;
    frames(1);
    float scrolledTo = child->Scroll.y;
    EXPECT_LT(scrolledTo, child->ScrollMax.y);
    pane.addLog("later\n");
    frames(2);
    EXPECT_EQ(child->Scroll.y, scrolledTo);

    ui.press(ImGuiKey_Home, [&] { draw(); });
    EXPECT_EQ(child->Scroll.y, 0);
    ui.press(ImGuiKey_End, [&] { draw(); });
    frames(1);
    EXPECT_EQ(child->Scroll.y, child->ScrollMax.y);
    pane.addLog("%s\n", std::string(3000, 'x').c_str());  // long lines scroll sideways
    frames(2);
    EXPECT_GT(child->ScrollMax.x, 1000);
}

}  // namespace
