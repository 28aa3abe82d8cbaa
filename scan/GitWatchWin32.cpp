// Windows: one ReadDirectoryChangesW per git folder (and a worktree's common
// folder) and one per work tree, each with its subfolders, on one completion
// port where a wake is a completion of its own. git's lock files and objects
// are no change; a folder that goes away lets go of its handle, so the
// repository can be deleted. (The work tree's watch sees its .git too, but
// wine's sees a folder's own entries only.)
#include "scan/GitWatch.h"

#include <windows.h>

#include <memory>
#include <algorithm>
#include <set>
#include <string_view>

#include "scan/GitFolder.h"

namespace {

constexpr ULONG_PTR wakeKey = 0;

std::wstring wide(const std::string& text) {
    std::wstring result(size_t(MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), result.data(), int(result.size()));
    return result;
}

// One watched folder; its address is the completion key.
struct Watched {
    std::string repository;
    bool tree = false;  // a work tree, rather than a git folder
    HANDLE folder = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped = {};
    bool reading = false;  // a read is under way, with the buffer
    alignas(DWORD) char buffer[4096];  // more changes at once than fit are an overflow: a change all the same

    bool read() {
        return reading = ReadDirectoryChangesW(folder, buffer, sizeof buffer, TRUE,
                                               FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                                   FILE_NOTIFY_CHANGE_LAST_WRITE,
                                               nullptr, &overlapped, nullptr) != 0;
    }
    void close() {
        if (folder == INVALID_HANDLE_VALUE)
            return;
        DWORD ignored;
        if (reading && CancelIoEx(folder, &overlapped))
            GetOverlappedResult(folder, &overlapped, &ignored, TRUE);  // the read lets go of the buffer first
        CloseHandle(folder);
        folder = INVALID_HANDLE_VALUE;
    }
    // Whether a completion of length bytes names a file that counts; an overflow (nothing read) does.
    bool counts(DWORD length) const {
        for (DWORD at = 0; length > 0;) {
            const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer + at);
            std::wstring_view name(info->FileName, info->FileNameLength / sizeof(WCHAR));
            bool git = !tree || name.starts_with(L".git\\") || name == L".git";
            if (tree && git)
                name.remove_prefix(std::min<size_t>(name.size(), 5));
            if (!git || (!name.empty() && !name.ends_with(L".lock") && !name.starts_with(L"objects")))
                return true;
            if (info->NextEntryOffset == 0)
                return false;
            at += info->NextEntryOffset;
        }
        return true;
    }
};

}  // namespace

struct GitWatch::Platform {
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    std::vector<std::unique_ptr<Watched>> watched;

    // False when the watch could not be made (a folder gone is no failure).
    bool watch(const std::string& repository, const std::string& path, bool tree);

    ~Platform() {
        for (std::unique_ptr<Watched>& one : watched)
            one->close();
        if (port)
            CloseHandle(port);
    }
};

GitWatch::GitWatch(const std::string&) : platform(std::make_unique<Platform>()) {}
GitWatch::~GitWatch() = default;

bool GitWatch::add(const std::string& folder, const GitFolder& git) {
    for (const std::string& path : std::set<std::string>{git.path, git.common})
        if (!path.empty() && !platform->watch(folder, path, false))
            return false;
    return true;
}

void GitWatch::addTree(const std::string& folder, const std::atomic<bool>&) { platform->watch(folder, folder, true); }
bool GitWatch::treesCut() const { return false; }

bool GitWatch::Platform::watch(const std::string& repository, const std::string& path, bool tree) {
    if (!port)
        return false;
    auto one = std::make_unique<Watched>();
    one->repository = repository;
    one->tree = tree;
    one->folder = CreateFileW(wide(path).c_str(), FILE_LIST_DIRECTORY,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (one->folder == INVALID_HANDLE_VALUE)
        return true;  // gone meanwhile: nothing to watch
    if (!CreateIoCompletionPort(one->folder, port, ULONG_PTR(one.get()), 0) || !one->read()) {
        one->close();
        return false;
    }
    watched.push_back(std::move(one));
    return true;
}

std::vector<std::string> GitWatch::changed(int waitMs) {
    std::set<std::string> changed;
    DWORD wait = waitMs < 0 ? INFINITE : DWORD(waitMs), length = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* done = nullptr;
    // The first completion waits; those queued behind it are taken at once.
    for (; platform->port; wait = 0) {
        BOOL read = GetQueuedCompletionStatus(platform->port, &length, &key, &done, wait);
        if (!done)
            break;  // the time is up, or a wake
        auto* one = reinterpret_cast<Watched*>(key);
        one->reading = false;
        if (!read || one->counts(length))
            changed.insert(one->repository);
        if (!read || !one->read())  // the folder went
            one->close();
    }
    return {changed.begin(), changed.end()};
}

void GitWatch::wake() {
    if (platform->port)
        PostQueuedCompletionStatus(platform->port, 0, wakeKey, nullptr);
}
