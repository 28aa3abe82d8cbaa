// Linux runner: posix_spawn of a program found beforehand (the search path is
// never searched from inside a repository), in a new session (no terminal, so
// git and ssh never wait for a password), standard output and error on one
// close-on-exec pipe polled with the chunk time-out, and a stop that kills the
// child's whole process group.
#include "exec/Runner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <system_error>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

// Ours, with childVariables in place of the user's values of those names.
std::vector<char*> childEnvironment(std::vector<std::string>& ours) {
    std::vector<char*> variables;
    for (char** variable = environ; *variable; variable++) {
        bool replaced = false;
        for (const std::string& own : ours)
            replaced |= strncmp(*variable, own.c_str(), own.find('=') + 1) == 0;
        if (!replaced)
            variables.push_back(*variable);
    }
    for (std::string& own : ours)
        variables.push_back(own.data());
    variables.push_back(nullptr);
    return variables;
}

bool childEnded(pid_t pid) {
    siginfo_t info = {};
    return waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
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

// Why a start failed: the folder, when it cannot be entered, else the error.
int32_t startFailure(Capture& capture, std::string& output, const char* workingFolder, int error) {
    struct stat info;
    bool enterable = !workingFolder || (stat(workingFolder, &info) == 0 && S_ISDIR(info.st_mode) &&
                                        access(workingFolder, X_OK) == 0);
    return capture.end(output, enterable ? startFailedResult : folderFailedResult, strerror(error));
}

// The spawn's set-up: standard input empty, output and error on the pipe's
// write end, the working folder, default signal handling, and a session of
// its own unless interactive. Every call checked: error is the first failure, or 0.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    int error = 0;
    SpawnSetup(int writeEnd, const char* workingFolder, bool interactive) {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        check(posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0));
        check(posix_spawn_file_actions_adddup2(&actions, writeEnd, 1));
        check(posix_spawn_file_actions_adddup2(&actions, writeEnd, 2));
        if (workingFolder)
            check(posix_spawn_file_actions_addchdir_np(&actions, workingFolder));
        sigset_t defaultSignals;
        sigemptyset(&defaultSignals);
        for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            sigaddset(&defaultSignals, signal);
        sigset_t noSignals;
        sigemptyset(&noSignals);
        check(posix_spawnattr_setsigdefault(&attributes, &defaultSignals));
        check(posix_spawnattr_setsigmask(&attributes, &noSignals));
        check(posix_spawnattr_setflags(&attributes, (interactive ? 0 : POSIX_SPAWN_SETSID) | POSIX_SPAWN_SETSIGDEF |
                                                        POSIX_SPAWN_SETSIGMASK));
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    void check(int result) {
        if (error == 0)
            error = result;
    }
};

// One run's child, in three steps: start, read until done, finish. It is
// published in the slot from its start until it is let go of, just before
// it is reaped.
class Child {
public:
    explicit Child(ChildSlot& slot) : slot(slot) {}

    // 0, or why no pipe could be had.
    int openPipe();
    // Starts program with words as its arguments: 0, or why it did not start.
    int start(const std::string& program, std::vector<std::string>& words, const char* workingFolder,
              const ChildSettings* settings);
    // Keeps what the child writes until its output ends, a stop, no chunk
    // for chunkTimeoutSeconds, the run's limit, or the pipe grace after the
    // child's end.
    void readUntilDone(Capture& capture);
    // Ends what is left of the group, waits for the child and reaps it: the
    // run's result, or none when someone else reaped the child.
    std::optional<int32_t> finish();
    // For Capture::end: the run's limit, when that ended the child.
    std::string timeOutReason() const { return overLimit ? std::to_string(limitSeconds) : ""; }

private:
    ChildSlot& slot;
    FileDescriptor readEnd, writeEnd;
    pid_t pid = 0;
    int limitSeconds = 0;
    bool endGroup = false, timedOut = false, overLimit = false;
};

int Child::openPipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return errno;
    readEnd.fd = ends[0];
    writeEnd.fd = ends[1];
    return 0;
}

int Child::start(const std::string& program, std::vector<std::string>& words, const char* workingFolder,
                 const ChildSettings* settings) {
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    SpawnSetup setup(writeEnd.fd, workingFolder, settings && settings->interactive);
    std::vector<std::string> ownVariables = childVariables(workingFolder, settings);
    std::vector<char*> environment = childEnvironment(ownVariables);
    int error = setup.error ? setup.error
                            : posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes, argv.data(),
                                          environment.data());
    writeEnd.reset();  // only the child holds the write end now
    limitSeconds = settings ? settings->runLimitSeconds : 0;
    if (error == 0)
        slot.publish(pid);  // the child leads its own session, so its pid is its process group
    return error;
}

