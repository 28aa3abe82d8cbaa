// What one scan learned of one repository: filled by a worker as it
// works through the repository, then read by the Summary tab, repodeck-scan's
// Summary pane and its JSON, so the three always agree.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct OperationResult {
    bool ran = false;
    int32_t exitCode = 0;  // or the runner's negative result
    std::string message;   // messageOf its output
    bool skipped = false;  // a pull with nothing to pull from: no upstream, or a detached HEAD
    bool needsCredentials = false;  // failed for want of a password, a key or a host key
    bool unreachable = false;       // failed for want of an answer from its host in time

    bool failed() const;  // for a reason other than a stop, nothing to pull or credentials
};

// The ticked operations, in the order they run on a repository.
enum Operation { statusOperation, remoteOperation, fetchOperation, pullOperation, submoduleOperation, operationCount };

struct RepositoryState {
    std::string path;  // bytes as the walk found them

    // From "git status --porcelain=v2 --branch --show-stash" after the operations.
    bool summarized = false;  // that command ran and was understood
    std::string branch;       // empty when detached
    std::string commit;       // short, as git abbreviates it; empty on an unborn branch
    std::string head;         // the full commit; empty on an unborn branch
    bool detached = false;
    bool unborn = false;
    std::string upstream;  // empty without one
    int ahead = 0, behind = 0;
    bool upstreamGone = false;  // configured, but its branch no longer exists
    bool noUpstream = false;    // on a branch with commits, but none set
    int staged = 0, changed = 0, untracked = 0, conflicted = 0, stashes = 0;
    std::string inProgress;  // "merge", "rebase", "am", "cherry-pick", "revert" or "bisect"

    OperationResult operations[operationCount];
    std::vector<std::string> fetchedRefs;  // the refs fetch updated, from its report
    int pulledCommits = 0;                 // from the head before and after the pull
    // The commits the last fetch and pull brought, newest first, each "abbreviation subject"; the first few.
    std::vector<std::string> fetchedSubjects, pulledSubjects;
    int submodulesUpdated = 0;             // checked out or updated
    std::string problem;                   // why the state could not be read
    std::vector<std::string> trust;        // what its configuration and hooks named that git did not run
    std::string stop;                      // "stopped" while in hand, or "not reached", by a stop
    bool gone = false;                     // on the list, but the last walk of the folder did not find it
    // When a worker last began with it (what the record says is as of then);
    // the clock's epoch for never.
    std::chrono::system_clock::time_point checkedAt{};

    bool failed() const;  // a command failed, for a reason other than credentials, no state, or gone
    bool needsCredentials() const;
    bool needsAttention() const;
    // The most pressing state, which names the row's colour in the window and
    // in a terminal.
    enum class Tone { stopped, failed, unread, changed, moved, clean };
    Tone tone() const;
    std::string lastMessage() const;  // the last line git had for this repository
    // Takes from earlier, this repository's record before, what the commands
    // that did not run this time had found: a pull on a row keeps what its
    // fetch brought.
    void keepRunsFrom(const RepositoryState& earlier);
};
