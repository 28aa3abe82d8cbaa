// Where a listed folder's repository keeps its files, read without a git child.
#pragma once

#include <chrono>
#include <set>
#include <string>

#include "scan/DirectoryList.h"

struct GitFolder {
    enum Kind {
        none,      // no .git entry, or one that cannot be read
        folder,    // a .git folder, or a link to one
        worktree,  // a .git file that leads to a linked worktree of a repository
        other,     // a .git file of any other kind (a submodule's, a separate git folder)
    };
    Kind kind = none;
    std::string path;    // the resolved git folder; empty for none
    std::string common;  // the resolved folder of refs, objects and hooks (the main repository's for a worktree)
};

// The repository of folder, from its .git entry.
GitFolder findGitFolder(const std::string& folder);

// The folders whose entries a commit, a checkout, git add or a branch's
// change adds, renames or removes: the git folder, the common one, its refs
// and refs/heads; none for none.
std::set<std::string> stateFolders(const GitFolder& git);
// Whether one of them changed since `since`, or up to two seconds before:
// some file systems keep coarse times, and a change is better seen twice.
bool stateChangedSince(const GitFolder& git, std::chrono::system_clock::time_point since);

// A listed folder that is itself a repository's git folder, without a work tree.
bool isBareRepository(const FolderListing& listing);

// The operation in progress ("merge", "rebase", "am", "cherry-pick", "revert"
// or "bisect"), from the files git keeps in the git folder while one is under
// way; empty for none.
std::string operationInProgress(const std::string& gitFolder);
// The full commit the branch named by HEAD points at, without a git child;
// empty when it cannot be read (unborn, say).
std::string readHead(const std::string& gitFolder, const std::string& commonFolder);
