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
#include <filesystem>
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

#include <nlohmann/json.hpp>

#include "app/Panes.h"
#include "scan/RepositoryState.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"

namespace {

const char usage[] =
    "usage: repodeck-scan [--status] [--remote] [--fetch|--no-fetch] [--pull] [--submodule]\n"
    "                     [--readme] [--nested] [--run-hooks] [--ask] [--pane NAME]...\n"
    "                     [--json] [--jobs N] [--exit-code] [--color[=WHEN]] FOLDER\n"
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
    "  --jobs N      work on N repositories at once (1 to 64; default: twice the\n"
    "                processors, 4 to 8; 0: one per processor, 2 to 16); the output\n"
    "                is the same for every N\n"
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
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        requestStop();
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

// How many bytes at text[i] a terminal would take as a control: 1 for C0 and
// DEL (line feed and tab aside), 2 for a C1 control written in UTF-8, else 0.
size_t controlAt(const char* text, size_t i, size_t length) {
    auto byte = (unsigned char)text[i];
    if (byte == '\n' || byte == '\t')
        return 0;
    if (byte < 0x20 || byte == 0x7f)
        return 1;
    if (byte == 0xc2 && i + 1 < length && (unsigned char)text[i + 1] >= 0x80 && (unsigned char)text[i + 1] <= 0x9f)
        return 2;
    return 0;
}

// Standard output, whose failures are never silent. On a terminal, control
// characters are shown escaped (\x1b), so a folder name or a README cannot
// drive the terminal; to a file or a pipe the bytes go as the panes hold them.
class Output {
public:
    Output() : terminal(isatty(fileno(stdout)) != 0) {}

    void put(const char* text, size_t length) {
        if (!terminal)
            return raw(text, length);
        size_t start = 0;
        for (size_t i = 0; i < length && !hurry;) {
            size_t width = controlAt(text, i, length);
            if (width == 0) {
                i++;
                continue;
            }
            raw(text + start, i - start);
            for (size_t end = i + width; i < end; i++) {
                char escaped[8];
                snprintf(escaped, sizeof escaped, "\\x%02x", (unsigned char)text[i]);
                raw(escaped, 4);
            }
            start = i;
        }
        raw(text + start, length - start);
    }
    void put(const std::string& text) { put(text.data(), text.size()); }
    void putCode(const char* sequence) { raw(sequence, strlen(sequence)); }  // never escaped
    // JSON, whose strings carry their controls escaped already.
    void putAsIs(const std::string& text) { raw(text.data(), text.size()); }
    bool failed() const { return error != 0; }
    void flush() {
        if (!error && fflush(stdout) != 0)
            error = errno;
    }

    // 0 when everything was written; otherwise the exit status, after one
    // line on standard error (none for a reader that went away).
    int finish() {
        if (fflush(stdout) != 0 && !error)
            error = errno;
        if (!error)
            return 0;
        if (error == EPIPE)
            return 141;  // as a program ended by the broken pipe
        fprintf(stderr, "repodeck-scan: cannot write the output: %s\n", strerror(error));
        return 1;
    }

private:
    void raw(const char* bytes, size_t length) {
        if (!error && length > 0 && fwrite(bytes, 1, length, stdout) != length)
            error = errno ? errno : EIO;
    }