void Child::readUntilDone(Capture& capture) {
    char chunk[chunkSize];
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> childEndedAt;
    auto deadline = Clock::now() + std::chrono::seconds(chunkTimeoutSeconds());
    auto runDeadline = limitSeconds > 0 ? Clock::now() + std::chrono::seconds(limitSeconds) : Clock::time_point::max();
    for (;;) {
        // Checked on every pass, data or not: a process the child started may
        // hold the pipe open, and even write on, after the child has ended or
        // after a stop ended the group when it left the group (setsid);
        // neither may hold the scan. Only a stop empties the slot while we read.
        auto now = Clock::now();
        if (!childEndedAt && childEnded(pid))
            childEndedAt = now;
        overLimit = now >= runDeadline;
        timedOut = now >= deadline || overLimit;
        if (!slot.holdsChild() || timedOut ||
            (childEndedAt && now - *childEndedAt >= std::chrono::milliseconds(pipeGraceMilliseconds))) {
            endGroup = true;
            break;
        }
        pollfd ready = {readEnd.fd, POLLIN, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(std::min(deadline, runDeadline) - now);
        int polled = poll(&ready, 1, int(std::clamp<long long>(left.count(), 0, 250)));
        if (polled == 0 || (polled < 0 && errno == EINTR))
            continue;
        ssize_t count;
        do
            count = read(readEnd.fd, chunk, chunkSize);
        while (count < 0 && errno == EINTR);
        if (count <= 0)
            break;
        deadline = Clock::now() + std::chrono::seconds(chunkTimeoutSeconds());  // hung means no chunk for that long
        capture.keep(chunk, size_t(count));
    }
    readEnd.reset();
}

std::optional<int32_t> Child::finish() {
    bool stopped = !slot.holdsChild();  // also a stop that came after the output ended
    if (endGroup)
        slot.terminate();  // what is left of the group: a hung child, or what it left behind
    Wait end = waitForEnd(pid, finalWaitMilliseconds);
    bool lingered = end == Wait::running;
    if (lingered) {
        slot.terminate();  // never left running: the end of repodeck would leave it behind
        end = waitForEnd(pid, finalWaitMilliseconds);
    }
    // Let go of the child before reaping it, so a stop cannot reach its pid
    // once the pid may be given to another process.
    slot.clear();
    if (end == Wait::ended) {
        int status = 0;
        reap(pid, &status);
        // A child that ended by itself keeps its own exit code, whatever came after.
        return WIFEXITED(status) ? WEXITSTATUS(status)
               : stopped         ? stoppedResult
               : timedOut        ? timedOutResult
               : lingered        ? stillRunningResult
                                 : 128 + WTERMSIG(status);  // a crash, say
    }
    if (end == Wait::running) {
        try {
            std::thread(reap, pid, nullptr).detach();  // reaps it whenever it ends: no zombie
        } catch (const std::system_error&) {
            // No thread to spare: it stays a zombie until repodeck ends.
        }
        return stillRunningResult;
    }
    // Someone else reaped our child (a SIGCHLD handler set to ignore, say):
    // no exit code exists, so report it rather than claim success.
    return std::nullopt;
}

}  // namespace

const bool sshSharesConnections = true;

void ChildSlot::end() {
    // An interactive child shares repodeck's process group: it alone is ended.
    if (handle != 0 && kill(-pid_t(handle), SIGKILL) != 0)
        kill(pid_t(handle), SIGKILL);
    handle = 0;
}

std::string findProgram(const char* name) {
    const char* path = getenv("PATH");
    for (const char* entry = path ? path : ""; *entry;) {
        const char* end = strchr(entry, ':');
        size_t length = end ? size_t(end - entry) : strlen(entry);
        if (length > 0 && entry[0] == '/') {
            std::string candidate = std::string(entry, length) + "/" + name;
            struct stat info;
            if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        entry += length + (end ? 1 : 0);
    }
    return {};
}

int32_t runCommand(const char* commandLine, std::string& output, const char* workingFolder, ChildSlot& slot,
                   const char* program, const ChildSettings* settings, std::string* report) {
    output.clear();
    Capture capture;
    std::vector<std::string> words = splitOnBlanks(commandLine);
    if (words.empty())
        return capture.end(output, startFailedResult, "an empty command line");
    std::string found = program ? program : findProgram(words[0].c_str());
    if (found.empty())
        return capture.end(output, startFailedResult, "no " + words[0] + " program on the search path");

    Child child(slot);
    if (int error = child.openPipe())
        return startFailure(capture, output, nullptr, error);
    if (int error = child.start(found, words, workingFolder, settings))
        return startFailure(capture, output, workingFolder, error);
    child.readUntilDone(capture);
    std::optional<int32_t> result = child.finish();
    return capture.end(output, result ? *result : reportMissingExitCode(commandLine, workingFolder, report),
                       child.timeOutReason());
}
