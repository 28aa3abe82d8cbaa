// The whole user interface: options, "Scan Folder", "Rescan", "Stop", status
// line, tabs, About.
#pragma once

#include <cstdint>
#include <string>

// Before ImGui::NewFrame: takes the keys that Dear ImGui would otherwise use
// itself (Ctrl+Tab for its window switcher, Ctrl + wheel for scrolling) and
// the zoom keys (Ctrl+= and Ctrl+-, Ctrl+0 to reset).
void takeWindowKeys();

// Once per frame, between ImGui::NewFrame and ImGui::Render, on the user
// interface thread. May block while stopping a scan. True when the next
// frame should follow at once: the About animation shows, or a filter is
// still being worked.
bool drawMainWindow();

// After the frame is shown, outside any Dear ImGui frame: the folder picker
// that "Scan Folder" asked for, which blocks while the frame stays on the
// screen, then the scan of the folder picked. A cancelled picker changes nothing.
void pickAskedFolder();

// The window title: the spinner and the count while a scan runs, else
// "repodeck"; written only when it changes. Also for a minimised window.
void showProgressInTitle();

// Its state across frames, user interface thread only. Unsigned, so the
// counter wraps in a defined way after 2^32 frames.
extern uint32_t frameCounter;
extern std::string windowTitle;   // as last written; empty for never
extern float aboutAnimationTime;  // moves only in frames that draw the About tab
extern float zoom;                // the user's zoom over the desktop's scale
