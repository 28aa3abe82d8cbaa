#include "log/LogPane.h"

#include <cfloat>
#include <climits>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/Headless.h"

namespace {

int countLines(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        count++;
    return count;
}

TEST(LogPane, KeepsLineStartsAcrossPieces) {
    LogPane pane;
    pane.addLog("one\ntwo\n");
    pane.write("thr");
    pane.write("ee\n");
    EXPECT_EQ(pane.text(), "one\ntwo\nthree\n");
    ASSERT_EQ(pane.lineOffsets.Size, 4);
    EXPECT_EQ(pane.lineOffsets[1], 4);
    EXPECT_EQ(pane.lineOffsets[2], 8);
    EXPECT_EQ(pane.lineOffsets[3], 14);
}

TEST(LogPane, IndexesLinesAsTheyArrive) {
    LogPane pane;
    ASSERT_EQ(pane.lineOffsets.Size, 1);
    EXPECT_EQ(pane.lineOffsets[0], 0);
    pane.addLog("abc");
    pane.addLog("def\n");
    ASSERT_EQ(pane.lineOffsets.Size, 2);
    EXPECT_EQ(pane.lineOffsets[1], 7);
    pane.addLog("%s", "");
    EXPECT_EQ(pane.lineOffsets.Size, 2);
    pane.addLog("\n\n\n");
    EXPECT_EQ(pane.lineOffsets.Size, 5);
    {
        std::lock_guard<std::recursive_mutex> lock(pane.mutex);
        pane.clear();
    }
    EXPECT_EQ(pane.lineOffsets.Size, 1);
    EXPECT_EQ(pane.text(), "");
}

TEST(LogPane, WritesNumbersAndStopsTextAtItsFirstZero) {
    LogPane pane;
    pane.write(int32_t(-62));
    pane.write(" ");
    pane.write(int32_t(INT32_MIN));
    pane.write(" ");
    pane.write(int32_t(0));
    pane.write(" ");
    pane.write(uint32_t(UINT32_MAX));
    pane.write(" ");
    pane.write(uint64_t(18446744073709551615ull));
    pane.write(" ");
    pane.write(std::string("kept\0dropped", 12));
    pane.write("%d%s\n");  // text is never taken for a format
    EXPECT_EQ(pane.text(), "-62 -2147483648 0 4294967295 18446744073709551615 kept%d%s\n");
}

TEST(LogPane, AFullPaneSaysSoOnceAndTakesTextAgainAfterClear) {
    LogPane pane;
    pane.textLimit = 100;
    std::string line(59, 'x');
    pane.addLog("%s\n", line.c_str());
    pane.addLog("%s\n", line.c_str());
    pane.addLog("more\n");
    EXPECT_EQ(pane.text(), line + "\n[repodeck] This pane is full; later text is not shown here.\n");
    EXPECT_EQ(pane.lineOffsets.Size, 3);
    {
        std::lock_guard<std::recursive_mutex> lock(pane.mutex);
        pane.clear();
    }
    pane.addLog("%s\n", line.c_str());
    EXPECT_EQ(pane.text(), line + "\n");

    // Long texts are formatted whole, whatever their length.
    LogPane big;
    std::string text(100000, 'y');
    big.addLog("<%s>", text.c_str());
    EXPECT_EQ(big.text(), "<" + text + ">");
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
    std::string drawn;
    {
        Headless ui;
        for (int frame = 0; frame < 20; frame++)
            ui.frame([&] {
                ImGui::Begin("pane");
                pane.draw();
                ImGui::End();
            });
    }
    for (std::thread& writer : writers)
        writer.join();
    std::string text = pane.text();
    EXPECT_EQ(pane.lineOffsets.Size, threads * lines + 1);
    EXPECT_EQ(countLines(text, " end\n"), threads * lines);
    EXPECT_EQ(countLines(text, "writer "), threads * lines);
}

// The pane drawn in a window that fills the display, as a tab's child does.
struct DrawnPane {
    LogPane pane;
    Headless ui{600, 300};

    void draw() {
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(600, 300));
        ImGui::Begin("pane", nullptr, ImGuiWindowFlags_NoDecoration);
        pane.draw();
        ImGui::End();
    }
    // The pane's lines as drawn, without the buttons and the filter box above.
    std::string shown() {
        std::string all = ui.capture([&] { draw(); });
        size_t rule = all.find("---\n");
        return rule == std::string::npos ? all : all.substr(rule + 4);
    }
    void setFilter(const char* text) {
        snprintf(pane.filter.InputBuf, sizeof pane.filter.InputBuf, "%s", text);
        pane.filter.Build();
    }
    // Buttons sit in one row at the top: "Clear", then "Copy".
    ImVec2 clearButton() const { return ImVec2(12, 14); }
    ImVec2 copyButton() const {
        const ImGuiStyle& style = ImGui::GetStyle();
        ImFont* font = ImGui::GetIO().Fonts->Fonts[0];
        float clearWidth = font->CalcTextSizeA(font->FontSize, FLT_MAX, 0, "Clear").x + style.FramePadding.x * 2;
        return ImVec2(style.WindowPadding.x + clearWidth + style.ItemSpacing.x + 6, 14);
    }
};

