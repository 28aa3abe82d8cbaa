#include "scan/RepositoryState.h"

#include <algorithm>

#include "exec/Runner.h"

bool OperationResult::failed() const {
    return ran && exitCode != 0 && exitCode != stoppedResult && !skipped && !needsCredentials;
}

bool RepositoryState::failed() const {
    return gone || !problem.empty() || std::any_of(std::begin(operations), std::end(operations), [](const OperationResult& result) { return result.failed(); });
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


void RepositoryState::keepRunsFrom(const RepositoryState& earlier) {
    if (!operations[fetchOperation].ran)
        fetchedRefs = earlier.fetchedRefs, fetchedSubjects = earlier.fetchedSubjects;
    if (!operations[pullOperation].ran)
        pulledCommits = earlier.pulledCommits, pulledSubjects = earlier.pulledSubjects;
    if (!operations[submoduleOperation].ran)
        submodulesUpdated = earlier.submodulesUpdated;
    for (int i = 0; i < operationCount; i++)
        if (!operations[i].ran)
            operations[i] = earlier.operations[i];
}
