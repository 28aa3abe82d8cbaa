#include "scan/GitOutput.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "exec/Runner.h"

std::string firstLine(const std::string& output) {
    std::string first;
    forEachLine(output, [&](std::string_view line) {
        first = line;
        return line.empty();
    });
    return first;
}

std::string messageOf(const std::string& output, int32_t result) {
    constexpr size_t longest = 4096;
    bool own = result < 0 || result == stillRunningResult;
    std::string_view first, found, before;
    forEachLine(output, [&](std::string_view line) {
        if (first.empty())
            first = line;
        if (own && line.starts_with("[repodeck] "))
            found = line.substr(11);  // the last one: what ended the run
        else if (!own && result != 0 && found.empty() && (line.starts_with("fatal: ") || line.starts_with("error: ")))
            found = line;
        else if (found.empty())
            before = line;
        return true;
    });
    // git only says it read nothing; ssh, on the line before, says why.
    if (found == "fatal: Could not read from remote repository." && !before.empty())
        found = before;
    std::string_view line = found.empty() ? first : found;
    size_t length = std::min(line.size(), longest);
    while (length < line.size() && (line[length] & 0xc0) == 0x80)  // never half a character
        length--;
    return std::string(line.substr(0, length));
}

bool nothingToPullFrom(const std::string& output) {
    return output.find("There is no tracking information for the current branch.") != std::string::npos ||
           output.find("You are not currently on a branch.") != std::string::npos;
}

bool readSummary(const std::string& output, RepositoryState& state) {
    // git's warnings share the pipe ("warning: could not open directory"):
    // lines that are no entry are passed over.
    if (!output.starts_with("# branch.oid ") && output.find("\n# branch.oid ") == std::string::npos) {
        state.problem = "git gave no state: " + firstLine(output);
        return false;
    }
    // Entries come in no set order, so each is told by its first character.
    bool aheadBehindShown = false;
    forEachLine(output, [&](std::string_view line) {
        std::string value(line.substr(std::min(line.find(' ', 2) + 1, line.size())));
        if (line.starts_with("# branch.oid ")) {
            state.unborn = value == "(initial)";
            state.head = state.unborn ? "" : value;
            state.commit = state.head.substr(0, 7);  // until git's own abbreviation is known
        } else if (line.starts_with("# branch.head ")) {
            state.detached = value == "(detached)";
            state.branch = state.detached ? "" : value;
        } else if (line.starts_with("# branch.upstream ")) {
            state.upstream = value;
        } else if (line.starts_with("# branch.ab ")) {
            aheadBehindShown = sscanf(value.c_str(), "+%d -%d", &state.ahead, &state.behind) == 2;
        } else if (line.starts_with("# stash ")) {
            state.stashes = atoi(value.c_str());
        } else if (line.size() > 3 && (line[0] == '1' || line[0] == '2') && line[1] == ' ') {
            state.staged += line[2] != '.';
            state.changed += line[3] != '.';
        } else if (line.starts_with("u ")) {
            state.conflicted++;
        } else if (line.starts_with("? ")) {
            state.untracked++;
        }
        return true;
    });
    // git shows no counts for an upstream whose branch is gone.
    state.upstreamGone = !state.upstream.empty() && !aheadBehindShown;
    state.noUpstream = state.upstream.empty() && !state.detached && !state.unborn;
    state.summarized = true;
    return true;
}

std::string readFetchReport(const std::string& output, RepositoryState& state) {
    // "   a1b2c3d..e4f5a6b  main  -> origin/main", " * [new branch]  x -> origin/x",
    // " + a1b2c3d...e4f5a6b  x -> origin/x  (forced update)", " - [deleted]  (none) -> origin/y";
    // "!" is a rejected one.
    std::string ranges;
    forEachLine(output, [&](std::string_view line) {
        size_t arrow = line.find(" -> ");
        if (line.size() > 2 && line[0] == ' ' && strchr(" +-t*", line[1]) && arrow != line.npos) {
            std::string_view ref = line.substr(arrow + 4);
            ref = ref.substr(0, ref.find(' '));
            if (ref == "FETCH_HEAD")  // a branch fetched by name, as a local upstream is: no ref of ours moved
                return true;
            state.fetchedRefs.emplace_back(ref);
            std::string_view range = line.substr(line.find_first_not_of(" +", 1));
            range = range.substr(0, range.find(' '));
            if (range.find("..") != range.npos && range.find_first_not_of("0123456789abcdef.") == range.npos)
                ranges.append(ranges.empty() ? "" : " ").append(range);
        }
        return true;
    });
    return ranges;
}

int countSubmoduleLines(const std::string& output) {
    int count = 0;
    forEachLine(output, [&](std::string_view line) {
        count += line.starts_with("Submodule path '");
        return true;
    });
    return count;
}

