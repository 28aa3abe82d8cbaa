// The window's log panes, one for each Pane, in the order of their tabs.
#pragma once

#include <atomic>

#include "app/PaneView.h"
#include "scan/ScanSink.h"

extern LogPane logsPane, reposPane, updatesPane, statusPane, compactPane, remotesPane, readmePane;

// Indexed by Pane.
struct PaneTab {
    const char* label;
    const char* childName;
    LogPane* pane;
};
extern const PaneTab paneTabs[paneCount];

// Called on a scan's thread after its text or record reaches the window: the
// window host points it at what ends its idle wait. Null without a window.
extern std::atomic<void (*)()> paneTextArrived;
