// Where a repository's remote lies, read from its configuration's text.
#pragma once

#include <string>
#include <utility>
#include <vector>

// url.<base>.insteadOf = prefix, as (prefix, base) pairs.
using UrlRewrites = std::vector<std::pair<std::string, std::string>>;

// url with the longest matching insteadOf prefix replaced by its base, as git does.
std::string rewrittenUrl(const std::string& url, const UrlRewrites& rewrites);

// The host a remote's URL reaches over the network ("ssh" for ssh URLs and
// scp-like "host:path", else the scheme) and its name; an empty host for a
// local path, file:// and what runs no network at all.
struct RemoteHost {
    std::string transport;  // "ssh", "https", "http", "git"
    std::string host;       // as written, port aside; empty when local
    std::string port;       // empty for the transport's own
};
RemoteHost remoteHost(const std::string& url);

// One entry of a configuration, its key as git lists it: section and name in
// lower case, a subsection as written ("remote.origin.url").
struct ConfigEntry {
    std::string scope, key, value;
};

// What fetch and pull of the repository whose git folder (for HEAD) is given
// reach: the current branch's remote, or origin, insteadOf applied.
RemoteHost remoteOf(const std::string& gitFolder, const std::vector<ConfigEntry>& entries);

// The entries of a configuration file's text (includes are not followed).
std::vector<ConfigEntry> configFileEntries(const std::string& text, const std::string& scope);
// The entries of the user's own configuration (GIT_CONFIG_GLOBAL's file, or
// the XDG one and ~/.gitconfig), read once per scan; the system's are left out.
std::vector<ConfigEntry> userConfiguration();
// remoteOf for the repository at folder, from its files and the user's
// entries, without a git child: known before any git runs there.
RemoteHost remoteOfFolder(const std::string& folder, const std::vector<ConfigEntry>& user);
