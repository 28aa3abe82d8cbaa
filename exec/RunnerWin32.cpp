// Windows runner: CreateProcessA of a program found beforehand (never through the
// current folder), standard output and error on one anonymous pipe, one reader
// thread per chunk, and the child in a Job object so a stop or a time-out ends
// the whole tree (a grandchild holding the pipe cannot keep a read pending).
#include "exec/Runner.h"

#include <windows.h>

#include <chrono>
#include <cstring>
#include <memory>
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

// What one call shares with its reader threads. A reader abandoned after a
// time-out keeps its own reference, so it never writes into a later call's
// state, and the read end stays open for as long as a ReadFile may use it.
struct ReaderState {
    Handle readEnd;
    Handle completed{CreateEventA(nullptr, TRUE, FALSE, nullptr)};  // manual reset
    char buffer[chunkSize + 1] = {};
    DWORD bytesRead = 0;
    bool readOk = false;
};

void readChunk(std::shared_ptr<ReaderState> state) {
    DWORD count = 0;
    BOOL ok = ReadFile(state->readEnd.h, state->buffer, chunkSize, &count, nullptr);
    state->bytesRead = count;
    state->readOk = ok != FALSE;
    SetEvent(state->completed.h);
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
                   const char* program, const ChildSettings* settings) {
    output.clear();
    std::string found = program ? std::string(program) : std::string();
    if (!program) {
        std::string first(commandLine, strcspn(commandLine, " \t"));
        found = findProgram(first.c_str());
    }
    if (found.empty())
        return startFailedResult;

    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof inheritable;
    inheritable.bInheritHandle = TRUE;

    auto state = std::make_shared<ReaderState>();
    Handle writeEnd;
    if (!state->completed.h || !CreatePipe(&state->readEnd.h, &writeEnd.h, &inheritable, 0))
        return pipeFailedResult;
    // Only the write end is the child's; the read end stays with us.
    SetHandleInformation(state->readEnd.h, HANDLE_FLAG_INHERIT, 0);
    Handle emptyInput(openEmptyInput(inheritable));

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = emptyInput.h;
    startup.hStdOutput = writeEnd.h;
    startup.hStdError = writeEnd.h;  // one pipe: the text comes in the order it was written

    // The job exists before the child runs: it starts suspended, so not even
    // its first grandchild can escape the job.
    Handle job(CreateJobObjectA(nullptr, nullptr));
    std::vector<char> mutableLine(commandLine, commandLine + strlen(commandLine) + 1);
    std::vector<char> environment = childEnvironment(workingFolder, settings);
    PROCESS_INFORMATION started = {};
    BOOL created = CreateProcessA(found.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                  environment.data(), workingFolder, &startup, &started);
    writeEnd.reset();  // the child's copy now holds the pipe open, not ours
    emptyInput.reset();
    if (!created)
        return startFailedResult;
    Handle process(started.hProcess), thread(started.hThread);
    if (job.h && AssignProcessToJobObject(job.h, process.h))
        slot.publish(reinterpret_cast<ChildSlot::Handle>(job.h));
    else
        slot.publish(reinterpret_cast<ChildSlot::Handle>(process.h) | processTag);
    // Lets go of the child before the handles below are closed, on every way
    // out, so a stop never uses a closed handle.
    struct Unpublish {
        ChildSlot& slot;
        ~Unpublish() { slot.clear(); }
    } unpublish{slot};
    ResumeThread(thread.h);

    using Clock = std::chrono::steady_clock;
    std::string captured;
    bool keeping = true;
    std::optional<Clock::time_point> childEndedAt;
    for (;;) {
        ResetEvent(state->completed.h);
        state->bytesRead = 0;
        state->readOk = false;
        std::thread reader;
        try {
            reader = std::thread(readChunk, state);
        } catch (const std::system_error&) {
            slot.terminate();  // no thread to read with: end the child rather than hang
            break;
        }
        // Wake as soon as the read completes. The child counts as hung once a
        // chunk has not come in chunkTimeoutSeconds; an emptied slot (only a
        // stop empties it) or a child ended pipeGraceMilliseconds ago while
        // something it started still holds the pipe end the wait too.
        auto deadline = Clock::now() + std::chrono::seconds(chunkTimeoutSeconds);
        bool done = false;
        while (!done && Clock::now() < deadline && slot.holdsChild()) {
            done = WaitForSingleObject(state->completed.h, 250) == WAIT_OBJECT_0;
            if (!childEndedAt && WaitForSingleObject(process.h, 0) == WAIT_OBJECT_0)
                childEndedAt = Clock::now();
            // Also when chunks keep coming: what the child left behind may write on.
            if (childEndedAt && Clock::now() - *childEndedAt >= std::chrono::milliseconds(pipeGraceMilliseconds)) {
                done = false;
                break;
            }
        }
        if (!done) {
            reader.detach();  // it finishes by itself once the job is gone
            slot.terminate();
            break;
        }
        reader.join();
        if (!state->readOk || state->bytesRead == 0)
            break;  // the broken pipe: every holder of the write end is gone
        if (keeping)
            keeping = keepChunk(captured, state->buffer, state->bytesRead);
    }
    state.reset();

    WaitForSingleObject(process.h, finalWaitMilliseconds);
    DWORD exitCode = 0;
    int32_t result;
    if (GetExitCodeProcess(process.h, &exitCode)) {
        result = int32_t(exitCode);
    } else {
        result = reportMissingExitCode(commandLine, workingFolder);  // rather than claim success
    }

    output = std::move(captured);
    output.push_back('\0');
    return result;
}
