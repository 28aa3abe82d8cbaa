// Whole scans in the process: the option scan on a farm of real repositories
// (tests/farm.sh, file:// remotes), and starts and stops with a stand-in
// folder picker and the stand-in git. What each git operation shows in its
// pane, in Compacts, in Logs and in the records; a stop leaves every thread
// ended, every child gone and the closing lines written.
#include <cstring>
#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <thread>

#include <gtest/gtest.h>

#include "log/LogPane.h"
#include "scan/FolderPicker.h"
#include "scan/RepositoryState.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"
#include "tests/TestRepos.h"

// The folder picker of these tests: what the user would choose.
std::function<std::optional<std::string>()> picker;
std::optional<std::string> pickFolder(const std::string&, uintptr_t) { return picker(); }

namespace {

const std::string sep = separatorLine;
using Flag = std::atomic<bool> ScanOptions::*;

std::string errorBlock(const std::string& label, const std::string& folder, int code) {
    return sep + label + "\nFolder: " + folder + "\nError Code: " + std::to_string(code) + "\n";
}

std::vector<RepositoryState> records() {
    uint64_t scan;
    return scanSummary.since(0, scan);
}

struct Operation {
    Flag option;
    LogPane* pane;
    const char* opening;  // before the path in its own pane
    const char* header;   // before the path in Compacts
    const char* label;
} const operations[] = {
    {&ScanOptions::statusEnabled, &statusPane, "", "git status: ", "[ERROR] Status"},
    {&ScanOptions::remoteEnabled, &remotesPane, "", "git remote: ", "[ERROR] Remote"},
    {&ScanOptions::fetchEnabled, &updatesPane, "git fetch: ", "git fetch: ", "[ERROR] Fetch"},
    {&ScanOptions::pullEnabled, &updatesPane, "git pull: ", "git pull: ", "[ERROR] Pull"},
    {&ScanOptions::submoduleEnabled, &updatesPane, "git submodule: ", "git submodule: ", "[ERROR] SubModule"},
};

class Scan : public testing::Test {
protected:
    void SetUp() override {
        resetScanState();
        scanState.options.fetchEnabled = false;
    }
    void TearDown() override { stopScan(); }
    // The farm, copied for this test under a path with blanks, quotes, "$(...)"
    // and bytes that are not UTF-8, all shown as they are.
    std::string farm(const std::string& name = "") {
        std::string folder = temp / "a b 'c' \"d\" $(e) \xc3\xa9\xff";
        if (!std::filesystem::exists(folder))
            copyFarm(folder);
        return folder + "/" + name;
    }
    TempFolder temp;
};

// One operation on one repository: git's own words reach its pane and, when
// it failed or brought something, Compacts; any exit code but 0 also gives an
// error block in Logs.
TEST_F(Scan, GitsOwnWordsReachThePanes) {
    struct Case {
        const char* repository;
        int operation;  // in operations
        int code;
        const char* shown;  // in its own pane, and in Compacts when it goes there
        bool compact;
    } cases[] = {
        {"clean", 0, 0, "nothing to commit, working tree clean", false},
        {"dirty", 0, 0, "Changes to be committed", true},
        {"plain", 0, 128, "fatal: not a git repository", true},
        {"vanished", 0, -62, "[repodeck] The folder could not be entered: No such file or directory\n", true},
        {"clean", 1, 0, " (fetch)\norigin\t", false},
        {"plain", 1, 128, "fatal: not a git repository", true},
        {"behind", 2, 0, "main       -> origin/main", true},
        {"clean", 2, 0, "", false},
        {"badremote", 2, 128, "does not appear to be a git repository", true},
        {"behind", 3, 0, "Fast-forward", true},
        {"clean", 3, 0, "Already up to date.", false},
        {"noupstream", 3, 1, "There is no tracking information", false},  // skipped: no failure
        {"detached", 3, 1, "You are not currently on a branch.", false},
        {"withsub", 4, 0, "Submodule path 'lib': checked out", true},
        {"behind/vendor/x", 3, 128, "fatal: not a git repository", true},  // never the repository above
    };
    std::filesystem::create_directories(farm("behind/vendor/x/.git"));
    for (const Case& c : cases) {
        const Operation& operation = operations[c.operation];
        SCOPED_TRACE(std::string(c.repository) + " " + operation.label);
        std::string path = farm(c.repository);
        resetScanState();
        scanState.options.fetchEnabled = false;
        scanState.options.*operation.option = true;
        optionScan({path});

        std::string own = operation.pane->text(), compacts = compactPane.text(), logs = logsPane.text();
        EXPECT_EQ(own.find(operation.opening + path + "\n"), 0u) << own;
        EXPECT_NE(own.find(c.shown), std::string::npos) << own;
        EXPECT_EQ(compacts.empty(), !c.compact) << compacts;
        if (c.compact) {
            EXPECT_EQ(compacts.find(operation.header + path + "\n"), 0u) << compacts;
            EXPECT_NE(compacts.find(c.shown), std::string::npos) << compacts;
        }
        bool failed = c.code != 0 && c.compact;
        EXPECT_EQ(logs.find(errorBlock(operation.label, path, c.code)) != std::string::npos, failed) << logs;
        EXPECT_EQ(occurrences(logs, "[ERROR]"), failed) << logs;
    }
}

// The record of every repository after a fetch, as both views show it.
TEST_F(Scan, RecordsTellEachRepositorysState) {
    const std::vector<std::vector<std::string>> expected = {
        // repository, branch, upstream, changes, stash, fetch, problem: each a start of the cell
        {"ahead", "main", "origin/main \u21911", "clean", "", "ok", ""},
        {"noupstream", "main", "no upstream", "clean", "", "ok", ""},
        {"localtrack", "topic", "main", "clean", "", "ok", ""},  // FETCH_HEAD is no ref fetched
        {"picking", "main [cherry-pick]", "origin/main \u21912", "clean", "", "ok", ""},
        {"badremote", "main", "origin/main", "clean", "", "failed (128)", "git fetch: fatal: '"},
        {"behind", "main", "origin/main \u21931", "clean", "", "1 ref", ""},
        {"clean", "main", "origin/main", "clean", "", "ok", ""},
        {"conflicted", "main [merge]", "origin/main \u21911", "!1", "", "ok", ""},
        {"detached", "(detached ", "", "clean", "", "ok", ""},
        {"dirty", "main", "origin/main", "+1 ~1 ?1", "", "ok", ""},
        {"gone", "feature", "origin/feature (gone)", "clean", "", "ok", ""},
        {"rebasing", "(detached ", "", "!1", "", "ok", ""},
        {"stash", "main", "origin/main", "clean", "1", "ok", ""},
        {"unborn", "main (unborn)", "", "clean", "", "ok", ""},
        {"vanished", "", "", "", "", "failed (-62)", "git fetch: "},
        {"applying", "main [am]", "origin/main \u21911", "clean", "", "ok", ""},
    };
    RepositoryList list;
    for (const auto& row : expected)
        list.push_back(farm(row[0]));
    scanState.options.fetchEnabled = true;
    optionScan(list);
    std::vector<RepositoryState> found = records();
    ASSERT_EQ(found.size(), expected.size());
    const SummaryColumn columns[] = {branchColumn, upstreamColumn, changesColumn, stashColumn, fetchColumn,
                                     problemColumn};
    for (size_t i = 0; i < found.size(); i++) {
        EXPECT_EQ(found[i].path, farm(expected[i][0]));
        for (size_t c = 0; c < std::size(columns); c++)
            EXPECT_EQ(summaryCell(found[i], columns[c]).rfind(expected[i][c + 1], 0), 0u)
                << expected[i][0] << ", " << summaryColumnNames[columns[c]] << ": " << summaryCell(found[i], columns[c]);
        bool quiet = expected[i][0] == "clean" || expected[i][0] == "detached" || expected[i][0] == "unborn" ||
                     expected[i][0] == "localtrack";
        EXPECT_EQ(found[i].needsAttention(), !quiet) << expected[i][0];
    }
    EXPECT_EQ(found[11].inProgress, "rebase");
    EXPECT_EQ(found[14].problem, "The folder could not be entered: No such file or directory");
    EXPECT_EQ(found[0].commit.size(), 12u) << "git's abbreviation, core.abbrev there";
    EXPECT_TRUE(found[0].head.size() == 40 && found[0].head.starts_with(found[0].commit)) << found[0].head;

    // A pull that brought commits counts them from the head before and after;
    // one with nothing to pull from is skipped, no failure.
    scanState.options.fetchEnabled = false;
    scanState.options.pullEnabled = true;
    optionScan({farm("behind"), farm("noupstream"), farm("detached")});
    for (size_t i = 0; i < 3; i++)
        EXPECT_EQ(summaryCell(records().at(i), pullColumn) + (records()[i].failed() ? " failed" : ""),
                  i == 0 ? "1 commit" : "skipped");

    // git's warnings share the pipe with its entries: they hide no state.
    RepositoryState state;
    EXPECT_TRUE(readSummary("warning: could not open directory 'x/'\n# branch.oid abc\n# branch.head main\n? y\n"
                            "1 A. N... x\n1 AM N... z\n", state));
    EXPECT_EQ(state.branch + " +" + std::to_string(state.staged) + " ~" + std::to_string(state.changed), "main +2 ~1");
}

// Every option, by one worker and by several, each on a copy of the farm:
// every pane reads the same, byte for byte, failures and a vanished folder
// included; each repository's operations in table order, the scans opened in
// that order and closed in the reverse.
TEST_F(Scan, ManyJobsWriteWhatOneJobWrites) {
    std::string texts[2];
    for (int run = 0; run < 2; run++) {
        std::string copy = temp / ("copy" + std::to_string(run));
        copyFarm(copy);
        RepositoryList list;
        for (const char* name : {"behind", "dirty", "badremote", "vanished", "noupstream", "withsub", "clean", "plain"})
            list.push_back(copy + "/" + name);
        resetScanState();
        for (const Operation& operation : operations)
            scanState.options.*operation.option = true;
        scanState.jobs = run == 0 ? 1 : 4;
        optionScan(list);
        for (const PaneTab& tab : paneTabs)
            texts[run] += tab.pane->text();
        for (const RepositoryState& record : records())
            texts[run] += summaryCell(record, changesColumn) + summaryCell(record, pullColumn) + "\n";
        for (size_t at; (at = texts[run].find(copy)) != std::string::npos;)
            texts[run].replace(at, copy.size(), "COPY");
    }
    EXPECT_EQ(texts[0], texts[1]);
    const std::string& one = texts[0];
    EXPECT_TRUE(one.starts_with("Status Scan Beginning ...\nRemote Scan Beginning ...\nFetch Scan Beginning ...\n"
                                "Pull Scan Beginning ...\nSubmodule Scan Beginning ...\n")) << one;
    EXPECT_NE(one.find("Submodule Scan Finished !!!\nPull Scan Finished !!!\nFetch Scan Finished !!!\n"
                       "Remote Scan Finished !!!\nStatus Scan Finished !!!\n"), std::string::npos) << one;
    size_t a = one.find("git fetch: COPY/behind\n"), b = one.find("git pull: COPY/behind\n");
    size_t c = one.find("git submodule: COPY/behind\n"), d = one.find("git fetch: COPY/dirty\n");
    EXPECT_TRUE(a < b && b < c && c < d && d != std::string::npos) << one;
}

// The stand-in git: plain folders whose fetch waits until the test lets it go.
class ScanWithWaitingGit : public Scan {
protected:
    void SetUp() override {
        Scan::SetUp();
        picker = [this] { return std::optional<std::string>(temp.path()); };
        for (const std::string& folder : {first, second})
            std::filesystem::create_directories(folder + "/.git");
        fake.script("fetch", "touch started\nprint fetching\\n\nawait " + fake.file("go") + "\n");
    }
    FakeGit fake;
    std::string first = temp / "first", second = temp / "second";
};

// A stop while four workers wait in git: every child ends at once, each
// repository in hand writes its [STOPPED] block and its lines, no other
// begins and each of those gets its row, every scan thread ends with its
// closing lines, and Logs says once that the scan was stopped.
TEST_F(ScanWithWaitingGit, StopEndsEveryChildAndEveryThreadWithItsClosingLines) {
    std::vector<std::string> inHand = {first, temp / "r0", temp / "r1", temp / "r2"};  // the first four in walk order
    for (const std::string& folder : {inHand[1], inHand[2], inHand[3], temp / "r3"})
        std::filesystem::create_directories(folder + "/.git");
    scanState.options.fetchEnabled = scanState.options.pullEnabled = scanState.options.readmeEnabled = true;
    scanState.jobs = 4;
    scanFolder();
    for (const std::string& repository : inHand)
        ASSERT_TRUE(waitForFile(repository + "/started"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let "fetching" reach the pipes
    stopScan();
    EXPECT_FALSE(scanState.mainScanThread.joinable() || scanState.optionScanThread.joinable() ||
                 scanState.readmeScanThread.joinable() || scanState.busy() || scanState.childRunning());
    EXPECT_TRUE(waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD) << "a child was left";
    std::string logs = logsPane.text(), updates, stopped = "fetching\n[repodeck] Stopped.\n\n" + sep;
    for (const std::string& repository : inHand) {
        EXPECT_NE(logs.find(sep + "[STOPPED] Fetch\nFolder: " + repository + "\n" + stopped), std::string::npos);
        updates += "git fetch: " + repository + "\n" + stopped;
    }
    EXPECT_EQ(occurrences(logs, "[ERROR]"), 0) << logs;
    std::string rows;
    for (const RepositoryState& row : records())
        rows += summaryCell(row, fetchColumn) + "/" + summaryCell(row, problemColumn) + (row.failed() ? "!" : "") + " ";
    EXPECT_EQ(rows, "stopped/stopped stopped/stopped stopped/stopped stopped/stopped /not reached /not reached ");
    EXPECT_NE(logs.find("Pull Scan Finished !!!\nFetch Scan Finished !!!\n"), std::string::npos) << logs;
    EXPECT_NE(logs.find("ReadMe Scan Finished !!!\n"), std::string::npos) << logs;
    EXPECT_EQ(occurrences(logs, "Scan Stopped !!!\n"), 1) << logs;
    EXPECT_EQ(updatesPane.text(), updates + "Pull Scan Finished !!!\n" + sep + "Fetch Scan Finished !!!\n" + sep);
    EXPECT_FALSE(std::filesystem::exists(temp / "r3/started") || std::filesystem::exists(second + "/started"));
}

TEST_F(ScanWithWaitingGit, ScanFolderStopsTheRunningScanBeforeThePickerOpens) {
    scanState.options.fetchEnabled = true;
    scanFolder();
    ASSERT_TRUE(waitForFile(first + "/started"));
    bool busyWhenPicking = true;
    picker = [&] {
        busyWhenPicking = scanState.busy() || scanState.optionScanThread.joinable() || scanState.childRunning();
        return std::optional<std::string>();  // cancelled
    };
    scanFolder();
    EXPECT_FALSE(busyWhenPicking);
    EXPECT_EQ(scanState.scanPath[0], '\0');
    EXPECT_FALSE(scanState.abortRequested);  // cleared for the scan that was not started

    // A path too long for the scan starts nothing.
    picker = [] { return std::optional<std::string>("/" + std::string(1100, 'x')); };
    scanFolder();
    EXPECT_FALSE(scanState.mainScanThread.joinable());
    EXPECT_NE(logsPane.text().find("too long to scan (1101 bytes): /xx"), std::string::npos);

    // A stop during the walk says so, not that there is nothing.
    resetScanState();
    strcpy(scanState.scanPath, temp.path().c_str());
    scanState.abortRequested = true;
    mainScan();
    EXPECT_EQ(logsPane.text(), sep + "Main Scan Stopped !!!\nRepositories Found Before The Stop: 0\n" + sep);
}

}  // namespace
