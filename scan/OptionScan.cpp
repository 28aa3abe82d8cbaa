// The option scan thread: the ticked git commands on every repository, each
// one row of a table, so the five operations are one procedure. Workers take
// the repositories in list order, several at once when asked; what they learn
// goes into each repository's record, and what they write reaches the panes
// in the order of the list, so the panes read the same with any number.
#include <algorithm>
#include <filesystem>
#include <condition_variable>
#include <cstring>
#include <new>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "exec/Git.h"
#include "app/Panes.h"
#include "scan/DirectoryList.h"
#include "scan/RepositoryState.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"
#include "scan/Trust.h"

namespace {

enum class Compact { never, whenPrinted, unlessExpected };

struct GitOperation {
    std::atomic<bool> ScanOptions::*enabled;
    Operation operation;
    const char* commandLine;
    LogPane* pane;
    const char* opening;  // before the repository path, in its pane
    const char* errorLabel;
    Compact compact;
    const char* expectedText;  // for Compact::unlessExpected
    const char* compactHeader;  // before the repository path, in Compacts; also for a failure
    const char* beginText;
    const char* finishText;
};

// In the order they run on each repository; closing lines go in reverse.
const GitOperation operations[] = {
    {&ScanOptions::statusEnabled, statusOperation, git::status, &statusPane, "", "[ERROR] Status",
     Compact::unlessExpected, git::cleanTreeText, "git status: ", "Status Scan Beginning ...",
     "Status Scan Finished !!!"},
    {&ScanOptions::remoteEnabled, remoteOperation, git::remote, &remotesPane, "", "[ERROR] Remote", Compact::never,
     nullptr, "git remote: ", "Remote Scan Beginning ...", "Remote Scan Finished !!!"},
    {&ScanOptions::fetchEnabled, fetchOperation, git::fetch, &updatesPane, "git fetch: ", "[ERROR] Fetch",
     Compact::whenPrinted, nullptr, "git fetch: ", "Fetch Scan Beginning ...", "Fetch Scan Finished !!!"},
    {&ScanOptions::pullEnabled, pullOperation, git::pull, &updatesPane, "git pull: ", "[ERROR] Pull",
     Compact::unlessExpected, git::upToDateText, "git pull: ", "Pull Scan Beginning ...", "Pull Scan Finished !!!"},
    {&ScanOptions::submoduleEnabled, submoduleOperation, git::submoduleUpdate, &updatesPane, "git submodule: ",
     "[ERROR] SubModule", Compact::whenPrinted, nullptr, "git submodule: ", "Submodule Scan Beginning ...",
     "Submodule Scan Finished !!!"},
};
static_assert(std::size(operations) == operationCount);

// The panes a repository writes, and its text for them while it waits.
LogPane* const heldPanes[] = {&logsPane, &statusPane, &remotesPane, &updatesPane, &compactPane};
constexpr int heldPaneCount = int(std::size(heldPanes));

// One repository in hand: its record, and the text an earlier one holds up.
struct Work {
    size_t index = 0;
    RepositoryState state;
    RepositoryGit git;  // how its git children are started
    std::string held[heldPaneCount];
};

// Bytes of text that repositories waiting for an earlier one may hold back,
// together: past it, a worker waits for room or for its turn.
constexpr size_t heldTextBudget = size_t(64) << 20;

// Puts every repository's text in the panes in list order: straight away
// while every earlier repository is done, else once they are. The records
// reach scanSummary in the same order.
class InOrder {
public:
    explicit InOrder(size_t count) : finished(count) {}

    void write(Work& work, LogPane& pane, std::string_view text) {
        if (pane.discarded)
            return;  // set before the scan: nothing to hold
        std::unique_lock<std::mutex> lock(mutex);
        int slot = int(std::find(heldPanes, heldPanes + heldPaneCount, &pane) - heldPanes);
        // The repository whose turn it is never waits, so every wait ends.
        room.wait(lock, [&] { return work.index == next || heldBytes + text.size() <= heldTextBudget; });
        if (work.index == next) {
            release(work);
            pane.append(text.data(), text.size());
            return;
        }
        try {
            work.held[slot] += text;
            heldBytes += text.size();
        } catch (const std::bad_alloc&) {
            pane.append(outOfMemoryLine, strlen(outOfMemoryLine));  // out of order, but said
        }
    }

