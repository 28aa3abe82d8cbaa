// The window repodeck is drawn in, and the desktop around it; one file per
// platform (GLFW + OpenGL 3 on Linux, Win32 + Direct3D 11 on Windows).
#pragma once

#include <cstdint>
#include <string>

#include <imgui.h>

namespace host {

// Creates the window (hidden, then maximised and shown) and the graphics
// device. On failure says why (standard error, or a message on Windows) and
// returns false with nothing left open.
bool create(const char* title);

// Starts Dear ImGui's platform and renderer backends; the context exists.
void initBackends();

enum class Events { none, some, closed };
// Handles the pending events, first waiting up to waitSeconds for one when
// waitSeconds > 0. Text arriving in a pane ends the wait at once, and so does
// a close request: the close box, or SIGTERM, SIGHUP, SIGINT, SIGQUIT and the console
// and end-of-session events of Windows.
Events handleEvents(double waitSeconds);
bool isMinimised();

void newFrame();            // the backends' part of ImGui::NewFrame
void present(const float clearColour[4]);  // after ImGui::Render
// Shows the last frame again, while a modal dialog holds the loop (a picker),
// so the window under it is never left unpainted. Nothing before a first frame.
void presentAgain();

// The desktop's scale for this window's monitor (1 at 96 dots per inch).
float contentScale();
// A font file and the face in it (a collection holds several).
struct FontFace {
    std::string file;
    int index = 0;
    auto operator<=>(const FontFace&) const = default;
};
// The text font, monospaced; an empty file when the system has none
// (Dear ImGui's built-in font then).
FontFace textFont();
// The desktop's first choice of font for c among those that have a glyph
// for it; an empty file when none has.
FontFace fontFor(ImWchar c);
// After the font atlas was rebuilt: the renderer makes its texture afresh.
void reloadFontTexture();

// Keys beyond Dear ImGui's key map, as indices into io.KeysDown: the GLFW
// backend uses GLFW's key codes, the Win32 one virtual-key codes.
enum class Key { f, f5, equal, minus, zero, keypadAdd, keypadSubtract };
int keyIndex(Key key);

void setWindowTitle(const char* title);
// Dear ImGui's layout file in the user's configuration folder, the folder
// made when missing; empty when it cannot be (the layout is then not kept).
std::string layoutFile();
// The window as the desktop knows it (an X11 window id, an HWND), for the
// folder picker's owner.
uintptr_t nativeWindow();
// The README that the About tab opens: beside an installed program, or the
// checkout's for a program run from its build folder. Empty when none is there.
std::string readmePath();
// Opens a file or a folder in the desktop's viewer for it, without waiting.
// False when the viewer could not be started.
bool openLink(const std::string& path);
// Opens the desktop's terminal in folder, without waiting: x-terminal-emulator
// on Linux; Windows Terminal, else a console with cmd, on Windows. False when
// none could be started there.
bool openTerminal(const std::string& folder);

// Shuts the backends down, then the device and the window. The Dear ImGui
// context is destroyed by the caller in between, as the backends need.
void shutdownBackends();
void destroy();

}  // namespace host
