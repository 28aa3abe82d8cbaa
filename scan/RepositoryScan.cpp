#include "scan/RepositoryScan.h"

#include <chrono>
#include <cstring>
#include <new>
#include <string_view>

#include "exec/Git.h"
#include "scan/GitFolder.h"
#include "scan/GitOutput.h"

namespace {

enum class Compact { never, whenPrinted, unlessExpected };

struct GitOperation {
    bool ScanOptions::*enabled;
    Operation operation;
    const char* commandLine;
    Pane pane;
    const char* opening;  // before the repository path, in its pane
    const char* errorLabel;
    Compact compact;
    const char* expectedText;  // for Compact::unlessExpected
    const char* compactHeader;  // before the repository path, in Compacts; also for a failure
    const char* beginText;
    const char* finishText;
};

// In the order they run on each repository; closing lines go in reverse.
const GitOperation operations[] = {
    {&ScanOptions::statusEnabled, statusOperation, git::status, Pane::status, "", "[ERROR] Status",
     Compact::unlessExpected, git::cleanTreeText, "git status: ", "Status Scan Beginning ...",
     "Status Scan Finished !!!"},
    {&ScanOptions::remoteEnabled, remoteOperation, git::remote, Pane::remotes, "", "[ERROR] Remote", Compact::never,
     nullptr, "git remote: ", "Remote Scan Beginning ...", "Remote Scan Finished !!!"},
    {&ScanOptions::fetchEnabled, fetchOperation, git::fetch, Pane::updates, "git fetch: ", "[ERROR] Fetch",
     Compact::whenPrinted, nullptr, "git fetch: ", "Fetch Scan Beginning ...", "Fetch Scan Finished !!!"},
    {&ScanOptions::pullEnabled, pullOperation, git::pull, Pane::updates, "git pull: ", "[ERROR] Pull",
     Compact::unlessExpected, git::upToDateText, "git pull: ", "Pull Scan Beginning ...", "Pull Scan Finished !!!"},
    {&ScanOptions::submoduleEnabled, submoduleOperation, git::submoduleUpdate, Pane::updates, "git submodule: ",
     "[ERROR] SubModule", Compact::whenPrinted, nullptr, "git submodule: ", "Submodule Scan Beginning ...",
     "Submodule Scan Finished !!!"},
};
static_assert(std::size(operations) == operationCount);

// One repository's git children, in one slot.
struct Job {
    Work& work;
    const RunContext& run;
    ChildSlot& slot;

