// The main window and the frame loop in a real headless Dear ImGui context,
// over a host that plays a script of events and a picker that records its start.
#include <array>
#include <chrono>
#include <cmath>
#include <map>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "app/App.h"
#include "app/Host.h"
#include "app/MainWindow.h"
#include "app/SummaryView.h"
#include "app/Panes.h"
#include "app/Theme.h"
#include "app/FolderPicker.h"
#include "scan/RepositoryState.h"
#include "app/WindowScan.h"
#include "scan/SummaryCells.h"
#include "tests/Headless.h"
#include "tests/TempFolder.h"

namespace {
int presented, waits;       // frames shown, waits for an event
std::string events, keys;  // one a handleEvents (n none, s some, closed when used up); one a frame, with Ctrl
std::string fonts;         // the font's size at each rebuild
std::vector<std::string> titles, opened, pickerStarts;
std::optional<std::string> picked;
}  // namespace

std::optional<std::string> pickFolder(const std::string& start, uintptr_t owner) {
    pickerStarts.push_back(start + " above " + std::to_string(owner));
    return picked;
}

namespace host {
bool create(const char*) { return true; }
void initBackends() {
    ImGui::GetIO().IniFilename = nullptr;  // a test leaves no imgui.ini behind
    ImGui::GetIO().DisplaySize = ImVec2(1280, 800);
    ImGui::GetIO().KeyMap[ImGuiKey_Space] = ImGuiKey_Space;  // which keyboard navigation asks for
}
Events handleEvents(double wait) {
    waits += wait > 0;
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
void present(const float[4]) { presented++; }
void reloadFontTexture() { fonts += std::to_string(int(ImGui::GetIO().Fonts->Fonts[0]->FontSize)) + " "; }
void shutdownBackends() {}
void destroy() {}
bool isMinimised() { return false; }
float contentScale() { return 1; }
FontFace textFont() { return {}; }
FontFace fontFor(ImWchar) { return {}; }
std::string layoutFile() { return {}; }
void presentAgain() {}
int keyIndex(Key key) { return "f5=-0+_"[int(key)]; }
void setWindowTitle(const char* title) { titles.push_back(title); }
uintptr_t nativeWindow() { return 7; }
std::string readmePath() { return "/doc/README.md"; }
bool openLink(const std::string& path) { return opened.push_back(path), path != readmePath(); }
bool openTerminal(const std::string& folder) { return opened.push_back("terminal " + folder), true; }
}  // namespace host

namespace {

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        frameCounter = 0;
        windowTitle.clear();
        for (std::vector<std::string>* list : {&titles, &opened, &pickerStarts})
            list->clear();
        logsPane.clear();
        watchRows() = false;  // on where a test turns it on; wine cannot delete a watched folder
        frames(2);
    }
    void TearDown() override { stopScan(); }
    static void finish() {  // the scan's own end
        while (scanBusy())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    // Frames as the loop draws them, each followed by what waits for its end.
    void frames(int count) {
        for (int i = 0; i < count; i++)
            ui.frame(draw, takeWindowKeys), pickAskedFolder();
    }
    std::string text() { return ui.capture(draw); }
    void click(ImVec2 pos, int button = 0) { ui.click(pos, draw, takeWindowKeys, button), pickAskedFolder(); }
    // Where a user finds an item: the mouse sweeps the display until it hovers the item.
    ImVec2 find(ImGuiID id) {
        ImGuiIO& io = ImGui::GetIO();
        for (io.MousePos.y = 4; io.MousePos.y < io.DisplaySize.y; io.MousePos.y += 10)
            for (io.MousePos.x = 4; io.MousePos.x < io.DisplaySize.x; io.MousePos.x += 24)
                if (frames(1); GImGui->HoveredId == id)
                    return io.MousePos;
        ADD_FAILURE() << "no item " << id << " shows";
        return {};
    }
    void click(ImGuiID id) { click(find(id)); }
    // A button of the main window, or of the first child whose name holds window.
    void click(const char* label, const char* window = "Main") { click(Headless::window(window)->GetID(label)); }
    void press(int key, bool ctrl = false, bool shift = false) {  // held for one frame
        for (bool down : {true, false}) {
            ImGuiIO& io = ImGui::GetIO();
            io.KeysDown[key] = down;
            io.KeyCtrl = down && ctrl;
            io.KeyShift = down && shift;
            frames(1);
        }
    }
    // Into a text box, as a user does: box 0 is the pane's, reached with
    // Escape (which empties it) and Ctrl+F; another is clicked and emptied with Ctrl+A.
    void type(const char* text, ImGuiID box = 0) {
        box ? click(box) : press(ImGuiKey_Escape);
        box ? press(ImGuiKey_A, true) : press(host::keyIndex(host::Key::f), true);
        ImGui::GetIO().AddInputCharactersUTF8(text);
        press(ImGuiKey_Enter);
    }
    static ImVec2 cell(int column, int row) {  // of the Summary; row 0 is the header
        ImGuiTable* table = GImGui->Tables.GetByIndex(0);
        return ImVec2((table->Columns[column].MinX + table->Columns[column].MaxX) / 2,
                      table->OuterRect.Min.y + 6 + row * ImGui::GetTextLineHeightWithSpacing());
    }
    static ImGuiID tabId(const char* label) { return ImHashStr(label, 0, ImGui::FindWindowByName("Main")->GetID("#tabBar")); }
    // The Logs pane's lines as drawn, between its filter box and the next tabs'
    // labels, without the empty lines Dear ImGui's log puts between a clipper's steps.
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

    bool animating = false;  // what drawMainWindow said of the last frame
    Headless::Draw draw = [this] { animating = drawMainWindow(); };
    Headless ui;
};

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
    EXPECT_EQ(occurrences(logsPane.text(), "Path to Scan: "), 4);
    EXPECT_EQ(occurrences(logsPane.text(), "Path to Scan: " + first.path() + "\n"), 1);
    EXPECT_EQ(occurrences(logsPane.text(), "Path to Scan: " + second.path() + "\n"), 3);
}

