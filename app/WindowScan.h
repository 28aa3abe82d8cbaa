// The window's scans: the options the user ticks, and the running or last
// scan, whose sink fills the panes. User interface thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scan/Scan.h"

// What the check boxes and the Jobs field show; a scan copies them when it starts.
ScanOptions& windowOptions();

// The running or last scan; null before the first.
const Scan* currentScan();
// The records the Summary shows: the scan's, as each is done; a new scan
// starts them empty.
Records& summaryRecords();
// Changes whenever a new scan replaces the last, so a view starts over.
uint64_t scanNumber();
bool scanBusy();

// Stops the running scan and scans folder: the one picked after "Scan
// Folder", and a folder named on the command line.
void scanFolderAt(const std::string& folder);
// "Rescan" (the ticked commands) and "Refresh all" (the state command alone):
// the running scan stopped, the last list and rows again, while a walk of the
// folder adds a row for a repository new there and marks gone one no longer
// there. Nothing before the first scan.
void rescanFolder();
void refreshAll();
// An action on the Summary's rows: the state command, after command (one of
// the options' commands; none for a refresh), on paths alone, through the
// last scan (the same jobs, trust rules and stop); only their rows change.
// label names the action in Logs. Nothing while a scan runs.
void runOnRows(const std::vector<std::string>& paths, const char* label, bool ScanOptions::*command);
// "Watch": while ticked (at start), a change in a repository's git folder
// (a commit, a checkout, git add, a fetch) refreshes its row (the state
// command alone) once no scan runs. keepRowsCurrent does that, once a frame.
bool& watchRows();
void keepRowsCurrent();

// The folder of the last scan started in this session (made absolute),
// kept in memory only; empty before the first.
const std::string& lastScannedFolder();

// Ends the running scan: stops it, waits for its threads, and says in Logs
// that it was stopped when it was running.
void stopScan();
// Asks the running scan to stop without waiting: a closing window.
void requestStop();

// "Retry N with credentials": the last scan's repositories that wanted them,
// one at a time, through the desktop's asker.
void retryWithCredentials();
