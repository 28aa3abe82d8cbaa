#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "log/LogPane.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"
#include "tests/TestRepos.h"

namespace {

const std::string sep = separatorLine;

class OptionScan : public ::testing::Test {
protected:
    void SetUp() override {
        isolateGit();
        resetScanState();
        scanState.options.fetchEnabled = false;
    }
    TempFolder temp;
};

std::string errorBlock(const std::string& label, const std::string& folder, int code, const std::string& output) {
    return sep + label + "\nFolder: " + folder + "\nError Code: " + std::to_string(code) + "\n" + output + "\n" + sep;
}

TEST_F(OptionScan, StatusCopiesOnlyChangedTreesToCompacts) {
    std::string clean = makeRepository(temp / "clean");
    std::string changed = makeRepository(temp / "changed");
    writeFile(changed + "/file.txt", "edited\n");
    scanState.options.statusEnabled = true;
    optionScan({clean, changed});

    std::string status = statusPane.text();
    EXPECT_EQ(status.find(clean + "\nOn branch main\n"), 0u) << status;
    EXPECT_NE(status.find("nothing to commit, working tree clean\n\n" + sep + changed + "\n"), std::string::npos);
    EXPECT_NE(status.find("modified:   file.txt"), std::string::npos);
    EXPECT_EQ(status.substr(status.size() - 25 - sep.size()), "Status Scan Finished !!!\n" + sep);

    std::string compacts = compactPane.text();
    EXPECT_EQ(compacts.find("git status: " + changed + "\nOn branch main\n"), 0u) << compacts;
    EXPECT_EQ(compacts.find(clean), std::string::npos);
    EXPECT_EQ(occurrences(compacts, sep), 1);
    EXPECT_EQ(logsPane.text(), "Status Scan Beginning ...\nStatus Scan Finished !!!\n");
}

TEST_F(OptionScan, RemotePullAndFetchAgainstAFileRemote) {
    std::string origin = makeRepository(temp / "origin");
    sh("git clone -q 'file://" + origin + "' '" + temp / "clone" + "'");
    std::string clone = temp / "clone";
    writeFile(origin + "/file.txt", "second\n");
    sh("cd '" + origin + "' && git commit -qam second");

    scanState.options.remoteEnabled = true;
    scanState.options.pullEnabled = true;
    optionScan({clone});
    std::string remotes = remotesPane.text();
    EXPECT_EQ(remotes, clone + "\norigin\tfile://" + origin + " (fetch)\norigin\tfile://" + origin + " (push)\n\n" +
                           sep + "Remote Scan Finished !!!\n" + sep);
    std::string compacts = compactPane.text();
    EXPECT_EQ(compacts.find("git pull: " + clone + "\nUpdating "), 0u) << compacts;
    EXPECT_NE(compacts.find("Fast-forward"), std::string::npos);
    EXPECT_EQ(occurrences(compacts, "origin"), 0);  // remotes never reach Compacts

    // Up to date now: the pull goes to Updates only.
    resetScanState();
    scanState.options.fetchEnabled = false;
    scanState.options.pullEnabled = true;
    optionScan({clone});
    EXPECT_EQ(compactPane.text(), "");
    EXPECT_EQ(updatesPane.text(), "git pull: " + clone + "\nAlready up to date.\n\n" + sep +
                                      "Pull Scan Finished !!!\n" + sep);

    // git fetch reports on standard error only, which is not captured: an
    // empty line in Updates and nothing in Compacts.
    writeFile(origin + "/file.txt", "third\n");
    sh("cd '" + origin + "' && git commit -qam third");
    resetScanState();
    optionScan({clone});
    EXPECT_EQ(updatesPane.text(), "git fetch: " + clone + "\n\n" + sep + "Fetch Scan Finished !!!\n" + sep);
    EXPECT_EQ(compactPane.text(), "");
}

TEST_F(OptionScan, SubmoduleUpdateOfAFreshCloneGoesToCompacts) {
    std::string library = makeRepository(temp / "library");
    std::string app = makeRepository(temp / "app");
    sh("cd '" + app + "' && git submodule -q add 'file://" + library + "' lib && git commit -qm lib");
    sh("git clone -q 'file://" + app + "' '" + temp / "copy" + "'");
    scanState.options.submoduleEnabled = true;
    optionScan({temp / "copy"});
    std::string compacts = compactPane.text();
    EXPECT_EQ(compacts.find("git submodule: " + temp / "copy" + "\n"), 0u) << compacts;
    EXPECT_NE(compacts.find("Submodule path 'lib': checked out"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(temp / "copy/lib/file.txt"));
}

TEST_F(OptionScan, EveryOptionInTableOrderRepositoryByRepository) {
    std::string first = makeRepository(temp / "first");
    std::string second = makeRepository(temp / "second");
    scanState.options.statusEnabled = scanState.options.remoteEnabled = true;
    scanState.options.fetchEnabled = scanState.options.pullEnabled = true;
    scanState.options.submoduleEnabled = true;
    optionScan({first, second});

    // No remote: pull fails inside git (exit 1), which is no error block.
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
}

TEST_F(OptionScan, MissingFolderGivesAnErrorBlockAndGitsOwnFailureDoesNot) {
    std::string gone = temp / "gone";
    std::string plain = temp / "plain folder";  // not a repository: git exits 128
    std::filesystem::create_directory(plain);
    scanState.options.statusEnabled = true;
    scanState.options.fetchEnabled = true;
    optionScan({gone, plain});

    std::string logs = logsPane.text();
    EXPECT_NE(logs.find(errorBlock("[ERROR] Status", gone, -62, "")), std::string::npos) << logs;
    EXPECT_NE(logs.find(errorBlock("[ERROR] Fetch", gone, -62, "")), std::string::npos);
    EXPECT_EQ(occurrences(logs, "[ERROR]"), 2);
    EXPECT_EQ(statusPane.text().find(gone + "\n\n" + sep + plain + "\n\n" + sep), 0u) << statusPane.text();
    // git wrote its complaint to standard error: status printed nothing, so
    // the text test alone decides and the empty status is copied.
    EXPECT_EQ(compactPane.text(), "git status: " + plain + "\n\n" + sep);
}

TEST_F(OptionScan, PathsWithBlanksQuotesAndOtherBytesShowUnchanged) {
    std::string odd = makeRepository(temp / "a b 'c' \"d\" $(e) \xc3\xa9\xff");
    scanState.options.remoteEnabled = true;
    optionScan({odd});
    EXPECT_EQ(remotesPane.text(), odd + "\n\n" + sep + "Remote Scan Finished !!!\n" + sep);
}

TEST_F(OptionScan, NothingTickedWritesNothingAndAnEmptyListOnlyTheFrame) {
    optionScan({makeRepository(temp / "repo")});
    for (const PaneTab& tab : paneTabs)
        EXPECT_EQ(tab.pane->text(), "") << tab.label;

    scanState.options.pullEnabled = scanState.options.statusEnabled = true;
    optionScan({});
    EXPECT_EQ(logsPane.text(),
              "Status Scan Beginning ...\nPull Scan Beginning ...\nPull Scan Finished !!!\nStatus Scan Finished !!!\n");
    EXPECT_EQ(updatesPane.text(), "Pull Scan Finished !!!\n" + sep);
    EXPECT_EQ(statusPane.text(), "Status Scan Finished !!!\n" + sep);
}

// A git whose fetch waits: it marks that it started and then waits for the
// file "go" in the folder of the test, or sleeps for long.
const char* waitingGit =
    "if [ \"$1\" = fetch ]; then\n"
    "  touch \"$MARKS/started-$(basename \"$PWD\")\"\n"
    "  echo fetching\n"
    "  i=0; while [ ! -f \"$MARKS/go\" ] && [ $i -lt 3000 ]; do sleep 0.1; i=$((i+1)); done\n"
    "  exit 0\n"
    "fi\n"
    "echo \"stand-in $*\"\n";

void waitFor(const std::string& path) {
    while (!std::filesystem::exists(path))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// Two plain folders scanned with the waiting git first on PATH.
class OptionScanWithWaitingGit : public OptionScan {
protected:
    void SetUp() override {
        OptionScan::SetUp();
        setenv("MARKS", temp.path().c_str(), 1);
        std::filesystem::create_directory(first);
        std::filesystem::create_directory(second);
    }
    StandinGit git{waitingGit};
    std::string first = temp / "first", second = temp / "second";
};

TEST_F(OptionScanWithWaitingGit, StopDuringASlowFetchEndsItWithMinusOneAndStillCloses) {
    scanState.options.fetchEnabled = scanState.options.pullEnabled = true;
    std::thread scan(optionScan, RepositoryList{first, second});
    waitFor(temp / "started-first");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let "fetching" reach the pipe
    scanState.abortRequested = true;
    scanState.currentChildProcess.terminate();
    scan.join();

    std::string logs = logsPane.text();
    EXPECT_NE(logs.find(errorBlock("[ERROR] Fetch", first, -1, "fetching\n")), std::string::npos) << logs;
    EXPECT_NE(logs.find("Pull Scan Finished !!!\nFetch Scan Finished !!!\n"), std::string::npos);
    EXPECT_EQ(updatesPane.text(), "git fetch: " + first + "\nfetching\n\n" + sep + "Pull Scan Finished !!!\n" + sep +
                                      "Fetch Scan Finished !!!\n" + sep);
    EXPECT_FALSE(std::filesystem::exists(temp / "started-second"));
    EXPECT_FALSE(scanState.optionScanRunning);
}

TEST_F(OptionScanWithWaitingGit, TickingAndUntickingDuringTheScanCountsFromTheNextTest) {
    scanState.options.fetchEnabled = true;
    std::thread scan(optionScan, RepositoryList{first, second});
    waitFor(temp / "started-first");
    scanState.options.fetchEnabled = false;
    scanState.options.remoteEnabled = true;
    writeFile(temp / "go", "");
    scan.join();

    EXPECT_EQ(logsPane.text(), "Fetch Scan Beginning ...\nRemote Scan Finished !!!\n");
    EXPECT_EQ(updatesPane.text(), "git fetch: " + first + "\nfetching\n\n" + sep);
    EXPECT_EQ(remotesPane.text(), second + "\nstand-in remote -v\n\n" + sep + "Remote Scan Finished !!!\n" + sep);
    EXPECT_FALSE(std::filesystem::exists(temp / "started-second"));
}

}  // namespace
