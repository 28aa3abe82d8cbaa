// The folder walk that turns the chosen folder into the list of repositories.
#include <set>

#include "log/LogPane.h"
#include "scan/DirectoryList.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"

namespace {

void reportRepository(const std::string& folder, RepositoryList& repositories) {
    logsPane.write("Repository Found: ");
    logsPane.write(folder);
    logsPane.write("\n");
    repositories.push_back(folder);
    reposPane.addLog("%s\n", folder.c_str());
}

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
    RepositoryList& repositories;
    std::set<FolderId> walked;

    // A cloned tree can carry links to anywhere (to "/", say, or to another
    // repository that a pull would then change) and links that reach one
    // folder many times over: only links into the chosen folder are followed,
    // and a folder reached again, through whatever path, is not walked again.
    bool mayFollow(const std::string& link) {
        std::string target = resolvedPath(link);
        if (isInside(target, root) && !isSystemFolder(target))
            return true;
        logsPane.write("Link Not Followed: ");
        logsPane.write(link);
        logsPane.write(" -> ");
        logsPane.write(target.empty() ? std::string("(cannot be resolved)") : target);
        logsPane.write("\n");
        return false;
    }

    void walk(const std::string& folder) {
        FolderListing listing;
        if (!listFolder(folder, listing))
            return;
        if (listing.id.known() && !walked.insert(listing.id).second)
            return;

        for (const DirectoryEntry& entry : listing.entries) {
            if (scanState.abortRequested)
                break;
            if (!entry.isFolder)
                continue;  // a file named ".git" (a linked work tree) is no repository
            if (entry.name == ".git") {
                // The rest of the folder, its object store included, is never read.
                reportRepository(folder, repositories);
                break;
            }
            std::string path = folder + pathSeparator + entry.name;
            if (!entry.isLink || mayFollow(path))
                walk(path);
        }
    }
};

}  // namespace

void findRepositories(const std::string& folder, RepositoryList& repositories) {
    Walk{resolvedPath(folder), repositories, {}}.walk(folder);
}
