// Log pane figures: how many lines a second four threads append to one pane,
// and what a whole frame costs once that pane holds a million lines, drawn in a
// headless Dear ImGui context at 1280 by 800 the way the main window draws a
// tab: unfiltered, with a filter that passes one line in a hundred, the slowest
// of the frames that work the filter through every line after its text
// changes, and the frame in which Copy takes 400,000 lines.
// Prints one "name value" line per figure, each the median of the runs.
// "LogPaneBench append" stops after the appends, for a profile of them alone.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <latch>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/PaneView.h"
#include "tests/Headless.h"

namespace {

constexpr int threadCount = 4;
constexpr int lineCount = 1000000;
constexpr int linesPerThread = lineCount / threadCount;
constexpr int lineLength = 80;  // characters before the newline
constexpr int runs = 5;
constexpr int framesPerRun = 200;
const char filterText[] = "needle";

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Every hundredth line of each thread holds the filter's word; the padding
// never does.
std::vector<std::string> linesOf(int thread) {
    std::vector<std::string> lines(linesPerThread);
    for (int i = 0; i < linesPerThread; i++) {
        char text[lineLength + 1];
        int used = snprintf(text, sizeof text, "thread %d line %06d %s ", thread, i, i % 100 == 0 ? filterText : "");
        for (int k = used; k < lineLength; k++)
            text[k] = char('a' + (k % 5));
        text[lineLength] = 0;
        lines[i] = text;
    }
    return lines;
}

// One line per addLog call, the way the scan writes a pane.
double appendOnce(LogPane& pane, const std::vector<std::vector<std::string>>& lines) {
    pane.clear();
    std::latch ready(threadCount + 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; t++)
        threads.emplace_back([&, t] {
            ready.arrive_and_wait();
            for (const std::string& line : lines[t])
                pane.addLog("%s\n", line.c_str());
        });
    ready.arrive_and_wait();
    Clock::time_point start = Clock::now();
    for (std::thread& thread : threads)
        thread.join();
    return lineCount / secondsSince(start);
}

// The main window's way of showing a tab: a full-size window, a bordered child.
void drawTab(LogPane& pane, bool focusFilter = false, const char* tab = "Status") {
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImGui::GetIO().DisplaySize);
    ImGui::Begin("Main", nullptr, ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoSavedSettings);
    ImGui::BeginChild(tab, ImVec2(0, 0), true, ImGuiWindowFlags_HorizontalScrollbar);
    pane.draw(focusFilter);
    ImGui::EndChild();
    ImGui::End();
}

double msPerFrame(Headless& ui, LogPane& pane) {
    Clock::time_point start = Clock::now();
    for (int i = 0; i < framesPerRun; i++)
        ui.frame([&] { drawTab(pane); });
    return secondsSince(start) * 1000 / framesPerRun;
}

double frameMedian(Headless& ui, LogPane& pane) {
    std::vector<double> costs;
    for (int run = 0; run < runs; run++)
        costs.push_back(msPerFrame(ui, pane));
    return median(costs);
}

// Frames until the filter has been through every line; the slowest one's
// time in milliseconds, and how many there were.
std::pair<double, int> framesToFilter(Headless& ui, LogPane& pane) {
    double slowest = 0;
    int frames = 0;
    do {
        Clock::time_point start = Clock::now();
        ui.frame([&] { drawTab(pane); });
        slowest = std::max(slowest, secondsSince(start) * 1000);
        frames++;
    } while (pane.filtering());
    return {slowest, frames};
}

