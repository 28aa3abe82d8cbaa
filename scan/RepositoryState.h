// What one scan learned of one repository: filled by the option scan as it
// works through the repository, then read by the Summary tab, repodeck-scan's
// Summary pane and its JSON, so the three always agree.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct OperationResult {
    bool ran = false;
    int32_t exitCode = 0;  // or the runner's negative result
    std::string message;   // messageOf its output
    bool skipped = false;  // a pull with nothing to pull from: no upstream, or a detached HEAD
    bool needsCredentials = false;  // failed for want of a password, a key or a host key
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
    int submodulesUpdated = 0;             // checked out or updated
    std::string problem;                   // why the state could not be read
    std::vector<std::string> trust;        // what its configuration and hooks named that git did not run
    std::string stop;                      // "stopped" while in hand, or "not reached", by a stop

    bool failed() const;  // a command failed, for a reason other than credentials, or no state
    bool needsCredentials() const;
    bool needsAttention() const;
    // The most pressing state, which names the row's colour in the window and
    // in a terminal.
    enum class Tone { stopped, failed, unread, changed, moved, clean };
    Tone tone() const;
    std::string lastMessage() const;  // the last line git had for this repository
};

// Fills the summary fields from the command's output, passing over lines
// that are no entry; false (problem set) when it is not that command's output.
bool readSummary(const std::string& output, RepositoryState& state);
// The operation in progress, from the files git keeps in the repository's
// ".git" folder while one is under way.
void readOperationInProgress(RepositoryState& state, const std::string& gitFolder);
// The full commit the branch named by ".git/HEAD" points at, without a git
// child; empty when it cannot be read (unborn, say).
std::string readHead(const std::string& gitFolder, const std::string& commonFolder);
// Takes what fetch, pull and submodule update reported from their output.
void readFetchReport(const std::string& output, RepositoryState& state);
int countSubmoduleLines(const std::string& output);
std::string firstLine(const std::string& output);
// The line that says what happened (at most 4096 bytes): for a result of the
// runner's own, its line; for a failure, git's first "fatal:" or "error:"
// line; else the first line.
std::string messageOf(const std::string& output, int32_t result);
// A pull that failed for want of an upstream or of a branch: skipped, not failed.
bool nothingToPullFrom(const std::string& output);

// The texts of the table's cells, shared by the window and repodeck-scan.
enum SummaryColumn { repositoryColumn, branchColumn, upstreamColumn, changesColumn, stashColumn, fetchColumn,
                     pullColumn, notRunColumn, problemColumn, summaryColumnCount };
extern const char* const summaryColumnNames[summaryColumnCount];
std::string summaryCell(const RepositoryState& state, SummaryColumn column);

// The records of the running or last scan, in the order of the repository
// list. The option scan appends; the views copy what is new to them.
class ScanSummary {
public:
    void clear();
    // Appends state, or replaces the record of its path (a view then starts over).
    void add(const RepositoryState& state);
    // The records from the index from on, and the scan they belong to (it
    // changes with every clear, so a view knows to start over).
    std::vector<RepositoryState> since(size_t from, uint64_t& scan) const;
    // How many records pass test, without copying them.
    size_t count(bool (RepositoryState::*test)() const) const;

private:
    mutable std::mutex mutex;
    std::vector<RepositoryState> rows;
    uint64_t generation = 0;
};

extern ScanSummary scanSummary;
