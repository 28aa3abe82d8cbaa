// repodeck-scan: the scan of the window, run from a terminal. The folder comes
// from the command line; the panes are printed when every scan thread is done.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "app/TerminalOutput.h"
#include "log/PaneText.h"
#include "scan/DirectoryList.h"
#include "scan/RepositoryState.h"
#include "scan/Scan.h"

namespace {

const char usage[] =
    "usage: repodeck-scan [--status] [--remote] [--fetch|--no-fetch] [--pull] [--submodule]\n"
    "                     [--readme] [--nested] [--run-hooks] [--ask] [--pane NAME]...\n"
    "                     [--json] [--jobs N] [--per-host N] [--timeout SECONDS]\n"
    "                     [--exit-code] [--color[=WHEN]] [--only PATH]... FOLDER\n"
    "\n"
    "Finds every git repository below FOLDER, runs the chosen git commands on each and\n"
    "prints the panes of the repodeck window. Only --fetch is on unless told otherwise.\n"
    "\n"
    "  --status      git status            --remote     git remote -v\n"
    "  --fetch       git fetch (default)   --no-fetch   skip git fetch\n"
    "  --pull        git pull              --submodule  git submodule update --init --recursive\n"
    "  --readme      the start of each README.MD or README.txt\n"
    "  --nested      also list repositories inside other repositories' work trees\n"
    "                (not their submodules)\n"
    "  --run-hooks   let the repositories' own hooks run (their configuration still\n"
    "                names no program that git runs)\n"
    "  --ask         after the scan, retry the repositories that wanted a password,\n"
    "                a key or a host key one at a time, asking on the terminal\n"
    "  --pane NAME   print only this pane (repeatable): Logs, Repositories, Updates,\n"
    "                Status, Compacts, Remotes, \"Read Me\", or Summary (one line per\n"
    "                repository); letters' case is ignored\n"
    "  --json        one JSON object per repository per line, and nothing else\n"
    "  --jobs N      work on N repositories at once (1 to 64; default, or 0: 64 with\n"
    "                --fetch, --pull or --submodule, which --per-host bounds, else\n"
    "                twice the processors, 4 to 16); the output is the same for\n"
    "                every N\n"
    "  --per-host N  fetch, pull or update at most N repositories of one host at\n"
    "                once (1 to 64; default 8, below the 10 new connections at once\n"
    "                an OpenSSH server takes); other hosts' run meanwhile\n"
    "  --timeout SECONDS\n"
    "                end a git command still running after SECONDS (1 to 86400;\n"
    "                default none: only one silent for 513 s is ended, and ssh and\n"
    "                https give up on a host that stops answering)\n"
    "  --only PATH   work on this repository of FOLDER alone (repeatable), in the\n"
    "                order of the walk; one the walk does not find gets a row marked\n"
    "                gone (a failure for --exit-code)\n"
    "  --exit-code   exit 3 when a repository needs attention, 4 when a command failed\n"
    "  --color[=WHEN]\n"
    "                the Summary pane in the window's colours: auto (the default) on a\n"
    "                terminal unless NO_COLOR is set, always (WHEN left out), never\n"
    "  --help, --version\n"
    "\n"
    "On a terminal, control characters in the panes are shown escaped (\\x1b).\n"
    "Exit status: 0 when the scan ran (3 or 4 with --exit-code), 1 when git cannot be run, a part of the scan\n"
    "cannot start, memory ran out or the output cannot be written, 2 for a usage\n"
    "error, 128 + the signal when stopped (129 SIGHUP, 130 SIGINT, 131 SIGQUIT, 143\n"
    "SIGTERM; what was gathered is printed, unless a second stop came), 141 when\n"
    "the reader of the output went away. Every running git is ended first.\n";

// Set by the handler, read by the watcher thread: a lock-free atomic is both
// signal-safe and a proper hand-over between threads. stopStatus is the exit
// status of the first stop; hurry says a second one came: nothing more is
// printed, but every git is still ended before the program exits.
std::atomic<int> stopStatus{0};
std::atomic<bool> hurry{false};
static_assert(std::atomic<int>::is_always_lock_free);
// The scan to stop from the system's thread (Windows' console events).
std::atomic<Scan*> runningScan{nullptr};

void stopWith(int status) {
    int expected = 0;
    if (!stopStatus.compare_exchange_strong(expected, status))
        hurry = true;
}

#ifdef _WIN32
// On a thread of the system's: the console's close, the end of the session and
// the system's shutdown end the process once this returns, so the children are
// ended here and now (the runner's job would end them with the process too).
BOOL WINAPI onConsoleEvent(DWORD event) {
    stopWith(event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 130 : 129);
    if (Scan* scan = runningScan.load(); scan && event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        scan->stop();
    return TRUE;
}

void handleStops() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }
#else
extern "C" void onStopSignal(int signal) {
    int savedErrno = errno;
    stopWith(128 + signal);
    errno = savedErrno;
}

// Each stays caught for the whole run: the watcher ends every git, however
// many stops come and however soon. A reader that goes away shows as a
// failed write, which stops the scan too.
void handleStops() {
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}
#endif

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

// What the command line asks for.
struct Request {
    ScanOptions options;
    const char* folder = nullptr;
    std::vector<int> panes;  // in the order given; paneCount for the Summary
    std::vector<std::string> only;  // as given
    bool json = false, ask = false, exitCode = false;
    const char* colour = "auto";
};

// The switches that only set an option.
bool takeSwitch(const char* arg, Request& request) {
    ScanOptions& options = request.options;
    struct Switch {
        const char* name;
        bool* flag;
        bool value;
    } switches[] = {
        {"--status", &options.statusEnabled, true},   {"--remote", &options.remoteEnabled, true},
        {"--fetch", &options.fetchEnabled, true},     {"--no-fetch", &options.fetchEnabled, false},
        {"--pull", &options.pullEnabled, true},       {"--submodule", &options.submoduleEnabled, true},
        {"--readme", &options.readmeEnabled, true},   {"--nested", &options.nestedEnabled, true},
        {"--run-hooks", &options.runHooks, true},     {"--ask", &request.ask, true},
        {"--json", &request.json, true},              {"--exit-code", &request.exitCode, true},
    };
    for (const Switch& known : switches)
        if (!strcmp(arg, known.name)) {
            *known.flag = known.value;
            return true;
        }
    return false;
}

// The whole number after argv[i], from low to high; i moves past it. -1 when
// there is none.
long number(int argc, char** argv, int& i, long low, long high) {
    char* end = nullptr;
    long value = ++i < argc ? strtol(argv[i], &end, 10) : -1;
    return !end || *end || end == argv[i] || value < low || value > high ? -1 : value;
}

// An option with a value, at argv[i]; i moves past the value. -1 when taken,
// else the exit status of a usage error.
int takeValue(int argc, char** argv, int& i, Request& request) {
    const char* arg = argv[i];
    if (!strcmp(arg, "--color") || !strncmp(arg, "--color=", 8)) {
        request.colour = arg[7] ? arg + 8 : "always";
        if (strcmp(request.colour, "auto") && strcmp(request.colour, "always") && strcmp(request.colour, "never"))
            return usageError("--color takes auto, always or never: ", arg);
    } else if (!strcmp(arg, "--jobs")) {
        if ((request.options.jobs = int(number(argc, argv, i, 0, maxJobs))) < 0)
            return usageError("--jobs needs a number from 0 to 64", "");
    } else if (!strcmp(arg, "--per-host")) {
        if ((request.options.perHost = int(number(argc, argv, i, 1, maxPerHost))) < 0)
            return usageError("--per-host needs a number from 1 to 64", "");
    } else if (!strcmp(arg, "--timeout")) {
        if ((request.options.timeoutSeconds = int(number(argc, argv, i, 1, 86400))) < 0)
            return usageError("--timeout needs a number of seconds from 1 to 86400", "");
    } else if (!strcmp(arg, "--only")) {
        if (++i == argc)
            return usageError("--only needs a repository's path", "");
        request.only.push_back(argv[i]);
    } else {  // --pane
        if (++i == argc)
            return usageError("--pane needs a pane name", "");
        int found = sameIgnoringCase("Summary", argv[i]) ? paneCount : -1;
        for (int pane = 0; pane < paneCount; pane++)
            if (sameIgnoringCase(paneNames[pane], argv[i]))
                found = pane;
        if (found < 0)
            return usageError("no such pane: ", argv[i]);
        request.panes.push_back(found);
    }
    return -1;
}

// -1 to go on and scan, else the exit status.
int parseArguments(int argc, char** argv, Request& request) {
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (!strcmp(arg, "--help")) {
            fputs(usage, stdout);
            return 0;
        } else if (!strcmp(arg, "--version")) {
            puts("repodeck-scan " REPODECK_VERSION);
            return 0;
        } else if (takeSwitch(arg, request)) {
        } else if (!strcmp(arg, "--color") || !strncmp(arg, "--color=", 8) || !strcmp(arg, "--jobs") ||
                   !strcmp(arg, "--per-host") || !strcmp(arg, "--timeout") || !strcmp(arg, "--pane") ||
                   !strcmp(arg, "--only")) {
            if (int status = takeValue(argc, argv, i, request); status >= 0)
                return status;
        } else if (!strcmp(arg, "--")) {
            if (i + 1 < argc)
                request.folder = argv[++i];
            if (i + 1 < argc)
                return usageError("more than one folder given: ", argv[i + 1]);
        } else if (arg[0] == '-' && arg[1]) {
            return usageError("unknown option: ", arg);
        } else if (request.folder) {
            return usageError("more than one folder given: ", arg);
        } else {
            request.folder = arg;
        }
    }
    if (!request.folder)
        return usageError("no folder given", "");
    std::error_code error;
    if (!std::filesystem::is_directory(request.folder, error))
        return usageError(std::filesystem::exists(request.folder, error) ? "not a folder: " : "no such folder: ",
                          request.folder);
    for (const std::string& path : request.only)
        if (!isInside(absoluteFolder(path), absoluteFolder(request.folder)))
            return usageError("--only names a path outside the folder: ", path.c_str());
    if (request.json && !request.panes.empty())
        return usageError("--json prints no panes: ", "leave out --pane");
    if (request.panes.empty() && !request.json)
        for (int pane = 0; pane < paneCount; pane++)
            request.panes.push_back(pane);
    // The extra state command per repository only when something shows it.
    request.options.summaryEnabled = request.json || request.exitCode ||
                                     std::count(request.panes.begin(), request.panes.end(), paneCount);
    return -1;
}

