#include "scan/GitFolder.h"

#include <filesystem>

#include "scan/GitOutput.h"
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

std::set<std::string> stateFolders(const GitFolder& git) {
    if (git.kind == GitFolder::none)
        return {};
    std::string refs = git.common + pathSeparator + "refs";
    return {git.path, git.common, refs, refs + pathSeparator + "heads"};
}

bool stateChangedSince(const GitFolder& git, std::chrono::system_clock::time_point since) {
    for (const std::string& folder : stateFolders(git)) {
        std::error_code error;
        auto written = std::filesystem::last_write_time(std::u8string(folder.begin(), folder.end()), error);
        if (!error && std::chrono::file_clock::to_sys(written) + std::chrono::seconds(2) > since)
            return true;
    }
    return false;
}

bool isBareRepository(const FolderListing& listing) {
    int found = 0;
    for (const DirectoryEntry& entry : listing.entries)
        found += entry.name == "HEAD" || (entry.isFolder && (entry.name == "objects" || entry.name == "refs"));
    return found == 3;
}

std::string operationInProgress(const std::string& gitFolder) {
    static const char* const markers[][2] = {{"rebase-merge", "rebase"},         {"rebase-apply", "rebase"},
                                             {"MERGE_HEAD", "merge"},            {"CHERRY_PICK_HEAD", "cherry-pick"},
                                             {"REVERT_HEAD", "revert"},          {"BISECT_LOG", "bisect"},
                                             {"sequencer", "cherry-pick"}};
    FolderListing listing;
    if (!listFolder(gitFolder, listing))
        return {};
    for (const auto& [file, operation] : markers)
        for (const DirectoryEntry& entry : listing.entries)
            if (entry.name == file) {
                // git am applies its patches the way a rebase does, with a file that says so.
                bool am = entry.name == "rebase-apply" &&
                          !resolvedPath(gitFolder + pathSeparator + file + pathSeparator + "applying").empty();
                // A series whose commit in hand is done leaves only the sequencer, whose next step tells which.
                bool revert = entry.name == "sequencer" &&
                              readFileStart(gitFolder + pathSeparator + file + pathSeparator + "todo", 16).starts_with("revert");
                return am ? "am" : revert ? "revert" : operation;
            }
    return {};
}

std::string readHead(const std::string& gitFolder, const std::string& commonFolder) {
    std::string head = firstLine(readFileStart(gitFolder + pathSeparator + "HEAD", 4096));
    if (!head.starts_with("ref: "))
        return head;
    std::string ref = head.substr(5);
    std::string loose = firstLine(readFileStart(commonFolder + pathSeparator + ref, 4096));
    if (!loose.empty())
        return loose;
    std::string packed;
    forEachLine(readFileStart(commonFolder + pathSeparator + "packed-refs", size_t(1) << 30), [&](std::string_view line) {
        if (line.size() > 41 && line.substr(41) == ref)
            packed = line.substr(0, 40);
        return packed.empty();
    });
    return packed;
}