    int32_t git(const std::string& commandLine, std::string& output) {
        const std::string& program = run.session.program;
        std::string report;  // the runner's word on a child whose end it could not learn
        int32_t result = runCommand(commandLine.c_str(), output, work.git.folder.c_str(), slot,
                                    program.empty() ? nullptr : program.c_str(), &work.git.settings, &report);
        if (!report.empty())
            write(Pane::logs, report);
        return result;
    }
    void write(Pane pane, std::string_view text) { run.order.write(work, pane, text); }
};

bool deservesAttention(const GitOperation& operation, const std::string& output) {
    switch (operation.compact) {
    case Compact::never:
        return false;
    case Compact::whenPrinted:
        return !output.empty() && output[0] != '\0';
    case Compact::unlessExpected:
        return !output.empty() && !strstr(output.c_str(), operation.expectedText);
    }
    return false;
}

// The commits of ranges (git's "a..b" and "a...b"), newest first: how many,
// and the first few as "abbreviation subject" for the row's tooltip.
int commitsIn(const std::string& ranges, std::vector<std::string>& subjects, Job& job) {
    constexpr size_t subjectsKept = 10;
    std::string output;
    if (ranges.empty() || job.git("git log --no-decorate --no-show-signature --format=%h%x20%s " + ranges, output) != 0)
        return 0;
    int count = 0;
    forEachLine(output, [&](std::string_view line) {
        if (count++ < int(subjectsKept))
            subjects.emplace_back(line);
        return true;
    });
    return count;
}

// A long output shows whole in its own pane only: where it shows again
// (Logs, Compacts), its start and a line saying where the rest is, so a flood
// is kept once. Whole where its own pane keeps nothing (repodeck-scan
// printing other panes).
constexpr size_t excerptLength = 64 << 10;

void writeOutput(Job& job, Pane to, const GitOperation& operation, const std::string& output) {
    bool excerpt = to != operation.pane && job.run.sink.keeps(operation.pane) && output.size() - 1 > excerptLength;
    job.write(to, std::string_view(output.c_str(), excerpt ? excerptLength : output.size() - 1));
    std::string note = excerpt ? "\n[repodeck] " + std::to_string(output.size() - 1 - excerptLength) +
                                     " more bytes of this output are in " + paneNames[int(operation.pane)] + "."
                               : "";
    job.write(to, note + "\n" + separatorLine);
}

// What the record keeps of one command's run.
void record(const GitOperation& operation, int32_t result, const std::string& output, const std::string& headBefore,
            Job& job) {
    RepositoryState& state = job.work.state;
    Operation which = operation.operation;
    bool network = which == fetchOperation || which == pullOperation || which == submoduleOperation;
    state.operations[which] = {true, result, messageOf(output, result),
                               which == pullOperation && result == 1 && nothingToPullFrom(output),
                               result > 0 && network && wantsCredentials(output),
                               result > 0 && network && hostUnreachable(output)};
    if (!job.run.options.summaryEnabled || result != 0)
        return;
    if (which == fetchOperation)
        commitsIn(readFetchReport(output, state), state.fetchedSubjects, job);
    if (which == pullOperation) {  // counted only when it moved the head
        std::string after = readHead(job.work.git.gitFolder, job.work.git.commonFolder);
        if (!headBefore.empty() && !after.empty() && headBefore != after)
            state.pulledCommits = commitsIn(headBefore + ".." + after, state.pulledSubjects, job);
    }
    if (which == submoduleOperation)
        state.submodulesUpdated = countSubmoduleLines(output);
}

void run(const GitOperation& operation, Job& job) {
    if (job.run.stop)
        return;
    const RepositoryGit& git = job.work.git;
    const std::string& repository = job.work.state.path;
    job.write(operation.pane, operation.opening + repository + "\n");

    bool pull = operation.operation == pullOperation;
    std::string headBefore = job.run.options.summaryEnabled && pull ? readHead(git.gitFolder, git.commonFolder) : "";
    bool fetching = operation.operation == fetchOperation || pull;
    std::string output;
    int32_t result = job.git(operation.commandLine + (fetching ? git.uploadPackArgument : ""), output);
    record(operation, result, output, headBefore, job);
    const OperationResult& recorded = job.work.state.operations[operation.operation];

    // Any exit code but 0 is a failure, git's own 1 and 128 included: Logs and
    // Compacts show it with git's words, whatever the operation's rule. A stop
    // is none (Logs says so), nor is a pull with nothing to pull from.
    bool stopped = result == stoppedResult, failed = result != 0 && !stopped && !recorded.skipped;
    if (failed || stopped) {
        std::string label = failed ? operation.errorLabel : std::string("[STOPPED]") + (operation.errorLabel + 7);
        job.write(Pane::logs, separator + std::string("\n") + label + "\nFolder: " + repository +
                                  (failed ? "\nError Code: " + std::to_string(result) : std::string()) + "\n");
        writeOutput(job, Pane::logs, operation, output);
    }
    if (failed || (result == 0 && deservesAttention(operation, output))) {
        const char* why = recorded.needsCredentials ? "needs credentials: " : "";
        job.write(Pane::compacts, operation.compactHeader + (why + repository) + "\n");
        writeOutput(job, Pane::compacts, operation, output);
    }
    writeOutput(job, operation.pane, operation, output);
}

// The state after the operations, for the record.
void summarize(Job& job) {
    RepositoryState& state = job.work.state;
    std::string output;
    int32_t result = job.git(git::summary, output);
    if (result != 0) {
        state.problem = messageOf(output, result);
        if (state.problem.empty())
            state.problem = "git status ended with " + std::to_string(result);
    } else if (readSummary(output, state)) {
        state.inProgress = operationInProgress(job.work.git.gitFolder);
        // git's own abbreviation, unique in the repository.
        if (!state.head.empty() && job.git(std::string(git::shortCommit) + " " + state.head, output) == 0 &&
            firstLine(output).size() >= 4 && state.head.starts_with(firstLine(output)))
            state.commit = firstLine(output);
    }
}

}  // namespace

void scanRepository(Work& work, const RunContext& run, ChildSlot& slot) {
    Job job{work, run, slot};
    RepositoryState& state = work.state;
    // Before anything is read: a change after this may not be in the record.
    state.checkedAt = std::chrono::system_clock::now();
    try {
        work.git = prepareRepository(run.session, run.root, state.path, slot);
        work.git.settings.runLimitSeconds = run.options.timeoutSeconds;
        state.trust = work.git.neutralised;
        if (!work.git.neutralised.empty()) {
            std::string list;
            for (const std::string& item : work.git.neutralised)
                list += (list.empty() ? "" : "; ") + item;
            job.write(Pane::logs, "Programs Not Run: " + state.path + ": " + list + "\n");
        }
        if (!work.git.problem.empty()) {
            state.problem = work.git.problem;
            job.write(Pane::logs, "Repository Not Scanned: " + state.path + ": " + work.git.problem + "\n");
        } else {
            for (const GitOperation& operation : operations)
                if (run.options.*operation.enabled)
                    ::run(operation, job);
            if (run.options.summaryEnabled && !run.stop)
                summarize(job);
        }
    } catch (const std::bad_alloc&) {
        job.write(Pane::logs, InOrder::outOfMemoryLine);
        state.problem = "out of memory";  // short enough to need none
    }
    if (run.stop && !state.summarized && state.problem.empty())
        state.stop = "stopped";
}

bool ScanOptions::*optionOf(Operation operation) { return operations[operation].enabled; }

void writeBeginLines(const ScanOptions& options, ScanSink& sink) {
    for (const GitOperation& operation : operations)
        if (options.*operation.enabled)
            sink.text(Pane::logs, std::string(operation.beginText) + "\n");
}

void writeFinishLines(const ScanOptions& options, ScanSink& sink) {
    for (int i = operationCount - 1; i >= 0; i--) {
        const GitOperation& operation = operations[i];
        if (!(options.*operation.enabled))
            continue;
        sink.text(operation.pane, std::string(operation.finishText) + "\n" + separatorLine);
        sink.text(Pane::logs, std::string(operation.finishText) + "\n");
    }
}