// The panes that will be printed keep their text; the others keep nothing.
class PrintedPanes : public ScanSink {
public:
    explicit PrintedPanes(const std::vector<int>& printed) {
        for (int pane : printed)
            if (pane < paneCount)
                kept[pane] = true;
    }
    bool keeps(Pane pane) const override { return kept[int(pane)]; }
    void text(Pane pane, std::string_view text) override {
        if (kept[int(pane)])
            panes[int(pane)].append(text.data(), text.size());
    }
    void recordFinished(const RepositoryState&) override {
        if (onRecord)
            onRecord();
    }
    PaneText panes[paneCount];
    std::function<void()> onRecord;  // --json: the watcher prints it at once

private:
    bool kept[paneCount] = {};
};

// While the user answers git's prompts on the terminal.
std::atomic<bool> asking{false};

// Within one line of a terminal. A host held up is named, cut to fit, its
// bytes other than printable ASCII shown as '?', so a repository's
// configuration cannot drive the terminal.
void showProgress(const Scan& scan, bool& shown) {
    if (asking || !scan.running())
        return;
    ScanProgress progress = scan.progress();
    std::string done = std::to_string(progress.done), found = std::to_string(progress.found);
    std::string line = progress.walking ? "repodeck-scan: finding repositories: " + found + " found, " + done + " done"
                                        : "repodeck-scan: running git: " + done + " of " + found + " repositories done";
    if (!progress.stuckHost.empty()) {
        line = "repodeck-scan: " + done + " of " + found + " done; waiting on host ";
        std::string after = ": " + std::to_string(progress.stuckCount) + " repositories";
        for (size_t i = 0; i < progress.stuckHost.size() && line.size() + after.size() < 79; i++) {
            unsigned char c = (unsigned char)progress.stuckHost[i];
            line += c < 0x20 || c >= 0x7f ? '?' : char(c);
        }
        line += after;
    }
    fprintf(stderr, "\r%-79s", line.c_str());
    shown = true;
}

