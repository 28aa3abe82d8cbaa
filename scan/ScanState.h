// The one record through which the user interface and the scan threads meet.
#pragma once

#include <atomic>
#include <cstdint>
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
};

struct ScanState {
    ScanOptions options;

    std::atomic<bool> abortRequested{false};
    std::atomic<bool> mainScanRunning{false};
    std::atomic<bool> optionScanRunning{false};
    std::atomic<bool> readmeScanRunning{false};

    // Written only on the user interface thread while no scan thread exists.
    char scanPath[1024] = {};

    // mainScanThread belongs to the user interface thread; the other two are
    // filled by the main scan thread and joined by stopScan after it.
    std::thread mainScanThread;
    std::thread optionScanThread;
    std::thread readmeScanThread;

    ChildSlot currentChildProcess;

    // Repositories the option scan has finished, for repodeck-scan's progress line.
    std::atomic<uint32_t> repositoriesDone{0};

    bool busy() const { return mainScanRunning || optionScanRunning || readmeScanRunning; }
};

extern ScanState scanState;
