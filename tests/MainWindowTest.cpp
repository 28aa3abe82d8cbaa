// The main window, its log panes and the frame loop in a real headless Dear
// ImGui context, over a host that plays a script of events and records what
// it is asked, and a picker that records where it opens.
#include <chrono>
#include <sstream>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "app/App.h"
#include "app/Host.h"
#include "app/MainWindow.h"
#include "log/LogPane.h"
#include "scan/FolderPicker.h"
#include "scan/RepositoryState.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"
#include "tests/Headless.h"
#include "tests/TempFolder.h"

namespace {
// What the loop asked of the host: c create, p poll, w wait, f a frame shown,
// s shutdown (s! with abortRequested raised), d destroy (D with a context left).
std::string calls, fonts;
std::string events;  // one a handleEvents: n none, s some; closed when used up
std::string keys;    // one a frame, held with Ctrl; a space for none
std::vector<std::string> titles, opened, pickerStarts;
std::optional<std::string> picked;
}  // namespace

std::optional<std::string> pickFolder(const std::string& start, uintptr_t owner) {
    pickerStarts.push_back(start + " above " + std::to_string(owner));
    return picked;
}

namespace host {
bool create(const char*) { calls += "c"; return true; }
void initBackends() {
    ImGui::GetIO().IniFilename = nullptr;  // a test leaves no imgui.ini behind
    ImGui::GetIO().DisplaySize = ImVec2(1280, 800);
    ImGui::GetIO().KeyMap[ImGuiKey_Space] = ImGuiKey_Space;  // which keyboard navigation asks for
}
Events handleEvents(double wait) {
    calls += wait > 0 ? "w" : "p";
    char next = events[0];
    events.erase(0, 1);
    return next == 's' ? Events::some : next == 'n' ? Events::none : Events::closed;
}
void newFrame() {
    ImGuiIO& io = ImGui::GetIO();
    std::fill(std::begin(io.KeysDown), std::end(io.KeysDown), false);
    io.KeyCtrl = io.KeysDown[uint8_t(keys[0])] = keys[0] > ' ';
    keys.erase(0, 1);
}
void present(const float[4]) { calls += "f"; }
void reloadFontTexture() { fonts += std::to_string(int(ImGui::GetIO().Fonts->Fonts[0]->FontSize)) + " "; }
void shutdownBackends() { calls += scanState.abortRequested ? "s!" : "s"; }
void destroy() { calls += ImGui::GetCurrentContext() ? "D" : "d"; }
bool isMinimised() { return false; }
float contentScale() { return 1; }
FontFiles fontFiles() { return {}; }
int keyIndex(Key key) { return "f5=-0+_"[int(key)]; }
void setWindowTitle(const char* title) { titles.push_back(title); }
uintptr_t nativeWindow() { return 7; }
std::string readmePath() { return "/doc/README.md"; }
bool openLink(const std::string& path) { return opened.push_back(path), path != readmePath(); }
}  // namespace host

