#include "scan/Trust.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <map>

#include "exec/Git.h"
#include "scan/DirectoryList.h"
#include "scan/GitFolder.h"

namespace {

// "scope\0key\nvalue\0" per entry ("scope\0key\0" for a key without a value).
std::vector<ConfigEntry> readEntries(const std::string& output) {
    std::vector<ConfigEntry> entries;
    for (size_t at = 0;;) {
        size_t scopeEnd = output.find('\0', at);
        size_t itemEnd = scopeEnd == std::string::npos ? scopeEnd : output.find('\0', scopeEnd + 1);
        if (itemEnd == std::string::npos || scopeEnd == at)
            return entries;
        std::string item = output.substr(scopeEnd + 1, itemEnd - scopeEnd - 1);
        size_t lineEnd = item.find('\n');
        entries.push_back({output.substr(at, scopeEnd - at), item.substr(0, lineEnd),
                           lineEnd == std::string::npos ? "" : item.substr(lineEnd + 1)});
        at = itemEnd + 1;
    }
}

bool isUserScope(const std::string& scope) { return scope == "system" || scope == "global" || scope == "command"; }
bool isRepositoryScope(const std::string& scope) { return scope == "local" || scope == "worktree"; }

// '*' stands for any run of characters: git keeps a subsection's case and dots.
bool matches(const char* pattern, const char* key) {
    if (*pattern == '*')
        return matches(pattern + 1, key) || (*key && matches(pattern, key + 1));
    return *pattern == *key && (!*key || matches(pattern + 1, key + 1));
}

// The keys, as git lists them, whose value git runs (or that lead git to
// run one) for the commands of a scan. What each becomes when the user has no
// value of their own; null where a variable of the environment already wins
// over any configuration, or where the key has its own rule below.
struct ProgramKey {
    const char* pattern;
    const char* none;
};
const ProgramKey programKeys[] = {
    {"core.fsmonitor", nullptr},  {"core.hookspath", nullptr},   {"core.sshcommand", nullptr},
    {"core.askpass", nullptr},    {"core.gitproxy", nullptr},    {"core.editor", nullptr},
    {"sequence.editor", nullptr}, {"core.pager", nullptr},       {"pager.*", nullptr},
    {"credential.helper", nullptr}, {"credential.*.helper", nullptr},
    {"protocol.allow", nullptr},  {"protocol.*.allow", nullptr},
    {"core.alternaterefscommand", ""},
    {"remote.*.uploadpack", nullptr},  // see uploadPackArgument
    {"remote.*.receivepack", "git-receive-pack"},
    // An empty filter is no filter; an empty driver or converter is one git
    // cannot run, and says so.
    {"filter.*.clean", ""},       {"filter.*.smudge", ""},       {"filter.*.process", ""},
    {"diff.external", ""},        {"diff.*.textconv", ""},       {"diff.*.command", ""},
    {"merge.*.driver", ""},
    {"gpg.program", "gpg"},       {"gpg.openpgp.program", "gpg"}, {"gpg.x509.program", "gpgsm"},
    {"gpg.ssh.program", "ssh-keygen"}, {"gpg.ssh.defaultkeycommand", ""},
    {"submodule.*.update", "checkout"},  // only its "!command" form
    {"lfs.customtransfer.*.path", ""},
};

const ProgramKey* programKey(const ConfigEntry& entry) {
    if (entry.key.starts_with("submodule.") && !entry.value.starts_with("!"))
        return nullptr;
    for (const ProgramKey& key : programKeys)
        if (matches(key.pattern, entry.key.c_str()))
            return &key;
    return nullptr;
}

bool isTrue(const std::string& value) {
    std::string lower = value;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(tolower(c)); });
    return lower == "true" || lower == "yes" || lower == "on" || lower == "1";
}

std::string environmentValue(const char* name) {
    const char* value = getenv(name);
    return value ? value : "";
}

// Builds one child's variables: command-scope configuration after any the
// user passes in the environment already, which it must not replace.
struct Settings {
    std::vector<std::string> variables;
    std::vector<std::pair<std::string, std::string>> config;
    std::map<std::string, std::vector<std::string>> user;  // the user's own values, in order

    void set(const std::string& key, const std::string& value) { config.emplace_back(key, value); }
    void setUsersOr(const std::string& key, const std::string& none) {
        auto own = user.find(key);
        set(key, own != user.end() ? own->second.back() : none);
    }
    void variable(const std::string& name, const std::string& value) { variables.push_back(name + "=" + value); }