// Runs on a thread of its own while the main thread waits for the scan: it
// ends every git at once on a stop signal, prints each JSON line as soon as
// its record is done, and keeps the progress line.
class Watcher {
public:
    Watcher(Scan& scan, Output& output, bool json) : scan(scan), output(output), json(json) {}

    void run() {
        bool stopped = false, shown = false, progress = isatty(fileno(stderr)) != 0;
        std::unique_lock<std::mutex> lock(mutex);
        while (!done) {
            if (json && !stopped)
                printNew();
            // A reader gone away, a full disk: nobody sees the rest, so it stops.
            if ((stopStatus || (json && output.failed())) && !stopped) {
                scan.stop();
                stopped = true;
            }
            if (progress)
                showProgress(scan, shown);
            // Woken at once when the scan ends, so the panes print without delay.
            changed.wait_for(lock, std::chrono::milliseconds(50));
        }
        if (shown)
            fprintf(stderr, "\r%-79s\r", "");
    }
    void end() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        changed.notify_one();
    }
    void wake() { changed.notify_one(); }  // a record is done
    // The records new or replaced since the last call (a retried repository
    // again: the later line holds), in list order.
    void printNew() {
        for (const auto& [place, row] : scan.records().changedSince(printed, printed))
            output.putAsIs(jsonLine(row));
        output.flush();
    }

