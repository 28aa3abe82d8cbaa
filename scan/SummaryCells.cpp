#include "scan/SummaryCells.h"

#include "exec/Runner.h"

namespace {

const char* const operationNames[operationCount] = {"status", "remote", "fetch", "pull", "submodule"};

std::string operationCell(const OperationResult& result, int brought, const char* one, const char* many) {
    if (!result.ran)
        return "";
    if (result.skipped)
        return "skipped";
    if (result.exitCode == stoppedResult)
        return "stopped";
    if (result.needsCredentials)
        return "needs credentials";
    if (result.unreachable)
        return "unreachable";
    if (result.exitCode == timedOutResult)
        return "timed out";
    if (result.exitCode != 0)
        return "failed (" + std::to_string(result.exitCode) + ")";
    return brought == 0 ? "ok" : std::to_string(brought) + (brought == 1 ? one : many);
}

}  // namespace

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
        if (state.gone)
            return "gone: the walk of the folder did not find it";
        for (int i = 0; i < operationCount; i++)
            if (state.operations[i].failed() || state.operations[i].needsCredentials)
                return std::string("git ") + operationNames[i] + ": " + state.operations[i].message;
        return state.problem.empty() ? state.stop : state.problem;
    case summaryColumnCount:
        break;
    }
    return "";
}

