#include "app/MainWindow.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>

#include <imgui.h>
#include <imgui_internal.h>

#include "app/FolderPicker.h"
#include "app/Host.h"
#include "app/Panes.h"
#include "app/SummaryView.h"
#include "app/WindowScan.h"
#include "scan/DirectoryList.h"
#include "scan/RepositoryState.h"

uint32_t frameCounter = 0;
std::string windowTitle;
float aboutAnimationTime = 0.0f;
float zoom = 1.0f;

namespace {

constexpr ImGuiWindowFlags mainWindowFlags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                             ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoScrollbar |
                                             ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoSavedSettings;
constexpr ImGuiWindowFlags optionsFlags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoMove |
                                          ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse;
constexpr ImGuiWindowFlags paneFlags = optionsFlags | ImGuiWindowFlags_AlwaysAutoResize;
static_assert(mainWindowFlags == 303 && optionsFlags == 45 && paneFlags == 109);

constexpr char spinner[4] = {'/', '-', '\\', '|'};

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
static_assert(sizeof alphabet - 1 == 64);
constexpr int animationRows = 32;
constexpr int animationColumns = 128;

constexpr float zoomStep = 1.1f, smallestZoom = 0.5f, largestZoom = 4.0f;

int tabStep = 0;  // Ctrl+Tab: +1, Ctrl+Shift+Tab: -1, for this frame's tab bar
std::string openFailure;  // the About tab's word on a link that did not open
bool pickerAsked = false;  // "Scan Folder" was clicked in this frame

// Pressed since the last frame, judged before ImGui::NewFrame updates the keys.
bool pressedBeforeFrame(int key) {
    const ImGuiIO& io = ImGui::GetIO();
    return key >= 0 && io.KeysDown[key] && io.KeysDownDuration[key] < 0;
}

void zoomBy(float factor) { zoom = std::clamp(zoom * factor, smallestZoom, largestZoom); }

// A scan reads the options once, when it starts: while it runs they are
// shown disabled, and hovering them says why.
void explainDisabled(bool busy) {
    if (busy && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
        ImGui::SetTooltip("A scan reads these when it starts: stop it, or wait for its end, to change them.");
}

void drawOptions() {
    ScanOptions& options = windowOptions();
    bool busy = scanBusy();
    ImGui::BeginDisabled(busy);
    // 720 by 80 at the built-in font's size, growing with the text.
    float scale = ImGui::GetFontSize() / 13.0f;
    ImGui::BeginChild("Options", ImVec2(720 * scale, 80 * scale), true, optionsFlags);
    ImGui::BeginGroup();
    ImGui::Checkbox("git fetch    ", &options.fetchEnabled);
    ImGui::Checkbox("git pull    ", &options.pullEnabled);
    ImGui::Checkbox("git submodule update    ", &options.submoduleEnabled);
    ImGui::EndGroup();
    ImGui::SameLine();
    ImGui::BeginGroup();
    ImGui::Checkbox("git status    ", &options.statusEnabled);
    ImGui::Checkbox("git remote    ", &options.remoteEnabled);
    ImGui::Checkbox("Run hooks    ", &options.runHooks);
    ImGui::EndGroup();
    ImGui::SameLine();
    ImGui::BeginGroup();
    ImGui::Checkbox("Display the first 256 bytes of README.MD/.txt", &options.readmeEnabled);
    ImGui::Checkbox("Nested repositories", &options.nestedEnabled);
    ImGui::EndGroup();
    ImGui::NewLine();
    ImGui::EndChild();
    ImGui::EndDisabled();
    explainDisabled(busy);
}

// How many repositories a scan works on at once; read when a scan starts.
// Until a number is typed (and again after a 0) it shows the one chosen for
// the ticked commands.
void drawJobs() {
    int& jobs = windowOptions().jobs;
    int shown = jobsFor(windowOptions());
    bool busy = scanBusy();
    ImGui::BeginDisabled(busy);
    ImGui::SetNextItemWidth(ImGui::GetFontSize() * 6);
    if (ImGui::InputInt("Jobs", &shown))
        jobs = std::clamp(shown, 0, maxJobs);
    ImGui::EndDisabled();
    if (!busy && jobs == 0 && ImGui::IsItemHovered())
        ImGui::SetTooltip("Chosen for the ticked commands: %d with fetch, pull or submodule update (at most %d of one\n"
                          "host at once), else twice the processors, 4 to 16. A number typed here stays; 0 goes back.",
                          maxJobs, defaultPerHost);
    explainDisabled(busy);
}

// "Rescan" and F5 go over the last folder's list again with the ticked
// commands, "Refresh all" with the state command alone; "Stop" ends the
// running scan and opens nothing.
void drawScanButtons() {
    if (ImGui::Button("Scan Folder"))
        pickerAsked = true;
    ImGui::SameLine();
    bool known = !lastScannedFolder().empty();
    ImGui::BeginDisabled(!known);
    bool f5 = known && ImGui::IsKeyPressed(host::keyIndex(host::Key::f5), false);
    if (ImGui::Button("Rescan") || f5)
        rescanFolder();
    ImGui::SameLine();
    if (ImGui::Button("Refresh all"))
        refreshAll();
    ImGui::EndDisabled();
    ImGui::SameLine();
    ImGui::BeginDisabled(!scanBusy());
    if (ImGui::Button("Stop"))
        stopScan();
    ImGui::EndDisabled();
    ImGui::SameLine();
    ImGui::Checkbox("Watch", &watchRows());
    if (ImGui::IsItemHovered())
        ImGui::SetTooltip("A change in a repository's git folder refreshes its row.");
    keepRowsCurrent();
    // One at a time, through the desktop's asker when the user names none.
    if (size_t waiting = scanBusy() ? 0 : summaryRecords().count(&RepositoryState::needsCredentials)) {
        ImGui::SameLine();
        if (ImGui::Button(("Retry " + std::to_string(waiting) + " with credentials").c_str()))
            retryWithCredentials();
    }
}

// "N of M" while a scan runs: N is the next repository to finish, M those
// found so far.
std::string progressText() {
    ScanProgress progress = scanBusy() ? currentScan()->progress() : ScanProgress();
    if (progress.found == 0)
        return {};
    uint32_t position = std::min(progress.done + 1, progress.found);
    return std::to_string(position) + " of " + std::to_string(progress.found);
}

// Four steps a second, by Dear ImGui's clock.
char spinnerNow() { return spinner[int(ImGui::GetTime() * 4) % 4]; }

// "5 of 12 done; working on repo-06, repo-07": the repositories in hand,
// named below the scanned folder, after the host that holds most up, if any
// ("; waiting on host H: 3 repositories").
std::string workText() {
    ScanProgress progress = scanBusy() ? currentScan()->progress() : ScanProgress();
    if (progress.found == 0)
        return {};
    std::string text = std::to_string(progress.done) + (progress.walking ? " done, " : " of ") +
                       std::to_string(progress.found) + (progress.walking ? " found so far" : " done");
    if (!progress.stuckHost.empty())
        text += "; waiting on host " + progress.stuckHost + ": " + std::to_string(progress.stuckCount) + " repositories";
    std::string folder = currentScan()->folder() + pathSeparator;
    const char* joint = "; working on ";
    for (const std::string& repository : progress.inHand) {
        text += joint + (repository.starts_with(folder) ? repository.substr(folder.size()) : repository);
        joint = ", ";
    }
    return text;
}

// The status line and the window title share one spinner and one count.
void drawStatus() {
    frameCounter++;
    bool busy = scanBusy();
    ImGui::Text("Path: %s %c", currentScan() ? currentScan()->folder().c_str() : "", busy ? spinnerNow() : ' ');
    std::string work = workText();
    if (!work.empty()) {
        ImGui::SameLine();
        ImGui::Text(" %s", work.c_str());
    }
    showProgressInTitle();
}

// Each step is in the precision it is written in (float, or double for the
// trigonometry), so every build draws the same picture for the same clock.
void drawAnimation() {
    float t = aboutAnimationTime + 0.016666668f;
    aboutAnimationTime = t;
    float a = float(std::cos(double(t * 0.123f) - std::sin(double(t * 0.3f))) * 8.0);
    float doubleA = a + a;

    char rows[animationRows][animationColumns + 1];
    for (int r = 0; r < animationRows; r++) {
        float ry = float(r) * 3.14159f * 0.03125f;
        double rowPhase = std::sin(double((ry + a) - t));
        double ryt = double(ry + t);
        for (int c = 0; c < animationColumns; c++) {
            float cx = float(c) * 3.14159f * 0.0078125f + t;
            double v = std::sin(ryt - std::cos(double(cx - a))) * double(a) +
                       std::cos(double(cx) + rowPhase) * double(doubleA);
            // |v| <= 24, so the conversion cannot overflow; the mask takes the
            // low six bits of the two's complement, -1 giving '/'.
            rows[r][c] = alphabet[int32_t(v) & 63];
        }
        rows[r][animationColumns] = '\0';
    }
    for (const char* row : rows)
        ImGui::TextUnformatted(row);
}

// The README opens in the desktop's viewer; where there is none to open the
// tab says so instead of a button that does nothing.
void drawReadmeLink() {
    std::string readme = host::readmePath();
    if (readme.empty()) {
        ImGui::TextUnformatted("There is no README.md beside the program to open.");
        return;
    }
    if (ImGui::Button(readme.c_str()))
        openFailure = host::openLink(readme) ? "" : "Nothing on this desktop opened " + readme + ".";
    if (!openFailure.empty())
        ImGui::TextUnformatted(openFailure.c_str());
}

void drawAbout() {
    ImGui::NewLine();
    ImGui::TextUnformatted("repodeck " REPODECK_VERSION);
    ImGui::NewLine();
    drawReadmeLink();
    ImGui::NewLine();
    ImGui::TextUnformatted("Developed by the repodeck developers");
    ImGui::NewLine();
    ImGui::TextUnformatted("Special Thanks to the Dear ImGui authors and the Git authors");
    ImGui::NewLine();
    drawAnimation();
}

// Ctrl+Tab moves over whatever tabs the bar had in the last frame, in their
// order, wrapping at either end.
void switchTab(ImGuiTabBar* bar) {
    if (tabStep == 0 || bar->Tabs.Size == 0)
        return;
    int selected = 0;
    for (int i = 0; i < bar->Tabs.Size; i++)
        if (bar->Tabs[i].ID == bar->SelectedTabId)
            selected = i;
    int next = (selected + tabStep + bar->Tabs.Size) % bar->Tabs.Size;
    bar->NextSelectedTabId = bar->Tabs[next].ID;
    tabStep = 0;
}

// True when the shown tab wants the next frame at once.
bool drawTabs() {
    if (!ImGui::BeginTabBar("#tabBar"))
        return false;
    switchTab(GImGui->CurrentTabBar);
    const ImGuiIO& io = ImGui::GetIO();
    bool findKey = io.KeyCtrl && ImGui::IsKeyPressed(host::keyIndex(host::Key::f), false);
    bool animating = false;
    if (ImGui::BeginTabItem("Summary")) {
        drawSummary(findKey);
        ImGui::EndTabItem();
    }
    for (const PaneTab& tab : paneTabs) {
        // The Summary leads the bar, but the window opens on "Logs".
        bool opening = frameCounter == 1 && tab.pane == &logsPane;
        if (!ImGui::BeginTabItem(tab.label, nullptr, opening ? ImGuiTabItemFlags_SetSelected : 0))
            continue;
        ImGui::BeginChild(tab.childName, ImVec2(0, 0), true, paneFlags);
        tab.pane->draw(findKey);
        animating = tab.pane->filtering();
        ImGui::EndChild();
        ImGui::EndTabItem();
    }
    if (ImGui::BeginTabItem("About")) {
        drawAbout();
        animating = true;
        ImGui::EndTabItem();
    }
    ImGui::EndTabBar();
    return animating;
}

}  // namespace

void takeWindowKeys() {
    ImGuiIO& io = ImGui::GetIO();
    if (!io.KeyCtrl)
        return;
    int tab = io.KeyMap[ImGuiKey_Tab];
    if (pressedBeforeFrame(tab)) {
        tabStep = io.KeyShift ? -1 : 1;
        io.KeysDown[tab] = false;  // never seen by Dear ImGui's window switcher
    }
    if (io.MouseWheel != 0) {
        zoomBy(io.MouseWheel > 0 ? zoomStep : 1 / zoomStep);
        io.MouseWheel = 0;
    }
    using host::Key;
    if (pressedBeforeFrame(host::keyIndex(Key::equal)) || pressedBeforeFrame(host::keyIndex(Key::keypadAdd)))
        zoomBy(zoomStep);
    if (pressedBeforeFrame(host::keyIndex(Key::minus)) || pressedBeforeFrame(host::keyIndex(Key::keypadSubtract)))
        zoomBy(1 / zoomStep);
    if (pressedBeforeFrame(host::keyIndex(Key::zero)))
        zoom = 1.0f;
}

bool drawMainWindow() {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->WorkPos, ImGuiCond_Always, ImVec2(0, 0));
    ImGui::SetNextWindowSize(viewport->WorkSize, ImGuiCond_Always);
    ImGui::Begin("Main", nullptr, mainWindowFlags);

    ImGui::TextUnformatted("Scan Options");
    drawOptions();
    ImGui::SameLine();
    drawJobs();
    ImGui::NewLine();
    drawScanButtons();
    ImGui::NewLine();
    drawStatus();
    ImGui::NewLine();
    bool animating = drawTabs();

    ImGui::End();
    return animating;
}

void showProgressInTitle() {
    std::string title = "repodeck", progress = progressText();
    if (scanBusy())
        title += std::string(" ") + spinnerNow() + (progress.empty() ? "" : " " + progress);
    if (title != windowTitle) {
        host::setWindowTitle(title.c_str());
        windowTitle = title;
    }
}

void pickAskedFolder() {
    if (!pickerAsked)
        return;
    pickerAsked = false;
    std::optional<std::string> folder = pickFolder(lastScannedFolder(), host::nativeWindow());
    if (folder && !folder->empty())  // an item with no path has nothing to scan
        scanFolderAt(*folder);
}
