// Windows runner: CreateProcessA of a program found beforehand (never through the
// current folder), standard output and error on one anonymous pipe read by one
// thread per child, and the child in a Job object so a stop or a time-out ends
// the whole tree (a grandchild holding the pipe cannot keep a read pending);
// the job ends its processes when its last handle closes, so even a repodeck
// that is killed leaves no git running.
#include "exec/Runner.h"

#include <windows.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace {

struct Handle {
    HANDLE h = nullptr;
    Handle() = default;
    explicit Handle(HANDLE value) : h(value) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    void reset() {
        if (h && h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        h = nullptr;
    }
};

// What one call shares with its reader thread. A reader abandoned after a
// time-out keeps its own reference, so it never writes into a later call's
// state, and the read end stays open for as long as a ReadFile may use it.
struct ReaderState {
    Handle readEnd;
    Handle arrived{CreateEventA(nullptr, FALSE, FALSE, nullptr)};  // auto reset
    std::mutex mutex;
    std::string pending;  // read, not yet taken
    bool ended = false;   // the pipe is broken: every holder of the write end is gone
};

void readAll(std::shared_ptr<ReaderState> state) {
    char buffer[chunkSize];
    for (;;) {
        DWORD count = 0;
        bool ok = ReadFile(state->readEnd.h, buffer, chunkSize, &count, nullptr) && count > 0;
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            try {
                state->pending.append(buffer, ok ? count : 0);
            } catch (const std::bad_alloc&) {
                // Dropped: the taker's own keep counts only what reaches it.
            }
            state->ended = !ok;
        }
        SetEvent(state->arrived.h);
        if (!ok)
            return;
    }
}

// Why a start failed, in the system's words.
std::string systemMessage(DWORD error) {
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                  sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.'))
        text[--length] = 0;
    return length ? text : "error " + std::to_string(error);
}

int32_t startFailure(Capture& capture, std::string& output, const char* workingFolder, DWORD error) {
    DWORD attributes = workingFolder ? GetFileAttributesA(workingFolder) : FILE_ATTRIBUTE_DIRECTORY;
    bool enterable = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    return capture.end(output, enterable ? startFailedResult : folderFailedResult, systemMessage(error));
}

// A job that ends its processes when its last handle, ours, closes.
HANDLE createJob() {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        job = nullptr;
    }
    return job;
}

// An empty standard input, as on Linux: a console program's own input would
// let a child that asks for a password wait on a keyboard nobody watches.
HANDLE openEmptyInput(SECURITY_ATTRIBUTES& inheritable) {
    return CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0,
                       nullptr);
}

// Ours, with childVariables in place of the user's values of those names
// (which Windows compares ignoring case).
std::vector<char> childEnvironment(const char* workingFolder, const ChildSettings* settings) {
    std::vector<std::string> ours = childVariables(workingFolder, settings);
    std::vector<char> block;
    if (char* strings = GetEnvironmentStringsA()) {
        for (const char* variable = strings; *variable; variable += strlen(variable) + 1) {
            bool replaced = false;
            for (const std::string& own : ours)
                replaced |= _strnicmp(variable, own.c_str(), own.find('=') + 1) == 0;
            if (!replaced)
                block.insert(block.end(), variable, variable + strlen(variable) + 1);
        }
        FreeEnvironmentStringsA(strings);
    }
    for (const std::string& own : ours)
        block.insert(block.end(), own.c_str(), own.c_str() + own.size() + 1);
    block.push_back('\0');
    return block;
}

bool absolute(const std::string& folder) {
    return (folder.size() >= 3 && folder[1] == ':' && (folder[2] == '\\' || folder[2] == '/')) ||
           folder.rfind("\\\\", 0) == 0;
}

// The slot holds the child's job, or the child itself where it could not join
// one (Windows 7 nests no jobs, so a program started inside a job gets none).
// The low bit, always clear in a handle, tells which.
constexpr ChildSlot::Handle processTag = 1;

