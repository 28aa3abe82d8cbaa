// The window repodeck is drawn in, and the desktop around it; one file per
// platform (GLFW + OpenGL 3 on Linux, Win32 + Direct3D 11 on Windows).
#pragma once

namespace host {

// Creates the window (hidden, then maximised and shown) and the graphics
// device. On failure says why (standard error, or a message on Windows) and
// returns false with nothing left open.
bool create(const char* title);

// Starts Dear ImGui's platform and renderer backends; the context exists.
void initBackends();

// Handles pending events without waiting. False once the window was closed.
bool pollEvents();
bool isMinimised();

void newFrame();            // the backends' part of ImGui::NewFrame
void present(const float clearColour[4]);  // after ImGui::Render

void setWindowTitle(const char* title);
// Opens address in the desktop's browser without waiting for it.
void openLink(const char* address);

// Shuts the backends down, then the device and the window. The Dear ImGui
// context is destroyed by the caller in between, as the backends need.
void shutdownBackends();
void destroy();

}  // namespace host
