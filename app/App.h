// The start-up, frame loop and shutdown that every host shares; the host's
// own entry point (main, WinMain) only calls runApp.
#pragma once

// Runs the one window until the user closes it, on the process's initial
// thread; a folder named on the command line (or null) is scanned at once.
// --help and --version print and return at once. Returns the exit code: 0
// after a close, 1 when the window or its graphics device could not be made
// (the host has said why) or standard output cannot be written, 2 for an
// unknown option.
int runApp(const char* folder = nullptr);
