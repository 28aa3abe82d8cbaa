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
