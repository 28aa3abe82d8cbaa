// Starting, running and stopping a scan of one folder.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <thread>

// The repositories of one scan, in the order the walk found them. Each worker
// thread gets a copy of its own.
using RepositoryList = std::list<std::string>;

// Walks folder depth first and appends every folder that holds a ".git"
// folder, reporting each in logsPane and reposPane. Each folder is walked
// once; a link is followed only into folder (and never into /proc, /sys or
// /dev), one that leads elsewhere gets a line in logsPane. Stops at the next
// entry once abortRequested is set.
void findRepositories(const std::string& folder, RepositoryList& repositories);

// Starts a scan thread in slot; one that cannot start (out of resources) is
// reported in Logs, never thrown, and false is returned.
bool startThread(std::thread& slot, const char* what, std::function<void()> body);

// The thread bodies.
void mainScan();
// With credentials, the repositories' records replace theirs in scanSummary
// instead of starting it anew, one repository at a time, and git may ask the
// user (scanState.askPass, or the terminal) for a password or a passphrase.
void optionScan(RepositoryList repositories, bool withCredentials = false);

// The repositories of the last scan whose fetch, pull or submodule update
// wanted credentials.
RepositoryList needingCredentials();

// The window's "Retry N with credentials": a scan thread runs them in turn.
// User interface thread only, while no scan runs.
void retryWithCredentials();
void readmeScan(RepositoryList repositories);

// Stops the running scan and scans folder: the one picked after "Scan
// Folder", "Rescan" with the last folder, and a folder named on the command
// line. User interface thread only.
void scanFolderAt(const std::string& folder);
void rescanFolder();  // nothing before the first scan

// The folder of the last scan started in this session, kept in memory only;
// empty before the first.
const std::string& lastScannedFolder();

// Starts the main scan thread on folder, which must fit scanPath; the caller
// has run stopScan. Returns false, starting nothing, when the path is too long.
bool startMainScan(const char* folder);

// Waits for every scan thread to end by itself and empties their slots: the
// main scan thread first, since it fills the two others before it ends.
void waitForScan();

// Asks the running scan to stop: sets abortRequested and ends every running
// git child; a child that starts afterwards is ended at once. Any thread.
void requestStop();

// Ends the running scan: requestStop, then waits for every scan thread, and
// says in Logs that the scan was stopped when one was running.
// abortRequested stays set. User interface thread only.
void stopScan();

// The Logs line of a scan that was stopped.
void reportStopped();
