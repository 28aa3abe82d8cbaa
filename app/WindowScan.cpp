#include "app/WindowScan.h"

#include <memory>

#include "app/Panes.h"

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
std::unique_ptr<Scan> scan;
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
