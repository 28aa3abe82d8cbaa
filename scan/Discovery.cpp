// The folder walk that turns the chosen folder into the list of repositories.
#include <algorithm>
#include <vector>

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

// ancestors holds the folders from the scan folder down to folder's parent.
// A folder that is one of them was reached through a link back up the tree:
// walking it again would only repeat this walk until the path got too long.
void walk(const std::string& folder, RepositoryList& repositories, std::vector<FolderId>& ancestors) {
    FolderListing listing;
    if (!listFolder(folder, listing))
        return;
    if (listing.id.known() && std::find(ancestors.begin(), ancestors.end(), listing.id) != ancestors.end())
        return;

    ancestors.push_back(listing.id);
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
        walk(folder + pathSeparator + entry.name, repositories, ancestors);
    }
    ancestors.pop_back();
}

}  // namespace

void findRepositories(const std::string& folder, RepositoryList& repositories) {
    std::vector<FolderId> ancestors;
    walk(folder, repositories, ancestors);
}
