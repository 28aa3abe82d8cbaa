#include "app/MainWindow.h"

#include <atomic>
#include <cmath>
#include <cstdio>

#include <imgui.h>

#include "app/Host.h"
#include "log/LogPane.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"

// The About tab's link is a build setting (CMake's REPODECK_ABOUT_LINK), so
// each install can point at its own copy of the README.
#ifndef REPODECK_ABOUT_LINK
#error "REPODECK_ABOUT_LINK is set by the build"
#endif

uint32_t frameCounter = 0;
int lastTitleFrame = -1;
float aboutAnimationTime = 0.0f;

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

// The option flags are atomics shared with the scan threads; a check box
// needs a plain bool for the length of the call.
void checkbox(const char* label, std::atomic<bool>& flag) {
    bool value = flag;
    if (ImGui::Checkbox(label, &value))
        flag = value;
}

void drawOptions() {
    ScanOptions& options = scanState.options;
    ImGui::BeginChild("Options", ImVec2(720, 80), true, optionsFlags);
    ImGui::BeginGroup();
    checkbox("git fetch    ", options.fetchEnabled);
    checkbox("git pull    ", options.pullEnabled);
    checkbox("git submodule update    ", options.submoduleEnabled);
    ImGui::EndGroup();
    ImGui::SameLine();
    ImGui::BeginGroup();
    checkbox("git status    ", options.statusEnabled);
    checkbox("git remote    ", options.remoteEnabled);
    ImGui::EndGroup();
    ImGui::SameLine();
    ImGui::BeginGroup();
    checkbox("Display the first 128 characters of README.MD/.txt", options.readmeEnabled);
    ImGui::EndGroup();
    ImGui::NewLine();
    ImGui::EndChild();
}

// The status line and the window title share one spinner index.
void drawStatus() {
    frameCounter++;
    int spinnerIndex = int(frameCounter / 16 % 4);
    bool busy = scanState.busy();
    ImGui::Text("Path: %s %c", scanState.scanPath, busy ? spinner[spinnerIndex] : ' ');

    // Written only when the index moves, so not every frame; a change of
    // the busy state shows within 16 frames.
    if (spinnerIndex != lastTitleFrame) {
        char title[] = "repodeck /";
        title[sizeof title - 2] = spinner[spinnerIndex];
        host::setWindowTitle(busy ? title : "repodeck");
        lastTitleFrame = spinnerIndex;
    }
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

void drawAbout() {
    ImGui::NewLine();
    ImGui::TextUnformatted("repodeck 1.0");
    ImGui::NewLine();
    if (ImGui::Button(REPODECK_ABOUT_LINK))
        host::openLink(REPODECK_ABOUT_LINK);
    ImGui::NewLine();
    ImGui::TextUnformatted("Developed by the repodeck developers");
    ImGui::NewLine();
    ImGui::TextUnformatted("Special Thanks to the Dear ImGui authors and the Git authors");
    ImGui::NewLine();
    drawAnimation();
}

void drawTabs() {
    if (!ImGui::BeginTabBar("#tabBar"))
        return;
    for (const PaneTab& tab : paneTabs) {
        if (!ImGui::BeginTabItem(tab.label))
            continue;
        ImGui::BeginChild(tab.childName, ImVec2(0, 0), true, paneFlags);
        tab.pane->draw();
        ImGui::EndChild();
        ImGui::EndTabItem();
    }
    if (ImGui::BeginTabItem("About")) {
        drawAbout();
        ImGui::EndTabItem();
    }
    ImGui::EndTabBar();
}

}  // namespace

void drawMainWindow() {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->WorkPos, ImGuiCond_Always, ImVec2(0, 0));
    ImGui::SetNextWindowSize(viewport->WorkSize, ImGuiCond_Always);
    ImGui::Begin("Main", nullptr, mainWindowFlags);

    ImGui::TextUnformatted("Scan Options");
    drawOptions();
    ImGui::NewLine();
    // Never disabled: scanFolder itself stops a running scan first.
    if (ImGui::Button("Scan Folder"))
        scanFolder();
    ImGui::NewLine();
    drawStatus();
    ImGui::NewLine();
    drawTabs();

    ImGui::End();
}
