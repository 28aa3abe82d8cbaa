#include "scan/Scan.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <system_error>
#include <tuple>

#include "exec/Git.h"
#include "scan/DirectoryList.h"
#include "scan/GitOutput.h"
#include "scan/InOrder.h"
#include "scan/ReadmeScan.h"
#include "scan/Remote.h"
#include "scan/RepositoryScan.h"
#include "scan/Trust.h"
#include "scan/Walk.h"

RepositoryQueue::RepositoryQueue(int perHost, int local, std::function<QueuedHost(const std::string&)> hostOf)
    : perHost(perHost), local(local), hostOf(std::move(hostOf)) {}

void RepositoryQueue::push(const std::string& path) {
    QueuedHost queued = hostOf ? hostOf(path) : QueuedHost{};
    const std::string& host = queued.name;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Host& state = hosts[host];
        state.shared = queued.shared;
        state.untaken.push_back(paths.size());
        paths.emplace_back(path, host);
        taken.push_back(false);
        offer(host, state);
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

void RepositoryQueue::offer(const std::string& host, const Host& state) {
    if (!state.untaken.empty() && hasRoom(host, state))
        ready.emplace(state.untaken.front(), host);
}

bool RepositoryQueue::take(size_t& index, std::string& path, std::string& host, const std::atomic<bool>& stop) {
    std::unique_lock<std::mutex> lock(mutex);
    // A stop wakes nobody here: the wait looks at it every tenth of a second.
    // Repositories left, none ready: their hosts are full, and a worker
    // holding one of them gives room back when done.
    while (!stop && ready.empty() && !(closed && takenCount == paths.size()))
        changed.wait_for(lock, std::chrono::milliseconds(100));
    if (stop || ready.empty())
        return false;
    std::tie(index, host) = *ready.begin();
    ready.erase(ready.begin());
    Host& state = hosts[host];
    state.untaken.pop_front();
    state.inHand++;
    taken[index] = true;
    takenCount++;
    path = paths[index].first;
    offer(host, state);
    if (!ready.empty())
        changed.notify_one();  // room for more than one: the next worker takes its share
    return true;
}

void RepositoryQueue::done(size_t index) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        const std::string& host = paths[index].second;
        Host& state = hosts[host];
        state.inHand--;
        state.reached = true;
        offer(host, state);
    }
    changed.notify_one();
}

std::vector<std::string> RepositoryQueue::list() const {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> list;
    for (const auto& [path, host] : paths)
        list.push_back(path);
    return list;
}

std::vector<std::pair<size_t, std::string>> RepositoryQueue::untaken() const {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::pair<size_t, std::string>> left;
    for (size_t i = 0; i < paths.size(); i++)
        if (!taken[i])
            left.emplace_back(i, paths[i].first);
    return left;
}

