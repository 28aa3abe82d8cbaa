// The Windows runner under wine, driving the stand-in git (first on the search
// path), whose scripts in the working folder say what each run does.
#include "exec/Runner.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "exec/Git.h"
#include "log/LogPane.h"
#include "scan/ScanState.h"
#include "tests/Win32Test.h"

namespace {

std::string captured(const std::string& output) {
    return output.empty() ? output : output.substr(0, output.size() - 1);
}

// A folder whose stand-in git answers "git --version" with script.
struct Scripted {
    TempFolder folder;
    explicit Scripted(const std::string& script) { writeFile(folder / ".fakegit-version", script); }
    int32_t run(std::string& output) { return runCommand(git::version, output, folder.path().c_str()); }
};

TEST(RunnerWin32, CapturesStandardOutputWithOneTrailingZero) {
    std::string output = "stale";
    EXPECT_EQ(runCommand(git::version, output, nullptr), 0);
    EXPECT_EQ(output, std::string("git version 2.39.5 (repodeck stand-in)\n") + '\0');

    Scripted silent("");
    EXPECT_EQ(silent.run(output), 0);
    EXPECT_EQ(output, std::string(1, '\0'));

    // Standard error is not captured; standard input is empty, not ours.
    Scripted onlyErrors("error fatal: not a git repository\\n\nexit 128\n");
    EXPECT_EQ(onlyErrors.run(output), 128);
    EXPECT_EQ(output.size(), 1u);
    Scripted reader("input\nexit 1\n");
    EXPECT_EQ(reader.run(output), 1);
    EXPECT_EQ(captured(output), "input: 0 bytes\n");
}

TEST(RunnerWin32, ReportsAStartThatFailedAndLogsNothing) {
    std::string logBefore = logsPane.text();
    std::string output = "stale";
    EXPECT_EQ(runCommand("repodeck-no-such-program --flag", output, nullptr), startFailedResult);
    EXPECT_TRUE(output.empty());
    EXPECT_EQ(runCommand(git::version, output, "C:\\no\\such\\folder\\for\\repodeck"), startFailedResult);
    EXPECT_TRUE(output.empty());
    EXPECT_EQ(logsPane.text(), logBefore);
    EXPECT_FALSE(scanState.currentChildProcess.holdsChild());
}

TEST(RunnerWin32, RunsInTheWorkingFolder) {
    TempFolder temp;
    std::string odd = temp / "it's a %PATH% & ^folder; (x)";
    makeFolder(odd);
    writeFile(odd + "\\.fakegit-status", "folder\n");
    std::string output;
    EXPECT_EQ(runCommand(git::status, output, odd.c_str()), 0);
    EXPECT_EQ(captured(output), odd + "\n");
}

TEST(RunnerWin32, CapturesLongOutputInOrderAndAZeroByteCutsOnlyItsChunk) {
    std::string expected;
    for (int i = 1; i <= 20000; i++)
        expected += std::to_string(i) + "\n";
    Scripted longOutput("count 20000\n");
    std::string output;
    EXPECT_EQ(longOutput.run(output), 0);
    EXPECT_EQ(captured(output), expected);

    Scripted zero("print a\\0b\nsleep 300\nprint c\n");
    EXPECT_EQ(zero.run(output), 0);
    EXPECT_EQ(captured(output), "ac");
}

// The process is gone once a wait on it succeeds; an id that no longer opens
// is gone too.
bool processEnds(DWORD id) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (!process)
        return true;
    bool ended = WaitForSingleObject(process, 20000) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

TEST(RunnerWin32, StopEndsTheChildAndTheGrandchildHoldingThePipe) {
    Scripted hang("print started\\n\nhold 300000\nsleep 300000\n");
    std::string pidFile = hang.folder / "grandchild.pid";
    std::string output;
    int32_t result = 0;
    std::thread run([&] { result = hang.run(output); });
    while (!scanState.currentChildProcess.holdsChild() || GetFileAttributesA(pidFile.c_str()) == INVALID_FILE_ATTRIBUTES)
        Sleep(10);
    Sleep(200);
    DWORD grandchild = 0;
    std::ifstream(pidFile) >> grandchild;
    ASSERT_NE(grandchild, 0u);
    scanState.currentChildProcess.terminate();
    run.join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(captured(output), "started\n");
    EXPECT_FALSE(scanState.currentChildProcess.holdsChild());
    EXPECT_TRUE(processEnds(grandchild));

    // A stop with no child running does nothing.
    scanState.currentChildProcess.terminate();
    EXPECT_EQ(runCommand(git::version, output, nullptr), 0);
}

// A command that ends at once must not cost the whole second that a sleep
// between tests of the reader would: of a few runs, the fastest stays far
// below it (wine starts a process in a tenth of that).
TEST(RunnerWin32, AQuickCommandReturnsWithoutWaitingASecond) {
    std::string output;
    auto fastest = std::chrono::milliseconds::max();
    for (int run = 0; run < 5; run++) {
        auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(runCommand(git::version, output, nullptr), 0);
        fastest = std::min(fastest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - start));
    }
    EXPECT_LT(fastest.count(), 900);
}

}  // namespace
