#include "scan/GitFolder.h"

#include "scan/ReadmeFile.h"

namespace {

std::string trimmedFirstLine(const std::string& text) {
    std::string line = text.substr(0, text.find_first_of("\r\n"));
    line.erase(line.find_last_not_of(" \t") + 1);
    return line;
}

// A path a git file names, taken relative to the folder holding that file.
std::string resolvedFrom(const std::string& folder, const std::string& named) {
    if (named.empty())
        return {};
    return resolvedPath(isAbsolutePath(named) ? named : folder + pathSeparator + named);
}

}  // namespace

GitFolder findGitFolder(const std::string& folder) {
    std::string dotGit = folder + pathSeparator + ".git";
    FolderListing listing;
    if (listFolder(dotGit, listing)) {
        std::string path = resolvedPath(dotGit);
        return {path.empty() ? GitFolder::none : GitFolder::folder, path, path};
    }
    // "gitdir: PATH", written by git worktree add, --separate-git-dir and submodules.
    std::string text = readFileStart(dotGit, 4096);
    if (!text.starts_with("gitdir: "))
        return {};
    std::string path = resolvedFrom(folder, trimmedFirstLine(text.substr(8)));
    if (path.empty())
        return {};
    // A linked worktree's git folder names the main one in its commondir file.
    std::string common = resolvedFrom(path, trimmedFirstLine(readFileStart(path + pathSeparator + "commondir", 4096)));
    if (common.empty())
        return {GitFolder::other, path, path};
    return {GitFolder::worktree, path, common};
}

bool isBareRepository(const FolderListing& listing) {
    int found = 0;
    for (const DirectoryEntry& entry : listing.entries)
        found += entry.name == "HEAD" || (entry.isFolder && (entry.name == "objects" || entry.name == "refs"));
    return found == 3;
}
