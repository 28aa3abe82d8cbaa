// The fixed git command lines; a repository reaches git only as the working folder.
#pragma once

namespace git {
constexpr const char* program = "git";  // found on the search path once per scan
constexpr const char* version = "git --version";
constexpr const char* status = "git status";
constexpr const char* remote = "git remote -v";
constexpr const char* fetch = "git fetch";
constexpr const char* pull = "git pull";
constexpr const char* submoduleUpdate = "git submodule update --init --recursive";
// The state of a repository after its operations. One entry per line: git
// quotes a path that holds a line break, and only the entries are counted
// (with -z the zero bytes would cut the captured output).
constexpr const char* summary = "git status --porcelain=v2 --branch --show-stash";
// The repository's configuration with the scope of each entry; -z, since a
// value may hold a line break that would pass for another entry.
constexpr const char* configList = "git config --list --show-scope -z";
// Followed by the full commit: git's short name for it, unique in the repository.
constexpr const char* shortCommit = "git rev-parse --short";

// Matched case-sensitively as substrings of the captured output.
constexpr const char* cleanTreeText = "nothing to commit, working tree clean";
constexpr const char* upToDateText = "Already up to date.";

constexpr const char* downloadAddress = "https://git-scm.com/downloads";
}  // namespace git
