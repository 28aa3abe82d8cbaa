// Linux: one inotify instance. inotify does not watch a folder's subfolders,
// so each repository takes a watch on its git folder, the common one, refs
// and refs/heads; an eventfd ends a wait.
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

struct GitWatch::Platform {
    int events = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    int waker = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    std::unordered_map<int, std::string> repositories;  // of each watch
    bool overflowed = false;  // events were lost: every repository may have changed

    ~Platform() {
        for (int fd : {events, waker})
            if (fd >= 0)
                close(fd);
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
                auto watched = repositories.find(event->wd);
                if (watched != repositories.end() && !name.ends_with(".lock"))
                    changed.insert(watched->second);
            }
    }
};

GitWatch::GitWatch(const std::string&) : platform(std::make_unique<Platform>()) {}
GitWatch::~GitWatch() = default;

bool GitWatch::add(const std::string& folder) {
    if (platform->events < 0 || platform->waker < 0)
        return false;
    std::vector<int> added;  // none for a folder without a repository: no limit reached
    for (const std::string& watched : stateFolders(findGitFolder(folder))) {
        int wd = inotify_add_watch(platform->events, watched.c_str(),
                                   IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_ONLYDIR);
        if (wd >= 0) {
            added.push_back(wd);
            platform->repositories[wd] = folder;
        } else if (errno == ENOSPC || errno == ENOMEM) {
            for (int wd : added)
                inotify_rm_watch(platform->events, wd), platform->repositories.erase(wd);
            return false;
        }
    }
    return true;
}

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
        for (const auto& [wd, repository] : platform->repositories)
            changed.insert(repository);
    platform->overflowed = false;
    return {changed.begin(), changed.end()};
}

void GitWatch::wake() {
    uint64_t one = 1;
    if (platform->waker >= 0)
        (void)!write(platform->waker, &one, sizeof one);
}
