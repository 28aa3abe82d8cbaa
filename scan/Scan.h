// One scan of one folder: the walk hands each repository it finds to the
// workers, the workers fill its record, and everything reaches the views
// through the scan's sink. Nothing is shared with another scan.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "exec/Runner.h"
#include "scan/Records.h"
#include "scan/ScanSink.h"

// Repositories worked on at once, at most.
constexpr int maxJobs = 64;
// At once unless told otherwise: git waits on disks and hosts more than on a
// processor, so twice the processors, 4 to 8; 8 stays below the 10 new
// connections at once that an OpenSSH server takes by default, where every
// repository of a scan has the same host.
inline int defaultJobs() { return std::clamp(2 * int(std::thread::hardware_concurrency()), 4, 8); }

// What to do; a scan takes a copy when it is made, so a tick during a scan
// changes nothing until the next.
struct ScanOptions {
    bool fetchEnabled = true;
    bool pullEnabled = false;
    bool submoduleEnabled = false;
    bool statusEnabled = false;
    bool remoteEnabled = false;
    bool readmeEnabled = false;
    // The scanned repositories' own hooks run only when the user trusts them.
    bool runHooks = false;
    // The walk goes into work trees for repositories that are not their submodules.
    bool nestedEnabled = false;
    // Each repository's state after its operations, for the Summary tab
    // (always) and repodeck-scan's Summary pane and JSON (when asked).
    bool summaryEnabled = true;
    int jobs = defaultJobs();  // 1 to maxJobs
    // With credentials: the program that asks for them when the user names
    // none; empty for the terminal's own prompt.
    std::string askPass;
};

// How far a scan is, for the status line, the title and repodeck-scan's progress line.
struct ScanProgress {
    bool walking = false;  // still finding repositories
    uint32_t found = 0, done = 0;
    std::vector<std::string> inHand;  // the repositories the workers have, in list order
};

// The repositories of a scan, in the order the walk finds them. Workers take
// them in that order as they come; the walk closes the list when it ends.
class RepositoryQueue {
public:
    void push(const std::string& path);
    void close();
    // The next repository and its place in the list, waiting for the walk;
    // false once none is left or stop is set.
    bool take(size_t& index, std::string& path, const std::atomic<bool>& stop);
    std::vector<std::string> list() const;
    std::vector<std::string> untaken() const;

private:
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> paths;
    size_t next = 0;
    bool closed = false;
};

class Scan {
public:
    // folder as chosen: made absolute here, once.
    Scan(const std::string& folder, const ScanOptions& options, ScanSink& sink);
    ~Scan();  // stops and waits
    Scan(const Scan&) = delete;
    Scan& operator=(const Scan&) = delete;

    // Before start: the walk lists only these repositories of the folder
    // (paths made absolute as the folder is); one it does not find gets a row
    // marked gone.
    void keepOnly(const std::vector<std::string>& paths);
    // Starts the scan's thread; false when it cannot start (Logs says why).
    bool start();
    // Runs the ticked commands on list, without a walk, on the calling
    // thread. With credentials, one repository at a time, git may ask the user
    // (options' askPass, or the terminal). Each record replaces the one of its
    // path; the other records stay.
    void runOn(const std::vector<std::string>& list, bool withCredentials = false);

    // Once the last run has ended, on the scan's thread, with what's commands
    // (the same jobs, trust rules and stop; false when busy or nothing to do):
    // runOn list (the window's actions on rows, and its retry with credentials),
    bool startOn(std::vector<std::string> list, const ScanOptions& what, bool withCredentials = false);
    // or the last list again, while a walk of the folder adds the
    // repositories it finds off the list and marks gone those it no longer finds.
    bool rescan(const ScanOptions& what);
    // The window's "Retry N with credentials".
    bool retryWithCredentials(const std::string& askPass);

    // Any thread: ends every running git child; the threads wind down.
    void stop();
    void wait();  // joins the scan's thread
    bool running() const { return busy; }
    bool stopRequested() const { return stopFlag; }

    const std::string& folder() const { return chosen; }
    ScanProgress progress() const;
    const Records& records() const { return rows; }
    std::vector<std::string> needingCredentials() const;
    bool gitRan() const { return workersStarted; }  // git --version worked and the workers began
    bool gitMissing() const { return noGit; }  // looked for, and not on the search path
    bool outOfMemory() const { return memoryOut; }

private:
    void walkAndRun();
    bool walkInto(RepositoryQueue& queue, std::set<std::string>& seen);
    void markGone(const std::string& path);
    void takeOptions(const ScanOptions& what);
    bool startRun(const char* what, bool walks, std::function<void()> body);
    bool checkGit(std::string& version);
    // Starts the workers on queue, feeds it on this thread, then waits for them.
    void runRepositories(bool withCredentials, const std::function<void(RepositoryQueue&)>& feed,
                         const std::function<void(RepositoryQueue&)>& fed);
    bool startThread(std::thread& slot, const char* what, std::function<void()> body);
    void setInHand(int worker, size_t index, const std::string& repository);

    std::string chosen, root;  // the folder made absolute, and resolved (for what lies inside)
    ScanOptions options;  // the running or last run's
    std::vector<std::string> known, only;  // what a rescan runs first; what the walk keeps when any
    SerialSink sink;
    Records rows;
    std::string gitProgram;  // found once; empty when there is none

    std::atomic<bool> stopFlag{false}, busy{false}, walking{false}, workersStarted{false}, memoryOut{false}, noGit{false};
    std::atomic<uint32_t> found{0}, done{0};
    std::thread thread;
    // The running git child of each worker, the first also git --version. A
    // child published while stopFlag is set is ended at once.
    ChildSlot children[maxJobs];
    mutable std::mutex progressMutex;
    std::pair<size_t, std::string> inHand[maxJobs];  // list index and path of each worker's
};
