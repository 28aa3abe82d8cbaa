// The window's log panes, one for each Pane, in the order of their tabs.
#pragma once

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