    bool terminal;
    int error = 0;
};

using Json = nlohmann::ordered_json;  // keys in the order written: "path" first

bool validUtf8(const std::string& text) {
    try {
        (void)Json(text).dump();
        return true;
    } catch (const Json::type_error&) {
        return false;
    }
}

std::string hex(const std::string& bytes) {
    std::string text;
    for (unsigned char byte : bytes)
        text += "0123456789abcdef"[byte >> 4], text += "0123456789abcdef"[byte & 15];
    return text;
}

// One repository's line of --json; the README lists every key. Controls that
// JSON lets through (DEL, C1 in UTF-8) are written \u00XX too: valid JSON,
// and harmless to a terminal.
std::string jsonLine(const RepositoryState& state) {
    static const char* const names[operationCount] = {"status", "remote", "fetch", "pull", "submodule"};
    auto orNull = [](const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); };
    Json row = {{"path", state.path}};
    // Bytes that are not UTF-8 show replaced; "...Hex" keeps them.
    if (!validUtf8(state.path))
        row["pathHex"] = hex(state.path);
    if (state.summarized) {
        row.update({{"branch", orNull(state.branch)}, {"detached", state.detached}, {"commit", orNull(state.commit)},
                    {"upstream", orNull(state.upstream)}, {"ahead", state.ahead}, {"behind", state.behind},
                    {"upstreamGone", state.upstreamGone}, {"staged", state.staged}, {"changed", state.changed},
                    {"untracked", state.untracked}, {"conflicted", state.conflicted}, {"stashes", state.stashes},
                    {"inProgress", orNull(state.inProgress)}});
        row["head"] = orNull(state.head);
        row["noUpstream"] = state.noUpstream;
        if (!validUtf8(state.branch))
            row["branchHex"] = hex(state.branch);
    }
    for (int i = 0; i < operationCount; i++)
        if (state.operations[i].ran) {
            row[names[i]] = {{"exitCode", state.operations[i].exitCode}, {"message", state.operations[i].message}};
            if (state.operations[i].needsCredentials)
                row[names[i]]["needsCredentials"] = true;
            if (state.operations[i].skipped)
                row[names[i]]["skipped"] = true;
        }
    if (state.operations[fetchOperation].ran)
        row["fetchedRefs"] = state.fetchedRefs;
    if (state.operations[pullOperation].ran)
        row["pulledCommits"] = state.pulledCommits;
    if (state.operations[submoduleOperation].ran)
        row["submodulesUpdated"] = state.submodulesUpdated;
    row["problem"] = orNull(state.problem);
    row["stop"] = orNull(state.stop);
    row["trust"] = state.trust;
    row["needsCredentials"] = state.needsCredentials();
    row["needsAttention"] = state.needsAttention();
    std::string line = row.dump(-1, ' ', false, Json::error_handler_t::replace), escaped;
    for (size_t i = 0; i < line.size(); i++) {
        size_t width = controlAt(line.data(), i, line.size());
        if (width == 0) {
            escaped += line[i];
            continue;
        }
        char code[8];
        i += width - 1;  // a C1 control is its second byte's code
        snprintf(code, sizeof code, "\\u00%02x", (unsigned char)line[i]);
        escaped += code;
    }
    return escaped + "\n";
}

size_t count(const std::vector<RepositoryState>& rows, bool (RepositoryState::*test)() const) {
    return size_t(std::count_if(rows.begin(), rows.end(), [&](const RepositoryState& row) { return (row.*test)(); }));
}

std::string totalsLine(const std::vector<RepositoryState>& rows) {
    Json totals = {{"repositories", rows.size()},
                   {"needAttention", count(rows, &RepositoryState::needsAttention)},
                   {"failed", count(rows, &RepositoryState::failed)}};
    return Json{{"totals", totals}}.dump() + "\n";
}

// Columns a terminal gives text: two for a wide character (East Asian wide
// and full-width forms, emoji), none for a combining mark, else one.
size_t displayWidth(const std::string& text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        auto byte = (unsigned char)text[i];
        size_t length = byte < 0xc0 ? 1 : byte >= 0xf0 ? 4 : byte >= 0xe0 ? 3 : 2;
        char32_t c = length == 1 ? byte : byte & (0x7f >> length);
        for (size_t k = 1; k < length; k++)
            if (i + k < text.size() && ((unsigned char)text[i + k] & 0xc0) == 0x80)
                c = (c << 6) | ((unsigned char)text[i + k] & 0x3f);
            else
                length = 1;  // not UTF-8: one byte, shown as one replacement character
        i += length;
        bool combining = (c >= 0x300 && c <= 0x36f) || (c >= 0x200b && c <= 0x200f) || (c >= 0xfe00 && c <= 0xfe0f);
        bool wide = (c >= 0x1100 && c <= 0x115f) || (c >= 0x2e80 && c <= 0xa4cf && c != 0x303f) ||
                    (c >= 0xac00 && c <= 0xd7a3) || (c >= 0xf900 && c <= 0xfaff) || (c >= 0xfe30 && c <= 0xfe4f) ||
                    (c >= 0xff00 && c <= 0xff60) || (c >= 0xffe0 && c <= 0xffe6) || (c >= 0x1f300 && c <= 0x1f64f) ||
                    (c >= 0x1f900 && c <= 0x1f9ff) || (c >= 0x20000 && c <= 0x3fffd);
        width += combining ? 0 : wide ? 2 : 1;
    }
    return width;
}

// The escape sequence that gives a Summary line its row's colour in the window.
const char* ansiColour(RepositoryState::Tone tone) {
    switch (tone) {
    case RepositoryState::Tone::stopped: return "\x1b[90m";  // grey
    case RepositoryState::Tone::failed: return "\x1b[31m";  // red
    case RepositoryState::Tone::unread: break;
    case RepositoryState::Tone::changed: return "\x1b[33m";  // yellow
    case RepositoryState::Tone::moved: return "\x1b[94m";    // light blue
    case RepositoryState::Tone::clean: return "\x1b[32m";    // green
    }
    return "";
}