private:
    Scan& scan;
    Output& output;
    bool json;
    uint64_t printed = 0;  // the records' generation printed
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
};

// The scan, the retry that --ask asks for, and the watcher beside them.
// False when the watcher could not start.
bool runScan(Scan& scan, const Request& request, Watcher& watcher) {
    std::thread watching;
    try {
        watching = std::thread(&Watcher::run, &watcher);
    } catch (const std::system_error& failure) {
        fprintf(stderr, "repodeck-scan: cannot start a thread: %s\n", failure.what());
        return false;
    }
    runningScan = &scan;
    std::exception_ptr failure;  // memory that ran out: the watcher is joined first
    try {
        if (scan.start()) {
            scan.wait();
            std::vector<std::string> retry = request.ask && !stopStatus ? scan.needingCredentials() : std::vector<std::string>();
            if (!retry.empty()) {
                asking = true;  // no progress line over the prompts
                fprintf(stderr, "repodeck-scan: %zu repositories want credentials; asking for each in turn\n", retry.size());
                scan.runOn(retry, true);
            }
        }
    } catch (const std::bad_alloc&) {
        failure = std::current_exception();
    }
    runningScan = nullptr;
    watcher.end();
    watching.join();
    if (failure)
        std::rethrow_exception(failure);
    return true;
}

// The exit status after the output is written.
int outcome(const Scan& scan, const Request& request) {
    if (stopStatus)
        return stopStatus;
    if (scan.outOfMemory()) {
        fputs("repodeck-scan: out of memory; Logs says where the scan ended\n", stderr);
        return 1;
    }
    if (scan.gitRan() && request.exitCode) {
        const Records& rows = scan.records();
        return rows.count(&RepositoryState::failed) ? 4 : rows.count(&RepositoryState::needsAttention) ? 3 : 0;
    }
    if (scan.gitRan())
        return 0;
    // Logs, which may not be printed, says more.
    fprintf(stderr, "repodeck-scan: %s\n",
            scan.gitMissing() ? "no git program on the search path" : "no git command could run; Logs says why");
    return 1;
}

// The whole run; main only adds the last word on memory.
int scan(int argc, char** argv) {
#ifdef _WIN32
    // The panes are printed byte for byte: no CR added before each line end.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    Request request;
    if (int status = parseArguments(argc, argv, request); status >= 0)
        return status;
    // Checked before the scan, which would otherwise run for nothing (and the
    // first pipe it made could take standard output's number).
    struct stat outputInfo;
    if (fstat(fileno(stdout), &outputInfo) != 0) {
        fprintf(stderr, "repodeck-scan: cannot write the output: %s\n", strerror(errno));
        return 1;
    }
    handleStops();

    PrintedPanes panes(request.panes);
    Scan scan(request.folder, request.options, panes);
    scan.keepOnly(request.only);
    Output output(hurry);
    Watcher watcher(scan, output, request.json);
    if (request.json)
        panes.onRecord = [&watcher] { watcher.wake(); };
    if (!runScan(scan, request, watcher))
        return 1;
    if (stopStatus)
        panes.text(Pane::logs, "Scan Stopped !!!\n");

    if (request.json && !hurry) {
        watcher.printNew();
        output.putAsIs(totalsLine(scan.records().all()));
    }
    bool colour = !strcmp(request.colour, "always") || (!strcmp(request.colour, "auto") && colourWanted());
    for (int pane : request.panes) {
        if (hurry)
            break;
        if (request.panes.size() > 1)
            output.put("== " + std::string(pane < paneCount ? paneNames[pane] : "Summary") + " ==\n");
        if (pane == paneCount) {
            printSummary(output, scan.records().all(), colour);
            continue;
        }
        PaneText& text = panes.panes[pane];
        std::lock_guard<std::recursive_mutex> lock(text.mutex);  // printed in place: a pane may be huge
        output.put(text.view().data(), text.view().size());
    }
    if (int failed = output.finish())
        return failed;
    return outcome(scan, request);
}

}  // namespace

int main(int argc, char** argv) {
    // Memory that runs out where nothing nearer could help (every scan
    // thread is joined by then): one line says so.
    try {
        return scan(argc, argv);
    } catch (const std::bad_alloc&) {
        fputs("repodeck-scan: out of memory\n", stderr);
        return 1;
    }
}