    void finish(std::unique_ptr<Work> work) {
        std::lock_guard<std::mutex> lock(mutex);
        size_t index = work->index;
        finished[index] = std::move(work);
        for (; next < finished.size() && finished[next]; next++) {
            release(*finished[next]);
            scanSummary.add(finished[next]->state);
            finished[next].reset();  // its text is in the panes now
        }
        room.notify_all();
    }

    static constexpr const char* outOfMemoryLine = "[repodeck] Text was cut here for lack of memory.\n";

private:
    void release(Work& work) {
        for (int slot = 0; slot < heldPaneCount; slot++)
            if (!work.held[slot].empty()) {
                heldPanes[slot]->append(work.held[slot].data(), work.held[slot].size());
                heldBytes -= work.held[slot].size();
                std::string().swap(work.held[slot]);
            }
    }

    std::mutex mutex;
    std::condition_variable room;
    size_t heldBytes = 0;
    size_t next = 0;  // the first repository not yet published
    std::vector<std::unique_ptr<Work>> finished;
};

bool enabled(const GitOperation& operation) {
    return scanState.scanOptions.*operation.enabled;
}

const char* gitProgram() {
    return scanState.gitProgram.empty() ? nullptr : scanState.gitProgram.c_str();
}

// Where the shared ssh connections' sockets live, kept from scan to scan:
// the user's runtime folder, which only they can enter; none without one.
std::string sshControlFolder() {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (!sshSharesConnections || !runtime || !isAbsolutePath(runtime) || strpbrk(runtime, " '\"\\"))
        return {};
    std::string folder = std::string(runtime) + "/repodeck-ssh";
    std::error_code error;
    std::filesystem::create_directory(folder, error);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
    return error ? "" : folder;
}

int32_t runGit(const char* commandLine, std::string& output, Work& work, ChildSlot& slot) {
    return runCommand(commandLine, output, work.git.folder.c_str(), slot, gitProgram(), &work.git.settings);
}

bool deservesAttention(const GitOperation& operation, const std::string& output) {
    switch (operation.compact) {
    case Compact::never:
        return false;
    case Compact::whenPrinted:
        return !output.empty() && output[0] != '\0';
    case Compact::unlessExpected:
        return !output.empty() && !strstr(output.c_str(), operation.expectedText);
    }
    return false;
}

// The commits a pull brought, counted only when it moved the head.
int commitsBetween(const std::string& before, const std::string& after, Work& work, ChildSlot& slot) {
    if (before.empty() || after.empty() || before == after)
        return 0;
    std::string output, line = "git rev-list --count " + before + ".." + after;
    return runGit(line.c_str(), output, work, slot) == 0 ? atoi(output.c_str()) : 0;
}

// A long output shows whole in its own pane only: where it shows again
// (Logs, Compacts), its start and a line saying where the rest is, so a flood
// is kept once. Whole where its own pane keeps nothing (repodeck-scan
// printing other panes).
constexpr size_t excerptLength = 64 << 10;

std::string excerptNote(const std::string& output, const LogPane& whole) {
    const char* label = "";
    for (const PaneTab& tab : paneTabs)
        if (tab.pane == &whole)
            label = tab.label;
    return "\n[repodeck] " + std::to_string(output.size() - 1 - excerptLength) + " more bytes of this output are in " +
           label + ".";
}

void run(const GitOperation& operation, Work& work, InOrder& order, ChildSlot& slot) {
    if (scanState.abortRequested)
        return;
    const std::string& repository = work.state.path;
    LogPane& pane = *operation.pane;
    order.write(work, pane, operation.opening + repository + "\n");

    bool recording = scanState.scanOptions.summaryEnabled;
    std::string headBefore = recording && operation.operation == pullOperation ? readHead(work.git.gitFolder, work.git.commonFolder) : "";
    std::string output;
    bool fetching = operation.operation == fetchOperation || operation.operation == pullOperation;
    std::string commandLine = operation.commandLine + (fetching ? work.git.uploadPackArgument : "");
    int32_t result = runGit(commandLine.c_str(), output, work, slot);
    // Written in pieces: a huge output is never copied on its way to a pane.
    auto writeOutput = [&](LogPane& to) {
        bool excerpt = &to != &pane && !pane.discarded && output.size() - 1 > excerptLength;
        order.write(work, to, std::string_view(output.c_str(), excerpt ? excerptLength : output.size() - 1));
        order.write(work, to, (excerpt ? excerptNote(output, pane) : "") + "\n" + separatorLine);
    };

    OperationResult& record = work.state.operations[operation.operation];
    bool network = operation.operation == fetchOperation || operation.operation == pullOperation ||
                   operation.operation == submoduleOperation;
    record = {true, result, messageOf(output, result),
              operation.operation == pullOperation && result == 1 && nothingToPullFrom(output),
              result > 0 && network && wantsCredentials(output)};
    if (recording && result == 0) {
        if (operation.operation == fetchOperation)
            readFetchReport(output, work.state);
        if (operation.operation == pullOperation)
            work.state.pulledCommits = commitsBetween(headBefore, readHead(work.git.gitFolder, work.git.commonFolder), work, slot);
        if (operation.operation == submoduleOperation)
            work.state.submodulesUpdated = countSubmoduleLines(output);
    }

    // Any exit code but 0 is a failure, git's own 1 and 128 included: Logs and
    // Compacts show it with git's words, whatever the operation's rule. A stop
    // is none (Logs says so), nor is a pull with nothing to pull from.
    bool stopped = result == stoppedResult, failed = result != 0 && !stopped && !record.skipped;
    if (failed || stopped) {
        std::string label = failed ? operation.errorLabel : std::string("[STOPPED]") + (operation.errorLabel + 7);
        order.write(work, logsPane,
                    separator + std::string("\n") + label + "\nFolder: " + repository +
                        (failed ? "\nError Code: " + std::to_string(result) : std::string()) + "\n");
        writeOutput(logsPane);
    }
    if (failed || (result == 0 && deservesAttention(operation, output))) {
        const char* why = record.needsCredentials ? "needs credentials: " : "";
        order.write(work, compactPane, operation.compactHeader + (why + repository) + "\n");
        writeOutput(compactPane);
    }
    writeOutput(pane);
}

// The state after the operations, for the record.
void summarize(Work& work, ChildSlot& slot) {
    RepositoryState& state = work.state;
    std::string output;
    int32_t result = runGit(git::summary, output, work, slot);
    if (result != 0) {
        state.problem = messageOf(output, result);
        if (state.problem.empty())
            state.problem = "git status ended with " + std::to_string(result);
    } else if (readSummary(output, state)) {
        readOperationInProgress(state, work.git.gitFolder);
        // git's own abbreviation, unique in the repository.
        std::string line = std::string(git::shortCommit) + " " + state.head;
        if (!state.head.empty() &&
            runGit(line.c_str(), output, work, slot) == 0 &&
            firstLine(output).size() >= 4 && state.head.starts_with(firstLine(output)))
            state.commit = firstLine(output);
    }
}

// One worker: takes the next repository of the list until none is left or
// a stop came, running its git children in slot.
void runWorker(const std::vector<std::string>& repositories, const GitSession& session, std::atomic<size_t>& next,
               InOrder& order, int worker) {
    ChildSlot& slot = scanState.children[worker];
    while (!scanState.abortRequested) {
        size_t index = next++;
        if (index >= repositories.size())
            break;
        auto work = std::make_unique<Work>();
        work->index = index;
        work->state.path = repositories[index];
        scanState.setInHand(worker, index, repositories[index]);
        try {
            work->git = prepareRepository(session, scanState.root, work->state.path, slot);
            work->state.trust = work->git.neutralised;
            if (!work->git.neutralised.empty()) {
                std::string list;
                for (const std::string& item : work->git.neutralised)
                    list += (list.empty() ? "" : "; ") + item;
                order.write(*work, logsPane, "Programs Not Run: " + work->state.path + ": " + list + "\n");
            }
            if (!work->git.problem.empty()) {
                work->state.problem = work->git.problem;
                order.write(*work, logsPane, "Repository Not Scanned: " + work->state.path + ": " + work->git.problem + "\n");
            } else {
                for (const GitOperation& operation : operations)
                    if (enabled(operation))
                        run(operation, *work, order, slot);
                if (scanState.scanOptions.summaryEnabled && !scanState.abortRequested)
                    summarize(*work, slot);
            }
        } catch (const std::bad_alloc&) {
            order.write(*work, logsPane, InOrder::outOfMemoryLine);
            work->state.problem = "out of memory";  // short enough to need none
        }
        if (scanState.abortRequested && !work->state.summarized && work->state.problem.empty())
            work->state.stop = "stopped";
        order.finish(std::move(work));
        scanState.setInHand(worker, 0, {});
        scanState.repositoriesDone++;
    }
}

}  // namespace