    std::vector<std::string> finish() {
        int first = atoi(environmentValue("GIT_CONFIG_COUNT").c_str());
        for (size_t i = 0; i < config.size(); i++) {
            std::string index = std::to_string(first + int(i));
            variable("GIT_CONFIG_KEY_" + index, config[i].first);
            variable("GIT_CONFIG_VALUE_" + index, config[i].second);
        }
        if (!config.empty())
            variable("GIT_CONFIG_COUNT", std::to_string(first + int(config.size())));
        return std::move(variables);
    }
};

// The user's ssh command, and its program when it is OpenSSH's ssh (which
// takes the options repodeck adds): its full path, or the name when the
// search path has none; empty for another program.
std::pair<std::string, std::string> userSsh(const std::map<std::string, std::vector<std::string>>& user) {
    std::string command = environmentValue("GIT_SSH_COMMAND");
    if (command.empty() && user.count("core.sshcommand"))
        command = user.at("core.sshcommand").back();
    if (command.empty() && !environmentValue("GIT_SSH").empty())
        command.append("'").append(environmentValue("GIT_SSH")).append("'");  // a program path, never split
    if (command.empty())
        command = "ssh";
    bool quoted = command.starts_with("'");
    std::string program = command.substr(quoted, command.find(quoted ? '\'' : ' ', 1) - quoted);
    std::string name = program.substr(program.find_last_of("/\\") + 1);
    if (name != "ssh" && name != "ssh.exe")
        return {command, ""};
    std::string found = isAbsolutePath(program) ? program : findProgram(program.c_str());
    return {command, found.empty() ? name : found};
}

std::string hooksIn(const std::string& folder) {
    FolderListing listing;
    std::string names;
    if (!listFolder(folder, listing))
        return names;
    for (const DirectoryEntry& entry : listing.entries)
        if (!entry.isFolder && !entry.name.ends_with(".sample"))
            names += (names.empty() ? "" : ", ") + entry.name;
    return names;
}

// The git folders of submodules, however deep their names and nesting.
void findModules(const std::string& folder, std::vector<std::string>& modules, int depth) {
    FolderListing listing;
    if (depth > 8 || !listFolder(folder, listing))
        return;
    bool gitFolder = std::any_of(listing.entries.begin(), listing.entries.end(),
                                 [](const DirectoryEntry& entry) { return entry.name == "HEAD"; });
    if (gitFolder)
        modules.push_back(folder);
    for (const DirectoryEntry& entry : listing.entries)
        if (entry.isFolder && !entry.isLink && (!gitFolder || entry.name == "modules"))
            findModules(folder + pathSeparator + entry.name, modules, depth + 1);
}

// Where git looks, and that it asks nobody where nobody is there.
void pointAndQuiet(Settings& settings, const GitSession& session, const GitFolder& gitFolder,
                   const std::string& workTree) {
    if (gitFolder.kind != GitFolder::none) {
        settings.variable("GIT_DIR", gitFolder.path);
        settings.variable("GIT_WORK_TREE", workTree);
    }  // else git looks for it, up to the ceiling, and says what it found
    if (session.interactive) {
        settings.variable("GIT_TERMINAL_PROMPT", "1");
    } else {
        settings.variable("GIT_TERMINAL_PROMPT", "0");
        settings.variable("GCM_INTERACTIVE", "never");
        settings.variable("SSH_ASKPASS_REQUIRE", "never");
    }
    // No editor or pager: nobody is there to use one.
    settings.variable("GIT_EDITOR", ":");
    settings.variable("GIT_SEQUENCE_EDITOR", ":");
    settings.variable("GIT_MERGE_AUTOEDIT", "no");
    settings.variable("GIT_PAGER", "cat");
    // A status takes no lock on the index that the user's own git command
    // may need at that moment, and writes nothing a watch would take for a change.
    settings.variable("GIT_OPTIONAL_LOCKS", "0");
}

