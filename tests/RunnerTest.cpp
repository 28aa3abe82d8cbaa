#include "exec/Runner.h"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sys/wait.h>
#include <thread>

#include <gtest/gtest.h>

#include "log/LogPane.h"
#include "scan/ScanState.h"
#include "tests/TestRepos.h"

namespace {

std::string captured(const std::string& output) {
    return output.empty() ? output : output.substr(0, output.size() - 1);
}

bool noChildLeft() {
    return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

// True once the process is gone or only a zombie waiting for its parent.
bool processEnded(int pid) {
    for (int tries = 0; tries < 100; tries++) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string pidField, name, state;
        if (!(stat >> pidField >> name >> state) || state == "Z")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST(Runner, CapturesStandardOutputWithOneTrailingZero) {
    std::string output = "stale";
    EXPECT_EQ(runCommand("git --version", output, nullptr), 0);
    EXPECT_EQ(output.rfind("git version ", 0), 0u);
    EXPECT_EQ(output.back(), '\0');
    EXPECT_EQ(output.find('\0'), output.size() - 1);

    EXPECT_EQ(runCommand("true", output, nullptr), 0);
    EXPECT_EQ(output, std::string(1, '\0'));
    EXPECT_EQ(runCommand("false", output, nullptr), 1);
    EXPECT_EQ(output.size(), 1u);
    TempFolder temp;
    writeFile(temp / "exit128.sh", "exit 128\n");
    EXPECT_EQ(runCommand("sh exit128.sh", output, temp.path().c_str()), 128);

    // Standard error is not captured; standard input is empty, not ours.
    EXPECT_EQ(runCommand("ls /no-such-folder-for-repodeck", output, nullptr), 2);
    EXPECT_EQ(output.size(), 1u);
    EXPECT_EQ(runCommand("cat", output, nullptr), 0);
    EXPECT_EQ(output.size(), 1u);
    EXPECT_TRUE(noChildLeft());
}

TEST(Runner, ReportsAStartThatFailedAndLogsNothing) {
    std::string logBefore = logsPane.text();
    std::string output = "stale";
    EXPECT_EQ(runCommand("repodeck-no-such-program --flag", output, nullptr), startFailedResult);
    EXPECT_TRUE(output.empty());
    EXPECT_EQ(runCommand("pwd", output, "/no/such/folder/for/repodeck"), startFailedResult);
    EXPECT_TRUE(output.empty());
    EXPECT_EQ(runCommand("   ", output, nullptr), startFailedResult);
    EXPECT_EQ(logsPane.text(), logBefore);
    EXPECT_FALSE(scanState.currentChildProcess.holdsChild());
}

TEST(Runner, RunsInTheWorkingFolderWithoutAShell) {
    TempFolder temp;
    std::string hostile = temp / "it's a $(folder) `name`; rm -rf x";
    std::filesystem::create_directory(hostile);
    std::string output;
    EXPECT_EQ(runCommand("pwd", output, hostile.c_str()), 0);
    EXPECT_EQ(captured(output), hostile + "\n");

    EXPECT_EQ(runCommand("pwd", output, nullptr), 0);
    EXPECT_EQ(captured(output), std::filesystem::current_path().string() + "\n");

    // Blanks separate arguments; nothing is expanded.
    EXPECT_EQ(runCommand("echo  $HOME   *  'a'", output, nullptr), 0);
    EXPECT_EQ(captured(output), "$HOME * 'a'\n");
}

TEST(Runner, CapturesLongOutputInOrderAndAZeroByteCutsOnlyItsChunk) {
    std::string output;
    EXPECT_EQ(runCommand("seq 1 20000", output, nullptr), 0);
    std::string expected;
    for (int i = 1; i <= 20000; i++)
        expected += std::to_string(i) + "\n";
    EXPECT_EQ(captured(output), expected);

    // Ten megabytes: "seq" again, far enough to need thousands of chunks.
    EXPECT_EQ(runCommand("seq 1000000 2000000", output, nullptr), 0);
    expected.clear();
    for (int i = 1000000; i <= 2000000; i++)
        expected += std::to_string(i) + "\n";
    ASSERT_GT(expected.size(), 8000000u);
    EXPECT_EQ(captured(output), expected);

    TempFolder temp;
    writeFile(temp / "zero.sh", "printf 'a\\0b'; sleep 0.5; printf c\n");
    EXPECT_EQ(runCommand("sh zero.sh", output, temp.path().c_str()), 0);
    EXPECT_EQ(captured(output), "ac");
}

struct Stopped {
    int32_t result = 0;
    std::string output;
    int holder = 0;  // the process that holds the pipe besides the child
};

// Runs script, which starts a process holding the pipe and writes its pid to
// the file "holder", and stops it from another thread once it runs.
Stopped stopWhileRunning(const std::string& script) {
    TempFolder temp;
    writeFile(temp / "script.sh", script);
    Stopped stopped;
    std::thread run([&] { stopped.result = runCommand("sh script.sh", stopped.output, temp.path().c_str()); });
    while (!scanState.currentChildProcess.holdsChild() || !std::filesystem::exists(temp / "holder"))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    scanState.currentChildProcess.terminate();
    run.join();
    std::ifstream(temp / "holder") >> stopped.holder;
    return stopped;
}

TEST(Runner, StopEndsTheChildAndEverythingItStarted) {
    // The grandchild holds the output pipe open as well.
    Stopped stopped = stopWhileRunning("sleep 300 & echo $! > holder; echo started; sleep 300\n");
    EXPECT_EQ(stopped.result, -1);
    EXPECT_EQ(captured(stopped.output), "started\n");
    EXPECT_FALSE(scanState.currentChildProcess.holdsChild());
    ASSERT_GT(stopped.holder, 0);
    EXPECT_TRUE(processEnded(stopped.holder));
    EXPECT_TRUE(noChildLeft());

    // A stop with no child running does nothing.
    scanState.currentChildProcess.terminate();
    EXPECT_EQ(runCommand("true", stopped.output, nullptr), 0);
}

TEST(Runner, StopReturnsAlsoWhenAProcessOutsideTheGroupHoldsThePipe) {
    // setsid takes the holder out of the child's group, so the stop cannot end
    // it and the pipe never reports its end while it lives.
    Stopped stopped = stopWhileRunning("setsid sleep 3600 & echo $! > holder; echo started; sleep 300\n");
    if (stopped.holder > 0)
        kill(stopped.holder, SIGKILL);
    EXPECT_EQ(stopped.result, -1);
    EXPECT_EQ(captured(stopped.output), "started\n");
    EXPECT_TRUE(noChildLeft());
}

TEST(Runner, QuickCommandsReturnQuicklyAndGitRunsInARepository) {
    // A generous bound: it only catches a runner that waits whole seconds.
    std::string output;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; i++)
        ASSERT_EQ(runCommand("git --version", output, nullptr), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    TempFolder temp;
    std::string repository = makeRepository(temp / "repo");
    EXPECT_EQ(runCommand("git status", output, repository.c_str()), 0);
    EXPECT_NE(output.find("nothing to commit, working tree clean"), std::string::npos);
}

// Stops that come just before, during or just after the end of a command must
// never reach another process, leave a child behind or hang the runner.
TEST(Runner, StopRacingTheEndOfACommand) {
    std::string output;
    for (int i = 0; i < 200; i++) {
        std::thread run([&] { runCommand("true", output, nullptr); });
        for (int spin = 0; spin < i * 10; spin++)
            std::this_thread::yield();
        scanState.currentChildProcess.terminate();
        run.join();
    }
    EXPECT_FALSE(scanState.currentChildProcess.holdsChild());
    EXPECT_TRUE(noChildLeft());
}

}  // namespace