namespace {

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        frameCounter = 0;
        windowTitle.clear();
        for (std::vector<std::string>* list : {&titles, &opened, &pickerStarts})
            list->clear();
        scanState.abortRequested = false;
        std::lock_guard<std::recursive_mutex> lock(logsPane.mutex);
        logsPane.clear();
        frames(2);
    }
    void TearDown() override { stopScan(); }

    void frames(int count) {
        for (int i = 0; i < count; i++)
            ui.frame(draw, takeWindowKeys);
    }
    std::string text() { return ui.capture(draw); }
    void click(ImVec2 pos) { ui.click(pos, draw, takeWindowKeys); }
    // Clicks an item where a user finds it: the mouse sweeps the display
    // until Dear ImGui reports the item hovered.
    void click(ImGuiID id) {
        ImGuiIO& io = ImGui::GetIO();
        for (io.MousePos.y = 4; io.MousePos.y < io.DisplaySize.y; io.MousePos.y += 10)
            for (io.MousePos.x = 4; io.MousePos.x < io.DisplaySize.x; io.MousePos.x += 24)
                if (frames(1); GImGui->HoveredId == id)
                    return click(io.MousePos);
        ADD_FAILURE() << "no item " << id << " shows";
    }
    // A button of the main window, or of the first child whose name holds window.
    void click(const char* label, const char* window = "Main") { click(Headless::window(window)->GetID(label)); }
    // A key held for one frame with Ctrl and Shift as given.
    void press(int key, bool ctrl = false, bool shift = false) {
        for (bool down : {true, false}) {
            ImGuiIO& io = ImGui::GetIO();
            io.KeysDown[key] = down;
            io.KeyCtrl = down && ctrl;
            io.KeyShift = down && shift;
            frames(1);
        }
    }
    static ImGuiID tabId(const char* label) { return ImHashStr(label, 0, ImGui::FindWindowByName("Main")->GetID("#tabBar")); }

    // The Logs pane's lines as drawn, below its filter box and above the
    // labels of the tabs after it, without the empty lines that Dear ImGui's
    // log puts between the steps of a clipper.
    std::string shown() {
        std::string all = text(), lines, line;
        size_t start = all.find("---\n") + 4;
        std::istringstream in(all.substr(start, all.rfind("Repositories Updates") - start));
        while (std::getline(in, line))
            lines += line.empty() ? "" : line + "\n";
        return lines;
    }
    std::string copied() {
        ui.clipboard = "untouched";
        click("Copy", "/Logs_");
        return ui.clipboard;
    }
    // As a user does: Escape empties the box, Ctrl+F gives it the keys, then the text and Enter.
    void filterBy(const char* text) {
        press(ImGuiKey_Escape);
        press(host::keyIndex(host::Key::f), true);
        ImGui::GetIO().AddInputCharactersUTF8(text);
        press(ImGuiKey_Enter);
    }

    bool animating = false;  // what drawMainWindow said of the last frame
    Headless::Draw draw = [this] { animating = drawMainWindow(); };
    Headless ui;
};

