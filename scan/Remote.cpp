#include "scan/Remote.h"

std::string rewrittenUrl(const std::string& url, const UrlRewrites& rewrites) {
    const std::pair<std::string, std::string>* best = nullptr;
    for (const auto& rewrite : rewrites)
        if (url.starts_with(rewrite.first) && (!best || rewrite.first.size() > best->first.size()))
            best = &rewrite;
    return best ? best->second + url.substr(best->first.size()) : url;
}

RemoteHost remoteHost(const std::string& url) {
    size_t scheme = url.find("://");
    size_t colon = url.find(':');
    if (scheme == std::string::npos) {
        // scp-like "[user@]host:path": a colon before any slash, and more than a drive letter.
        size_t slash = url.find('/');
        if (colon == std::string::npos || colon < 2 || (slash != std::string::npos && slash < colon) ||
            url.find("::") != std::string::npos)
            return {};
        std::string host = url.substr(0, colon);
        return {"ssh", host.substr(host.find('@') + 1), ""};
    }
    std::string transport = url.substr(0, scheme);
    if (transport.ends_with("+ssh") || transport.starts_with("ssh+"))
        transport = "ssh";
    if (transport != "ssh" && transport != "git" && transport != "http" && transport != "https")
        return {};  // file://, and helpers of other kinds
    std::string authority = url.substr(scheme + 3, url.find('/', scheme + 3) - scheme - 3);
    authority.erase(0, authority.rfind('@') + 1);
    size_t port = authority.rfind(':');
    if (authority.starts_with("[")) {  // [::1]:22
        size_t close = authority.find(']');
        port = close != std::string::npos && close + 1 < authority.size() ? close + 1 : std::string::npos;
    }
    if (port == std::string::npos)
        return {transport, authority, ""};
    return {transport, authority.substr(0, port), authority.substr(port + 1)};
}
