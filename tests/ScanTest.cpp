// Starting and stopping whole scans in the process, with a stand-in folder
// picker and the stand-in git: every stop leaves every thread ended, every
// child gone and the closing lines written.
#include <chrono>
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
std::optional<std::string> pickFolder(const std::string&, uintptr_t) {
    return picker();
}

namespace {

class Scan : public testing::Test {
protected:
    void SetUp() override {
        resetScanState();
        std::filesystem::create_directories(temp / "repo/.git");
        picker = [this] { return std::optional<std::string>(temp.path()); };
    }
    void TearDown() override { stopScan(); }

    // What stopScan leaves behind, whatever the scan was doing.
    static void expectStopped() {
        EXPECT_FALSE(scanState.mainScanThread.joinable());
        EXPECT_FALSE(scanState.optionScanThread.joinable());
        EXPECT_FALSE(scanState.readmeScanThread.joinable());
        EXPECT_FALSE(scanState.busy());
        EXPECT_FALSE(scanState.childRunning());
        EXPECT_TRUE(scanState.abortRequested);
        EXPECT_EQ(occurrences(logsPane.text(), "Scan Stopped !!!\n"), 1) << logsPane.text();
    }
    TempFolder temp;
    FakeGit fake;
};

TEST_F(Scan, StopDuringASlowCommandEndsEveryThreadWithItsClosingLines) {
    fake.script("fetch", "touch " + fake.file("fetching") + "\nsleep 300000\n");
    scanState.options.readmeEnabled = true;
    scanFolder();
    ASSERT_TRUE(waitForFile(fake.file("fetching")));
    stopScan();
    expectStopped();
    std::string logs = logsPane.text();
    EXPECT_NE(logs.find("Error Code: -1\n"), std::string::npos) << logs;
    EXPECT_NE(logs.find("Fetch Scan Finished !!!\n"), std::string::npos);
    EXPECT_NE(logs.find("ReadMe Scan Finished !!!\n"), std::string::npos);
}

// A stop during the walk reaches the git --version that starts after it: it
// ends at once, and Logs says the scan was stopped, not that git is missing.
TEST_F(Scan, StopDuringTheWalkEndsTheGitCheckAndIsNoMissingGit) {
    fake.script("version", "sleep 300000\n");
    std::string path = temp.path();
    for (int i = 0; i < 60; i++) {
        path += "/level";
        for (int j = 0; j < 20; j++)
            std::filesystem::create_directories(path + std::to_string(j));
        path += "0";
    }
    auto start = std::chrono::steady_clock::now();
    scanFolder();
    stopScan();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << "a bound for a hang";
    expectStopped();
    std::string logs = logsPane.text();
    EXPECT_EQ(occurrences(logs, "Main Scan Finished !!!\n"), 1) << logs;
    EXPECT_EQ(logs.find("You need to install git"), std::string::npos) << logs;
    EXPECT_EQ(occurrences(logs, "Fetch Scan Beginning ..."), occurrences(logs, "Fetch Scan Finished !!!"));
}

TEST_F(Scan, ScanFolderStopsTheRunningScanBeforeThePickerOpens) {
    fake.script("fetch", "touch " + fake.file("fetching") + "\nsleep 300000\n");
    scanFolder();
    ASSERT_TRUE(waitForFile(fake.file("fetching")));

    bool busyWhenPicking = true, childWhenPicking = true;
    picker = [&] {
        busyWhenPicking = scanState.busy() || scanState.mainScanThread.joinable() ||
                          scanState.optionScanThread.joinable();
        childWhenPicking = scanState.childRunning();
        return std::optional<std::string>();  // cancelled
    };
    scanFolder();
    EXPECT_FALSE(busyWhenPicking);
    EXPECT_FALSE(childWhenPicking);
    EXPECT_EQ(scanState.scanPath[0], '\0');
    EXPECT_FALSE(scanState.abortRequested);  // cleared for the scan that was not started
    EXPECT_NE(logsPane.text().find("Fetch Scan Finished !!!\nScan Stopped !!!\n"), std::string::npos);

    // An item without a path, or a path too long for the scan, starts nothing.
    size_t logSize = logsPane.text().size();
    picker = [] { return std::optional<std::string>(""); };
    scanFolder();
    EXPECT_EQ(logsPane.text().size(), logSize);
    picker = [] { return std::optional<std::string>("/" + std::string(1100, 'x')); };
    scanFolder();
    EXPECT_FALSE(scanState.mainScanThread.joinable());
    EXPECT_NE(logsPane.text().find("too long"), std::string::npos);
}

}  // namespace
