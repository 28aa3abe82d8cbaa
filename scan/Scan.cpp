#include "scan/Scan.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <system_error>

#include "exec/Git.h"
#include "scan/DirectoryList.h"
#include "scan/GitOutput.h"
#include "scan/InOrder.h"
#include "scan/ReadmeScan.h"
#include "scan/RepositoryScan.h"
#include "scan/Trust.h"
#include "scan/Walk.h"

void RepositoryQueue::push(const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        paths.push_back(path);
    }
    changed.notify_one();
}

void RepositoryQueue::close() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        closed = true;
    }
    changed.notify_all();
}

bool RepositoryQueue::take(size_t& index, std::string& path, const std::atomic<bool>& stop) {
    std::unique_lock<std::mutex> lock(mutex);
    // A stop wakes nobody here: the wait looks at it every tenth of a second.
    while (!stop && next == paths.size() && !closed)
        changed.wait_for(lock, std::chrono::milliseconds(100));
    if (stop || next == paths.size())
        return false;
    index = next++;
    path = paths[index];
    return true;
}

std::vector<std::string> RepositoryQueue::list() const {
    std::lock_guard<std::mutex> lock(mutex);
    return paths;
}

std::vector<std::string> RepositoryQueue::untaken() const {
    std::lock_guard<std::mutex> lock(mutex);
    return std::vector<std::string>(paths.begin() + std::ptrdiff_t(next), paths.end());
}

namespace {

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

}  // namespace

Scan::Scan(const std::string& folder, const ScanOptions& options, ScanSink& sink)
    // Absolute once, here: git's ceiling and every check of what lies inside
    // need it, and every path shown is then whole.
    : chosen(absoluteFolder(folder)), root(resolvedPath(chosen)), sink(sink) {
    takeOptions(options);
    for (ChildSlot& slot : children)
        slot.stopWith(stopFlag);
}

Scan::~Scan() {
    stop();
    wait();
}

void Scan::takeOptions(const ScanOptions& what) {
    options = what;
    options.jobs = std::clamp(what.jobs, 1, maxJobs);
}

void Scan::keepOnly(const std::vector<std::string>& paths) {
    only.clear();
    for (const std::string& path : paths)
        only.push_back(absoluteFolder(path));
}

bool Scan::start() { return startRun("main scan", true, [this] { walkAndRun(); }); }

bool Scan::rescan(const ScanOptions& what) {
    if (busy)
        return false;
    wait();  // empties the finished thread's slot
    known.clear();
    for (const RepositoryState& row : rows.all())
        known.push_back(row.path);
    takeOptions(what);
    stopFlag = false;
    return startRun("rescan", true, [this] { walkAndRun(); });
}

bool Scan::startOn(std::vector<std::string> list, const ScanOptions& what, bool withCredentials) {
    if (list.empty() || busy)
        return false;
    wait();
    takeOptions(what);
    stopFlag = false;
    return startRun("run", false, [this, list = std::move(list), withCredentials] { runOn(list, withCredentials); });
}

// Again the commands that last ran on those repositories, whatever ran since
// on others.
bool Scan::retryWithCredentials(const std::string& askPass) {
    ScanOptions what = options;
    what.askPass = askPass;
    for (int i = 0; i < operationCount; i++)
        what.*optionOf(Operation(i)) = false;
    std::vector<std::string> list;
    for (const RepositoryState& row : rows.all())
        if (row.needsCredentials()) {
            list.push_back(row.path);
            for (int i = 0; i < operationCount; i++)
                what.*optionOf(Operation(i)) |= row.operations[i].ran;
        }
    return startOn(list, what, true);
}

bool Scan::startRun(const char* what, bool walks, std::function<void()> body) {
    if (walks)
        sink.text(Pane::logs, "Path to Scan: " + chosen + "\n");
    busy = true;  // before the thread, so a stop never falls in a moment when neither is set
    walking = walks;
    found = done = 0;
    if (startThread(thread, what, std::move(body)))
        return true;
    busy = walking = false;
    return false;
}

void Scan::stop() {
    stopFlag = true;
    for (ChildSlot& slot : children)
        slot.terminate();
}

void Scan::wait() {
    if (thread.joinable())
        thread.join();
}

