// The Summary tab: one row per repository of the running or last scan.
#pragma once

// Inside the tab; user interface thread only. Rows come from scanSummary as
// each repository is done.
void drawSummary();
