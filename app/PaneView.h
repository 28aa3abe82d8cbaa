// A log pane of the window: its text, shown with a filter box, Clear and Copy.
#pragma once

#include <cstddef>

#include "log/PaneText.h"

struct LogPane : PaneText {
    // Inside a window the caller has begun, on the user interface thread;
    // takes the mutex for the whole pane. focusFilter puts the keyboard
    // into the filter box (Ctrl+F).
    void draw(bool focusFilter = false);

    // Bytes the desktop's clipboard takes in one piece; the host sets it.
    // A larger Copy says so in the pane instead of failing unseen.
    static size_t clipboardLimit;

private:
    bool copyPending = false;  // Copy waits for the filter to reach the end
    void copyShownLines();
};
