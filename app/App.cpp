#include "app/App.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include <imgui.h>

#include "app/Host.h"
#include "app/MainWindow.h"
#include "app/Theme.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr float clearColour[4] = {0.45f, 0.55f, 0.60f, 1.00f};

// The vertical blank paces the frames. Where the display ignores the swap
// interval (Xvfb, some drivers) this floor keeps the loop near 60 frames a
// second, the rate the spinner and the About clock count frames in.
constexpr Clock::duration framePeriod = std::chrono::nanoseconds(1'000'000'000 / 60);
// A wait this short is left to the vertical blank: a coarse system sleep
// could overshoot it and miss the next one.
constexpr Clock::duration shortestWait = std::chrono::milliseconds(2);
constexpr auto minimisedSleep = std::chrono::milliseconds(64);
// Idle, the window waits for events; the wait also ends at once when a pane
// gets text or a close is asked for, so this bound only rescues a lost wake.
constexpr double idleWaitSeconds = 0.5;
// Frames drawn after an event before the window waits again: Dear ImGui shows
// a click, a hover or a new tab one or two frames after the input.
constexpr int framesAfterEvent = 3;

// Sleeps until the frame's slot ends. Slots are counted from the previous
// slot, not from now, so the average rate stays 60 a second; a late frame
// starts the count afresh instead of being followed by a burst.
void waitForNextFrame(Clock::time_point& nextFrame) {
    nextFrame += framePeriod;
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

    // Dear ImGui with keyboard navigation, imgui.ini in the current folder,
    // repodeck's colours and a font at the desktop's scale.
    ImGui::CreateContext();
    ImGui::GetIO().ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    ImGui::StyleColorsDark();
    applyColorTheme();
    const FontFiles fonts = host::fontFiles();
    float fontScale = host::contentScale() * zoom;
    applyScale(fontScale, fonts);
    host::initBackends();
    if (folder)
        scanFolderAt(folder);

    Clock::time_point nextFrame = Clock::now();
    bool animating = false;
    int settleFrames = framesAfterEvent;  // the first frames lay the window out
    for (;;) {
        bool idle = !animating && settleFrames == 0;
        host::Events events = host::handleEvents(idle ? idleWaitSeconds : 0);
        if (events == host::Events::closed) {
            // At once, so scan threads wind down while the window is torn down.
            scanState.abortRequested = true;
            break;
        }
        if (events == host::Events::some)
            settleFrames = framesAfterEvent;
        else if (settleFrames > 0)
            settleFrames--;
        else if (idle && !scanState.busy())
            continue;  // the wait ran out and nothing changed: nothing to draw

        host::newFrame();
        takeWindowKeys();
        float scale = host::contentScale() * zoom;
        if (scale != fontScale) {
            fontScale = scale;
            applyScale(scale, fonts);
            host::reloadFontTexture();
        }
        ImGui::NewFrame();
        animating = drawMainWindow();
        ImGui::Render();
        if (host::isMinimised())
            std::this_thread::sleep_for(minimisedSleep);
        host::present(clearColour);
        waitForNextFrame(nextFrame);
    }

    // The user interface goes first; stopScan needs none of it.
    host::shutdownBackends();
    ImGui::DestroyContext();
    host::destroy();
    stopScan();
    return 0;
}