// One run's child, in three steps: start (pipe, job, process, reader),
// read until done, finish (wait, result).
class Child {
public:
    explicit Child(ChildSlot& slot) : slot(slot) {}
    // Lets go of the child before its handles close, on every way out, so a
    // stop never uses a closed handle.
    ~Child() { slot.clear(); }

    // Why no pipe could be had, if so.
    std::optional<DWORD> openPipe();
    // Starts program, suspended, in its job: why it did not start, if so.
    std::optional<DWORD> start(const std::string& program, const char* commandLine, const char* workingFolder,
                               const ChildSettings* settings);
    // Starts the reader, then lets the child run; false when no thread
    // could be had, and the child is ended rather than left to hang.
    bool startReading();
    // Keeps what the child writes until its output ends, a stop, no chunk
    // for chunkTimeoutSeconds, the run's limit, or the pipe grace after the
    // child's end.
    void readUntilDone(Capture& capture);
    // Waits for the child: the run's result, or none when it has no exit code.
    std::optional<int32_t> finish();
    // For Capture::end: the run's limit, when that ended the child.
    std::string timeOutReason() const { return overLimit ? std::to_string(limitSeconds) : ""; }

private:
    ChildSlot& slot;
    std::shared_ptr<ReaderState> state = std::make_shared<ReaderState>();
    Handle writeEnd, emptyInput;
    Handle job, process, thread;  // closed in this order's reverse: the job, which ends what is left, last
    std::thread reader;
    int limitSeconds = 0;
    bool ended = false, timedOut = false, overLimit = false, stopped = false;
};

std::optional<DWORD> Child::openPipe() {
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof inheritable;
    inheritable.bInheritHandle = TRUE;
    if (!state->arrived.h || !CreatePipe(&state->readEnd.h, &writeEnd.h, &inheritable, 0))
        return GetLastError();
    // Only the write end is the child's; the read end stays with us.
    SetHandleInformation(state->readEnd.h, HANDLE_FLAG_INHERIT, 0);
    emptyInput.h = openEmptyInput(inheritable);
    return std::nullopt;
}

std::optional<DWORD> Child::start(const std::string& program, const char* commandLine, const char* workingFolder,
                                  const ChildSettings* settings) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = emptyInput.h;
    startup.hStdOutput = writeEnd.h;
    startup.hStdError = writeEnd.h;  // one pipe: the text comes in the order it was written

    // The job exists before the child runs: it starts suspended, so not even
    // its first grandchild can escape the job.
    job.h = createJob();
    std::vector<char> mutableLine(commandLine, commandLine + strlen(commandLine) + 1);
    std::vector<char> environment = childEnvironment(workingFolder, settings);
    PROCESS_INFORMATION started = {};
    BOOL created = CreateProcessA(program.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                  environment.data(), workingFolder, &startup, &started);
    DWORD createError = GetLastError();
    writeEnd.reset();  // the child's copy now holds the pipe open, not ours
    emptyInput.reset();
    if (!created)
        return createError;
    limitSeconds = settings ? settings->runLimitSeconds : 0;
    process.h = started.hProcess;
    thread.h = started.hThread;
    if (job.h && AssignProcessToJobObject(job.h, process.h))
        slot.publish(reinterpret_cast<ChildSlot::Handle>(job.h));
    else
        slot.publish(reinterpret_cast<ChildSlot::Handle>(process.h) | processTag);
    return std::nullopt;
}

bool Child::startReading() {
    try {
        reader = std::thread(readAll, state);
    } catch (const std::system_error&) {
        slot.terminate();  // no thread to read with: end the child rather than hang
        return false;
    }
    ResumeThread(thread.h);
    return true;
}