bool Scan::startThread(std::thread& slot, const char* what, std::function<void()> body) {
    try {
        // Memory that runs out where nothing nearer could help ends the
        // thread's work with a line in Logs, never the program.
        slot = std::thread([this, what, body = std::move(body)] {
            try {
                body();
            } catch (const std::bad_alloc&) {
                memoryOut = true;
                sink.text(Pane::logs, std::string("[ERROR] Out of memory in the ") + what + " thread; its work ended there.\n");
            }
        });
        return true;
    } catch (const std::system_error& error) {
        sink.text(Pane::logs, std::string("[ERROR] Could not start the ") + what + " thread: " + error.what() + "\n");
        return false;
    }
}

// Found here, in repodeck's own folder, so a file named git inside a
// repository never runs, whatever the search path holds.
bool Scan::checkGit(std::string& version) {
    gitProgram = findProgram(git::program);
    noGit = gitProgram.empty();
    if (noGit || stopFlag)
        return false;
    std::string report;
    int32_t result = runCommand(git::version, version, nullptr, children[0], gitProgram.c_str(), nullptr, &report);
    sink.text(Pane::logs, report);
    if (result >= 0)
        return true;
    // A stop ends git --version too; that is no failure of git's.
    version = stopFlag ? "" : messageOf(version, result);
    return false;
}

// The walk's part of a run: the last list goes to the workers first, then
// what the walk finds off it (of those kept, when some are). True when the
// walk went through the whole folder: seen then holds all it found.
bool Scan::walkInto(RepositoryQueue& queue, std::set<std::string>& seen) {
    for (const std::string& path : known) {
        queue.push(path);
        found++;
    }
    std::set<std::string> listed(known.begin(), known.end()), kept(only.begin(), only.end());
    findRepositories(chosen, options.nestedEnabled, stopFlag, sink, [&](const std::string& path) {
        seen.insert(path);
        if (listed.count(path) || (!kept.empty() && !kept.count(path)))
            return false;
        queue.push(path);
        found++;
        sink.repositoryFound(path);
        return true;
    });
    return !stopFlag;
}

// Its row stays, so what the user saw of it is not lost without a word.
void Scan::markGone(const std::string& path) {
    RepositoryState state = rows.find(path).value_or(RepositoryState());
    state.path = path;
    state.gone = true;
    rows.put(state);
    sink.recordFinished(state);
    sink.text(Pane::logs, "Repository Gone: " + path + "\n");
}

void Scan::walkAndRun() {
    std::string version;
    bool gitWorks = checkGit(version), whole = false;
    std::set<std::string> seen;
    auto walk = [&](RepositoryQueue& queue) { whole = walkInto(queue, seen); };
    // The walk's text first, then the count and git's, then the repositories'.
    auto walked = [&](RepositoryQueue& queue) {
        walking = false;
        bool stopped = stopFlag;
        std::string count = (stopped ? "Repositories Found Before The Stop: " : "Repository Count: ") +
                            std::to_string(queue.list().size()) + "\n";
        sink.text(Pane::logs, separator + std::string("\n") + (stopped ? "Main Scan Stopped !!!" : "Main Scan Finished !!!") +
                                  "\n" + count + separatorLine);
        sink.text(Pane::repositories, separatorLine + count + separatorLine);
        if (gitWorks) {
            sink.text(Pane::logs, "Git Version: " + std::string(version.c_str()) + "\n");  // up to the closing zero
            writeBeginLines(options, sink);
            if (options.readmeEnabled)
                readmePreviews(queue.list(), stopFlag, sink);
        } else if (gitProgram.empty()) {
            sink.text(Pane::logs, std::string("You need to install git: ") + git::downloadAddress + "\n" +
                                      "If git is already installed. You need to add git folder into your environment "
                                      "variable (PATH)\n");
        } else if (!version.empty()) {
            sink.text(Pane::logs, "[ERROR] git could not run: " + version + "\n");
        }
    };
    if (gitWorks) {
        runRepositories(false, walk, walked);
    } else {
        RepositoryQueue queue;
        walk(queue);
        walked(queue);
    }
    for (const std::vector<std::string>* listed : {&known, &only})
        for (const std::string& path : *listed)
            if (whole && !seen.count(path))
                markGone(path);
    busy = false;
    sink.finished(stopFlag);
}