// Two jobs over repositories whose stand-in fetch sleeps: the status line names
// both in hand, the title counts them (written only when it changes); the
// options' boxes are disabled and a change reaches no scan; "Stop" ends the scan
// and its git children and opens no picker.
TEST_F(MainWindowTest, ProgressShowsAndStopEndsASlowScan) {
    TempFolder root;
    for (std::string name : {"one", "two", "three"}) {
        std::filesystem::create_directories(root / name + pathSeparator + ".git");
        writeFile(root / name + pathSeparator + ".fakegit-fetch", "touch started\nsleep 60000\n");
    }
    ImVec2 statusBox = find(Headless::window("/Options_")->GetID("git status    "));
    windowOptions().jobs = 2;
    scanFolderAt(root.path());
    auto started = [&](const char* name) { return std::filesystem::exists(root / name + pathSeparator + "started"); };
    for (int i = 0; i < 2000 && !(started("one") && started("three")); i++)  // both fetches, not what comes before
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // 20 s: a hang, not a measure
    GImGui->Time = 0.3;  // the spinner's second step: '-'
    ImGui::GetIO().MousePos = ImVec2(-1, -1);  // no tooltip over the text
    std::string shownText = text();
    EXPECT_NE(shownText.find("Path: " + root.path() + " -  0 of 3 done; working on one, three\n"), std::string::npos) << shownText;
    EXPECT_EQ(titles, (std::vector<std::string>{"repodeck", "repodeck - 1 of 3"}));
    click(statusBox);
    EXPECT_FALSE(windowOptions().statusEnabled);
    windowOptions().statusEnabled = true;  // as a click would, were the box not disabled
    click("Stop");
    windowOptions().statusEnabled = false;
    windowOptions().jobs = 1;
    EXPECT_EQ(logsPane.text().find("Status Scan"), std::string::npos) << logsPane.text();
    EXPECT_FALSE(scanBusy());
    EXPECT_NE(logsPane.text().find("[STOPPED] Fetch\nFolder: " + (root / "one") + "\n"), std::string::npos) << logsPane.text();
    EXPECT_TRUE(logsPane.text().ends_with("Scan Stopped !!!\n"));
    EXPECT_NE(text().find("Path: " + root.path() + "  \n"), std::string::npos);
    EXPECT_EQ(titles.back(), "repodeck");
    EXPECT_TRUE(pickerStarts.empty());
}

