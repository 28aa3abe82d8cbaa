#include "app/App.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <imgui.h>

#include "app/Fonts.h"
#include "app/Host.h"
#include "app/MainWindow.h"
#include "app/Theme.h"
#include "app/WindowScan.h"

namespace {

using Clock = std::chrono::steady_clock;

// The vertical blank paces the frames. Where the display ignores the swap
// interval (Xvfb, some drivers) this floor keeps the loop near 60 frames a
// second; during a scan, whose text may arrive in every frame, near 30, so
// the window leaves the processors to git.
constexpr Clock::duration framePeriod = std::chrono::nanoseconds(1'000'000'000 / 60);
constexpr Clock::duration scanFramePeriod = std::chrono::nanoseconds(1'000'000'000 / 30);
// A wait this short is left to the vertical blank: a coarse system sleep
// could overshoot it and miss the next one.
constexpr Clock::duration shortestWait = std::chrono::milliseconds(2);
// Idle, the window waits for events; the wait also ends at once when a pane
// gets text or a close is asked for, so this bound only rescues a lost wake
// (and lets new characters reach the font). During a scan the wait also ends
// for the spinner's next step.
constexpr double idleWaitSeconds = 0.5;
constexpr double scanWaitSeconds = 0.25;
// Frames drawn after an event before the window waits again: Dear ImGui shows
// a click, a hover or a new tab one or two frames after the input.
constexpr int framesAfterEvent = 3;

// Sleeps until the frame's slot ends. Slots are counted from the previous
// slot, not from now, so the average rate stays steady; a late frame starts
// the count afresh instead of being followed by a burst.
void waitForNextFrame(Clock::time_point& nextFrame, Clock::duration period) {
    nextFrame += period;
    Clock::time_point now = Clock::now();
    if (nextFrame < now)
        nextFrame = now;
    else if (nextFrame - now > shortestWait)
        std::this_thread::sleep_until(nextFrame);
}

}  // namespace

int runApp(const char* folder) {
    // Options print and end before any window; a folder named "-x" is "./-x".
    if (folder && folder[0] == '-') {
        bool version = !strcmp(folder, "--version");
        if (version || !strcmp(folder, "--help")) {
            fputs(version ? "repodeck " REPODECK_VERSION "\n"
                          : "usage: repodeck [FOLDER]\n\nOpens the window and, given a FOLDER, scans it at once.\n"
                            "See repodeck(1), or the README that the About tab opens.\n",
                  stdout);
            return fflush(stdout) != 0;
        }
        fprintf(stderr, "repodeck: unknown option: %s\nTry 'repodeck --help'.\n", folder);
        return 2;
    }
    // Window hidden, then maximised and shown, with its graphics device.
    if (!host::create("repodeck"))
        return 1;

    // Dear ImGui with keyboard navigation, its layout file in the user's
    // configuration folder (never the current one, which may be a
    // repository), repodeck's colours and a font at the desktop's scale.
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    const std::string layout = host::layoutFile();
    io.IniFilename = layout.empty() ? nullptr : layout.c_str();
    ImGui::StyleColorsDark();
    applyColorTheme();
    float fontScale = host::contentScale() * zoom;
    applyScale(fontScale);
    buildFonts(fontScale);
    host::initBackends();
    if (folder)
        scanFolderAt(folder);

    Clock::time_point nextFrame = Clock::now();
    bool animating = false;
    int settleFrames = framesAfterEvent;  // the first frames lay the window out
    for (;;) {
        bool busy = scanBusy(), minimised = host::isMinimised();
        bool idle = minimised || (!animating && settleFrames == 0);
        host::Events events = host::handleEvents(idle ? (busy ? scanWaitSeconds : idleWaitSeconds) : 0);
        if (events == host::Events::closed) {
            // At once, so scan threads wind down while the window is torn down.
            requestStop();
            break;
        }
        if (minimised) {
            showProgressInTitle();  // all that shows of a minimised window
            continue;
        }
        notePanes();
        noteText(lastScannedFolder());
        if (events == host::Events::some)
            settleFrames = framesAfterEvent;
        else if (settleFrames > 0)
            settleFrames--;
        else if (idle && !busy && !fontsWanted())
            continue;  // the wait ran out and nothing changed: nothing to draw

        host::newFrame();
        takeWindowKeys();
        float scale = host::contentScale() * zoom;
        if (scale != fontScale || fontsWanted()) {
            fontScale = scale;
            applyScale(scale);
            buildFonts(scale);
            host::reloadFontTexture();
        }
        ImGui::NewFrame();
        animating = drawMainWindow();
        ImGui::Render();
        host::present(clearColour);
        pickAskedFolder();  // outside the frame, which shows meanwhile
        waitForNextFrame(nextFrame, busy ? scanFramePeriod : framePeriod);
    }

    // The user interface goes first; stopScan needs none of it.
    host::shutdownBackends();
    ImGui::DestroyContext();
    host::destroy();
    stopScan();
    return 0;
}
