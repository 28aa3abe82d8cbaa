// The option scan thread: the ticked git commands on every repository, each
// one row of a table, so the five operations are one procedure.
#include <cstring>

#include "exec/Git.h"
#include "log/LogPane.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"

namespace {

enum class Compact { never, whenPrinted, unlessExpected };

struct GitOperation {
    std::atomic<bool> ScanOptions::*enabled;
    const char* commandLine;
    LogPane* pane;
    const char* openingFormat;  // takes the repository path
    const char* errorLabel;
    Compact compact;
    const char* expectedText;    // for Compact::unlessExpected
    const char* compactHeader;   // takes the repository path; also for a failure
    const char* beginText;
    const char* finishText;
};

const GitOperation gitStatus = {&ScanOptions::statusEnabled, git::status, &statusPane, "%s\n", "[ERROR] Status",
                                Compact::unlessExpected, git::cleanTreeText, "git status: %s\n",
                                "Status Scan Beginning ...", "Status Scan Finished !!!"};
const GitOperation gitRemote = {&ScanOptions::remoteEnabled, git::remote, &remotesPane, "%s\n", "[ERROR] Remote",
                                Compact::never, nullptr, "git remote: %s\n",
                                "Remote Scan Beginning ...", "Remote Scan Finished !!!"};
const GitOperation gitFetch = {&ScanOptions::fetchEnabled, git::fetch, &updatesPane, "git fetch: %s\n", "[ERROR] Fetch",
                               Compact::whenPrinted, nullptr, "git fetch: %s\n",
                               "Fetch Scan Beginning ...", "Fetch Scan Finished !!!"};
const GitOperation gitPull = {&ScanOptions::pullEnabled, git::pull, &updatesPane, "git pull: %s\n", "[ERROR] Pull",
                              Compact::unlessExpected, git::upToDateText, "git pull: %s\n",
                              "Pull Scan Beginning ...", "Pull Scan Finished !!!"};
const GitOperation gitSubmoduleUpdate = {&ScanOptions::submoduleEnabled, git::submoduleUpdate, &updatesPane,
                                         "git submodule: %s\n", "[ERROR] SubModule", Compact::whenPrinted, nullptr,
                                         "git submodule: %s\n", "Submodule Scan Beginning ...",
                                         "Submodule Scan Finished !!!"};

// In the order they run on each repository; closing lines go in reverse.
const GitOperation* const operations[] = {&gitStatus, &gitRemote, &gitFetch, &gitPull, &gitSubmoduleUpdate};

bool enabled(const GitOperation& operation) {
    return scanState.options.*operation.enabled;
}

void writeErrorBlock(const GitOperation& operation, const std::string& repository, int32_t result,
                     const std::string& output) {
    logsPane.write(separator);
    logsPane.write("\n");
    logsPane.write(operation.errorLabel);
    logsPane.write("\n");
    logsPane.write("Folder: ");
    logsPane.write(repository);
    logsPane.write("\n");
    logsPane.write("Error Code: ");
    logsPane.write(result);
    logsPane.write("\n");
    logsPane.write(output);
    logsPane.write("\n");
    logsPane.write(separator);
    logsPane.write("\n");
}

bool deservesAttention(const GitOperation& operation, const std::string& output) {
    switch (operation.compact) {
    case Compact::never:
        return false;
    case Compact::whenPrinted:
        return output.size() >= 2;  // one captured character and the closing zero
    case Compact::unlessExpected:
        return !output.empty() && !strstr(output.c_str(), operation.expectedText);
    }
    return false;
}

// The output up to its zero, a line end and the separator line, appended as
// they are: a huge output is never copied into a formatted text first.
void appendBlock(LogPane& pane, const std::string& output) {
    pane.append(output.c_str(), strlen(output.c_str()));
    pane.append("\n", 1);
    pane.append(separatorLine, strlen(separatorLine));
}

void run(const GitOperation& operation, const std::string& repository) {
    if (scanState.abortRequested)
        return;
    LogPane& pane = *operation.pane;
    pane.addLog(operation.openingFormat, repository.c_str());

    std::string output;
    const char* git = scanState.gitProgram.empty() ? nullptr : scanState.gitProgram.c_str();
    int32_t result = runCommand(operation.commandLine, output, repository.c_str(), scanState.currentChildProcess, git);
    // Any exit code but 0 is a failure, git's own 1 and 128 included: Logs and
    // Compacts show it with git's words, whatever the operation's rule.
    bool failed = result != 0;
    if (failed)
        writeErrorBlock(operation, repository, result, output);
    if (failed || deservesAttention(operation, output)) {
        compactPane.addLog(operation.compactHeader, repository.c_str());
        appendBlock(compactPane, output);
    }
    appendBlock(pane, output);
}

}  // namespace

void optionScan(RepositoryList repositories) {
    scanState.optionScanRunning = true;
    scanState.repositoryCount = uint32_t(repositories.size());
    scanState.repositoriesDone = 0;

    for (const GitOperation* operation : operations)
        if (enabled(*operation)) {
            logsPane.write(operation->beginText);
            logsPane.write("\n");
        }

    for (const std::string& repository : repositories) {
        if (scanState.abortRequested)
            break;
        scanState.setRepositoryInHand(repository);
        for (const GitOperation* operation : operations)
            if (enabled(*operation))  // read afresh: a tick during the scan counts
                run(*operation, repository);
        scanState.repositoriesDone++;
    }

    for (int i = std::size(operations) - 1; i >= 0; i--) {
        const GitOperation& operation = *operations[i];
        if (!enabled(operation))
            continue;
        operation.pane->addLog("%s\n", operation.finishText);
        operation.pane->addLog("%s", separatorLine);
        logsPane.write(operation.finishText);
        logsPane.write("\n");
    }

    scanState.setRepositoryInHand({});
    scanState.optionScanRunning = false;
}