// git gets the user's own programs, never those the repository names, and
// Logs says what was not run.
TEST_F(MainWindowTest, GitGetsTheUsersProgramsNeverTheRepositorys) {
    TempFolder root;
    std::string repository = root / "r", git = repository + pathSeparator + ".git" + pathSeparator;
    std::filesystem::create_directories(git + "hooks");
    writeFile(git + "hooks" + pathSeparator + "post-merge", "");
    writeFile(git + "hooks" + pathSeparator + "post-merge.sample", "");
    writeFile(repository + pathSeparator + ".fakegit-config",
              "print local\\0core.fsmonitor\\nevil\\0global\\0core.sshcommand\\nssh -i key\\0\n");
    writeFile(repository + pathSeparator + ".fakegit-fetch",
              "env GIT_CONFIG_KEY_0\nenv GIT_CONFIG_VALUE_0\nenv GIT_CONFIG_KEY_1\nenv GIT_SSH_COMMAND\nenv GIT_TERMINAL_PROMPT\n");
    scanFolderAt(root.path());
    finish();
    EXPECT_NE(updatesPane.text().find("core.fsmonitor\nfalse\ncore.hookspath\nssh -i key -o BatchMode=yes\n0\n"), std::string::npos)
        << updatesPane.text();
    EXPECT_NE(logsPane.text().find("Programs Not Run: " + repository + ": core.fsmonitor; hooks: post-merge\n"),
              std::string::npos) << logsPane.text();
}

// Each option box alone makes a scan run its command; Jobs above 64 is 64, 0 the number chosen for the work.
TEST_F(MainWindowTest, EachOptionBoxTicksWhatAScanRunsAndJobsStayInRange) {
    TempFolder folder;
    click("git fetch    ", "/Options_");  // the one ticked at start
    for (auto [box, runs] : {std::pair{"git pull    ", "\nPull"}, {"git submodule update    ", "\nSubmodule"},
                             {"git status    ", "\nStatus"}, {"git remote    ", "\nRemote"},
                             {"Display the first 256 bytes of README.MD/.txt", "\nReadMe"}, {"git fetch    ", "\nFetch"}}) {
        click(box, "/Options_");
        scanFolderAt(folder.path());
        finish();
        std::string logs = logsPane.text();
        EXPECT_NE(logs.find(runs + std::string(" Scan Beginning")), std::string::npos) << box;
        EXPECT_EQ(logs.find(" Scan Beginning"), logs.rfind(" Scan Beginning")) << box;
        click(box, "/Options_");
        logsPane.clear();
    }
    for (auto [typed, jobs] : {std::pair{"99", 64}, {"7", 7}, {"0", 0}}) {
        type(typed, Headless::window("Main")->GetID("Jobs"));
        EXPECT_EQ(windowOptions().jobs, jobs) << typed;
    }
    windowOptions().jobs = 1;
}

