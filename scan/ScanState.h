// The one record through which the user interface and the scan threads meet.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "exec/Runner.h"

// The check boxes, written by the user interface; a scan reads its own copy.
struct ScanOptions {
    std::atomic<bool> fetchEnabled{true};
    std::atomic<bool> pullEnabled{false};
    std::atomic<bool> submoduleEnabled{false};
    std::atomic<bool> statusEnabled{false};
    std::atomic<bool> remoteEnabled{false};
    std::atomic<bool> readmeEnabled{false};
    // The scanned repositories' own hooks run only when the user trusts them.
    std::atomic<bool> runHooks{false};
    // The walk goes into work trees for repositories that are not their submodules.
    std::atomic<bool> nestedEnabled{false};
    // Not a check box: each repository's state after its operations, for the
    // Summary tab (always) and repodeck-scan's Summary pane and JSON (when asked).
    std::atomic<bool> summaryEnabled{true};

    void copyFrom(const ScanOptions& other);
};

// Repositories worked on at once, at most.
constexpr int maxJobs = 64;
// At once unless told otherwise: git waits on disks and hosts more than on a
// processor, so twice the processors, 4 to 8; 8 stays below the 10 new
// connections at once that an OpenSSH server takes by default, where every
// repository of a scan has the same host.
inline int defaultJobs() { return std::clamp(2 * int(std::thread::hardware_concurrency()), 4, 8); }

struct ScanState {
    ScanState() {
        for (ChildSlot& slot : children)
            slot.stopWith(abortRequested);
    }

    ScanOptions options;
    // The options as they were when the running (or last) scan started, so a
    // tick during a scan changes nothing until the next: copied by
    // startMainScan while no scan thread exists, read by the scan threads.
    ScanOptions scanOptions;

    std::atomic<bool> abortRequested{false};
    std::atomic<bool> mainScanRunning{false};
    std::atomic<bool> optionScanRunning{false};
    std::atomic<bool> readmeScanRunning{false};
    std::atomic<bool> outOfMemory{false};  // a scan thread's work ended for lack of memory

    // Written only on the user interface thread while no scan thread exists:
    // the folder as chosen, made absolute, and resolved (for what lies inside).
    char scanPath[1024] = {};
    std::string root;

    // mainScanThread belongs to the user interface thread; the other two are
    // filled by the main scan thread and joined by stopScan after it.
    std::thread mainScanThread;
    std::thread optionScanThread;
    std::thread readmeScanThread;

    // How many repositories the option scan works on at once (1 to maxJobs),
    // read when it starts.
    std::atomic<int> jobs{defaultJobs()};

    // The running git child of each worker, the first also the main scan's
    // git --version. A child published while abortRequested is set is ended
    // at once, so a stop is never lost.
    ChildSlot children[maxJobs];
    // With credentials: the program that asks for them when the user names
    // none; empty for the terminal's own prompt.
    std::string askPass;
    // The git program of this scan, found once by the main scan thread before
    // it starts the workers; empty when there is none.
    std::string gitProgram;

    // How far the option scan is, for the status line, the title and
    // repodeck-scan's progress line: written by the option scan, read anywhere.
    std::atomic<uint32_t> repositoryCount{0};
    std::atomic<uint32_t> repositoriesDone{0};
    // The repositories that the workers have in hand, in list order; empty
    // between scans. A worker sets its own, an empty repository for none.
    std::vector<std::string> repositoriesInHand() const;
    void setInHand(int worker, size_t index, const std::string& repository);

    bool busy() const { return mainScanRunning || optionScanRunning || readmeScanRunning; }
    bool childRunning() const {
        return std::any_of(std::begin(children), std::end(children), [](const ChildSlot& s) { return s.holdsChild(); });
    }

private:
    mutable std::mutex progressMutex;
    std::pair<size_t, std::string> inHand[maxJobs];  // list index and path of each worker's
};

extern ScanState scanState;