// A scan over repositories whose stand-in git fetch sleeps for a minute: the
// status line and the title count them beside the spinner (the title written
// only when it changes); "Stop" ends the scan and its git child and opens no
// picker.
TEST_F(MainWindowTest, ProgressShowsAndStopEndsASlowScan) {
    TempFolder root;
    for (std::string name : {"one", "two", "three"}) {
        std::filesystem::create_directories(root / name + pathSeparator + ".git");
        writeFile(root / name + pathSeparator + ".fakegit-fetch", "sleep 60000\n");
    }
    ASSERT_TRUE(startMainScan(root.path().c_str()));
    for (int i = 0; i < 2000 && !(scanState.optionScanRunning && scanState.childRunning()); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // 20 s: a hang, not a measure
    frameCounter = 15;  // the spinner's second step: '-'
    EXPECT_NE(text().find("Path: " + root.path() + " -  1 of 3: " + (root / "one") + "\n"), std::string::npos);
    EXPECT_EQ(titles, (std::vector<std::string>{"repodeck", "repodeck - 1 of 3"}));
    click("Stop");
    EXPECT_FALSE(scanState.busy() || scanState.childRunning());
    EXPECT_NE(logsPane.text().find("[STOPPED] Fetch\nFolder: " + (root / "one") + "\n"), std::string::npos) << logsPane.text();
    EXPECT_TRUE(logsPane.text().ends_with("Scan Stopped !!!\n"));
    EXPECT_NE(text().find("Path: " + root.path() + "  \n"), std::string::npos);
    EXPECT_EQ(titles.back(), "repodeck");
    EXPECT_TRUE(pickerStarts.empty());
}

// The picker opens at home (an empty start) the first time, then where the
// last scan was, also one named on the command line; "Rescan" and F5 scan
// that folder again without it, and do nothing before the first scan.
TEST_F(MainWindowTest, PickerStartsAtTheLastFolderAndRescanNeedsNone) {
    TempFolder first, second;
    click("Rescan");
    picked = first.path();
    click("Scan Folder");
    picked.reset();  // cancelled: the last folder stays
    click("Scan Folder");
    scanFolderAt(second.path());
    click("Rescan");
    press(host::keyIndex(host::Key::f5));
    click("Scan Folder");
    EXPECT_EQ(pickerStarts, (std::vector<std::string>{" above 7", first.path() + " above 7", second.path() + " above 7"}));
    std::string logs = logsPane.text(), scanned, line = "Path to Scan: ";
    for (size_t at = logs.find(line); at != std::string::npos; at = logs.find(line, at + 1))
        scanned += logs.substr(at + line.size(), logs.find('\n', at) - at - line.size()) + " ";
    EXPECT_EQ(scanned, first.path() + " " + second.path() + " " + second.path() + " " + second.path() + " ");
}

// The Summary tab, left of Logs where the window opens, lists the
// repositories in list order, sorts them by a clicked header, hides the clean
// ones on request and opens a double-clicked one.
TEST_F(MainWindowTest, SummarySortsByAClickedHeaderAndOpensARow) {
    scanSummary.clear();
    for (auto [path, changed, fetchExit, refs] :
         {std::tuple{"/c-failed", 0, 128, 2}, {"/b-changed", 2, 0, 10}, {"/a-clean", 0, 0, 0}}) {
        RepositoryState row;
        row.path = path;
        row.changed = changed;
        row.fetchedRefs.resize(size_t(refs));
        row.operations[fetchOperation] = {true, fetchExit, fetchExit ? "fatal: nope" : ""};
        scanSummary.add(row);
    }
    press(ImGuiKey_Tab, true, true);  // Ctrl+Shift+Tab: tabs, not windows
    auto shown = [&] {
        std::string all = text(), paths;
        for (size_t at = all.find("| /"); at != std::string::npos; at = all.find("| /", at + 1))
            paths += all.substr(at + 2, all.find(" |", at + 2) - at - 2) + " ";
        return paths;
    };
    auto cell = [](int column, int row) {  // row 0 is the header
        ImGuiTable* table = GImGui->Tables.GetByIndex(0);
        return ImVec2((table->Columns[column].MinX + table->Columns[column].MaxX) / 2,
                      table->OuterRect.Min.y + 6 + row * ImGui::GetTextLineHeightWithSpacing());
    };
    std::string sorted = shown();
    for (int column : {repositoryColumn, changesColumn, changesColumn, changesColumn, fetchColumn}) {
        click(cell(column, 0));
        sorted += "| " + shown();
    }
    EXPECT_EQ(sorted, "/c-failed /b-changed /a-clean | /a-clean /b-changed /c-failed | /c-failed /a-clean /b-changed | "
                      "/b-changed /c-failed /a-clean | /c-failed /b-changed /a-clean | "  // up, down, unsorted
                      "/a-clean /c-failed /b-changed ");  // 10 refs after 2
    click(ImHashStr("Needs attention only", 0, tabId("Summary")));
    EXPECT_EQ(shown(), "/c-failed /b-changed ");
    click(cell(repositoryColumn, 2));
    click(cell(repositoryColumn, 2));
    EXPECT_EQ(opened, std::vector<std::string>{"/b-changed"});
    ImGui::GetIO().MousePos = cell(repositoryColumn, 1);  // git's last line in a tooltip too
    EXPECT_NE(text().find("\nfatal: nope\n"), std::string::npos);

    // Round the bar to About, whose README link says when nothing opened it.
    press(ImGuiKey_Tab, true, true);
    click(ImHashStr("/doc/README.md", 0, tabId("About")));
    EXPECT_NE(text().find("Nothing on this desktop opened /doc/README.md.\n"), std::string::npos);
}

TEST_F(MainWindowTest, EachCheckBoxFlipsItsOwnOption) {
    ScanOptions& o = scanState.options;
    for (auto [label, flag] : {std::pair{"git fetch    ", &o.fetchEnabled}, {"git pull    ", &o.pullEnabled},
                               {"git submodule update    ", &o.submoduleEnabled}, {"git status    ", &o.statusEnabled},
                               {"git remote    ", &o.remoteEnabled},
                               {"Display the first 128 characters of README.MD/.txt", &o.readmeEnabled}})
        for (bool was : {flag->load(), !flag->load()}) {
            click(label, "/Options_");
            EXPECT_NE(*flag, was) << label;
        }
}

// A pane shows the lines that pass its filter, also as they arrive (the open
// last line too) and under a new filter; Copy takes exactly those, one line
// feed each, or past what the clipboard takes nothing, saying so once in the
// pane; Clear keeps the filter, Escape empties it.
TEST_F(MainWindowTest, PaneShowsAndCopiesTheLinesThatPassItsFilter) {
    auto expectLines = [&](const std::string& lines) {
        EXPECT_EQ(shown(), lines);
        EXPECT_EQ(copied(), lines);
    };
    expectLines("");
    logsPane.addLog("alpha one\nbeta two\nalpha thr");
    expectLines("alpha one\nbeta two\nalpha thr\n");
    logsPane.addLog("ee\n");
    filterBy("-three,alpha");
    expectLines("alpha one\n");
    logsPane.write("alpha fo");
    expectLines("alpha one\nalpha fo\n");
    logsPane.write("ur\nbeta five\n");
    expectLines("alpha one\nalpha four\n");
    filterBy("beta");
    expectLines("beta two\nbeta five\n");
    for (size_t limit : {20, 19}) {  // the 19 bytes shown and a terminating zero, or one byte less
        LogPane::clipboardLimit = limit;
        EXPECT_EQ(copied(), limit == 20 ? "beta two\nbeta five\n" : "untouched");
    }
    LogPane::clipboardLimit = SIZE_MAX;
    std::string all = logsPane.text();
    EXPECT_NE(all.find("[repodeck] Copy: "), std::string::npos);
    EXPECT_EQ(all.find("[repodeck] Copy: "), all.rfind("[repodeck] Copy: "));
    click("Clear", "/Logs_");
    logsPane.addLog("alpha\nbeta\n");
    expectLines("beta\n");
    press(ImGuiKey_Escape);
    press(host::keyIndex(host::Key::f));  // F alone is no find key: the letters go nowhere
    ImGui::GetIO().AddInputCharactersUTF8("beta");
    expectLines("alpha\nbeta\n");
}

// A million lines are filtered a slice per frame, the window drawing on until
// done; Copy then takes every match, far more than the view shows. The view
// follows new lines at the bottom; Home jumps to the top, where new lines
// leave it, and End back.
TEST_F(MainWindowTest, PaneFiltersAMillionLinesAcrossFramesAndScrolls) {
    std::string block;
    for (int i = 0; i < 1000; i++)
        block += i % 100 ? "plain line of text\n" : "needle in the line\n";
    for (int i = 0; i < 1000; i++)
        logsPane.append(block.data(), block.size());
    filterBy("needle");
    int count = 0;
    for (; count < 100000 && animating; count++)
        frames(1);
    EXPECT_GT(count, 2);  // more than one slice, so no frame did all the work
    EXPECT_FALSE(logsPane.filtering());
    EXPECT_EQ(copied().size(), 10000 * std::string("needle in the line\n").size());
    ImGuiWindow* view = Headless::window("/scrolling");
    auto atBottom = [&] { return view->Scroll.y > 0 && view->Scroll.y == view->ScrollMax.y; };
    EXPECT_TRUE(atBottom());
    press(ImGuiKey_Home);
    logsPane.addLog("needle later\n");
    frames(2);
    EXPECT_EQ(view->Scroll.y, 0);
    press(ImGuiKey_End);
    frames(1);
    EXPECT_TRUE(atBottom());
    press(ImGuiKey_Escape);
}

// Idle, the loop draws a few frames after an event and then only waits; a
// wait that brings nothing draws nothing. Zoom keys rebuild the font.
TEST(AppTest, DrawsOnlyAfterEventsAndRebuildsTheFontOnZoom) {
    scanState.abortRequested = false;
    events = "nnnnnsnnnnn";
    keys = "= = 0-";
    EXPECT_EQ(runApp(), 0);
    EXPECT_EQ(calls, "c" "pfpfpf" "www" "fpfpfpf" "www" "s!d");
    EXPECT_EQ(fonts, "14 16 13 12 ");
}

}  // namespace