// The configuration as git reads it, includes followed (git runs nothing of
// it to list it): the user's own values go into settings, and the program
// keys the repository and its submodules name into named. Its entries.
std::vector<ConfigEntry> readConfiguration(Settings& settings, std::map<std::string, const ProgramKey*>& named,
                                           const GitSession& session, const RepositoryGit& git,
                                           const GitFolder& gitFolder, ChildSlot& slot) {
    ChildSettings listing{settings.variables, false};
    // A configuration git cannot read fails the commands too, with git's words.
    std::string output;
    // Empty before git was looked for: then found on the search path, as every other child of the scan is.
    const char* program = session.program.empty() ? nullptr : session.program.c_str();
    runCommand(git::configList, output, git.folder.c_str(), slot, program, &listing);
    std::vector<ConfigEntry> entries = readEntries(output);
    for (const ConfigEntry& entry : entries) {
        if (isUserScope(entry.scope))
            settings.user[entry.key].push_back(entry.value);
        else if (isRepositoryScope(entry.scope))
            if (const ProgramKey* key = programKey(entry))
                named[entry.key] = key;
    }
    // Its submodules' own configurations: git runs in them for status and
    // submodule update, with the same variables.
    std::vector<std::string> modules;
    findModules(gitFolder.common + pathSeparator + "modules", modules, 0);
    for (const std::string& module : modules) {
        ChildSettings inModule = listing;
        inModule.variables.push_back("GIT_DIR=" + module);
        inModule.variables.push_back("GIT_WORK_TREE=" + git.folder);  // its own core.worktree may lead anywhere
        runCommand(git::configList, output, git.folder.c_str(), slot, program, &inModule);
        for (const ConfigEntry& entry : readEntries(output))
            if (const ProgramKey* key = isRepositoryScope(entry.scope) ? programKey(entry) : nullptr)
                named[entry.key] = key;
    }
    return entries;
}

// What every child gets, whatever the repository names: a repository need not
// name these for git to run them.
void setAlways(Settings& settings, const GitSession& session, RepositoryGit& git, const GitFolder& gitFolder,
               bool namesHooksPath, ChildSlot& slot) {
    const auto& user = settings.user;
    auto userHas = [&](const char* key) { return user.count(key) > 0; };
    settings.set("core.fsmonitor", userHas("core.fsmonitor") && isTrue(user.at("core.fsmonitor").back()) ? "true"
                                                                                                         : "false");
    if (!session.runHooks)
        settings.set("core.hookspath", session.noHooks);
    else if (namesHooksPath)
        settings.setUsersOr("core.hookspath", gitFolder.common + pathSeparator + "hooks");
    settings.setUsersOr("protocol.ext.allow", "never");  // ext:: runs any command a remote's URL holds
    // The user's ssh, made to fail rather than ask when nobody is there.
    auto [ssh, sshProgram] = userSsh(user);
    if (!sshProgram.empty() && !session.interactive)
        ssh += " -o BatchMode=yes";
    if (isAbsolutePath(sshProgram) && git.remote.transport == "ssh" && session.sshHosts)
        ssh += session.sshHosts->optionsFor(git.remote, sshProgram, slot);
    settings.variable("GIT_SSH_COMMAND", ssh);
    // A server that stops sending fails the transfer instead of holding it.
    settings.setUsersOr("http.lowspeedlimit", "1000");
    settings.setUsersOr("http.lowspeedtime", "60");
    std::string askPass = environmentValue("GIT_ASKPASS");
    if (askPass.empty() && userHas("core.askpass"))
        askPass = user.at("core.askpass").back();
    if (askPass.empty())
        askPass = environmentValue("SSH_ASKPASS");
    if (askPass.empty())
        askPass = session.askPass;
    settings.variable("GIT_ASKPASS", session.interactive ? askPass : "");  // set, even empty, it beats core.askPass
    if (session.interactive && !askPass.empty() && environmentValue("SSH_ASKPASS").empty())
        settings.variable("SSH_ASKPASS", askPass);
}

// Each program key the repository names gets the user's value or none.
void neutralise(Settings& settings, RepositoryGit& git, const std::map<std::string, const ProgramKey*>& named) {
    auto userHas = [&](const std::string& key) { return settings.user.count(key) > 0; };
    for (const auto& [key, rule] : named) {
        if (key.starts_with("credential.")) {
            // An empty helper empties the list; then the user's own again.
            settings.set(key, "");
            if (key != "credential.helper" && userHas("credential.helper"))  // the user's for every address
                for (const std::string& value : settings.user.at("credential.helper"))
                    settings.set(key, value);
            if (userHas(key))
                for (const std::string& value : settings.user.at(key))
                    settings.set(key, value);
        } else if (key == "protocol.allow") {
            settings.setUsersOr(key, "user");
            for (const char* known : {"protocol.http.allow", "protocol.https.allow", "protocol.git.allow",
                                      "protocol.ssh.allow"})
                settings.setUsersOr(known, "always");
        } else if (key.starts_with("protocol.")) {
            bool safe = key == "protocol.http.allow" || key == "protocol.https.allow" || key == "protocol.git.allow" ||
                        key == "protocol.ssh.allow";
            settings.setUsersOr(key, key == "protocol.ext.allow" ? "never" : safe ? "always" : "user");
        } else if (key.ends_with(".uploadpack")) {
            git.uploadPackArgument = " --upload-pack=git-upload-pack";
        } else if (key == "core.gitproxy" && environmentValue("GIT_PROXY_COMMAND").empty()) {
            settings.variable("GIT_PROXY_COMMAND", "");  // set, even empty, it beats core.gitProxy
        } else if (rule->none) {
            settings.setUsersOr(key, rule->none);
        }
        git.neutralised.push_back(key);
    }
}

}  // namespace

