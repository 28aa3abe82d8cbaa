// Linux runner: posix_spawnp in a new session (no terminal, so git and ssh never
// wait for a password), standard output on a close-on-exec pipe polled with the
// chunk time-out, and a stop that kills the child's whole process group.
#include "exec/Runner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "scan/ScanState.h"

extern char** environ;

namespace {

struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() { reset(); }
    void reset() {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
};

std::vector<std::string> splitOnBlanks(const char* commandLine) {
    std::vector<std::string> words;
    for (const char* p = commandLine; *p;) {
        while (*p == ' ' || *p == '\t')
            p++;
        const char* start = p;
        while (*p && *p != ' ' && *p != '\t')
            p++;
        if (p > start)
            words.emplace_back(start, p);
    }
    return words;
}

enum class Wait { ended, running, lost };

// Waits at most timeoutMs for the child to end, without reaping it: a zombie
// keeps its pid and process group reserved, so a stop racing with the end of
// the child can never signal a stranger.
Wait waitForEnd(pid_t pid, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto pause = std::chrono::microseconds(50);
    for (;;) {
        siginfo_t info = {};
        int waited = waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (waited == 0 && info.si_pid == pid)
            return Wait::ended;
        if (waited < 0 && errno != EINTR)
            return Wait::lost;
        if (std::chrono::steady_clock::now() >= deadline)
            return Wait::running;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
}

void reap(pid_t pid, int* status) {
    int ignored;
    while (waitpid(pid, status ? status : &ignored, 0) < 0 && errno == EINTR) {
    }
}

int32_t exitCodeOf(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return -1;  // ended by a signal: the stop, the time-out, or a crash
}

}  // namespace

void ChildSlot::terminate() {
    std::lock_guard<std::mutex> lock(mutex);
    if (handle != 0)
        kill(-pid_t(handle), SIGKILL);
    handle = 0;
}

int32_t runCommand(const char* commandLine, std::string& output, const char* workingFolder) {
    output.clear();

    std::vector<std::string> words = splitOnBlanks(commandLine);
    if (words.empty())
        return startFailedResult;
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    FileDescriptor readEnd, writeEnd;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return pipeFailedResult;
    readEnd.fd = ends[0];
    writeEnd.fd = ends[1];

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (workingFolder)
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaultSignals;
    sigemptyset(&defaultSignals);
    sigaddset(&defaultSignals, SIGPIPE);
    sigaddset(&defaultSignals, SIGINT);
    sigaddset(&defaultSignals, SIGTERM);
    sigset_t noSignals;
    sigemptyset(&noSignals);
    posix_spawnattr_setsigdefault(&attributes, &defaultSignals);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = 0;
    int spawnError = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    writeEnd.reset();  // only the child holds the write end now
    if (spawnError != 0)
        return startFailedResult;  // no such program, or the folder cannot be entered

    // The child leads its own session, so its pid is its process group.
    scanState.currentChildProcess.publish(pid);

    std::string captured;
    char chunk[chunkSize + 1];
    bool timedOut = false;
    for (;;) {
        pollfd ready = {readEnd.fd, POLLIN, 0};
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(chunkTimeoutSeconds);
        int polled;
        bool stopped = false;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            // In slices of a second: a process that left the child's group
            // (setsid) may hold the pipe open after a stop has ended the group,
            // and the stop must not wait for it.
            polled = poll(&ready, 1, int(std::clamp<long long>(left.count(), 0, 1000)));
            if (polled < 0 && errno == EINTR)
                continue;
            if (polled != 0 || left.count() <= 1000)
                break;
            if (!scanState.currentChildProcess.holdsChild()) {
                stopped = true;  // only a stop empties the slot while we read
                break;
            }
        }
        if (stopped)
            break;
        if (polled == 0) {
            timedOut = true;
            break;
        }
        ssize_t count;
        do
            count = read(readEnd.fd, chunk, chunkSize);
        while (count < 0 && errno == EINTR);
        if (count <= 0)
            break;
        chunk[count] = 0;
        captured.append(chunk, strlen(chunk));  // a zero byte cuts its chunk there
    }
    readEnd.reset();
    if (timedOut)
        scanState.currentChildProcess.terminate();

    Wait end = waitForEnd(pid, finalWaitMilliseconds);
    // Let go of the child before reaping it, so a stop cannot reach its pid
    // once the pid may be given to another process.
    scanState.currentChildProcess.clear();
    int32_t result;
    if (end == Wait::ended) {
        int status = 0;
        reap(pid, &status);
        result = exitCodeOf(status);
    } else if (end == Wait::running) {
        result = stillRunningResult;
        std::thread(reap, pid, nullptr).detach();  // reaps it whenever it ends: no zombie
    } else {
        // Someone else reaped our child (a SIGCHLD handler set to ignore, say):
        // no exit code exists, so report it rather than claim success.
        result = reportMissingExitCode(commandLine, workingFolder);
    }

    output = std::move(captured);
    output.push_back('\0');
    return result;
}
