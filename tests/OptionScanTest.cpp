// The option scan on a farm of real repositories (tests/farm.sh) with file://
// remotes: what each git operation shows in its pane, in Compacts and in Logs.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "log/LogPane.h"
#include "scan/RepositoryState.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"
#include "tests/TestRepos.h"

namespace {

const std::string sep = separatorLine;

bool noChildLeft() {
    return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}
using Flag = std::atomic<bool> ScanOptions::*;

class OptionScan : public testing::Test {
protected:
    void SetUp() override {
        copyFarm(farm);
        resetScanState();
        scanState.options.fetchEnabled = false;
    }
    std::string repository(const std::string& name) const { return farm + "/" + name; }

    TempFolder temp;
    // Blanks, quotes, "$(...)" and bytes that are not UTF-8: shown as they are.
    std::string farm = temp / "a b 'c' \"d\" $(e) \xc3\xa9\xff";
};

std::string errorBlock(const std::string& label, const std::string& folder, int code) {
    return sep + label + "\nFolder: " + folder + "\nError Code: " + std::to_string(code) + "\n";
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

// One operation on one repository: git's own words reach its pane and, when
// it failed or brought something, Compacts; any exit code but 0 also gives an
// error block in Logs.
TEST_F(OptionScan, GitsOwnWordsReachThePanes) {
    struct Case {
        const char* repository;
        int operation;  // index in operations
        int code;
        const char* shown;  // in its own pane, and in Compacts when it goes there
        bool compact;
    } cases[] = {
        {"clean", 0, 0, "nothing to commit, working tree clean", false},
        {"dirty", 0, 0, "Changes to be committed", true},
        {"plain", 0, 128, "fatal: not a git repository", true},
        {"vanished", 0, -62, "", true},
        {"clean", 1, 0, " (fetch)\norigin\t", false},
        {"plain", 1, 128, "fatal: not a git repository", true},
        {"behind", 2, 0, "main       -> origin/main", true},
        {"clean", 2, 0, "", false},
        {"badremote", 2, 128, "does not appear to be a git repository", true},
        {"behind", 3, 0, "Fast-forward", true},
        {"clean", 3, 0, "Already up to date.", false},
        {"noupstream", 3, 1, "There is no tracking information", true},
        {"withsub", 4, 0, "Submodule path 'lib': checked out", true},
    };
    for (const Case& c : cases) {
        const Operation& operation = operations[c.operation];
        SCOPED_TRACE(std::string(c.repository) + " " + operation.label);
        resetScanState();
        scanState.options.fetchEnabled = false;
        scanState.options.*operation.option = true;
        std::string path = repository(c.repository);
        optionScan({path});

        std::string own = operation.pane->text();
        EXPECT_EQ(own.find(operation.opening + path + "\n"), 0u) << own;
        EXPECT_NE(own.find(c.shown), std::string::npos) << own;
        std::string compacts = compactPane.text();
        if (c.compact) {
            EXPECT_EQ(compacts.find(operation.header + path + "\n"), 0u) << compacts;
            EXPECT_NE(compacts.find(c.shown), std::string::npos) << compacts;
        } else {
            EXPECT_EQ(compacts, "");
        }
        std::string logs = logsPane.text();
        EXPECT_EQ(logs.find(errorBlock(operation.label, path, c.code)) != std::string::npos, c.code != 0) << logs;
        EXPECT_EQ(occurrences(logs, "[ERROR]"), c.code != 0) << logs;
    }
}

// The record of every repository of the farm after a fetch, as both views
// show it: branch, upstream, changes, stash, fetch and problem.
TEST_F(OptionScan, RecordsTellEachRepositorysState) {
    const std::vector<std::vector<std::string>> expected = {
        {"ahead", "main", "origin/main \u21911", "clean", "", "ok", ""},
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
        {"plain", "", "", "", "", "failed (128)", "git fetch: fatal: not a git repository"},
    };
    RepositoryList list;
    for (const auto& row : expected)
        list.push_back(repository(row[0]));
    scanState.options.fetchEnabled = true;
    optionScan(list);
    uint64_t scan;
    std::vector<RepositoryState> records = scanSummary.since(0, scan);
    ASSERT_EQ(records.size(), expected.size());
    const SummaryColumn columns[] = {branchColumn, upstreamColumn, changesColumn, stashColumn, fetchColumn,
                                     problemColumn};
    for (size_t i = 0; i < records.size(); i++) {
        EXPECT_EQ(records[i].path, repository(expected[i][0]));
        for (size_t c = 0; c < std::size(columns); c++)
            EXPECT_EQ(summaryCell(records[i], columns[c]).rfind(expected[i][c + 1], 0), 0u)
                << expected[i][0] << " " << summaryColumnNames[columns[c]] << ": " << summaryCell(records[i], columns[c]);
        bool quiet = expected[i][0] == "clean" || expected[i][0] == "detached" || expected[i][0] == "unborn";
        EXPECT_EQ(records[i].needsAttention(), !quiet) << expected[i][0];
    }
    EXPECT_EQ(records[6].inProgress, "");  // only the files of an operation under way count
    EXPECT_EQ(records[8].inProgress, "rebase");
    EXPECT_EQ(records[11].problem, "the folder cannot be entered");

    // A pull that brought commits counts them from the head before and after.
    resetScanState();
    scanState.options.fetchEnabled = false;
    scanState.options.pullEnabled = true;
    optionScan({repository("behind")});
    EXPECT_EQ(summaryCell(scanSummary.since(0, scan).at(0), pullColumn), "1 commit");
}

TEST_F(OptionScan, EveryOptionInTableOrderRepositoryByRepository) {
    for (const Operation& operation : operations)
        scanState.options.*operation.option = true;
    std::string first = repository("clean"), second = repository("ahead");
    optionScan({first, second});

    EXPECT_EQ(logsPane.text(),
              "Status Scan Beginning ...\nRemote Scan Beginning ...\nFetch Scan Beginning ...\n"
              "Pull Scan Beginning ...\nSubmodule Scan Beginning ...\n"
              "Submodule Scan Finished !!!\nPull Scan Finished !!!\nFetch Scan Finished !!!\n"
              "Remote Scan Finished !!!\nStatus Scan Finished !!!\n");
    std::string updates = updatesPane.text();
    size_t a = updates.find("git fetch: " + first), b = updates.find("git pull: " + first);
    size_t c = updates.find("git submodule: " + first), d = updates.find("git fetch: " + second);
    EXPECT_TRUE(a < b && b < c && c < d && d != std::string::npos) << updates;
    EXPECT_TRUE(updates.ends_with(sep + "Submodule Scan Finished !!!\n" + sep + "Pull Scan Finished !!!\n" + sep +
                                  "Fetch Scan Finished !!!\n" + sep));
    EXPECT_TRUE(statusPane.text().ends_with("Status Scan Finished !!!\n" + sep));

    // Nothing ticked writes nothing; an empty list only the opening and closing lines.
    resetScanState();
    scanState.options.fetchEnabled = false;
    optionScan({first});
    for (const PaneTab& tab : paneTabs)
        EXPECT_EQ(tab.pane->text(), "") << tab.label;
    scanState.options.pullEnabled = true;
    optionScan({});
    EXPECT_EQ(logsPane.text(), "Pull Scan Beginning ...\nPull Scan Finished !!!\n");
    EXPECT_EQ(updatesPane.text(), "Pull Scan Finished !!!\n" + sep);
}

// git runs with LC_ALL=C, so a user's language does not hide a clean tree.
TEST_F(OptionScan, TranslatedGitStillMatchesTheTexts) {
    setenv("LANGUAGE", "de", 1);
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    scanState.options.statusEnabled = scanState.options.pullEnabled = true;
    optionScan({repository("clean")});
    unsetenv("LANGUAGE");
    unsetenv("LC_ALL");
    EXPECT_EQ(compactPane.text(), "");
    EXPECT_NE(statusPane.text().find("nothing to commit"), std::string::npos);
}

// A repository holding a program named git, with the current folder on the
// search path by an empty and a relative entry: only the real git runs.
TEST_F(OptionScan, GitInsideARepositoryNeverRuns) {
    std::string trap = repository("clean") + "/git";
    writeFile(trap, "#!/bin/sh\ntouch \"$0.ran\"\necho trapped\n");
    std::filesystem::permissions(trap, std::filesystem::perms::owner_all);
    std::string saved = getenv("PATH");
    setenv("PATH", (":.:" + saved).c_str(), 1);
    scanState.options.statusEnabled = true;
    optionScan({repository("clean")});
    setenv("PATH", saved.c_str(), 1);
    EXPECT_FALSE(std::filesystem::exists(trap + ".ran"));
    EXPECT_NE(statusPane.text().find("On branch main"), std::string::npos);
}

// Several workers at once, on two copies of the farm: every pane reads the
// same as with one, byte for byte, failures and a vanished folder included.
TEST_F(OptionScan, ManyJobsWriteWhatOneJobWrites) {
    std::string texts[2];
    std::vector<RepositoryState> records[2];
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
        uint64_t scan;
        records[run] = scanSummary.since(0, scan);
        size_t at;
        while ((at = texts[run].find(copy)) != std::string::npos)
            texts[run].replace(at, copy.size(), "COPY");
    }
    EXPECT_EQ(texts[0], texts[1]);
    ASSERT_EQ(records[1].size(), 8u);
    for (size_t i = 0; i < 8; i++)
        EXPECT_EQ(summaryCell(records[0][i], changesColumn) + summaryCell(records[0][i], pullColumn),
                  summaryCell(records[1][i], changesColumn) + summaryCell(records[1][i], pullColumn));
}

// A fetch that waits until the test lets it go, on two plain folders.
class OptionScanWithWaitingGit : public testing::Test {
protected:
    void SetUp() override {
        resetScanState();
        fake.script("fetch", "touch " + fake.file("started") + "\nprint fetching\\n\nawait " + fake.file("go") + "\n");
        fake.script("remote", "print stand-in remote\\n\n");
        std::filesystem::create_directories(first);
        std::filesystem::create_directories(second);
    }
    TempFolder temp;
    FakeGit fake;
    std::string first = temp / "first", second = temp / "second";
};

TEST_F(OptionScanWithWaitingGit, StopDuringASlowFetchEndsItWithMinusOneAndStillCloses) {
    scanState.options.fetchEnabled = scanState.options.pullEnabled = true;
    std::thread scan(optionScan, RepositoryList{first, second});
    ASSERT_TRUE(waitForFile(fake.file("started")));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let "fetching" reach the pipe
    requestStop();
    scan.join();

    std::string logs = logsPane.text();
    EXPECT_NE(logs.find(errorBlock("[ERROR] Fetch", first, -1) + "fetching\n\n" + sep), std::string::npos) << logs;
    EXPECT_NE(logs.find("Pull Scan Finished !!!\nFetch Scan Finished !!!\n"), std::string::npos);
    EXPECT_EQ(updatesPane.text(), "git fetch: " + first + "\nfetching\n\n" + sep + "Pull Scan Finished !!!\n" + sep +
                                      "Fetch Scan Finished !!!\n" + sep);
    EXPECT_EQ(occurrences(compactPane.text(), "git fetch: "), 1);
    EXPECT_FALSE(scanState.optionScanRunning);
}

TEST_F(OptionScanWithWaitingGit, TickingAndUntickingDuringTheScanCountsFromTheNextTest) {
    scanState.options.fetchEnabled = true;
    std::thread scan(optionScan, RepositoryList{first, second});
    ASSERT_TRUE(waitForFile(fake.file("started")));
    scanState.options.fetchEnabled = false;
    scanState.options.remoteEnabled = true;
    writeFile(fake.file("go"), "");
    scan.join();

    EXPECT_EQ(logsPane.text(), "Fetch Scan Beginning ...\nRemote Scan Finished !!!\n");
    EXPECT_EQ(updatesPane.text(), "git fetch: " + first + "\nfetching\n\n" + sep);
    EXPECT_EQ(remotesPane.text(), second + "\nstand-in remote\n\n" + sep + "Remote Scan Finished !!!\n" + sep);
}

// Three workers: the first repository's fetch waits, the other two are done
// meanwhile, but their text waits in turn; then all of it comes in order.
TEST_F(OptionScanWithWaitingGit, SlowRepositoryHoldsBackLaterTextButNotTheirWork) {
    std::string third = temp / "third";
    std::filesystem::create_directories(third);
    for (const std::string& quick : {second, third})
        writeFile(quick + "/.fakegit-fetch", "print quick\\n\ntouch " + quick + "/done\n");
    scanState.options.fetchEnabled = true;
    scanState.jobs = 3;
    std::thread scan(optionScan, RepositoryList{first, second, third});
    ASSERT_TRUE(waitForFile(second + "/done") && waitForFile(third + "/done"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(updatesPane.text(), "git fetch: " + first + "\n") << "later text held back";
    writeFile(fake.file("go"), "");
    scan.join();
    EXPECT_EQ(updatesPane.text(), "git fetch: " + first + "\nfetching\n\n" + sep + "git fetch: " + second +
                                      "\nquick\n\n" + sep + "git fetch: " + third + "\nquick\n\n" + sep +
                                      "Fetch Scan Finished !!!\n" + sep);
}

// A stop while four workers wait in git: each child ends at once, each
// repository in hand writes its -1 block, no other repository begins.
TEST_F(OptionScanWithWaitingGit, StopEndsEveryWorkersChild) {
    RepositoryList list;
    for (int i = 0; i < 6; i++) {
        list.push_back(temp / ("r" + std::to_string(i)));
        std::filesystem::create_directories(list.back());
        writeFile(list.back() + "/.fakegit-fetch", "touch started\nawait " + fake.file("go") + "\n");
    }
    scanState.options.fetchEnabled = true;
    scanState.jobs = 4;
    std::thread scan(optionScan, list);
    auto it = list.begin();
    for (int i = 0; i < 4; i++, ++it)
        ASSERT_TRUE(waitForFile(*it + "/started"));
    requestStop();
    scan.join();
    std::string logs = logsPane.text();
    EXPECT_EQ(occurrences(logs, "Error Code: -1\n"), 4) << logs;
    EXPECT_TRUE(logs.ends_with("Fetch Scan Finished !!!\n"));
    EXPECT_FALSE(std::filesystem::exists(list.back() + "/started"));
    EXPECT_FALSE(scanState.childRunning());
    EXPECT_TRUE(noChildLeft());
}

}  // namespace