// The Summary pane: a legend, then an aligned table with one line per
// repository, "*" first on the lines that need attention.
void printSummary(Output& output, const std::vector<RepositoryState>& rows, bool colour) {
    std::vector<std::vector<std::string>> cells(1);
    for (const char* name : summaryColumnNames)
        cells[0].push_back(name);
    for (const RepositoryState& row : rows) {
        cells.emplace_back();
        for (int column = 0; column < summaryColumnCount; column++) {
            std::string cell = summaryCell(row, SummaryColumn(column));
            for (size_t at; (at = cell.find_first_of("\r\n")) != std::string::npos;)  // one line per repository
                cell.replace(at, 1, cell[at] == '\n' ? "\\n" : "\\r");
            cells.back().push_back(cell);
        }
    }
    size_t widths[summaryColumnCount] = {};
    for (const auto& line : cells)
        for (int column = 0; column < summaryColumnCount; column++)
            widths[column] = std::max(widths[column], displayWidth(line[column]));
    output.put("Changes: +staged ~changed ?untracked !conflicted. Upstream: \u2191ahead \u2193behind. "
               "* needs attention.\n");
    for (size_t i = 0; i < cells.size(); i++) {
        std::string line = i > 0 && rows[i - 1].needsAttention() ? "* " : "  ";
        for (int column = 0; column < summaryColumnCount; column++)
            line += cells[i][column] + std::string(widths[column] - displayWidth(cells[i][column]) + 2, ' ');
        line.erase(line.find_last_not_of(' ') + 1);
        const char* code = colour && i > 0 ? ansiColour(rows[i - 1].tone()) : "";
        output.putCode(code);
        output.put(line);
        output.putCode(*code ? "\x1b[m\n" : "\n");
    }
}

// --color=auto: colours only for a terminal that reads them.
bool colourWanted() {
    const char* noColour = getenv("NO_COLOR");
    if (!isatty(fileno(stdout)) || (noColour && *noColour))
        return false;
#ifdef _WIN32
    // Windows' console takes ANSI colours only once told to.
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(console, &mode) && SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
#else
    const char* term = getenv("TERM");
    return !term || strcmp(term, "dumb") != 0;
#endif
}

// While the user answers git's prompts on the terminal.
std::atomic<bool> asking{false};

