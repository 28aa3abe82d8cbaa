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
// Returns the exit code, -1 for a child that was terminated, 259 for a child
// still running after the final wait, -51 when the pipe could not be made and
// -62 when the child did not start (output then stays empty). After a run,
// output holds every byte captured, zero bytes too, followed by one zero
// character; read as a C string it ends at the first zero the child wrote.
int32_t runCommand(const char* commandLine, std::string& output, const char* workingFolder, ChildSlot& slot,
                   const char* program = nullptr, const ChildSettings* settings = nullptr);

// The full path of the program name in an absolute folder of the search path
// (name.exe on Windows); empty when there is none. Empty and relative entries
// are skipped: they would name the working folder of a child, which may be a
// repository holding a file of that name.
std::string findProgram(const char* name);

// For the platform runners.
// "NAME=value" lines a child gets in place of the user's own: LC_ALL=C, so
// git's messages, and the texts the scan looks for, are English in any
// language; and in a working folder, GIT_CEILING_DIRECTORIES at its parent,
// so that a .git git refuses fails there instead of git working on a
// repository above it, outside the folder the user chose; then the
// settings' own variables. One entry per name.
std::vector<std::string> childVariables(const char* workingFolder, const ChildSettings* settings);
// When no exit code can be had: writes the "[PROBLEM]: " report to logsPane
// and returns the result for it, -1.
int32_t reportMissingExitCode(const char* commandLine, const char* workingFolder);
// Appends a chunk to what was captured; when memory runs out, the rest of the
// output is dropped and one line says so. False once that has happened.
bool keepChunk(std::string& captured, const char* chunk, size_t length);

// Whether the platform's ssh can share one connection among its sessions
// (ControlMaster); Windows' OpenSSH cannot.
extern const bool sshSharesConnections;

// Waits for one chunk of output before the child counts as hung (seconds).
constexpr int chunkTimeoutSeconds = 513;
constexpr int chunkSize = 4096;
constexpr int finalWaitMilliseconds = 60000;
// How long the pipe may stay open after the child has ended: a process it
// started and left behind must not hold the scan.
constexpr int pipeGraceMilliseconds = 2000;
constexpr int32_t stillRunningResult = 259;
constexpr int32_t pipeFailedResult = -51;
constexpr int32_t startFailedResult = -62;
