// Linux: one inotify instance. inotify does not watch a folder's subfolders,
// so each repository takes a watch on its git folder, the common one, refs
// and refs/heads, and then, while the system's limit allows, one on each
// folder of its work tree (nested repositories left to their own rows); an
// eventfd ends a wait.
#include "scan/GitWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <unordered_map>

#include "scan/DirectoryList.h"
#include "scan/GitFolder.h"

namespace {

constexpr uint32_t changes = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_ONLYDIR;

}  // namespace

struct GitWatch::Platform {
    struct Watched {
        std::string repository;
        std::string treeFolder;  // a folder of its work tree; empty for a git folder
    };
    int events = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    int waker = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    std::unordered_map<int, Watched> watched;  // by watch
    bool overflowed = false;  // events were lost: every repository may have changed
    bool treesCut = false;    // the limit was reached while watching work trees

    ~Platform() {
        for (int fd : {events, waker})
            if (fd >= 0)
                close(fd);
    }

    // A work tree's folder and those below it, until the limit or a stop.
    void watchTree(const std::string& repository, const std::string& folder, const std::atomic<bool>& stop) {
        int wd = treesCut || stop ? -1 : inotify_add_watch(events, folder.c_str(), changes | IN_DONT_FOLLOW);
        if (wd < 0) {
            treesCut |= errno == ENOSPC || errno == ENOMEM;
            return;
        }
        watched[wd] = {repository, folder};
        FolderListing listing;
        if (!listFolder(folder, listing))
            return;
        for (const DirectoryEntry& entry : listing.entries)
            if (entry.isFolder && !entry.isLink && entry.name != ".git") {
                std::string below = folder + "/" + entry.name;
                if (findGitFolder(below).kind == GitFolder::none)
                    watchTree(repository, below, stop);
            }
    }

    void read(std::set<std::string>& changed) {
        alignas(inotify_event) char buffer[16384];
        ssize_t got;
        while ((got = ::read(events, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += ssize_t(sizeof(inotify_event) + event->len);
                std::string name = event->len ? event->name : "";
                overflowed |= (event->mask & IN_Q_OVERFLOW) != 0;
                auto found = watched.find(event->wd);
                if (found == watched.end() || (event->mask & IN_IGNORED))
                    continue;
                Watched one = found->second;  // watchTree may move it
                if (one.treeFolder.empty() && name.ends_with(".lock"))  // git's own, about to be renamed
                    continue;
                changed.insert(one.repository);
                if (!one.treeFolder.empty() && (event->mask & IN_ISDIR) && (event->mask & (IN_CREATE | IN_MOVED_TO)) &&
                    name != ".git" && findGitFolder(one.treeFolder + "/" + name).kind == GitFolder::none)
                    watchTree(one.repository, one.treeFolder + "/" + name, std::atomic<bool>{false});
            }
    }
};

GitWatch::GitWatch(const std::string&) : platform(std::make_unique<Platform>()) {}
GitWatch::~GitWatch() = default;

bool GitWatch::add(const std::string& folder, const GitFolder& git) {
    if (platform->events < 0 || platform->waker < 0)
        return false;
    std::vector<int> added;  // none for a folder without a repository: no limit reached
    for (const std::string& watched : stateFolders(git)) {
        int wd = inotify_add_watch(platform->events, watched.c_str(), changes);
        if (wd >= 0) {
            added.push_back(wd);
            platform->watched[wd] = {folder, ""};
        } else if (errno == ENOSPC || errno == ENOMEM) {
            for (int wd : added)
                inotify_rm_watch(platform->events, wd), platform->watched.erase(wd);
            return false;
        }
    }
    return true;
}

void GitWatch::addTree(const std::string& folder, const std::atomic<bool>& stop) {
    platform->watchTree(folder, folder, stop);
}
bool GitWatch::treesCut() const { return platform->treesCut; }

std::vector<std::string> GitWatch::changed(int waitMs) {
    std::set<std::string> changed;
    pollfd fds[2] = {{platform->events, POLLIN, 0}, {platform->waker, POLLIN, 0}};
    if (platform->events >= 0 && poll(fds, 2, waitMs) > 0) {
        uint64_t count;
        if (fds[1].revents)
            (void)!::read(platform->waker, &count, sizeof count);
        platform->read(changed);
    }
    if (platform->overflowed)
        for (const auto& [wd, one] : platform->watched)
            changed.insert(one.repository);
    platform->overflowed = false;
    return {changed.begin(), changed.end()};
}

void GitWatch::wake() {
    uint64_t one = 1;
    if (platform->waker >= 0)
        (void)!write(platform->waker, &one, sizeof one);
}