// Two rows selected (a click, a Ctrl+click) are fetched again, then
// refreshed: only their rows and their text change, the refresh keeps what
// the fetch found, and a row's tooltip says when it was checked.
// Rescan goes over the same list, with a row added for a repository new in
// the folder and the row of one no longer there marked gone.
TEST_F(MainWindowTest, SummaryActsOnSelectedRowsAndRescanKeepsTheList) {
    TempFolder root;
    auto make = [&](const char* name, const char* fetch) {
        std::filesystem::create_directories(root / name + pathSeparator + ".git");
        writeFile(root / name + pathSeparator + ".fakegit-fetch", fetch);
    };
    auto rows = [&](auto shown) {
        std::string all;
        for (const RepositoryState& row : summaryRecords().all())
            all += shown(row) + " ";
        return all;
    };
    for (const char* name : {"a", "b", "c"})
        make(name, "print first\n");
    windowOptions().fetchEnabled = true;
    scanFolderAt(root.path());
    finish();
    for (const char* name : {"a", "b", "c"})
        make(name, "print second\n");
    press(ImGuiKey_Tab, true, true);  // the Summary
    click(cell(repositoryColumn, 1));
    ImGui::GetIO().KeyCtrl = true;
    click(cell(repositoryColumn, 3));
    ImGui::GetIO().KeyCtrl = false;
    for (const char* action : {"Fetch", "Refresh"}) {  // a refresh keeps what the fetch found
        click(ImHashStr(action, 0, tabId("Summary")));
        finish();
    }
    EXPECT_EQ(rows([](const RepositoryState& row) { return row.operations[fetchOperation].message; }), "second first second ");
    EXPECT_EQ(occurrences(updatesPane.text(), "git fetch: " + root / "b\n"), 1);
    EXPECT_EQ(occurrences(updatesPane.text(), "git fetch: " + root / "c\n"), 2);
    ImGui::GetIO().MousePos = cell(repositoryColumn, 1);
    EXPECT_NE(text().find("second\nchecked "), std::string::npos);

    std::filesystem::remove_all(root / "b");
    make("d", "");
    click("Rescan");
    finish();
    EXPECT_EQ(rows([&](const RepositoryState& row) { return row.path.substr(root.path().size() + 1) + (row.gone ? "!" : ""); }),
              "a b! c d ");

    // Watched, a checkout in one repository changes its row with no input;
    // the checkout (HEAD written as git does, through a lock file) is
    // repeated until the watch, started on its own thread, sees one.
    watchRows() = true;
    std::string c = root / "c" + pathSeparator, head = c + ".git" + pathSeparator + "HEAD";
    auto checkout = [&](const std::string& branch) {
        writeFile(c + ".fakegit-summary", "print # branch.oid (initial)\\n# branch.head " + branch + "\\n\n");
        writeFile(head + ".lock", "ref: refs/heads/" + branch + "\n"), std::filesystem::rename(head + ".lock", head);
    };
    auto shows = [&](const std::string& branch, bool repeated) {
        auto branches = [&] { return rows([](const RepositoryState& row) { return row.branch; }); };
        for (int i = 0; i < 500 && branches() != "  " + branch + "  "; i++) {
            if (repeated && i % 20 == 0)
                checkout(branch);
            frames(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return branches();
    };
    EXPECT_EQ(shows("other", true), "  other  ");
    // So does one after its row's check in "Refresh all", before the watch is
    // back once that is over (d's refresh waits for it).
    writeFile(root / "d" + pathSeparator + ".fakegit-summary", "await go\n");
    auto checked = [&] { return summaryRecords().find(root / "c")->checkedAt; };
    auto before = checked();
    click("Refresh all");
    for (int i = 0; i < 2000 && checked() == before; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    checkout("third");
    writeFile(root / "d" + pathSeparator + "go", "");
    finish();
    EXPECT_EQ(shows("third", false), "  third  ");
    watchRows() = false;
    frames(1);
}

// The Summary tab, left of Logs where the window opens: rows in list order,
// each in the colour of its most pressing state, sorted by a clicked header,
// kept when needing attention or passing the filter; a double click opens a
// row, its menu copies the path.
TEST_F(MainWindowTest, SummarySortsFiltersAndOpensARow) {
    TempFolder empty;
    scanFolderAt(empty.path());  // a scan with no rows, to which rows then come
    finish();
    press(ImGuiKey_Tab, true, true);  // Ctrl+Shift+Tab: the Summary, drawn empty before its rows come
    for (auto [path, branch, changed, ahead, fetchExit, refs] :
         {std::tuple{"/c-failed", "main", 0, 0, 128, 2}, {"/b-changed", "topic", 2, 0, 0, 10},
          {"/a-clean", "main", 0, 0, 0, 0}, {"/d-ahead", "main", 0, 1, 0, 0}}) {
        RepositoryState row;
        row.path = path, row.summarized = true, row.branch = branch, row.ahead = ahead, row.changed = changed;
        row.operations[fetchOperation] = {true, fetchExit, fetchExit ? "fatal: nope" : ""};
        row.fetchedRefs.resize(size_t(refs));
        summaryRecords().put(row);
    }
    auto shown = [&] {
        std::string all = text(), paths;
        for (size_t at = all.find("| /"); at != std::string::npos; at = all.find("| /", at + 1))
            paths += all.substr(at + 2, all.find(" |", at + 2) - at - 2) + " ";
        return paths;
    };
    std::string sorted = shown();
    frames(2);
    ImGuiTable* table = GImGui->Tables.GetByIndex(0);
    EXPECT_GE(table->Columns[fetchColumn].WidthGiven, ImGui::CalcTextSize("failed (128)").x);
    type("/,-changed");
    EXPECT_EQ(shown(), "/c-failed /a-clean /d-ahead ");
    press(ImGuiKey_Escape);
    for (int column : {repositoryColumn, changesColumn, changesColumn, changesColumn, fetchColumn}) {
        click(cell(column, 0));
        sorted += "| " + shown();
    }
    EXPECT_EQ(sorted, "/c-failed /b-changed /a-clean /d-ahead | /a-clean /b-changed /c-failed /d-ahead | "
                      "/c-failed /a-clean /d-ahead /b-changed | /b-changed /c-failed /a-clean /d-ahead | "  // up, down
                      "/c-failed /b-changed /a-clean /d-ahead | /a-clean /d-ahead /c-failed /b-changed ");  // 10 refs after 2
    std::string colours;  // of most of what is drawn in each row's first cell
    for (int row = 1; row <= 4; row++) {
        std::map<ImU32, int> seen;
        for (int list = 0; list < ImGui::GetDrawData()->CmdListsCount; list++)
            for (const ImDrawVert& vertex : ImGui::GetDrawData()->CmdLists[list]->VtxBuffer)
                seen[vertex.col] += std::abs(vertex.pos.y - cell(repositoryColumn, row).y) < 6 &&
                                    std::abs(vertex.pos.x - cell(repositoryColumn, row).x) < 40;
        ImU32 c = std::max_element(seen.begin(), seen.end(), [](auto a, auto b) { return a.second < b.second; })->first;
        int r = c & 255, g = c >> 8 & 255, b = c >> 16 & 255;
        colours += b > r && b > g ? "blue " : g > r ? "green " : g > b + 50 ? "yellow " : "red ";
    }
    EXPECT_EQ(colours, "green blue red yellow ");
    ImGui::GetIO().MousePos = cell(repositoryColumn, 3);  // git's last line in a tooltip too
    EXPECT_NE(text().find("\nfatal: nope\n"), std::string::npos);

    click(ImHashStr("Needs attention only", 0, tabId("Summary")));
    EXPECT_EQ(shown(), "/d-ahead /c-failed /b-changed ");
    ImGuiID filter = ImHashStr("##summaryFilter", 0, tabId("Summary"));
    type("-FAILED,topic,main", filter);  // the branch too, letters' case ignored
    EXPECT_EQ(shown(), "/d-ahead /b-changed ");
    click(cell(repositoryColumn, 2));
    click(cell(repositoryColumn, 2));
    EXPECT_EQ(opened, std::vector<std::string>{"/b-changed"});
    click(cell(repositoryColumn, 1), 1);
    click(Headless::window("##Popup")->GetID("Copy path"));
    EXPECT_EQ(ui.clipboard, "/d-ahead");
    type("", filter);
    click(ImHashStr("Needs attention only", 0, tabId("Summary")));  // as it was, for the tests after
    press(ImGuiKey_Tab, true, true);  // round the bar to About, whose link says when nothing opened it
    click(ImHashStr("/doc/README.md", 0, tabId("About")));
    EXPECT_NE(text().find("Nothing on this desktop opened /doc/README.md.\n"), std::string::npos);
}

// Panes and Summary: blanks around a term, letters' case and empty terms do not count; cells judged as one.
TEST(TextFilterTest, AnExclusionWinsWhereverItStands) {
    for (auto [typed, text, cell, passes] : {std::tuple{"farm,-rebasing", "farm rebasing", "", false},
             {"-rebasing,farm", "farm rebasing", "", false}, {"-rebasing,farm", "Farm", "", true}, {"-,,", "a", "", true},
             {"barn, ZEBRA\t", "the zebra", "", true}, {"barn,silo", "farm", "", false}, {"/x,-main", "/x", "main", false}}) {
        TextFilter filter;
        strcpy(filter.input, typed);
        filter.build();
        EXPECT_EQ(filter.passes({text, cell}), passes) << typed << " on " << text;
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
    logsPane.addLog("alpha one\nbeta two\nalpha thr");
    expectLines("alpha one\nbeta two\nalpha thr\n");
    logsPane.addLog("ee\n");
    type("-three,alpha");
    expectLines("alpha one\n");
    logsPane.write("alpha fo");
    expectLines("alpha one\nalpha fo\n");
    logsPane.write("ur\nbeta five\n");
    expectLines("alpha one\nalpha four\n");
    type("beta");
    for (size_t limit : {20, 19}) {  // the 19 bytes shown and a terminating zero, or one byte less
        LogPane::clipboardLimit = limit;
        EXPECT_EQ(copied(), limit == 20 ? "beta two\nbeta five\n" : "untouched");
    }
    LogPane::clipboardLimit = SIZE_MAX;
    EXPECT_EQ(occurrences(logsPane.text(), "[repodeck] Copy: "), 1);
    click("Clear", "/Logs_");
    logsPane.addLog("alpha\nbeta\n");
    expectLines("beta\n");
    press(ImGuiKey_Escape);
    press(host::keyIndex(host::Key::f));  // F alone is no find key: the letters go nowhere
    ImGui::GetIO().AddInputCharactersUTF8("beta");
    expectLines("alpha\nbeta\n");
}

// A million lines are filtered a slice per frame, the window drawing on until
// done; Copy then takes every match. The view follows new lines at the
// bottom; Home jumps to the top, where new lines leave it, and End back.
TEST_F(MainWindowTest, PaneFiltersAMillionLinesAcrossFramesAndScrolls) {
    for (int i = 0; i < 1000000; i++)
        logsPane.write(i % 100 ? "plain line of text\n" : "needle in the line\n");
    type("needle");
    int count = 0;
    for (; count < 100000 && animating; count++)
        frames(1);
    // The window draws on until the filter is done; how many frames that takes is the machine's speed.
    EXPECT_LT(count, 100000);
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

// Text reads at 4.5:1 or more on every background the theme draws it on:
// rows plain, alternate, selected, hovered and pressed in each state's colour, and the
// controls, tabs and popups in the text colours, also faded when disabled.
TEST(ThemeTest, TextReadsOnEveryBackground) {
    Headless ui;
    applyColorTheme();
    applyScale(1);
    const ImGuiStyle& style = ImGui::GetStyle();
    using Rgb = std::array<double, 3>;
    auto over = [](ImVec4 top, Rgb under) {
        return Rgb{top.x * top.w + under[0] * (1 - top.w), top.y * top.w + under[1] * (1 - top.w),
                   top.z * top.w + under[2] * (1 - top.w)};
    };
    auto contrast = [](Rgb a, Rgb b) {
        auto luminance = [](Rgb c) {
            for (double& v : c)
                v = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            return 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
        };
        double x = luminance(a) + 0.05, y = luminance(b) + 0.05;
        return std::max(x, y) / std::min(x, y);
    };
    auto colour = [&](ImGuiCol c, float fade = 1) { return ImVec4(style.Colors[c].x, style.Colors[c].y, style.Colors[c].z, style.Colors[c].w * fade); };
    Rgb window = over(colour(ImGuiCol_WindowBg), {clearColour[0], clearColour[1], clearColour[2]});
    Rgb rowAlt = over(colour(ImGuiCol_TableRowBgAlt), window);
    std::vector<ImVec4> texts = {colour(ImGuiCol_Text), colour(ImGuiCol_TextDisabled),
                                 colour(ImGuiCol_Text, style.DisabledAlpha)};
    std::vector<ImVec4> rowTexts = texts;
    for (int state = 0; state < 5; state++) {
        RepositoryState row;
        row.summarized = state > 0;
        row.operations[fetchOperation] = {true, state == 1 ? 128 : 0, ""};
        row.changed = state == 2, row.ahead = state == 3;
        rowTexts.push_back(colourOf(row));
    }
    for (Rgb row : {window, rowAlt, over(colour(ImGuiCol_Header), rowAlt), over(colour(ImGuiCol_HeaderHovered), rowAlt),
                    over(colour(ImGuiCol_HeaderActive), rowAlt)})
        for (const ImVec4& text : rowTexts)
            EXPECT_GE(contrast(over(text, row), row), 4.5) << "row, text " << text.x << " " << text.y << " " << text.z;
    for (ImGuiCol under : {ImGuiCol_FrameBg, ImGuiCol_FrameBgHovered, ImGuiCol_FrameBgActive, ImGuiCol_Button,
                           ImGuiCol_ButtonHovered, ImGuiCol_ButtonActive, ImGuiCol_Tab, ImGuiCol_TabHovered,
                           ImGuiCol_TabActive, ImGuiCol_TableHeaderBg, ImGuiCol_PopupBg})
        for (const ImVec4& text : texts) {
            Rgb background = over(colour(under), window);
            EXPECT_GE(contrast(over(text, background), background), 4.5) << ImGui::GetStyleColorName(under) << ", text " << text.w;
        }
    // An unticked check box stands out from the window by its frame (3:1).
    EXPECT_GE(contrast(over(colour(ImGuiCol_Border), window), window), 3.0);
    EXPECT_GE(style.FrameBorderSize, 1.0f);
}

// Idle, the loop draws a few frames after an event and then only waits; a
// wait that brings nothing draws nothing. Zoom keys rebuild the font.
TEST(AppTest, DrawsOnlyAfterEventsAndRebuildsTheFontOnZoom) {
    std::map<std::string, std::pair<int, int>> drawn;  // frames, waits
    keys = "= = 0-";
    for (std::string script : {std::string(5, 'n'), std::string(50, 'n'), std::string("nnnnnsnnnnn")}) {
        presented = waits = 0;
        events = script;
        EXPECT_EQ(runApp(), 0);
        drawn[script] = {presented, waits};
    }
    EXPECT_EQ(drawn["nnnnn"].first, drawn[std::string(50, 'n')].first);
    EXPECT_EQ(drawn[std::string(50, 'n')].second - drawn["nnnnn"].second, 45);
    EXPECT_GT(drawn["nnnnnsnnnnn"].first, drawn["nnnnn"].first);
    EXPECT_EQ(fonts, "14 16 13 12 ");  // larger, larger, back, smaller
}

}  // namespace
