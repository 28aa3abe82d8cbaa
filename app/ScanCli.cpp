// repodeck-scan: the scan of the window, run from a terminal. The folder comes
// from the command line; the panes are printed when every scan thread is done.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "log/LogPane.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"

namespace {

const char usage[] =
    "usage: repodeck-scan [--status] [--remote] [--fetch|--no-fetch] [--pull] [--submodule]\n"
    "                     [--readme] [--pane NAME]... FOLDER\n"
    "\n"
    "Finds every git repository below FOLDER, runs the chosen git commands on each and\n"
    "prints the panes of the repodeck window. Only --fetch is on unless told otherwise.\n"
    "\n"
    "  --status      git status            --remote     git remote -v\n"
    "  --fetch       git fetch (default)   --no-fetch   skip git fetch\n"
    "  --pull        git pull              --submodule  git submodule update --init --recursive\n"
    "  --readme      the start of each README.MD or README.txt\n"
    "  --pane NAME   print only this pane (repeatable): Logs, Repositories, Updates,\n"
    "                Status, Compacts, Remotes, \"Read Me\"; letters' case is ignored\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 when the scan ran, 1 when git cannot be run, 2 for a usage error,\n"
    "130 or 143 when stopped by SIGINT or SIGTERM (what was gathered is printed).\n";

// Set by the handler on the main thread, read by the watcher thread: a
// lock-free atomic is both signal-safe and a proper hand-over between threads.
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onStopSignal(int signal) {
    int savedErrno = errno;
    stopSignal = signal;
    errno = savedErrno;
}

int usageError(const char* message, const char* detail) {
    fprintf(stderr, "repodeck-scan: %s%s\n", message, detail);
    fputs("Try 'repodeck-scan --help'.\n", stderr);
    return 2;
}

bool sameIgnoringCase(const char* a, const char* b) {
    for (; *a && *b; a++, b++)
        if (tolower((unsigned char)*a) != tolower((unsigned char)*b))
            return false;
    return *a == *b;
}

int lineCount(LogPane& pane) {
    std::lock_guard<std::recursive_mutex> lock(pane.mutex);
    return pane.lineOffsets.Size - 1;
}

void showProgress(bool& shown) {
    char line[96];
    if (scanState.mainScanRunning)
        snprintf(line, sizeof line, "repodeck-scan: finding repositories: %d found", lineCount(reposPane));
    else if (scanState.optionScanRunning || scanState.readmeScanRunning)
        snprintf(line, sizeof line, "repodeck-scan: running git: %u repositories done",
                 unsigned(scanState.repositoriesDone));
    else
        return;
    fprintf(stderr, "\r%-78s", line);
    shown = true;
}

// Runs on a thread of its own while the main thread waits for the scan, so a
// stop signal can end the running git child at once.
struct ScanEnd {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
};

void watch(ScanEnd& end, bool progress) {
    bool stopped = false, shown = false;
    std::unique_lock<std::mutex> lock(end.mutex);
    while (!end.done) {
        if (stopSignal && !stopped) {
            scanState.abortRequested = true;
            scanState.currentChildProcess.terminate();
            stopped = true;
        }
        if (progress)
            showProgress(shown);
        // Woken at once when the scan ends, so the panes print without delay.
        end.changed.wait_for(lock, std::chrono::milliseconds(50));
    }
    if (shown)
        fprintf(stderr, "\r%-78s\r", "");
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The panes are printed byte for byte: no CR added before each line end.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    ScanOptions& options = scanState.options;
    std::vector<const PaneTab*> panes;
    const char* folder = nullptr;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (!strcmp(arg, "--help")) {
            fputs(usage, stdout);
            return 0;
        } else if (!strcmp(arg, "--version")) {
            puts("repodeck-scan 1.0");
            return 0;
        } else if (!strcmp(arg, "--status")) {
            options.statusEnabled = true;
        } else if (!strcmp(arg, "--remote")) {
            options.remoteEnabled = true;
        } else if (!strcmp(arg, "--fetch")) {
            options.fetchEnabled = true;
        } else if (!strcmp(arg, "--no-fetch")) {
            options.fetchEnabled = false;
        } else if (!strcmp(arg, "--pull")) {
            options.pullEnabled = true;
        } else if (!strcmp(arg, "--submodule")) {
            options.submoduleEnabled = true;
        } else if (!strcmp(arg, "--readme")) {
            options.readmeEnabled = true;
        } else if (!strcmp(arg, "--pane")) {
            if (++i == argc)
                return usageError("--pane needs a pane name", "");
            const PaneTab* found = nullptr;
            for (const PaneTab& tab : paneTabs)
                if (sameIgnoringCase(tab.label, argv[i]))
                    found = &tab;
            if (!found)
                return usageError("no such pane: ", argv[i]);
            panes.push_back(found);
        } else if (!strcmp(arg, "--")) {
            if (i + 1 < argc)
                folder = argv[++i];
            if (i + 1 < argc)
                return usageError("more than one folder given: ", argv[i + 1]);
        } else if (arg[0] == '-' && arg[1]) {
            return usageError("unknown option: ", arg);
        } else if (folder) {
            return usageError("more than one folder given: ", arg);
        } else {
            folder = arg;
        }
    }
    if (!folder)
        return usageError("no folder given", "");
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        return usageError(std::filesystem::exists(folder, error) ? "not a folder: " : "no such folder: ", folder);
    if (strlen(folder) >= sizeof scanState.scanPath)
        return usageError("folder path too long: ", folder);
    if (panes.empty())
        for (const PaneTab& tab : paneTabs)
            panes.push_back(&tab);

    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);

    ScanEnd end;
    std::thread watcher(watch, std::ref(end), isatty(fileno(stderr)) != 0);
    bool started = startMainScan(folder);
    bool gitRan = false;
    if (started) {
        if (scanState.mainScanThread.joinable())
            scanState.mainScanThread.join();
        gitRan = scanState.optionScanThread.joinable();  // started only after git --version worked
        waitForScan();
    }
    {
        std::lock_guard<std::mutex> lock(end.mutex);
        end.done = true;
    }
    end.changed.notify_one();
    watcher.join();
    stopScan();  // nothing is left to wait for; this empties the slots and flags

    for (const PaneTab* tab : panes) {
        if (panes.size() > 1)
            printf("== %s ==\n", tab->label);
        std::string text = tab->pane->text();
        fwrite(text.data(), 1, text.size(), stdout);
    }
    fflush(stdout);

    if (stopSignal == SIGINT)
        return 130;
    if (stopSignal == SIGTERM)
        return 143;
    if (!started)
        return 2;
    return gitRan ? 0 : 1;
}
