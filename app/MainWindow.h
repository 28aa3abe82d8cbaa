// The whole user interface: options, "Scan Folder", status line, tabs, About.
#pragma once

#include <cstdint>

// Once per frame, between ImGui::NewFrame and ImGui::Render, on the user
// interface thread. May block inside scanFolder (folder picker, stopping a scan).
void drawMainWindow();

// Its state across frames, user interface thread only. Unsigned, so the
// counter wraps in a defined way after 2^32 frames.
extern uint32_t frameCounter;
extern int lastTitleFrame;        // spinner index last put in the title; -1 for never
extern float aboutAnimationTime;  // moves only in frames that draw the About tab
