// The window's seven log panes, in the order of their tabs.
#pragma once

#include "app/PaneView.h"

extern LogPane logsPane, reposPane, updatesPane, statusPane, compactPane, remotesPane, readmePane;

// Tab order, for the user interface and repodeck-scan.
struct PaneTab {
    const char* label;
    const char* childName;
    LogPane* pane;
};
constexpr int paneCount = 7;
extern const PaneTab paneTabs[paneCount];
