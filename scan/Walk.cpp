// The folder walk that turns the chosen folder into the list of repositories.
#include <algorithm>
#include <set>
#include <vector>

#include "scan/Walk.h"

#include "scan/DirectoryList.h"
#include "scan/GitFolder.h"

namespace {

// The kernel's own folders: endless, and nothing of a repository's. No
// Windows path starts like these.
bool isSystemFolder(const std::string& path) {
    for (const char* system : {"/proc", "/sys", "/dev"})
        if (isInside(path, system))
            return true;
    return false;
}

struct Walk {
    std::string root;  // the chosen folder, resolved
    bool nested;       // walk into work trees too
    const std::atomic<bool>& stop;
    ScanSink& sink;
    const std::function<bool(const std::string&)>& found;
    std::set<FolderId> walked;
    std::vector<std::string> enclosing;  // the git folders of the repositories the walk is inside

    void note(const char* what, const std::string& path, const std::string& target = "") {
        sink.text(Pane::logs, what + path + (target.empty() ? "" : " -> " + target) + "\n");
    }

    // A cloned tree can carry links to anywhere (to "/", say, or to another
    // repository that a pull would then change) and links that reach one
    // folder many times over: only links into the chosen folder are followed,
    // and a folder reached again, through whatever path, is not walked again.
    bool mayFollow(const std::string& link) {
        std::string target = resolvedPath(link);
        if (isInside(target, root) && !isSystemFolder(target))
            return true;
        note("Link Not Followed: ", link, target.empty() ? std::string("(cannot be resolved)") : target);
        return false;
    }

    // Lists folder when its .git entry leads to a repository inside the
    // chosen folder; says in Logs why not otherwise. Its git folder, or empty.
    std::string takeRepository(const std::string& folder, const DirectoryEntry& dotGit) {
        std::string path = folder + pathSeparator + ".git";
        GitFolder git = findGitFolder(folder);
        bool inside = isInside(git.path, root) && isInside(git.common, root);
        if (git.kind == GitFolder::none) {
            note(dotGit.isFolder ? "Folder Not Readable: " : "Git File Not Followed: ", path);
        } else if (git.kind == GitFolder::other) {
            // A submodule's, inside the repository around it, is part of that one.
            bool submodule = std::any_of(enclosing.begin(), enclosing.end(),
                                         [&](const std::string& outer) { return isInside(git.path, outer); });
            if (!submodule)
                note("Git File Not Followed: ", path, git.path);
        } else if (git.kind == GitFolder::folder && dotGit.isLink ? mayFollow(path) : inside) {
            if (found(folder)) {
                sink.text(Pane::logs, "Repository Found: " + folder + "\n");
                sink.text(Pane::repositories, folder + "\n");
            }
            return git.common;
        } else if (!dotGit.isLink) {
            note("Link Not Followed: ", path, git.path);  // a worktree of a repository outside
        }
        return {};
    }

    void walk(const std::string& folder) {
        FolderListing listing;
        if (!listFolder(folder, listing)) {
            note("Folder Not Readable: ", folder);
            return;
        }
        if (listing.id.known() && !walked.insert(listing.id).second)
            return;
        // Told by its .git entry wherever that sorts: a work tree is never
        // walked into, but for nested repositories when asked.
        auto dotGit = std::find_if(listing.entries.begin(), listing.entries.end(),
                                   [](const DirectoryEntry& entry) { return entry.name == ".git"; });
        std::string gitFolder;
        if (dotGit != listing.entries.end()) {
            gitFolder = takeRepository(folder, *dotGit);
            if (!nested)
                return;
        } else if (isBareRepository(listing)) {
            note("Bare Repository Not Scanned: ", folder);
            return;
        }
        if (!gitFolder.empty())
            enclosing.push_back(gitFolder);
        for (const DirectoryEntry& entry : listing.entries) {
            if (stop)
                break;
            if (!entry.isFolder || entry.name == ".git")
                continue;
            std::string path = folder + pathSeparator + entry.name;
            if (!entry.isLink || mayFollow(path))
                walk(path);
        }
        if (!gitFolder.empty())
            enclosing.pop_back();
    }
};

}  // namespace

void findRepositories(const std::string& folder, bool nested, const std::atomic<bool>& stop, ScanSink& sink,
                      const std::function<bool(const std::string&)>& found) {
    Walk{resolvedPath(folder), nested, stop, sink, found, {}, {}}.walk(folder);
}
