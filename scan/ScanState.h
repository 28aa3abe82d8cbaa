// The one record through which the user interface and the scan threads meet.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "exec/Runner.h"

// The check boxes; read live by the scan threads, written by the user interface.
struct ScanOptions {
    std::atomic<bool> fetchEnabled{true};
    std::atomic<bool> pullEnabled{false};
    std::atomic<bool> submoduleEnabled{false};
    std::atomic<bool> statusEnabled{false};
    std::atomic<bool> remoteEnabled{false};
    std::atomic<bool> readmeEnabled{false};
    // Not a check box: each repository's state after its operations, for the
    // Summary tab (always) and repodeck-scan's Summary pane and JSON (when asked).
    std::atomic<bool> summaryEnabled{true};
};

// Repositories worked on at once, at most.
constexpr int maxJobs = 64;

struct ScanState {
    ScanState() {
        for (ChildSlot& slot : children)
            slot.stopWith(abortRequested);
    }

    ScanOptions options;

    std::atomic<bool> abortRequested{false};
    std::atomic<bool> mainScanRunning{false};
    std::atomic<bool> optionScanRunning{false};
    std::atomic<bool> readmeScanRunning{false};
    std::atomic<bool> outOfMemory{false};  // a scan thread's work ended for lack of memory

    // Written only on the user interface thread while no scan thread exists.
    char scanPath[1024] = {};

    // mainScanThread belongs to the user interface thread; the other two are
    // filled by the main scan thread and joined by stopScan after it.
    std::thread mainScanThread;
    std::thread optionScanThread;
    std::thread readmeScanThread;

    // How many repositories the option scan works on at once (1 to maxJobs),
    // read when it starts.
    std::atomic<int> jobs{1};

    // The running git child of each worker, the first also the main scan's
    // git --version. A child published while abortRequested is set is ended
    // at once, so a stop is never lost.
    ChildSlot children[maxJobs];
    // The git program of this scan, found once by the main scan thread before
    // it starts the workers; empty when there is none.
    std::string gitProgram;

    // How far the option scan is, for the status line, the title and
    // repodeck-scan's progress line: written by the option scan, read anywhere.
    std::atomic<uint32_t> repositoryCount{0};
    std::atomic<uint32_t> repositoriesDone{0};
    std::string repositoryInHand() const;  // the last one begun; empty between scans
    void setRepositoryInHand(const std::string& repository);

    bool busy() const { return mainScanRunning || optionScanRunning || readmeScanRunning; }
    bool childRunning() const {
        return std::any_of(std::begin(children), std::end(children), [](const ChildSlot& s) { return s.holdsChild(); });
    }

private:
    mutable std::mutex progressMutex;
    std::string inHand;
};

extern ScanState scanState;
