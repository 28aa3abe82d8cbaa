// The start-up, frame loop and shutdown that every host shares; the host's
// own entry point (main, WinMain) only calls runApp.
#pragma once

// Runs the one window until the user closes it, on the process's initial
// thread; a folder named on the command line (or null) is scanned at once.
// Returns the exit code: 0 after a close, 1 when the window or its graphics
// device could not be made (the host has said why).
int runApp(const char* folder = nullptr);
