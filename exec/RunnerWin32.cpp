// Windows runner: CreateProcessA with standard output on an anonymous pipe, one
// reader thread per chunk, and the child in a Job object so a stop or a time-out
// ends the whole tree (a grandchild holding the pipe cannot keep a read pending).
#include "exec/Runner.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "scan/ScanState.h"

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

// Our standard error, as an inheritable copy for the child: the handle itself
// may not be inheritable, and then the child would get a number that means
// nothing, or something else, in its own table. Null when there is none.
HANDLE inheritableStandardError() {
    HANDLE own = GetStdHandle(STD_ERROR_HANDLE);
    HANDLE copy = nullptr;
    if (!own || own == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

// The slot holds the child's job, or the child itself where it could not join
// one (Windows 7 nests no jobs, so a program started inside a job gets none).
// The low bit, always clear in a handle, tells which.
constexpr ChildSlot::Handle processTag = 1;

}  // namespace

void ChildSlot::terminate() {
    std::lock_guard<std::mutex> lock(mutex);
    if (handle & processTag)
        TerminateProcess(reinterpret_cast<HANDLE>(handle & ~processTag), UINT(-1));
    else if (handle != 0)
        TerminateJobObject(reinterpret_cast<HANDLE>(handle), UINT(-1));
    handle = 0;
}

int32_t runCommand(const char* commandLine, std::string& output, const char* workingFolder) {
    output.clear();

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
    Handle standardError(inheritableStandardError());

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = emptyInput.h;
    startup.hStdOutput = writeEnd.h;
    startup.hStdError = standardError.h;

    // The job exists before the child runs: it starts suspended, so not even
    // its first grandchild can escape the job.
    Handle job(CreateJobObjectA(nullptr, nullptr));
    std::vector<char> mutableLine(commandLine, commandLine + strlen(commandLine) + 1);
    PROCESS_INFORMATION started = {};
    BOOL created = CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                                  workingFolder, &startup, &started);
    writeEnd.reset();  // the child's copy now holds the pipe open, not ours
    emptyInput.reset();
    standardError.reset();
    if (!created)
        return startFailedResult;
    Handle process(started.hProcess), thread(started.hThread);
    if (job.h && AssignProcessToJobObject(job.h, process.h))
        scanState.currentChildProcess.publish(reinterpret_cast<ChildSlot::Handle>(job.h));
    else
        scanState.currentChildProcess.publish(reinterpret_cast<ChildSlot::Handle>(process.h) | processTag);
    // Lets go of the child before the handles below are closed, on every way
    // out, so a stop never uses a closed handle.
    struct Unpublish {
        ~Unpublish() { scanState.currentChildProcess.clear(); }
    } unpublish;
    ResumeThread(thread.h);

    std::string captured;
    for (;;) {
        ResetEvent(state->completed.h);
        state->bytesRead = 0;
        state->readOk = false;
        std::thread reader(readChunk, state);
        // Wake as soon as the read completes; the child counts as hung once a
        // chunk has not come in chunkTimeoutSeconds one-second waits. A child
        // outside any job may leave a grandchild holding the pipe after a
        // stop, so an emptied slot (only a stop empties it) ends the wait too.
        bool done = false;
        for (int waited = 0; waited < chunkTimeoutSeconds && !done; waited++) {
            done = WaitForSingleObject(state->completed.h, 1000) == WAIT_OBJECT_0;
            if (!done && !scanState.currentChildProcess.holdsChild())
                break;
        }
        if (!done) {
            reader.detach();  // it finishes by itself once the job is gone
            scanState.currentChildProcess.terminate();  // nothing left to do after a stop
            break;
        }
        reader.join();
        if (!state->readOk || state->bytesRead == 0)
            break;  // the broken pipe: every holder of the write end is gone
        state->buffer[state->bytesRead] = 0;
        captured.append(state->buffer, strlen(state->buffer));  // a zero byte cuts its chunk there
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