// The frame in which the Copy button, found by the mouse, is let go; in a tab
// of its own, as each pane has.
double copyFrameMs(Headless& ui, LogPane& pane) {
    ImGuiIO& io = ImGui::GetIO();
    auto draw = [&] { drawTab(pane, false, "Logs"); };
    ui.frame(draw);
    ImGuiID copy = Headless::window("Main/Logs")->GetID("Copy");
    for (io.MousePos = ImVec2(4, 4); GImGui->HoveredId != copy && io.MousePos.y < 100;)
        if ((io.MousePos.x += 8) > 400)
            io.MousePos = ImVec2(4, io.MousePos.y + 4);
        else
            ui.frame(draw);
    io.MouseDown[0] = true;
    ui.frame(draw);
    io.MouseDown[0] = false;
    Clock::time_point start = Clock::now();
    ui.frame(draw);
    return secondsSince(start) * 1000;
}

}  // namespace

int main(int argc, char** argv) {
    bool appendOnly = argc > 1 && strcmp(argv[1], "append") == 0;
    std::vector<std::vector<std::string>> lines;
    for (int t = 0; t < threadCount; t++)
        lines.push_back(linesOf(t));

    LogPane pane;
    std::vector<double> rates;
    for (int run = 0; run < runs; run++)
        rates.push_back(appendOnce(pane, lines));
    printf("append_lines_per_second %.0f\n", median(rates));
    if (appendOnly)
        return 0;

    Headless ui(1280, 800);
    ImGuiIO& io = ImGui::GetIO();
    for (int i = 0; i < 5; i++)  // layout settles, the view reaches the bottom
        ui.frame([&] { drawTab(pane); });
    printf("frame_ms_unfiltered %.4f\n", frameMedian(ui, pane));

    // The filter is typed into its box after Ctrl+F, one character a frame.
    for (int i = 0; i < 2; i++)
        ui.frame([&] { drawTab(pane, true); });
    for (const char* c = filterText; *c; c++) {
        io.AddInputCharacter(*c);
        ui.frame([&] { drawTab(pane); });
    }
    framesToFilter(ui, pane);
    if (strcmp(pane.filter.input, filterText) != 0) {
        fprintf(stderr, "LogPaneBench: the filter box did not take the text (holds \"%s\")\n", pane.filter.input);
        return 1;
    }
    int passing = 0;
    std::string text = pane.text();
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        passing += pane.filter.passes({std::string_view(text).substr(start, end - start)});
    if (passing != lineCount / 100) {
        fprintf(stderr, "LogPaneBench: %d lines pass the filter, not one in a hundred\n", passing);
        return 1;
    }
    printf("frame_ms_filtered %.4f\n", frameMedian(ui, pane));

    // One more character and back: the filter goes through every line again.
    std::vector<double> slowest, frames;
    for (int run = 0; run < runs; run++) {
        io.AddInputCharacter('x');
        framesToFilter(ui, pane);
        io.KeysDown[ImGuiKey_Backspace] = true;
        ui.frame([&] { drawTab(pane); });
        io.KeysDown[ImGuiKey_Backspace] = false;
        auto [ms, count] = framesToFilter(ui, pane);
        slowest.push_back(ms);
        frames.push_back(count + 1);
    }
    if (strcmp(pane.filter.input, filterText) != 0) {
        fprintf(stderr, "LogPaneBench: backspace left \"%s\" in the filter box\n", pane.filter.input);
        return 1;
    }
    printf("frame_ms_filter_change %.4f\n", median(slowest));
    printf("frames_filter_change %.0f\n", median(frames));

    // Copy of 400,000 unfiltered lines.
    LogPane copied;
    for (int i = 0; i < 400000; i++)
        copied.addLog("%s\n", lines[i / linesPerThread][i % linesPerThread].c_str());
    std::vector<double> copies;
    for (int run = 0; run < runs; run++)
        copies.push_back(copyFrameMs(ui, copied));
    if (ui.clipboard.size() != 400000 * size_t(lineLength + 1)) {
        fprintf(stderr, "LogPaneBench: Copy took %zu bytes, not 400,000 lines\n", ui.clipboard.size());
        return 1;
    }
    printf("frame_ms_copy %.4f\n", median(copies));
    return 0;
}