void Child::readUntilDone(Capture& capture) {
    // The child counts as hung once a chunk has not come in
    // chunkTimeoutSeconds; an emptied slot (only a stop empties it) or a child
    // ended pipeGraceMilliseconds ago while something it started still holds
    // the pipe (silent or writing on) end the wait too.
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> childEndedAt;
    auto deadline = Clock::now() + std::chrono::seconds(chunkTimeoutSeconds());
    auto runDeadline = limitSeconds > 0 ? Clock::now() + std::chrono::seconds(limitSeconds) : Clock::time_point::max();
    std::string taken;
    while (!ended) {
        bool arrived = WaitForSingleObject(state->arrived.h, 250) == WAIT_OBJECT_0;
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            taken.swap(state->pending);
            ended = state->ended;
        }
        capture.keep(taken.data(), taken.size());
        taken.clear();
        auto now = Clock::now();
        if (arrived)
            deadline = now + std::chrono::seconds(chunkTimeoutSeconds());
        if (!childEndedAt && WaitForSingleObject(process.h, 0) == WAIT_OBJECT_0)
            childEndedAt = now;
        stopped = !slot.holdsChild();
        overLimit = !ended && now >= runDeadline;
        timedOut = !ended && (now >= deadline || overLimit);
        if (!ended && (stopped || timedOut ||
                       (childEndedAt && now - *childEndedAt >= std::chrono::milliseconds(pipeGraceMilliseconds)))) {
            slot.terminate();
            break;
        }
    }
    if (ended)
        reader.join();
    else
        reader.detach();  // it finishes by itself once the job is gone
    state.reset();
}

std::optional<int32_t> Child::finish() {
    bool lingered = WaitForSingleObject(process.h, finalWaitMilliseconds) != WAIT_OBJECT_0;
    if (lingered) {
        slot.terminate();  // never left running: the end of repodeck would leave it behind
        WaitForSingleObject(process.h, finalWaitMilliseconds);
    }
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.h, &exitCode))
        return std::nullopt;  // reported rather than taken for a success
    // What we ended gets a result of ours; a child that ended by itself keeps its exit code.
    bool endedByUs = exitCode == DWORD(-1);
    return !endedByUs ? int32_t(exitCode)
           : stopped  ? stoppedResult
           : timedOut ? timedOutResult
           : lingered ? stillRunningResult
                      : int32_t(exitCode);
}

}  // namespace

const bool sshSharesConnections = false;

void ChildSlot::end() {
    if (handle & processTag)
        TerminateProcess(reinterpret_cast<HANDLE>(handle & ~processTag), UINT(-1));
    else if (handle != 0)
        TerminateJobObject(reinterpret_cast<HANDLE>(handle), UINT(-1));
    handle = 0;
}

std::string findProgram(const char* name) {
    char path[32768];
    DWORD length = GetEnvironmentVariableA("PATH", path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return {};
    for (const char* entry = path; *entry;) {
        const char* end = strchr(entry, ';');
        std::string folder(entry, end ? size_t(end - entry) : strlen(entry));
        if (absolute(folder)) {
            std::string candidate = folder + "\\" + name + ".exe";
            DWORD attributes = GetFileAttributesA(candidate.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                return candidate;
        }
        entry += folder.size() + (end ? 1 : 0);
    }
    return {};
}

int32_t runCommand(const char* commandLine, std::string& output, const char* workingFolder, ChildSlot& slot,
                   const char* program, const ChildSettings* settings, std::string* report) {
    output.clear();
    Capture capture;
    std::string first(commandLine, strcspn(commandLine, " \t"));
    std::string found = program ? std::string(program) : findProgram(first.c_str());
    if (found.empty())
        return capture.end(output, startFailedResult, "no " + first + " program on the search path");

    Child child(slot);
    if (std::optional<DWORD> error = child.openPipe())
        return startFailure(capture, output, nullptr, *error);
    if (std::optional<DWORD> error = child.start(found, commandLine, workingFolder, settings))
        return startFailure(capture, output, workingFolder, *error);
    if (!child.startReading())
        return capture.end(output, startFailedResult, "no thread to read its output with");
    child.readUntilDone(capture);
    std::optional<int32_t> result = child.finish();
    return capture.end(output, result ? *result : reportMissingExitCode(commandLine, workingFolder, report),
                       child.timeOutReason());
}
