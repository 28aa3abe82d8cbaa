#include "scan/Remote.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "scan/DirectoryList.h"
#include "scan/GitFolder.h"
#include "scan/ReadmeFile.h"

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

RemoteHost remoteOf(const std::string& gitFolder, const std::vector<ConfigEntry>& entries) {
    std::string head = readFileStart(gitFolder + pathSeparator + "HEAD", 4096);
    std::string branch = head.starts_with("ref: refs/heads/") ? head.substr(16, head.find_first_of("\r\n") - 16) : "";
    std::string remote = "origin", url;
    UrlRewrites rewrites;
    for (const ConfigEntry& entry : entries)
        if (entry.key == "branch." + branch + ".remote")
            remote = entry.value;
    for (const ConfigEntry& entry : entries) {
        if (entry.key == "remote." + remote + ".url")
            url = entry.value;
        if (entry.key.starts_with("url.") && entry.key.ends_with(".insteadof"))
            rewrites.emplace_back(entry.value, entry.key.substr(4, entry.key.size() - 14));
    }
    return remoteHost(rewrittenUrl(url, rewrites));
}

namespace {

// More than any configuration a person writes; a larger file is read this far.
constexpr size_t configFileLimit = size_t(1) << 20;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(tolower(c)); });
    return text;
}

// A value from at to its line's end: quotes taken away, escapes read, a
// comment dropped, a backslash at the line's end joining the next line.
std::string readValue(const std::string& text, size_t& at) {
    std::string value;
    size_t kept = 0;  // without the blanks that end it outside quotes
    bool quoted = false;
    while (at < text.size() && isBlank(text[at]))
        at++;
    for (; at < text.size() && text[at] != '\n'; at++) {
        char c = text[at];
        if (!quoted && (c == '#' || c == ';'))
            break;
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '\\' && at + 1 < text.size()) {
            c = text[++at];
            if (c != '\n')
                value += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'b' ? '\b' : c;
            kept = value.size();
        } else {
            value += c;
            kept = quoted || !isBlank(c) ? value.size() : kept;
        }
    }
    value.resize(kept);
    return value;
}

// "[section]", "[section \"subsection\"]" or "[section.subsection]", from at:
// its key's start ("remote.origin.").
std::string readSection(const std::string& text, size_t& at) {
    size_t end = text.find_first_of("] \t\"\n", ++at);
    std::string section = lowerCase(text.substr(at, end - at)) + ".";
    at = text.find_first_not_of(" \t", end);
    if (at < text.size() && text[at] == '"') {
        for (at++; at < text.size() && text[at] != '"' && text[at] != '\n'; at++)
            section += text[at] == '\\' && at + 1 < text.size() ? text[++at] : text[at];
        section += ".";
    }
    at = std::min(text.find_first_of("]\n", at), text.size());
    at += at < text.size() && text[at] == ']';
    return section;
}

}  // namespace

std::vector<ConfigEntry> configFileEntries(const std::string& text, const std::string& scope) {
    std::vector<ConfigEntry> entries;
    std::string section;
    for (size_t at = 0; at < text.size();) {
        char c = text[at];
        if (isBlank(c) || c == '\n') {
            at++;
        } else if (c == '[') {
            section = readSection(text, at);
        } else if (isalpha((unsigned char)c)) {
            size_t end = std::min(text.find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-", at), text.size());
            std::string key = section + lowerCase(text.substr(at, end - at));
            at = std::min(text.find_first_not_of(" \t\r", end), text.size());
            if (at < text.size() && text[at] == '=') {
                entries.push_back({scope, key, readValue(text, ++at)});
            } else {  // a key alone: true
                entries.push_back({scope, key, ""});
                at = std::min(text.find('\n', at), text.size());
            }
        } else {  // a comment, or what git would refuse
            at = std::min(text.find('\n', at), text.size());
        }
    }
    return entries;
}

std::vector<ConfigEntry> userConfiguration() {
    auto variable = [](const char* name) {
        const char* value = getenv(name);
        return std::string(value ? value : "");
    };
    std::string home = variable("HOME").empty() ? variable("USERPROFILE") : variable("HOME");
    std::vector<std::string> files;
    if (!variable("GIT_CONFIG_GLOBAL").empty()) {
        files.push_back(variable("GIT_CONFIG_GLOBAL"));
    } else {
        std::string xdg = variable("XDG_CONFIG_HOME");
        files.push_back((xdg.empty() ? home + pathSeparator + ".config" : xdg) + pathSeparator + "git" + pathSeparator + "config");
        files.push_back(home + pathSeparator + ".gitconfig");
    }
    std::vector<ConfigEntry> entries;
    for (const std::string& file : files)
        for (ConfigEntry& entry : configFileEntries(readFileStart(file, configFileLimit), "global"))
            entries.push_back(std::move(entry));
    return entries;
}

RemoteHost remoteOfFolder(const std::string& folder, const std::vector<ConfigEntry>& user) {
    GitFolder gitFolder = findGitFolder(folder);
    bool bare = gitFolder.kind == GitFolder::none;  // or no repository at all: then no remote
    std::vector<ConfigEntry> entries = user;
    for (ConfigEntry& entry : configFileEntries(
             readFileStart((bare ? folder : gitFolder.common) + pathSeparator + "config", configFileLimit), "local"))
        entries.push_back(std::move(entry));
    return remoteOf(bare ? folder : gitFolder.path, entries);
}
