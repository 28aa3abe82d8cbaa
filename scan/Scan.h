// One scan of one folder: the walk hands each repository it finds to the
// workers, the workers fill its record, and everything reaches the views
// through the scan's sink. Nothing is shared with another scan.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
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
// Repositories of one host fetched, pulled or updated at once, at most: 8
// unless told otherwise, below the 10 new connections at once that an
// OpenSSH server takes by default.
constexpr int defaultPerHost = 8;
constexpr int maxPerHost = 64;

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
    int jobs = 0;  // 1 to maxJobs; 0 for jobsFor's choice
    int perHost = defaultPerHost;  // 1 to maxPerHost
    int timeoutSeconds = 0;  // one git command's whole run, at most; 0 for no limit
    // With credentials: the program that asks for them when the user names
    // none; empty for the terminal's own prompt.
    std::string askPass;
};

// The repositories a scan with these options works on at once: their jobs,
// or when that is 0, a number chosen for the work.
int jobsFor(const ScanOptions& options);
// Local commands wait on disks more than on a processor: twice the processors, 4 to 16.
int localJobs();

// How far a scan is, for the status line, the title and repodeck-scan's progress line.
struct ScanProgress {
    bool walking = false;  // still finding repositories
    uint32_t found = 0, done = 0;
    std::vector<std::string> inHand;  // the repositories the workers have, in list order
    // The host with the most repositories held up, waiting for its room or
    // in hand for longer than stuckSeconds, and how many; empty for none.
    std::string stuckHost;
    uint32_t stuckCount = 0;
};
constexpr int stuckSeconds = 10;

// The host a repository's network commands reach, as the queue counts it
// (an empty name for none). shared: its ssh connections are shared, so the
// host's first repository goes alone and the others follow on the connection
// it leaves open, rather than each making a connection of its own at once.
struct QueuedHost {
    std::string name;
    bool shared = false;
};

// The repositories of a scan, in the order the walk finds them, each with
// its host. Workers take the first whose host has room, so the repositories
// of other hosts run while one host's wait; the walk closes the list when it
// ends.
class RepositoryQueue {
public:
    // perHost: repositories of one host in hand at once; local: of those
    // that reach none; hostOf runs on the feeding thread, outside the queue's lock.
    RepositoryQueue(int perHost, int local, std::function<QueuedHost(const std::string&)> hostOf);
    void push(const std::string& path);
    void close();
    // The next repository, its place in the list and its host, waiting for
    // the walk or for room; false once none is left or stop is set.
    bool take(size_t& index, std::string& path, std::string& host, const std::atomic<bool>& stop);
    // A worker is done with the repository at index: its host has room again.
    void done(size_t index);
    std::vector<std::string> list() const;
    std::vector<std::pair<size_t, std::string>> untaken() const;
    // Per host that is full, how many of its repositories wait for room.
    std::map<std::string, uint32_t> waiting() const;

private:
    struct Host {
        std::deque<size_t> untaken;  // in list order
        int inHand = 0;
        bool shared = false, reached = false;  // reached: one of its repositories is done
    };
    bool hasRoom(const std::string& host, const Host& state) const {
        return state.inHand < (host.empty() ? local : state.shared && !state.reached ? 1 : perHost);
    }
    void offer(const std::string& host, const Host& state);  // the lock is held

    const int perHost, local;
    const std::function<QueuedHost(const std::string&)> hostOf;
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<std::string, std::string>> paths;  // path and host, in list order
    std::vector<bool> taken;
    std::map<std::string, Host> hosts;
    // The first untaken repository of each host with room: the next to take is the first of these.
    std::set<std::pair<size_t, std::string>> ready;
    size_t takenCount = 0;
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
    std::shared_ptr<RepositoryQueue> newQueue(bool sharesSsh);
    // One worker's repository, for progress().
    struct InHand {
        size_t index = 0;
        std::string path, host;  // empty when the worker has none
        std::chrono::steady_clock::time_point since;
    };
    void setInHand(int worker, InHand repository);

    std::string chosen, root;  // the folder made absolute, and resolved (for what lies inside)
    ScanOptions options;  // the running or last run's
    bool chosenJobs = true;  // options.jobs was chosen for the work, not given
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
    InHand inHand[maxJobs];
    std::shared_ptr<RepositoryQueue> currentQueue;  // the run's, or the last run's
};
