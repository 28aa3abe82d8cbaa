// A scanned repository may name programs in its own configuration (a filter,
// core.fsmonitor, an ssh command, ...) and in its hooks folder, and git would
// run them. Every git child of a scan gets, through its environment, values
// that win over the repository's: the user's own (system, global or command
// scope), or none. Nothing the repository names is run to find this out.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "exec/Runner.h"
#include "scan/Remote.h"

// What repodeck adds to the user's ssh for one host, asked of the user's own
// ssh configuration (ssh -G) once per host and scan: the liveness checks and,
// where ssh can, one shared connection per host; only what the user leaves unset.
class SshHosts {
public:
    explicit SshHosts(std::string controlFolder) : controlFolder(std::move(controlFolder)) {}
    // For the user's ssh program, by its full path, reaching remote.
    std::string optionsFor(const RemoteHost& remote, const std::string& ssh, ChildSlot& slot);

private:
    std::string controlFolder;  // for the shared connections' sockets; empty for none
    std::mutex mutex;
    std::map<std::string, std::string> known;
};

// What every git child of one scan shares.
struct GitSession {
    std::string program;       // the user's git, by its full path
    std::string noHooks;       // an empty folder of repodeck's own, for core.hooksPath
    bool runHooks = false;     // the user trusts the trees' hooks
    bool interactive = false;  // prompts allowed: one repository at a time, with the user
    std::string askPass;       // with interactive, the asker to use when the user names none
    SshHosts* sshHosts = nullptr;
};

// How git is pointed at one repository, and what it may not run there.
struct RepositoryGit {
    std::string folder;  // where git starts: the folder resolved, as checked
    std::string gitFolder, commonFolder;  // its own files, and its refs' (a worktree's main repository)
    ChildSettings settings;
    // For fetch and pull: git takes the first upload-pack a remote names, the
    // repository's before any other, so only an argument wins over it.
    std::string uploadPackArgument;
    RemoteHost remote;  // what its fetch and pull reach
    std::vector<std::string> neutralised;  // "core.fsmonitor", "hooks: post-merge, ..."
    std::string problem;                   // why git is not run there at all
};

// Points git at folder's repository explicitly (GIT_DIR and GIT_WORK_TREE,
// resolved again now and both inside root, so git neither climbs nor follows
// a link swapped in since the walk), reads the repository's configuration
// with one git child in slot and lists its hooks.
RepositoryGit prepareRepository(const GitSession& session, const std::string& root, const std::string& folder,
                                ChildSlot& slot);

// Whether a failed fetch, pull or submodule update wanted a password, a key
// or a host key that nobody was there to give.
bool wantsCredentials(const std::string& output);
// Whether a network command's output says its host could not be reached, or
// stopped answering (ssh's and the HTTP client's words).
bool hostUnreachable(const std::string& output);
