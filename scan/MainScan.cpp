// The main scan thread and the stop: walk, count, check git, start the workers.
#include <cstring>
#include <new>
#include <system_error>

#include "exec/Git.h"
#include "app/Panes.h"
#include "scan/DirectoryList.h"
#include "scan/RepositoryState.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"

bool startThread(std::thread& slot, const char* what, std::function<void()> body) {
    try {
        // Memory that runs out where nothing nearer could help ends the
        // thread's work with a line in Logs, never the program.
        slot = std::thread([what, body = std::move(body)] {
            try {
                body();
            } catch (const std::bad_alloc&) {
                scanState.outOfMemory = true;
                logsPane.write("[ERROR] Out of memory in the ");
                logsPane.write(what);
                logsPane.write(" thread; its work ended there.\n");
            }
        });
        return true;
    } catch (const std::system_error& error) {
        logsPane.write("[ERROR] Could not start the ");
        logsPane.write(what);
        logsPane.write(" thread: ");
        logsPane.write(error.what());
        logsPane.write("\n");
        return false;
    }
}

namespace {

void join(std::thread& slot) {
    if (slot.joinable())
        slot.join();
}

}  // namespace

void mainScan() {
    scanState.mainScanRunning = true;

    RepositoryList repositories;
    std::string folder = scanState.scanPath;
    findRepositories(folder, repositories);

    // The count comes before the git check, so it shows also when git is missing.
    bool stopped = scanState.abortRequested;
    const char* count = stopped ? "Repositories Found Before The Stop: " : "Repository Count: ";
    logsPane.write(separator);
    logsPane.write("\n");
    logsPane.write(stopped ? "Main Scan Stopped !!!" : "Main Scan Finished !!!");
    logsPane.write("\n");
    logsPane.write(count);
    logsPane.write(uint64_t(repositories.size()));
    logsPane.write("\n");
    logsPane.write(separator);
    logsPane.write("\n");
    reposPane.addLog("%s", separatorLine);
    reposPane.addLog("%s%zu\n", count, repositories.size());
    reposPane.addLog("%s", separatorLine);

    // Found here, in repodeck's own folder, so a file named git inside a
    // repository never runs, whatever the search path holds.
    scanState.gitProgram = findProgram(git::program);
    std::string version;
    int32_t result = scanState.gitProgram.empty()
                         ? startFailedResult
                         : runCommand(git::version, version, nullptr, scanState.children[0],
                                      scanState.gitProgram.c_str());
    if (result < 0) {
        // A stop ends git --version too; that is no missing git (stopScan says so).
        if (scanState.abortRequested) {
            // nothing more to say
        } else if (scanState.gitProgram.empty()) {
            logsPane.write((std::string("You need to install git: ") + git::downloadAddress).c_str());
            logsPane.write("\n");
            logsPane.write("If git is already installed. You need to add git folder into your environment variable (PATH)");
            logsPane.write("\n");
        } else {
            logsPane.write("[ERROR] git could not run: ");
            logsPane.write(messageOf(version, result));
            logsPane.write("\n");
        }
        scanState.mainScanRunning = false;
        return;
    }
    logsPane.write("Git Version: ");
    logsPane.write(version);
    logsPane.write("\n");

    // Running from here on, so a stop never falls in a moment when no flag is set.
    scanState.optionScanRunning = true;
    if (!startThread(scanState.optionScanThread, "option scan", [repositories] { optionScan(repositories); }))
        scanState.optionScanRunning = false;
    if (scanState.scanOptions.readmeEnabled)
        startThread(scanState.readmeScanThread, "README scan", [repositories] { readmeScan(repositories); });
    scanState.mainScanRunning = false;
}

bool startMainScan(const char* chosen) {
    // Absolute once, here: git's ceiling and every check of what lies inside
    // need it, and every path shown is then whole.
    std::string absolute = absoluteFolder(chosen);
    const char* folder = absolute.c_str();
    size_t length = strlen(folder);
    if (length >= sizeof scanState.scanPath) {
        logsPane.write("[ERROR] The folder's path is too long to scan (");
        logsPane.write(uint64_t(length));
        logsPane.write(" bytes): ");
        logsPane.write(folder);
        logsPane.write("\n");
        return false;
    }
    memcpy(scanState.scanPath, folder, length + 1);
    scanState.root = resolvedPath(absolute);
    scanState.scanOptions.copyFrom(scanState.options);
    scanSummary.clear();  // the Summary shows this scan's rows only
    logsPane.write("Path to Scan: ");
    logsPane.write(scanState.scanPath);
    logsPane.write("\n");
    scanState.mainScanRunning = true;  // see mainScan's start of the option scan
    if (startThread(scanState.mainScanThread, "main scan", mainScan))
        return true;
    scanState.mainScanRunning = false;
    return false;
}

void waitForScan() {
    join(scanState.mainScanThread);
    join(scanState.optionScanThread);
    join(scanState.readmeScanThread);
}

void requestStop() {
    scanState.abortRequested = true;
    for (ChildSlot& slot : scanState.children)
        slot.terminate();
}

void stopScan() {
    bool running = scanState.busy();
    requestStop();
    waitForScan();
    scanState.optionScanRunning = false;
    scanState.readmeScanRunning = false;
    scanState.mainScanRunning = false;
    if (running)
        reportStopped();
}

void reportStopped() {
    logsPane.write("Scan Stopped !!!");
    logsPane.write("\n");
}