std::map<std::string, uint32_t> RepositoryQueue::waiting() const {
    std::lock_guard<std::mutex> lock(mutex);
    std::map<std::string, uint32_t> counts;
    for (const auto& [host, state] : hosts)
        if (!host.empty() && !hasRoom(host, state) && !state.untaken.empty())
            counts[host] = uint32_t(state.untaken.size());
    return counts;
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

// Gives a taken repository's host its room back however the worker's turn
// ends, memory run out included: other workers may wait for that room.
struct HostRoom {
    RepositoryQueue& queue;
    size_t index;
    ~HostRoom() { queue.done(index); }
};

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

int jobsFor(const ScanOptions& options) {
    if (options.jobs > 0)
        return std::min(options.jobs, maxJobs);
    // A fetch, pull or submodule update waits on its host, and the room per
    // host keeps each host within what it takes: as many workers as there is
    // room for on the hosts of a tree, so that limit alone decides.
    if (options.fetchEnabled || options.pullEnabled || options.submoduleEnabled)
        return maxJobs;
    return localJobs();
}

int localJobs() { return std::clamp(2 * int(std::thread::hardware_concurrency()), 4, 16); }

void Scan::takeOptions(const ScanOptions& what) {
    options = what;
    options.jobs = jobsFor(what);
    chosenJobs = what.jobs <= 0;
    options.perHost = std::clamp(what.perHost, 1, maxPerHost);
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
        RepositoryQueue queue(maxPerHost, maxJobs, nullptr);
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

std::shared_ptr<RepositoryQueue> Scan::newQueue(bool sharesSsh) {
    // Only fetch, pull and submodule update reach a host.
    std::function<QueuedHost(const std::string&)> hostOf;
    if (options.fetchEnabled || options.pullEnabled || options.submoduleEnabled)
        hostOf = [user = userConfiguration(), sharesSsh](const std::string& path) {
            RemoteHost remote = remoteOfFolder(path, user);
            return QueuedHost{remote.host, sharesSsh && remote.transport == "ssh"};
        };
    // Repositories that reach no host (a local remote, none) are not held
    // back by the room for hosts: at the chosen jobs, no more of them at once
    // than local commands get.
    int local = chosenJobs ? localJobs() : options.jobs;
    auto made = std::make_shared<RepositoryQueue>(options.perHost, local, std::move(hostOf));
    std::lock_guard<std::mutex> lock(progressMutex);
    return currentQueue = made;
}

void Scan::runRepositories(bool withCredentials, const std::function<void(RepositoryQueue&)>& feed,
                           const std::function<void(RepositoryQueue&)>& fed) {
    // Hooks run only from this empty folder, unless the user trusts them.
    std::string controlFolder = sshControlFolder();
    SshHosts sshHosts(controlFolder);
    GitSession session{gitProgram, makePrivateFolder(), options.runHooks, withCredentials, options.askPass, &sshHosts};
    std::shared_ptr<RepositoryQueue> queue = newQueue(!controlFolder.empty());
    InOrder order(sink, rows, false);
    RunContext run{options, session, root, stopFlag, sink, order};
    auto work = [&](int worker) {
        size_t index;
        std::string path, host;
        while (queue->take(index, path, host, stopFlag)) {
            HostRoom room{*queue, index};
            auto work = std::make_unique<Work>();
            work->index = index;
            work->state.path = path;
            setInHand(worker, {index, path, host, std::chrono::steady_clock::now()});
            order.start(index);
            scanRepository(*work, run, children[worker]);
            if (std::optional<RepositoryState> earlier = rows.find(path))
                work->state.keepRunsFrom(*earlier);
            order.finish(std::move(work));
            setInHand(worker, {});
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
    feed(*queue);
    queue->close();
    fed(*queue);
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
    for (const auto& [index, path] : canRun ? queue->untaken() : std::vector<std::pair<size_t, std::string>>()) {
        auto work = std::make_unique<Work>();
        work->index = index;
        work->state.path = path;
        work->state.stop = "not reached";
        work->state = rows.find(path).value_or(work->state);
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
    std::map<std::string, uint32_t> stuck = currentQueue ? currentQueue->waiting() : std::map<std::string, uint32_t>();
    auto longAgo = std::chrono::steady_clock::now() - std::chrono::seconds(stuckSeconds);
    std::vector<std::pair<size_t, std::string>> held;
    for (const InHand& slot : inHand)
        if (!slot.path.empty()) {
            held.emplace_back(slot.index, slot.path);
            if (!slot.host.empty() && slot.since < longAgo)
                stuck[slot.host]++;
        }
    std::sort(held.begin(), held.end());
    for (auto& [index, path] : held)
        now.inHand.push_back(std::move(path));
    for (const auto& [host, count] : stuck)
        if (count > now.stuckCount)
            std::tie(now.stuckHost, now.stuckCount) = std::tie(host, count);
    return now;
}

void Scan::setInHand(int worker, InHand repository) {
    std::lock_guard<std::mutex> lock(progressMutex);
    inHand[worker] = std::move(repository);
}
