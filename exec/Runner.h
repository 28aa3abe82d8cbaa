// Runs one command line as a hidden child process and captures what it writes.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// The slot of the child that one runCommand is waiting on, shared with the
// stop. The lock makes "end the child" and "the runner lets go of its child"
// exclusive, so a stop can never reach a process the runner has already
// reaped or closed.
class ChildSlot {
public:
    using Handle = intptr_t;  // a process group id on Linux, a Job object on Windows

    // While stopRequested is set, a child published here is ended at once: a
    // stop that came just before the child started is never lost.
    void stopWith(const std::atomic<bool>& stopRequested) { stop = &stopRequested; }

    void publish(Handle child) {
        std::lock_guard<std::mutex> lock(mutex);
        handle = child;
        if (stop && *stop)
            end();
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex);
        handle = 0;
    }
    bool holdsChild() const {
        std::lock_guard<std::mutex> lock(mutex);
        return handle != 0;
    }
    // Ends the child and what it started (its process group on Linux, its
    // job on Windows) with the exit code -1, and empties the slot. Does
    // nothing when the slot is empty; an emptied slot also tells a runner
    // still reading that its child was stopped.
    void terminate() {
        std::lock_guard<std::mutex> lock(mutex);
        end();
    }

private:
    void end();  // per platform; the lock is held

    mutable std::mutex mutex;
    Handle handle = 0;
    const std::atomic<bool>* stop = nullptr;
};

// What one child gets beyond its command line.
struct ChildSettings {
    // "NAME=value" in place of the user's own value of NAME; a later entry
    // wins over an earlier one of the same name.
    std::vector<std::string> variables;
    // May ask on the user's terminal: stays in repodeck's own session and
    // process group, where the terminal's prompts reach it.
    bool interactive = false;
    // The whole run's limit in seconds, as for a child that writes nothing
    // for chunkTimeoutSeconds(); 0 for none.
    int runLimitSeconds = 0;
};

// Blocks until the child has ended (or its output has ended and a final wait
// of 60 seconds has passed). Runs on a scan thread; the child is published in
// slot for as long as it runs.
//
// commandLine is split on blanks into arguments; no shell is involved. The
// program started is program, a full path, or else the first word found by
// findProgram. Standard output and standard error share one pipe, so the text
// comes in the order the child wrote it; standard input is empty. The child
// gets childVariables in place of the user's own values. workingFolder may be
// null.
//
// Returns the child's exit code (128 + the signal for one ended by a signal it
// did not get from us) or one of the results below. After a run, output holds
// the captured bytes, zero bytes too (at most keptOutputLimit, then one line
// saying how many were not kept), for a result of the runner's own one line
// "[repodeck] ..." saying what happened, and one closing zero character.
//
// The runner writes no pane. When no exit code can be had (someone else
// reaped the child), the result is -1 and *report, when given, gets the
// "[PROBLEM]: " lines naming the command and its folder, for the caller's log.
int32_t runCommand(const char* commandLine, std::string& output, const char* workingFolder, ChildSlot& slot,
                   const char* program = nullptr, const ChildSettings* settings = nullptr,
                   std::string* report = nullptr);

constexpr int32_t stoppedResult = -1;        // a stop ended it (not a failure)
constexpr int32_t folderFailedResult = -62;  // the working folder could not be entered
constexpr int32_t startFailedResult = -63;   // it could not start: no program, no pipe, no process
constexpr int32_t timedOutResult = -64;      // no output for chunkTimeoutSeconds(), or over the run's limit: ended
constexpr int32_t stillRunningResult = 259;  // its output ended, it did not within the final wait: ended

// The full path of the program name in an absolute folder of the search path
// (name.exe on Windows); empty when there is none. Empty and relative entries
// are skipped: they would name the working folder of a child, which may be a
// repository holding a file of that name.
std::string findProgram(const char* name);

// The most a command's output is kept of: a flood of text never costs more
// memory than this per running command.
constexpr size_t keptOutputLimit = size_t(16) << 20;

// For the platform runners.
// "NAME=value" lines a child gets in place of the user's own: LC_ALL=C, so
// git's messages, and the texts the scan looks for, are English in any
// language; and in a working folder, GIT_CEILING_DIRECTORIES at its parent,
// so that a .git git refuses fails there instead of git working on a
// repository above it, outside the folder the user chose; then the
// settings' own variables. One entry per name.
std::vector<std::string> childVariables(const char* workingFolder, const ChildSettings* settings);
// When no exit code can be had: puts the "[PROBLEM]: " report into *report
// (when given) and returns the result for it, -1.
int32_t reportMissingExitCode(const char* commandLine, const char* workingFolder, std::string* report);

// Whether the platform's ssh can share one connection among its sessions
// (ControlMaster); Windows' OpenSSH cannot.
extern const bool sshSharesConnections;

// What a run keeps of the child's output.
class Capture {
public:
    // Appends a chunk, within keptOutputLimit; what does not fit, or finds no
    // memory, is counted instead.
    void keep(const char* chunk, size_t length);
    // Moves the text into output, then the line on what was not kept, the
    // runner's line for result when it is one of its own (reason: the
    // system's words for a start that failed; for a time-out, the run's limit
    // in seconds when that ended it) and the closing zero. Returns result.
    int32_t end(std::string& output, int32_t result, const std::string& reason = "");

private:
    std::string text;
    uint64_t notKept = 0;
    bool outOfMemory = false;
};

// Waits for one chunk of output before the child counts as hung (seconds):
// 513, or REPODECK_CHUNK_TIMEOUT's value, read once (for tests).
int chunkTimeoutSeconds();
constexpr int chunkSize = 4096;
constexpr int finalWaitMilliseconds = 60000;
// How long the pipe may stay open after the child has ended: a process it
// started and left behind must not hold the scan.
constexpr int pipeGraceMilliseconds = 2000;