void optionScan(RepositoryList list, bool withCredentials) {
    scanState.optionScanRunning = true;
    std::vector<std::string> repositories(list.begin(), list.end());
    if (withCredentials)
        logsPane.write("Retry With Credentials: one repository at a time\n");
    else
        scanSummary.clear();
    scanState.repositoryCount = uint32_t(repositories.size());
    scanState.repositoriesDone = 0;

    for (const GitOperation& operation : operations)
        if (enabled(operation)) {
            logsPane.write(operation.beginText);
            logsPane.write("\n");
        }

    // Hooks run only from this empty folder, unless the user trusts them.
    SshHosts sshHosts(sshControlFolder());
    GitSession session{scanState.gitProgram, makePrivateFolder(), scanState.scanOptions.runHooks, withCredentials,
                       scanState.askPass, &sshHosts};
    if (session.noHooks.empty()) {
        logsPane.write("[ERROR] No git command ran: no empty folder could be made to keep hooks from running\n");
        repositories.clear();
    }

    // Workers beside this thread, which is the first; fewer when some cannot start.
    InOrder order(repositories.size());
    std::atomic<size_t> next{0};
    // Never two prompts at once.
    int jobs = withCredentials ? 1 : std::clamp(int(std::min<size_t>(size_t(scanState.jobs), repositories.size())), 1, maxJobs);
    std::vector<std::thread> workers(size_t(jobs - 1));
    for (int i = 1; i < jobs; i++)
        if (!startThread(workers[size_t(i - 1)], "worker",
                         [&, i] { runWorker(repositories, session, next, order, i); }))
            break;
    runWorker(repositories, session, next, order, 0);
    for (std::thread& worker : workers)
        if (worker.joinable())
            worker.join();
    // After a stop, each repository no worker took gets its row.
    for (size_t index = next; index < repositories.size(); index++) {
        auto work = std::make_unique<Work>();
        work->index = index;
        work->state.path = repositories[index];
        work->state.stop = "not reached";
        order.finish(std::move(work));
    }
    if (!session.noHooks.empty())
        removeFolder(session.noHooks);

    for (int i = operationCount - 1; i >= 0; i--) {
        const GitOperation& operation = operations[i];
        if (!enabled(operation))
            continue;
        operation.pane->addLog("%s\n", operation.finishText);
        operation.pane->addLog("%s", separatorLine);
        logsPane.write(operation.finishText);
        logsPane.write("\n");
    }

    scanState.optionScanRunning = false;
}

RepositoryList needingCredentials() {
    uint64_t scan;
    RepositoryList list;
    for (const RepositoryState& row : scanSummary.since(0, scan))
        if (row.needsCredentials())
            list.push_back(row.path);
    return list;
}

void retryWithCredentials() {
    RepositoryList list = needingCredentials();
    if (list.empty() || scanState.busy())
        return;
    waitForScan();  // empties the finished threads' slots
    scanState.abortRequested = false;
    scanState.optionScanRunning = true;  // before the thread, so a stop never falls between
    if (!startThread(scanState.optionScanThread, "retry", [list] { optionScan(list, true); }))
        scanState.optionScanRunning = false;
}
