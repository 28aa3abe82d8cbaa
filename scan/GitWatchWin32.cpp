// Windows: one ReadDirectoryChangesW on the whole folder the repositories were
// found in, from the first repository added, on a completion port where a
// wake is a completion of its own. A change is told to the repository whose
// ".git" its path passes through; work trees, objects and lock files are left out.
#include "scan/GitWatch.h"

#include <windows.h>

#include <map>
#include <set>
#include <string_view>

namespace {

constexpr ULONG_PTR wakeKey = 0, folderKey = 1;

std::wstring wide(const std::string& text) {
    std::wstring result(size_t(MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), result.data(), int(result.size()));
    return result;
}

}  // namespace

struct GitWatch::Platform {
    std::string root;
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    HANDLE folder = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped = {};
    alignas(DWORD) char buffer[65536];
    std::map<std::wstring, std::string> repositories;  // by path below root, as the changes name it

    ~Platform() {
        if (folder != INVALID_HANDLE_VALUE) {
            CancelIoEx(folder, &overlapped);
            DWORD ignored;
            GetOverlappedResult(folder, &overlapped, &ignored, TRUE);  // the read lets go of the buffer first
            CloseHandle(folder);
        }
        if (port)
            CloseHandle(port);
    }
    bool read() {
        return ReadDirectoryChangesW(folder, buffer, sizeof buffer, TRUE,
                                     FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                         FILE_NOTIFY_CHANGE_LAST_WRITE,
                                     nullptr, &overlapped, nullptr) != 0;
    }
    // The repository whose git folder name is in, for a change that counts.
    const std::string* repositoryOf(std::wstring_view name) const {
        size_t git = name.starts_with(L".git\\") ? 0 : name.find(L"\\.git\\");
        if (git == name.npos || name.ends_with(L".lock"))
            return nullptr;
        std::wstring_view inside = name.substr(git + (git ? 6 : 5));
        if (inside.starts_with(L"objects\\"))
            return nullptr;
        auto found = repositories.find(std::wstring(name.substr(0, git)));
        return found == repositories.end() ? nullptr : &found->second;
    }
    // What a completion of length bytes names; every repository when the
    // buffer overflowed (nothing read).
    void take(DWORD length, std::set<std::string>& changed) const {
        for (DWORD at = 0; length > 0;) {
            const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer + at);
            if (const std::string* repository =
                    repositoryOf(std::wstring_view(info->FileName, info->FileNameLength / sizeof(WCHAR))))
                changed.insert(*repository);
            if (info->NextEntryOffset == 0)
                return;
            at += info->NextEntryOffset;
        }
        for (const auto& [name, repository] : repositories)
            changed.insert(repository);
    }
};

GitWatch::GitWatch(const std::string& root) : platform(std::make_unique<Platform>()) { platform->root = root; }
GitWatch::~GitWatch() = default;

bool GitWatch::add(const std::string& folder) {
    Platform& watch = *platform;
    if (!watch.port || !folder.starts_with(watch.root))
        return false;
    std::string below = folder.substr(std::min(folder.size(), watch.root.size() + 1));
    watch.repositories[wide(below)] = folder;
    if (watch.folder != INVALID_HANDLE_VALUE)
        return true;
    watch.folder = CreateFileA(watch.root.c_str(), FILE_LIST_DIRECTORY,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    return watch.folder != INVALID_HANDLE_VALUE && CreateIoCompletionPort(watch.folder, watch.port, folderKey, 0) &&
           watch.read();
}

std::vector<std::string> GitWatch::changed(int waitMs) {
    std::set<std::string> changed;
    DWORD wait = waitMs < 0 ? INFINITE : DWORD(waitMs), length = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* done = nullptr;
    // The first completion waits; those queued behind it are taken at once.
    while (platform->port && GetQueuedCompletionStatus(platform->port, &length, &key, &done, wait)) {
        wait = 0;
        if (key != folderKey)
            continue;
        platform->take(length, changed);
        platform->read();
    }
    return {changed.begin(), changed.end()};
}

void GitWatch::wake() {
    if (platform->port)
        PostQueuedCompletionStatus(platform->port, 0, wakeKey, nullptr);
}
