#include <filesystem>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "log/LogPane.h"
#include "scan/FolderPicker.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"
#include "tests/TestRepos.h"

// The folder picker of these tests: what the user would choose.
std::function<std::optional<std::string>()> picker;
std::optional<std::string> pickFolder() {
    return picker();
}

namespace {

const std::string sep = separatorLine;

class Scan : public ::testing::Test {
protected:
    void SetUp() override {
        isolateGit();
        resetScanState();
    }
    void TearDown() override { stopScan(); }

    // What stopScan leaves behind, whatever the scan was doing.
    static void expectStopped() {
        EXPECT_FALSE(scanState.mainScanThread.joinable());
        EXPECT_FALSE(scanState.optionScanThread.joinable());
        EXPECT_FALSE(scanState.readmeScanThread.joinable());
        EXPECT_FALSE(scanState.busy());
        EXPECT_FALSE(scanState.currentChildProcess.holdsChild());
        EXPECT_TRUE(scanState.abortRequested);
    }
    // Runs a whole scan of folder to its end; true when the main scan thread
    // started the option scan.
    static bool scanToEnd(const std::string& folder) {
        picker = [&] { return std::optional<std::string>(folder); };
        scanFolder();
        scanState.mainScanThread.join();
        bool optionScanStarted = scanState.optionScanThread.joinable();
        waitForScan();
        return optionScanStarted;
    }
    TempFolder temp;
};

TEST_F(Scan, FolderWithoutRepositoriesStillChecksGitAndRunsTheWorkers) {
    scanToEnd(temp.path());
    std::string logs = logsPane.text();
    EXPECT_EQ(logs.find("Path to Scan: " + temp.path() + "\n" + sep + "Main Scan Finished !!!\nRepository Count: 0\n" +
                        sep + "Git Version: git version "),
              0u)
        << logs;
    EXPECT_NE(logs.find("Fetch Scan Beginning ...\n"), std::string::npos);
    EXPECT_NE(logs.find("Fetch Scan Finished !!!\n"), std::string::npos);
    EXPECT_EQ(reposPane.text(), sep + "Repository Count: 0\n" + sep);
}

TEST_F(Scan, FindsRepositoriesAndHandsEachWorkerTheList) {
    std::string one = makeRepository(temp / "one");
    scanState.options.fetchEnabled = false;
    scanState.options.statusEnabled = true;
    scanState.options.readmeEnabled = true;
    writeFile(one + "/README.md", "hello\n");
    scanToEnd(temp.path());
    EXPECT_EQ(reposPane.text(), one + "\n" + sep + "Repository Count: 1\n" + sep);
    EXPECT_EQ(statusPane.text().find(one + "\nOn branch main\n"), 0u);
    EXPECT_NE(readmePane.text().find(one + "\n\nhello\n\n" + sep), std::string::npos) << readmePane.text();
}

TEST_F(Scan, GitThatCannotRunStopsBeforeTheWorkers) {
    std::string one = makeRepository(temp / "one");
    TempFolder emptyBin;
    std::string savedPath = getenv("PATH");
    setenv("PATH", emptyBin.path().c_str(), 1);
    scanState.options.readmeEnabled = true;
    writeFile(one + "/README.MD", "never shown\n");
    bool optionScanStarted = scanToEnd(temp.path());
    setenv("PATH", savedPath.c_str(), 1);

    EXPECT_EQ(logsPane.text(), "Path to Scan: " + temp.path() + "\nRepository Found: " + one + "\n" + sep +
                                   "Main Scan Finished !!!\nRepository Count: 1\n" + sep +
                                   "You need to install git: https://git-scm.com/downloads\n"
                                   "If git is already installed. You need to add git folder into your environment "
                                   "variable (PATH)\n");
    EXPECT_EQ(readmePane.text(), "");
    EXPECT_EQ(updatesPane.text(), "");
    EXPECT_FALSE(optionScanStarted);
}

TEST_F(Scan, StopDuringASlowCommandEndsEveryThreadWithItsClosingLines) {
    StandinGit git(
        "case \"$1\" in --version) echo 'git version stand-in';; fetch) touch \"$MARKS/fetching\"; sleep 300;; esac\n");
    setenv("MARKS", temp.path().c_str(), 1);
    std::filesystem::create_directories(temp / "repo/.git");
    std::filesystem::create_directories(temp / "other/.git");
    scanState.options.readmeEnabled = true;
    picker = [&] { return std::optional<std::string>(temp.path()); };
    scanFolder();
    while (!std::filesystem::exists(temp / "fetching"))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stopScan();
    expectStopped();

    std::string logs = logsPane.text();
    EXPECT_NE(logs.find("Error Code: -1\n"), std::string::npos) << logs;
    EXPECT_NE(logs.find("Fetch Scan Finished !!!\n"), std::string::npos);
    EXPECT_NE(logs.find("ReadMe Scan Finished !!!\n"), std::string::npos);
    EXPECT_EQ(occurrences(updatesPane.text(), "git fetch: "), 1);
}

TEST_F(Scan, StopDuringTheWalkStillCountsAndClosesEverything) {
    // Deep enough that the walk is still running when the stop comes; wherever
    // it is, the stop must leave everything ended and closed.
    std::string path = temp.path();
    for (int i = 0; i < 60; i++) {
        path += "/level";
        for (int j = 0; j < 20; j++)
            std::filesystem::create_directories(path + std::to_string(j));
        path += "0";
    }
    picker = [&] { return std::optional<std::string>(temp.path()); };
    scanFolder();
    stopScan();
    expectStopped();
    std::string logs = logsPane.text();
    EXPECT_EQ(occurrences(logs, "Main Scan Finished !!!\n"), 1) << logs;
    EXPECT_EQ(occurrences(logs, "Fetch Scan Beginning ..."), occurrences(logs, "Fetch Scan Finished !!!"));
    EXPECT_EQ(occurrences(updatesPane.text(), "git fetch: "), 0);
}

TEST_F(Scan, ScanFolderStopsTheRunningScanBeforeThePickerOpens) {
    StandinGit git(
        "case \"$1\" in --version) echo 'git version stand-in';; fetch) touch \"$MARKS/fetching\"; sleep 300;; esac\n");
    setenv("MARKS", temp.path().c_str(), 1);
    std::filesystem::create_directories(temp / "repo/.git");
    picker = [&] { return std::optional<std::string>(temp.path()); };
    scanFolder();
    while (!std::filesystem::exists(temp / "fetching"))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    bool busyWhenPicking = true, childWhenPicking = true;
    picker = [&] {
        busyWhenPicking = scanState.busy() || scanState.mainScanThread.joinable() ||
                          scanState.optionScanThread.joinable();
        childWhenPicking = scanState.currentChildProcess.holdsChild();
        return std::optional<std::string>();  // cancelled
    };
    scanFolder();
    EXPECT_FALSE(busyWhenPicking);
    EXPECT_FALSE(childWhenPicking);
    EXPECT_EQ(scanState.scanPath[0], '\0');
    EXPECT_FALSE(scanState.busy());
    EXPECT_FALSE(scanState.abortRequested);  // cleared for the scan that was not started
    EXPECT_NE(logsPane.text().find("Fetch Scan Finished !!!"), std::string::npos);

    // An item without a path starts nothing and writes nothing.
    size_t logSize = logsPane.text().size();
    picker = [] { return std::optional<std::string>(""); };
    scanFolder();
    EXPECT_FALSE(scanState.mainScanThread.joinable());
    EXPECT_EQ(logsPane.text().size(), logSize);
}

TEST_F(Scan, PathTooLongForTheScanIsRefusedWithAMessage) {
    std::string longPath = "/" + std::string(1100, 'x');
    picker = [&] { return std::optional<std::string>(longPath); };
    scanFolder();
    EXPECT_FALSE(scanState.mainScanThread.joinable());
    EXPECT_NE(logsPane.text().find("too long"), std::string::npos);
    EXPECT_EQ(scanState.scanPath[0], '\0');
}

}  // namespace