RepositoryGit prepareRepository(const GitSession& session, const std::string& root, const std::string& folder,
                                ChildSlot& slot) {
    RepositoryGit git;
    std::string workTree = resolvedPath(folder);
    git.folder = workTree.empty() ? folder : workTree;  // a folder gone fails where it was
    GitFolder gitFolder = findGitFolder(folder);
    git.gitFolder = gitFolder.kind == GitFolder::none ? folder + pathSeparator + ".git" : gitFolder.path;
    git.commonFolder = gitFolder.kind == GitFolder::none ? git.gitFolder : gitFolder.common;
    if (!root.empty() && ((!workTree.empty() && !isInside(workTree, root)) ||
        (gitFolder.kind != GitFolder::none && (!isInside(gitFolder.path, root) || !isInside(gitFolder.common, root))))) {
        git.problem = "the repository now leads outside the chosen folder";
        return git;
    }

    Settings settings;
    pointAndQuiet(settings, session, gitFolder, workTree);
    std::map<std::string, const ProgramKey*> named;  // the repository's program keys, sorted
    std::vector<ConfigEntry> entries = readConfiguration(settings, named, session, git, gitFolder, slot);
    git.remote = remoteOf(gitFolder.kind == GitFolder::none ? "" : gitFolder.path, entries);
    setAlways(settings, session, git, gitFolder, named.count("core.hookspath") > 0, slot);
    neutralise(settings, git, named);
    if (!session.runHooks && gitFolder.kind != GitFolder::none)
        if (std::string hooks = hooksIn(gitFolder.common + pathSeparator + "hooks"); !hooks.empty())
            git.neutralised.push_back("hooks: " + hooks);

    git.settings.variables = settings.finish();
    git.settings.interactive = session.interactive;
    return git;
}

namespace {

bool saysAny(const std::string& output, std::initializer_list<const char*> texts) {
    return std::any_of(texts.begin(), texts.end(), [&](const char* text) { return output.find(text) != output.npos; });
}

}  // namespace

bool wantsCredentials(const std::string& output) {
    return saysAny(output, {"could not read Username", "could not read Password", "Authentication failed",
                            "Permission denied (publickey", "Host key verification failed", "terminal prompts disabled"});
}

bool hostUnreachable(const std::string& output) {
    return saysAny(output, {"Connection timed out", "Could not resolve host", "Connection refused", "No route to host",
                            "Network is unreachable", "Operation too slow", "Timeout, server"});
}

std::string SshHosts::optionsFor(const RemoteHost& remote, const std::string& ssh, ChildSlot& slot) {
    std::string name = ssh + " " + remote.host + (remote.port.empty() ? "" : " -p " + remote.port);
    std::lock_guard<std::mutex> lock(mutex);  // once per host, and never two askings at once
    if (auto found = known.find(name); found != known.end())
        return found->second;
    // ssh -G prints the options in force for the host, the user's and the defaults.
    std::string output, options;
    bool plain = remote.host.find_first_of("\"' ") == std::string::npos && !remote.host.starts_with("-") &&
                 remote.port.find_first_not_of("0123456789") == std::string::npos;
    if (plain &&
        runCommand(("ssh -G " + (remote.port.empty() ? "" : "-p " + remote.port + " ") + remote.host).c_str(), output,
                   nullptr, slot, ssh.c_str()) == 0) {
        auto unset = [&](const char* line) { return output.find(std::string("\n") + line + "\n") != std::string::npos; };
        if (unset("connecttimeout none"))
            options += " -o ConnectTimeout=15";
        if (unset("serveraliveinterval 0"))
            options += " -o ServerAliveInterval=15 -o ServerAliveCountMax=4";
        // OpenSSH 9 leaves out the controlpath line when none is set.
        bool noControlPath = output.find("\ncontrolpath ") == std::string::npos || unset("controlpath none");
        if (!controlFolder.empty() && unset("controlmaster false") && noControlPath)
            options += " -o ControlMaster=auto -o ControlPath=" + controlFolder + "/%C -o ControlPersist=60";
    }
    return known[name] = options;
}