void showProgress(bool& shown) {
    if (asking)
        return;
    char line[96];
    if (scanState.mainScanRunning)
        snprintf(line, sizeof line, "repodeck-scan: finding repositories");
    else if (scanState.optionScanRunning || scanState.readmeScanRunning)
        snprintf(line, sizeof line, "repodeck-scan: running git: %u of %u repositories done",
                 unsigned(scanState.repositoriesDone), unsigned(scanState.repositoryCount));
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

// --json: prints the records that are new since the last call, in order.
struct JsonPrinter {
    Output& output;
    size_t printed = 0;
    void printNew() {
        uint64_t scan;
        for (const RepositoryState& row : scanSummary.since(printed, scan)) {
            output.putAsIs(jsonLine(row));
            printed++;
        }
        output.flush();
    }
};

void watch(ScanEnd& end, bool progress, JsonPrinter* json) {
    bool stopped = false, shown = false;
    std::unique_lock<std::mutex> lock(end.mutex);
    while (!end.done) {
        if (json && !stopped)
            json->printNew();  // each record as soon as it is done
        // A reader gone away, a full disk: nobody sees the rest, so it stops.
        if ((stopStatus || (json && json->output.failed())) && !stopped) {
            requestStop();
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

// The whole run; main only adds the last word on memory.
int scan(int argc, char** argv) {
#ifdef _WIN32
    // The panes are printed byte for byte: no CR added before each line end.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    ScanOptions& options = scanState.options;
    std::vector<const PaneTab*> panes;  // null for the Summary
    bool json = false, ask = false, exitCode = false;
    const char* colour = "auto";
    const char* folder = nullptr;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (!strcmp(arg, "--help")) {
            fputs(usage, stdout);
            return 0;
        } else if (!strcmp(arg, "--version")) {
            puts("repodeck-scan " REPODECK_VERSION);
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
        } else if (!strcmp(arg, "--nested")) {
            options.nestedEnabled = true;
        } else if (!strcmp(arg, "--run-hooks")) {
            options.runHooks = true;
        } else if (!strcmp(arg, "--ask")) {
            ask = true;
        } else if (!strcmp(arg, "--json")) {
            json = true;
        } else if (!strcmp(arg, "--exit-code")) {
            exitCode = true;
        } else if (!strcmp(arg, "--color") || !strncmp(arg, "--color=", 8)) {
            colour = arg[7] ? arg + 8 : "always";
            if (strcmp(colour, "auto") && strcmp(colour, "always") && strcmp(colour, "never"))
                return usageError("--color takes auto, always or never: ", arg);
        } else if (!strcmp(arg, "--jobs")) {
            char* end = nullptr;
            long jobs = ++i < argc ? strtol(argv[i], &end, 10) : -1;
            if (!end || *end || end == argv[i] || jobs < 0 || jobs > maxJobs)
                return usageError("--jobs needs a number from 0 to 64", "");
            if (jobs == 0)
                jobs = std::clamp(long(std::thread::hardware_concurrency()), 2L, 16L);
            scanState.jobs = int(jobs);
        } else if (!strcmp(arg, "--pane")) {
            if (++i == argc)
                return usageError("--pane needs a pane name", "");
            const PaneTab* found = nullptr;
            for (const PaneTab& tab : paneTabs)
                if (sameIgnoringCase(tab.label, argv[i]))
                    found = &tab;
            if (!found && !sameIgnoringCase("Summary", argv[i]))
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
    if (json && !panes.empty())
        return usageError("--json prints no panes: ", "leave out --pane");
    if (panes.empty() && !json)
        for (const PaneTab& tab : paneTabs)
            panes.push_back(&tab);
    for (const PaneTab& tab : paneTabs)  // only what will be printed is kept
        tab.pane->discarded = std::find(panes.begin(), panes.end(), &tab) == panes.end();
    // The extra state command per repository only when something shows it.
    options.summaryEnabled = json || exitCode || std::find(panes.begin(), panes.end(), nullptr) != panes.end();
    // Checked before the scan, which would otherwise run for nothing (and the
    // first pipe it made could take standard output's number).
    struct stat outputInfo;
    if (fstat(fileno(stdout), &outputInfo) != 0) {
        fprintf(stderr, "repodeck-scan: cannot write the output: %s\n", strerror(errno));
        return 1;
    }

    handleStops();

    Output output;
    JsonPrinter printer{output, 0};
    ScanEnd end;
    std::thread watcher;
    try {
        watcher = std::thread(watch, std::ref(end), isatty(fileno(stderr)) != 0, json ? &printer : nullptr);
    } catch (const std::system_error& failure) {
        fprintf(stderr, "repodeck-scan: cannot start a thread: %s\n", failure.what());
        return 1;
    }
    RepositoryList retry;  // with --ask, the repositories asked again
    bool gitRan = false, started = false;
    try {
        started = startMainScan(folder);
    } catch (const std::bad_alloc&) {
        scanState.outOfMemory = true;  // before the watcher ends: nothing may leave this block unjoined
    }
    if (started) {
        if (scanState.mainScanThread.joinable())
            scanState.mainScanThread.join();
        gitRan = scanState.optionScanThread.joinable();  // started only after git --version worked
        waitForScan();
        retry = ask && !stopStatus ? needingCredentials() : RepositoryList();
        if (!retry.empty()) {
            asking = true;  // no progress line over the prompts
            fprintf(stderr, "repodeck-scan: %zu repositories want credentials; asking for each in turn\n", retry.size());
            optionScan(retry, true);
        }
    }
    {
        std::lock_guard<std::mutex> lock(end.mutex);
        end.done = true;
    }
    end.changed.notify_one();
    watcher.join();
    stopScan();  // nothing is left to wait for; this empties the slots and flags
    if (stopStatus)
        reportStopped();

    if (json && !hurry) {
        printer.printNew();
        // A retried repository's record replaced its first one: printed again, the later line holds.
        uint64_t scan;
        std::vector<RepositoryState> rows = scanSummary.since(0, scan);
        for (const RepositoryState& row : rows)
            if (std::find(retry.begin(), retry.end(), row.path) != retry.end())
                output.putAsIs(jsonLine(row));
        output.putAsIs(totalsLine(rows));
    }
    for (const PaneTab* tab : panes) {
        if (hurry)
            break;
        if (panes.size() > 1)
            output.put("== " + std::string(tab ? tab->label : "Summary") + " ==\n");
        if (!tab) {
            uint64_t scan;
            printSummary(output, scanSummary.since(0, scan),
                         !strcmp(colour, "always") || (!strcmp(colour, "auto") && colourWanted()));
            continue;
        }
        std::lock_guard<std::recursive_mutex> lock(tab->pane->mutex);  // printed in place: a pane may be huge
        std::string_view text = tab->pane->view();
        output.put(text.data(), text.size());
    }
    if (int failed = output.finish())
        return failed;

    if (stopStatus)
        return stopStatus;
    if (scanState.outOfMemory) {
        fputs("repodeck-scan: out of memory; Logs says where the scan ended\n", stderr);
        return 1;
    }
    if (gitRan && exitCode) {
        uint64_t scan;
        std::vector<RepositoryState> rows = scanSummary.since(0, scan);
        return count(rows, &RepositoryState::failed) ? 4 : count(rows, &RepositoryState::needsAttention) ? 3 : 0;
    }
    if (gitRan)
        return 0;
    // Logs, which may not be printed, says more.
    fprintf(stderr, "repodeck-scan: %s\n", started && scanState.gitProgram.empty() ? "no git program on the search path"
                                                                                     : "no git command could run; Logs says why");
    return 1;
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
