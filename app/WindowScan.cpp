#include "app/WindowScan.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "app/Panes.h"
#include "scan/GitFolder.h"
#include "scan/GitWatch.h"

namespace {

// Each text to its pane, whose drawing wakes when text arrives.
class PaneSink : public ScanSink {
public:
    void text(Pane pane, std::string_view text) override {
        paneTabs[int(pane)].pane->append(text.data(), text.size());
        wake();
    }
    void recordFinished(const RepositoryState& record) override {
        records->put(record);
        wake();
    }
    static void wake() {
        if (void (*wake)() = paneTextArrived.load())
            wake();
    }
    // Made anew for each scan, while none runs.
    std::unique_ptr<Records> records = std::make_unique<Records>();
};

ScanOptions options;
PaneSink sink;

// Gathers which repositories' git folders change, on a thread of its own,
// for the user interface thread to refresh their rows.
class RowWatch {
public:
    using Clock = std::chrono::system_clock;
    using Rows = std::vector<std::pair<std::string, Clock::time_point>>;  // each path, and when its check began

    RowWatch(const std::string& root, Rows rows) : watch(root), thread([this, rows = std::move(rows)] { run(rows); }) {}
    ~RowWatch() {
        ending = true;
        watch.wake();
        thread.join();
    }
    // Each repository changed since the last call, with when its first
    // unhandled change was seen.
    std::map<std::string, Clock::time_point> take() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(changed, {});
    }

private:
    void run(const Rows& rows) {
        size_t added = 0;
        for (; added < rows.size() && !ending; added++) {
            GitFolder git = findGitFolder(rows[added].first);
            if (!watch.add(rows[added].first, git))
                break;
            // A change after the row's check and before its watch (during the
            // scan, say) is taken as one seen now.
            if (stateChangedSince(git, rows[added].second)) {
                std::lock_guard<std::mutex> lock(mutex);
                changed.try_emplace(rows[added].first, Clock::now());
            }
        }
        if (added < rows.size() && !ending)
            sink.text(Pane::logs, "Watch: " + std::to_string(added) + " of " + std::to_string(rows.size()) +
                                      " repositories watched: the system's limit on watches was reached (on Linux "
                                      "fs.inotify.max_user_watches), or the folder cannot be opened; Refresh all "
                                      "brings the others up to date\n");
        for (size_t i = 0; i < added && !ending; i++)
            watch.addTree(rows[i].first, ending);
        if (watch.treesCut() && !ending)
            sink.text(Pane::logs, "Watch: the system's limit on watches (fs.inotify.max_user_watches) was reached "
                                  "in the work trees: an edit there that touches no git file shows at the next "
                                  "Refresh\n");
        while (!ending) {
            // Until the user interface thread takes them, it is woken again.
            std::vector<std::string> more = watch.changed(pending() ? 250 : -1);
            Clock::time_point seen = Clock::now();
            // A commit writes several files in a row: one change, gathered until
            // a tenth of a second passes without another (half a second at most).
            for (int step = 0; !more.empty() && !ending && step < 5; step++, more = watch.changed(100)) {
                std::lock_guard<std::mutex> lock(mutex);
                for (const std::string& path : more)
                    changed.try_emplace(path, seen);
            }
            if (pending())
                PaneSink::wake();
        }
    }
    bool pending() {
        std::lock_guard<std::mutex> lock(mutex);
        return !changed.empty();
    }

    GitWatch watch;
    std::atomic<bool> ending{false};
    std::mutex mutex;
    std::map<std::string, Clock::time_point> changed;
    std::thread thread;  // last: it uses all the above
};

std::unique_ptr<Scan> scan;
bool watching = true;
std::unique_ptr<RowWatch> rowWatch;  // while watching and the scan's list stays as it is
uint64_t number = 0;
// The session's memory of where the user was; nothing is stored on disk.
std::string lastFolder;

}  // namespace

ScanOptions& windowOptions() { return options; }
const Scan* currentScan() { return scan.get(); }
Records& summaryRecords() { return *sink.records; }
uint64_t scanNumber() { return number; }
bool scanBusy() { return scan && scan->running(); }

void scanFolderAt(const std::string& folder) {
    rowWatch.reset();  // the list will change
    stopScan();
    scan.reset();  // its threads have ended
    sink.records = std::make_unique<Records>();
    scan = std::make_unique<Scan>(folder, options, sink);
    number++;
    if (scan->start())
        lastFolder = scan->folder();
}

namespace {

// The window's options with command alone ticked (none: the state only).
ScanOptions actionOptions(bool ScanOptions::*command) {
    ScanOptions what = options;
    for (bool ScanOptions::*ticked : {&ScanOptions::fetchEnabled, &ScanOptions::pullEnabled, &ScanOptions::submoduleEnabled,
                                      &ScanOptions::statusEnabled, &ScanOptions::remoteEnabled, &ScanOptions::readmeEnabled})
        what.*ticked = false;
    if (command)
        what.*command = true;
    return what;
}

// False when there is no scan of the last folder to go over again.
bool rescanWith(const ScanOptions& what) {
    if (!scan || scan->folder() != lastFolder)  // none yet, or the last could not start
        return false;
    rowWatch.reset();  // the list may change
    stopScan();
    scan->rescan(what);
    return true;
}

}  // namespace

void rescanFolder() {
    if (!rescanWith(options) && !lastFolder.empty())
        scanFolderAt(std::string(lastFolder));  // a copy: a started scan replaces it
}

void refreshAll() { rescanWith(actionOptions(nullptr)); }

void runOnRows(const std::vector<std::string>& paths, const char* label, bool ScanOptions::*command) {
    if (!scan || scan->running() || paths.empty())
        return;
    std::string count = std::to_string(paths.size()) + (paths.size() == 1 ? " repository" : " repositories");
    sink.text(Pane::logs, label + (": " + count) + "\n");
    scan->startOn(paths, actionOptions(command));
}

bool& watchRows() { return watching; }

void keepRowsCurrent() {
    if (!watching || !scan) {
        rowWatch.reset();
        return;
    }
    if (scan->running())
        return;  // what changes meanwhile is taken once it is done
    if (!rowWatch) {
        RowWatch::Rows watched;
        for (const RepositoryState& row : scan->records().all())
            if (!row.gone)
                watched.emplace_back(row.path, row.checkedAt);
        try {
            rowWatch = std::make_unique<RowWatch>(scan->folder(), std::move(watched));
        } catch (const std::system_error& error) {
            sink.text(Pane::logs, std::string("[ERROR] Could not start watching: ") + error.what() + "\n");
            watching = false;
        }
        return;
    }
    // A change the row's last check began after is in the row already.
    std::vector<std::string> stale;
    for (const auto& [path, seen] : rowWatch->take())
        if (std::optional<RepositoryState> row = scan->records().find(path); row && row->checkedAt < seen)
            stale.push_back(path);
    runOnRows(stale, "Changed", nullptr);
}

const std::string& lastScannedFolder() { return lastFolder; }

void stopScan() {
    if (!scan)
        return;
    bool running = scan->running();
    scan->stop();
    scan->wait();
    if (running)
        logsPane.write("Scan Stopped !!!\n");
}

void requestStop() {
    if (scan)
        scan->stop();
}

void retryWithCredentials() {
    if (scan)
        scan->retryWithCredentials(findProgram("ssh-askpass"));
}
