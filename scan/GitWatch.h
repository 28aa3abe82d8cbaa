// Tells which repositories changed: in the git folder HEAD, the index, refs,
// packed-refs, FETCH_HEAD, the stash, an operation's state files (git's lock
// files and new objects alone are no change), and, where the platform can
// watch it, anything in the work tree. One file per platform: inotify on each
// git folder and work tree folder on Linux, ReadDirectoryChangesW on each git
// folder and work tree on Windows. wake may be called from any thread;
// everything else from one thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "scan/GitFolder.h"

class GitWatch {
public:
    // root: the folder the repositories were found in.
    explicit GitWatch(const std::string& root);
    ~GitWatch();
    GitWatch(const GitWatch&) = delete;
    GitWatch& operator=(const GitWatch&) = delete;

    // Starts watching git, the git folders of the repository in folder,
    // inside root; false when the system's limit on watches is reached (none is
    // watched then) or the platform's watcher could not be made.
    bool add(const std::string& folder, const GitFolder& git);
    // Starts watching the work tree of the repository in folder, once every
    // git folder is watched: what the system's limit leaves is for them.
    // Gives up when stop is set: a large tree takes a while.
    void addTree(const std::string& folder, const std::atomic<bool>& stop);
    // Whether the limit left some work tree folders unwatched (Linux).
    bool treesCut() const;
    // Waits up to waitMs (forever when negative) until a watched git folder
    // changes or wake is called; the repositories changed since the last
    // call, each once, in no particular order.
    std::vector<std::string> changed(int waitMs);
    void wake();

    struct Platform;  // what each platform keeps

private:
    std::unique_ptr<Platform> platform;
};