void Scan::runOn(const std::vector<std::string>& list, bool withCredentials) {
    busy = true;
    if (gitProgram.empty())
        gitProgram = findProgram(git::program);
    if (withCredentials)
        sink.text(Pane::logs, "Retry With Credentials: one repository at a time\n");
    writeBeginLines(options, sink);
    found = uint32_t(list.size());
    done = 0;
    runRepositories(
        withCredentials,
        [&](RepositoryQueue& queue) {
            for (const std::string& path : list)
                queue.push(path);
        },
        [](RepositoryQueue&) {});
    busy = false;
}

std::vector<std::string> Scan::needingCredentials() const {
    std::vector<std::string> list;
    for (const RepositoryState& row : rows.all())
        if (row.needsCredentials())
            list.push_back(row.path);
    return list;
}

void Scan::runRepositories(bool withCredentials, const std::function<void(RepositoryQueue&)>& feed,
                           const std::function<void(RepositoryQueue&)>& fed) {
    // Hooks run only from this empty folder, unless the user trusts them.
    SshHosts sshHosts(sshControlFolder());
    GitSession session{gitProgram, makePrivateFolder(), options.runHooks, withCredentials, options.askPass, &sshHosts};
    RepositoryQueue queue;
    InOrder order(sink, rows, false);
    RunContext run{options, session, root, stopFlag, sink, order};
    auto work = [&](int worker) {
        size_t index;
        std::string path;
        while (queue.take(index, path, stopFlag)) {
            auto work = std::make_unique<Work>();
            work->index = index;
            work->state.path = path;
            setInHand(worker, index, path);
            scanRepository(*work, run, children[worker]);
            if (std::optional<RepositoryState> earlier = rows.find(path))
                work->state.keepRunsFrom(*earlier);
            order.finish(std::move(work));
            setInHand(worker, 0, {});
            done++;
        }
    };
    // Never two prompts at once.
    int jobs = withCredentials ? 1 : options.jobs;
    bool canRun = !session.noHooks.empty();
    workersStarted = canRun;
    std::vector<std::thread> workers(static_cast<size_t>(jobs));
    for (int i = 0; i < jobs && canRun; i++)
        if (!startThread(workers[size_t(i)], "worker", [&work, i] { work(i); }))
            break;
    feed(queue);
    queue.close();
    fed(queue);
    if (!canRun)
        sink.text(Pane::logs, "[ERROR] No git command ran: no empty folder could be made to keep hooks from running\n");
    order.open();  // the walk's text is out: the repositories' follows
    if (canRun && !workers[0].joinable())
        work(0);  // no worker thread could start: this one does the work
    for (std::thread& worker : workers)
        if (worker.joinable())
            worker.join();
    // After a stop, each repository no worker took keeps its record, or gets
    // one that says so.
    std::vector<std::string> untaken = canRun ? queue.untaken() : std::vector<std::string>();
    size_t first = queue.list().size() - untaken.size();
    for (size_t i = 0; i < untaken.size(); i++) {
        auto work = std::make_unique<Work>();
        work->index = first + i;
        work->state.path = untaken[i];
        work->state.stop = "not reached";
        work->state = rows.find(untaken[i]).value_or(work->state);
        order.finish(std::move(work));
    }
    if (canRun)
        removeFolder(session.noHooks);
    writeFinishLines(options, sink);
}

ScanProgress Scan::progress() const {
    ScanProgress now;
    now.walking = walking;
    now.found = found;
    now.done = done;
    std::lock_guard<std::mutex> lock(progressMutex);
    std::vector<std::pair<size_t, std::string>> held;
    for (const auto& slot : inHand)
        if (!slot.second.empty())
            held.push_back(slot);
    std::sort(held.begin(), held.end());
    for (auto& [index, path] : held)
        now.inHand.push_back(std::move(path));
    return now;
}

void Scan::setInHand(int worker, size_t index, const std::string& repository) {
    std::lock_guard<std::mutex> lock(progressMutex);
    inHand[worker] = {index, repository};
}