TEST(LogPaneDraw, ShowsEveryLineAndFiltersIncludeAndExclude) {
    DrawnPane view;
    view.pane.addLog("alpha one\nbeta two\nalpha three\n");
    std::string all = view.shown();
    EXPECT_NE(all.find("alpha one"), std::string::npos);
    EXPECT_NE(all.find("beta two"), std::string::npos);

    view.setFilter("-three,alpha");
    std::string filtered = view.shown();
    EXPECT_NE(filtered.find("alpha one"), std::string::npos);
    EXPECT_EQ(filtered.find("beta two"), std::string::npos);
    EXPECT_EQ(filtered.find("alpha three"), std::string::npos);

    // Lines that arrive while a filter is set are tested too, also the last
    // line while it is still being written.
    view.pane.write("alpha fo");
    EXPECT_NE(view.shown().find("alpha fo"), std::string::npos);
    view.pane.write("ur\nbeta five\n");
    filtered = view.shown();
    EXPECT_NE(filtered.find("alpha four"), std::string::npos);
    EXPECT_EQ(filtered.find("beta five"), std::string::npos);

    view.setFilter("");
    EXPECT_NE(view.shown().find("beta five"), std::string::npos);
}

TEST(LogPaneDraw, ClearButtonEmptiesOnlyThatPaneAndKeepsItsFilter) {
    DrawnPane view;
    LogPane other;
    other.addLog("elsewhere\n");
    view.pane.addLog("something\n");
    view.setFilter("after");
    view.ui.click(view.clearButton(), [&] { view.draw(); });
    EXPECT_EQ(view.pane.text(), "");
    EXPECT_EQ(view.pane.lineOffsets.Size, 1);
    EXPECT_STREQ(view.pane.filter.InputBuf, "after");
    EXPECT_EQ(other.text(), "elsewhere\n");
    view.pane.addLog("before\n");
    view.pane.addLog("after\n");
    std::string shown = view.shown();
    EXPECT_NE(shown.find("after"), std::string::npos);
    EXPECT_EQ(shown.find("before"), std::string::npos);
}

TEST(LogPaneDraw, CopyTakesEveryPassingLineNotOnlyTheVisibleOnes) {
    DrawnPane view;
    for (int i = 0; i < 1000; i++)
        view.pane.addLog("line %d %s\n", i, i % 2 ? "odd" : "even");
    view.ui.click(view.copyButton(), [&] { view.draw(); });
    EXPECT_EQ(countLines(view.ui.clipboard, "line "), 1000);
    EXPECT_NE(view.ui.clipboard.find("line 999 odd"), std::string::npos);

    view.setFilter("odd");
    view.ui.clipboard.clear();
    view.ui.click(view.copyButton(), [&] { view.draw(); });
    EXPECT_EQ(countLines(view.ui.clipboard, "line "), 500);
    EXPECT_EQ(countLines(view.ui.clipboard, "even"), 0);
}

ImGuiWindow* scrollingChild() {
    for (ImGuiWindow* window : ImGui::GetCurrentContext()->Windows)
        if (strstr(window->Name, "scrolling"))
            return window;
    return nullptr;
}

TEST(LogPaneDraw, FollowsNewLinesAtTheBottomAndStaysPutWhenScrolledUp) {
    DrawnPane view;
    for (int i = 0; i < 500; i++)
        view.pane.addLog("line %d\n", i);
    for (int i = 0; i < 3; i++)
        view.ui.frame([&] { view.draw(); });
    ImGuiWindow* child = scrollingChild();
    ASSERT_NE(child, nullptr);
    EXPECT_GT(child->Scroll.y, 0);
    EXPECT_EQ(child->Scroll.y, child->ScrollMax.y);

    view.pane.addLog("one more\n");
    for (int i = 0; i < 2; i++)
        view.ui.frame([&] { view.draw(); });
    EXPECT_EQ(child->Scroll.y, child->ScrollMax.y);

    // The wheel over the text scrolls up; new lines then leave the view alone.
    ImGui::GetIO().MousePos = ImVec2(300, 200);
    ImGui::GetIO().MouseWheel = 5;
    view.ui.frame([&] { view.draw(); });
    ImGui::GetIO().MouseWheel = 0;
    view.ui.frame([&] { view.draw(); });
    float scrolledTo = child->Scroll.y;
    EXPECT_LT(scrolledTo, child->ScrollMax.y);
    for (int i = 0; i < 50; i++)
        view.pane.addLog("later %d\n", i);
    for (int i = 0; i < 2; i++)
        view.ui.frame([&] { view.draw(); });
    EXPECT_EQ(child->Scroll.y, scrolledTo);
}

TEST(LogPaneDraw, LongLinesScrollSidewaysInsteadOfWrapping) {
    DrawnPane view;
    view.pane.addLog("%s\n", std::string(3000, 'x').c_str());
    for (int i = 0; i < 3; i++)
        view.ui.frame([&] { view.draw(); });
    ImGuiWindow* child = scrollingChild();
    ASSERT_NE(child, nullptr);
    EXPECT_GT(child->ScrollMax.x, 1000);
    EXPECT_EQ(child->ScrollMax.y, 0);
}

}  // namespace
