#include "scan/RepositoryState.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "exec/Runner.h"
#include "scan/DirectoryList.h"
#include "scan/ReadmeFile.h"

ScanSummary scanSummary;

const char* const summaryColumnNames[summaryColumnCount] = {"Repository", "Branch", "Upstream", "Changes", "Stash",
                                                            "Fetch",      "Pull",   "Not Run",  "Problem"};

namespace {

const char* const operationNames[operationCount] = {"status", "remote", "fetch", "pull", "submodule"};

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Calls line for each line of text up to its first zero byte, without its
// line end; stops early when line returns false.
template <typename Line>
void forEachLine(const std::string& text, Line line) {
    std::string_view rest(text.c_str());
    while (!rest.empty()) {
        size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view one = rest.substr(0, end);
        if (!one.empty() && one.back() == '\r')
            one.remove_suffix(1);
        if (!line(one))
            return;
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
}

std::string operationCell(const OperationResult& result, int brought, const char* one, const char* many) {
    if (!result.ran)
        return "";
    if (result.skipped)
        return "skipped";
    if (result.exitCode == stoppedResult)
        return "stopped";
    if (result.needsCredentials)
        return "needs credentials";
    if (result.exitCode != 0)
        return "failed (" + std::to_string(result.exitCode) + ")";
    return brought == 0 ? "ok" : std::to_string(brought) + (brought == 1 ? one : many);
}

}  // namespace

namespace {

bool failedOperation(const OperationResult& result) {
    return result.ran && result.exitCode != 0 && result.exitCode != stoppedResult && !result.skipped &&
           !result.needsCredentials;
}

}  // namespace

bool RepositoryState::failed() const {
    return !problem.empty() || std::any_of(std::begin(operations), std::end(operations), failedOperation);
}

bool RepositoryState::needsCredentials() const {
    return std::any_of(std::begin(operations), std::end(operations),
                       [](const OperationResult& result) { return result.needsCredentials; });
}

bool RepositoryState::needsAttention() const {
    return staged || changed || untracked || conflicted || stashes || ahead || behind || upstreamGone || noUpstream ||
           !inProgress.empty() || failed() || !fetchedRefs.empty() || pulledCommits || submodulesUpdated ||
           !trust.empty() || needsCredentials();
}

RepositoryState::Tone RepositoryState::tone() const {
    if (!stop.empty() && !failed())
        return Tone::stopped;  // a stop is no failure
    if (failed())
        return Tone::failed;
    if (needsCredentials() || !trust.empty())
        return Tone::changed;
    if (!summarized)
        return Tone::unread;
    if (staged || changed || untracked || conflicted || stashes || !inProgress.empty())
        return Tone::changed;
    if (ahead || behind || upstreamGone || noUpstream)
        return Tone::moved;
    return Tone::clean;
}

std::string RepositoryState::lastMessage() const {
    for (int i = operationCount - 1; i >= 0; i--)
        if (!operations[i].message.empty())
            return operations[i].message;
    return problem;
}

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
    std::string_view first, found;
    forEachLine(output, [&](std::string_view line) {
        if (first.empty())
            first = line;
        if (own && line.starts_with("[repodeck] "))
            found = line.substr(11);  // the last one: what ended the run
        else if (!own && result != 0 && found.empty() && (line.starts_with("fatal: ") || line.starts_with("error: ")))
            found = line;
        return true;
    });
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
    if (!startsWith(output, "# branch.oid ") && output.find("\n# branch.oid ") == std::string::npos) {
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

void readOperationInProgress(RepositoryState& state, const std::string& gitFolder) {
    static const char* const markers[][2] = {{"rebase-merge", "rebase"},         {"rebase-apply", "rebase"},
                                             {"MERGE_HEAD", "merge"},            {"CHERRY_PICK_HEAD", "cherry-pick"},
                                             {"REVERT_HEAD", "revert"},          {"BISECT_LOG", "bisect"},
                                             {"sequencer", "cherry-pick"}};
    FolderListing listing;
    if (!listFolder(gitFolder, listing))
        return;
    for (const auto& [file, operation] : markers)
        for (const DirectoryEntry& entry : listing.entries)
            if (entry.name == file) {
                // git am applies its patches the way a rebase does, with a file that says so.
                bool am = entry.name == "rebase-apply" &&
                          !resolvedPath(gitFolder + pathSeparator + file + pathSeparator + "applying").empty();
                state.inProgress = am ? "am" : operation;
                // A series whose commit in hand is done leaves only the sequencer, whose next step tells which.
                if (entry.name == "sequencer" &&
                    readFileStart(gitFolder + pathSeparator + file + pathSeparator + "todo", 16).starts_with("revert"))
                    state.inProgress = "revert";
                return;
            }
}

std::string readHead(const std::string& gitFolder, const std::string& commonFolder) {
    std::string head = firstLine(readFileStart(gitFolder + pathSeparator + "HEAD", 4096));
    if (!startsWith(head, "ref: "))
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

void readFetchReport(const std::string& output, RepositoryState& state) {
    // "   a1b2c3d..e4f5a6b  main  -> origin/main", " * [new branch]  x -> origin/x",
    // " + ...  (forced update)", " - [deleted]  (none) -> origin/y"; "!" is a rejected one.
    forEachLine(output, [&](std::string_view line) {
        size_t arrow = line.find(" -> ");
        if (line.size() > 2 && line[0] == ' ' && strchr(" +-t*", line[1]) && arrow != line.npos) {
            std::string_view ref = line.substr(arrow + 4);
            ref = ref.substr(0, ref.find(' '));
            if (ref != "FETCH_HEAD")  // a branch fetched by name, as a local upstream is: no ref of ours moved
                state.fetchedRefs.emplace_back(ref);
        }
        return true;
    });
}

int countSubmoduleLines(const std::string& output) {
    int count = 0;
    forEachLine(output, [&](std::string_view line) {
        count += line.starts_with("Submodule path '");
        return true;
    });
    return count;
}

std::string summaryCell(const RepositoryState& state, SummaryColumn column) {
    auto count = [](int n, const char* mark) {
        std::string text;
        if (n)
            text.append(" ").append(mark).append(std::to_string(n));
        return text;
    };
    std::string text;
    switch (column) {
    case repositoryColumn:
        return state.path;
    case branchColumn:
        if (!state.summarized)
            return "";
        text = state.detached ? "(detached " + state.commit + ")" : state.branch + (state.unborn ? " (unborn)" : "");
        return state.inProgress.empty() ? text : text + " [" + state.inProgress + "]";
    case upstreamColumn:
        if (state.noUpstream)
            return "no upstream";
        if (state.upstream.empty())
            return "";
        return state.upstream + (state.upstreamGone ? " (gone)" : "") + count(state.ahead, "\u2191") +
               count(state.behind, "\u2193");
    case changesColumn:
        text = count(state.staged, "+") + count(state.changed, "~") + count(state.untracked, "?") +
               count(state.conflicted, "!");
        return !state.summarized ? "" : text.empty() ? "clean" : text.substr(1);
    case stashColumn:
        return state.stashes ? std::to_string(state.stashes) : "";
    case fetchColumn:
        return operationCell(state.operations[fetchOperation], int(state.fetchedRefs.size()), " ref", " refs");
    case pullColumn:
        return operationCell(state.operations[pullOperation], state.pulledCommits, " commit", " commits");
    case notRunColumn:
        for (const std::string& item : state.trust)
            text += (text.empty() ? "" : "; ") + item;
        return text;
    case problemColumn:
        for (int i = 0; i < operationCount; i++)
            if (failedOperation(state.operations[i]) || state.operations[i].needsCredentials)
                return std::string("git ") + operationNames[i] + ": " + state.operations[i].message;
        return state.problem.empty() ? state.stop : state.problem;
    case summaryColumnCount:
        break;
    }
    return "";
}

void ScanSummary::clear() {
    std::lock_guard<std::mutex> lock(mutex);
    rows.clear();
    generation++;
}

void ScanSummary::add(const RepositoryState& state) {
    std::lock_guard<std::mutex> lock(mutex);
    auto same = std::find_if(rows.begin(), rows.end(), [&](const RepositoryState& row) { return row.path == state.path; });
    if (same == rows.end())
        return rows.push_back(state);
    *same = state;
    generation++;
}

std::vector<RepositoryState> ScanSummary::since(size_t from, uint64_t& scan) const {
    std::lock_guard<std::mutex> lock(mutex);
    scan = generation;
    if (from >= rows.size())
        return {};
    return std::vector<RepositoryState>(rows.begin() + std::ptrdiff_t(from), rows.end());
}

size_t ScanSummary::count(bool (RepositoryState::*test)() const) const {
    std::lock_guard<std::mutex> lock(mutex);
    return size_t(std::count_if(rows.begin(), rows.end(), [&](const RepositoryState& row) { return (row.*test)(); }));
}
