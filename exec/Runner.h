// Runs one command line as a hidden child process and captures its standard output.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

// The slot of the child that runCommand is waiting on, shared with stopScan.
// The lock makes "terminate" and "the runner lets go of its child" exclusive,
// so a stop can never reach a process the runner has already reaped or closed.
class ChildSlot {
public:
    using Handle = intptr_t;  // a process group id on Linux, a Job object on Windows

    void publish(Handle child) {
        std::lock_guard<std::mutex> lock(mutex);
        handle = child;
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
    void terminate();

private:
    mutable std::mutex mutex;
    Handle handle = 0;
};

// Blocks until the child has ended (or its output has ended and a final wait
// of 60 seconds has passed). Runs on a scan thread; one command at a time per
// process, published in scanState.currentChildProcess.
//
// commandLine is split on blanks into arguments; no shell is involved and the
// program is found through the search path. workingFolder may be null.
// Returns the exit code, -1 for a child that was terminated, 259 for a child
// still running after the final wait, -51 when the pipe could not be made and
// -62 when the child did not start (output then stays empty). After a run,
// output holds the captured text followed by one zero character.
int32_t runCommand(const char* commandLine, std::string& output, const char* workingFolder);

// For the platform runners: when no exit code can be had, writes the
// "[PROBLEM]: " report to logsPane and returns the result for it, -1.
int32_t reportMissingExitCode(const char* commandLine, const char* workingFolder);

// Waits for one chunk of output before the child counts as hung (seconds).
constexpr int chunkTimeoutSeconds = 513;
constexpr int chunkSize = 4096;
constexpr int finalWaitMilliseconds = 60000;
constexpr int32_t stillRunningResult = 259;
constexpr int32_t pipeFailedResult = -51;
constexpr int32_t startFailedResult = -62;
