// The command runner on real processes, Linux and wine alike: the stand-in
// git (tests/fakegit) answers "git status" with the script in the working folder.
#include "exec/Runner.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "exec/Git.h"
#include "tests/TempFolder.h"

#ifdef _WIN32
#include <windows.h>
constexpr char listSeparator = ';';
void setSearchPath(const std::string& path) { SetEnvironmentVariableA("PATH", path.c_str()); }
bool noChildLeft() { return true; }  // a job ends with its last handle
#else
#include <csignal>
#include <sys/wait.h>
constexpr char listSeparator = ':';
void setSearchPath(const std::string& path) { setenv("PATH", path.c_str(), 1); }
bool noChildLeft() { return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }
#endif

namespace {

class Runner : public testing::Test {
protected:
    static void SetUpTestSuite() {
        putenv(const_cast<char*>("REPODECK_CHUNK_TIMEOUT=3"));  // read once, at the first run
#ifndef _WIN32
        setSearchPath(std::string(FAKEGIT_FOLDER) + ":" + getenv("PATH"));  // tests/wine/run does this under wine
#endif
    }
    void SetUp() override {
        std::filesystem::create_directory(folder);
        slot.stopWith(stop);
    }
    // "git status" in the odd folder, whose stand-in follows script.
    int32_t run(const std::string& script, std::string* report = nullptr) {
        writeFile(folder + pathSeparator + ".fakegit-status", script);
        return runCommand(git::status, output, folder.c_str(), slot, nullptr, nullptr, report);
    }
    std::string captured() const { return output.substr(0, output.size() - !output.empty()); }
    long grandchild() const {
        long pid = 0;
        std::ifstream(folder + pathSeparator + "grandchild.pid") >> pid;
        return pid;
    }
    // Runs script on another thread and stops it once its grandchild exists.
    int32_t stopWhileRunning(const std::string& script) {
        int32_t result = 0;
        std::thread running([&] { result = run(script); });
        while (!slot.holdsChild() || grandchild() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        slot.terminate();
        running.join();
        return result;
    }

    TempFolder temp;
    std::string folder = temp / "it's a $(folder) %PATH% & ^x; (y)";
    std::atomic<bool> stop{false};
    ChildSlot slot;
    std::string output = "stale";
};

TEST_F(Runner, CapturesBothStreamsInTheOrderWritten) {
    std::string counted, flood;
    for (int i = 1; i <= 20000; i++)
        counted += std::to_string(i) + "\n";
    for (int i = 1; i <= 2500000; i++)
        flood += std::to_string(i) + "\n";
    std::string notKept = std::to_string(flood.size() - keptOutputLimit);
    flood.resize(keptOutputLimit);
    flood += flood.back() == '\n' ? "" : "\n";  // the note on a line of its own
    putenv(const_cast<char*>("LC_ALL=de_DE.UTF-8"));
    for (auto [script, result, text] : std::initializer_list<std::tuple<const char*, int32_t, std::string>>{
             {"", 0, ""},
             {"print out\\n\nerror err\\n\nprint out2\\n\n", 0, "out\nerr\nout2\n"},
             {"error fatal: not a git repository\\n\nexit 128\n", 128, "fatal: not a git repository\n"},
             {"env LC_ALL\n", 0, "C\n"},
             {"env GIT_CEILING_DIRECTORIES\n", 0, temp.path() + "\n"},  // git never climbs above the folder
             {"print a\\0b\nsleep 300\nprint c\n", 0, std::string("a\0bc", 4)},  // zero bytes too
             {"count 20000\n", 0, counted},
             {"count 2500000\n", 0, flood + "[repodeck] " + notKept + " more bytes of output were not kept (16 MB of "
                                                                  "one command's output are kept).\n"},
             {"print a\\n\nsleep 300000\n", timedOutResult,
              "a\n[repodeck] Timed out: no output for 3 s; the command and what it started were ended.\n"}}) {
        EXPECT_EQ(run(script), result) << script;
        EXPECT_TRUE(captured() == text) << script << captured().substr(output.size() - std::min<size_t>(output.size(), 200));
        EXPECT_EQ(output.back(), '\0') << "one trailing zero";
    }
    EXPECT_FALSE(slot.holdsChild());
    EXPECT_TRUE(noChildLeft());
}

// A "git" in the current folder, which an empty or relative entry of the
// search path would name, never runs.
TEST_F(Runner, ProgramIsSearchedOnlyInAbsoluteFoldersOfThePath) {
    std::string standin = findProgram("git"), savedPath = getenv("PATH"), list(1, listSeparator);
    ASSERT_FALSE(standin.empty());
    for (const char* trap : {"git", "git.exe"}) {
        writeFile(folder + pathSeparator + trap, "");
        std::filesystem::permissions(folder + pathSeparator + trap, std::filesystem::perms::owner_all);
    }
    std::filesystem::path savedFolder = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    setSearchPath(list + "." + list + "bin" + list + std::filesystem::path(standin).parent_path().string());
    EXPECT_EQ(findProgram("git"), standin);
    setSearchPath(list + ".");
    EXPECT_EQ(findProgram("git"), "");
    EXPECT_EQ(runCommand(git::status, output, folder.c_str(), slot), startFailedResult);
    EXPECT_EQ(captured(), "[repodeck] The command could not start: no git program on the search path\n");
    setSearchPath(savedPath);
    std::filesystem::current_path(savedFolder);
}

TEST_F(Runner, StopEndsTheChildAndEverythingItStarted) {
    EXPECT_EQ(stopWhileRunning("print started\\n\nhold 300000\nsleep 300000\n"), stoppedResult);
    EXPECT_EQ(captured(), "started\n[repodeck] Stopped.\n");
    EXPECT_FALSE(slot.holdsChild());
    EXPECT_TRUE(processEnds(grandchild()));
    EXPECT_TRUE(noChildLeft());
    // A stop that came before the child was published (between a scan's test
    // of abortRequested and the start) ends it at once: else a 300 s hang.
    stop = true;
    EXPECT_EQ(run("sleep 300000\n"), stoppedResult);
    stop = false;
    EXPECT_EQ(runCommand(git::status, output, (folder + "-gone").c_str(), slot), folderFailedResult);
    EXPECT_TRUE(captured().starts_with("[repodeck] The folder could not be entered: ")) << captured();
}

// The child ended, but what it started still holds the pipe, silent or
// writing on: the runner keeps what was captured and ends the rest of the
// group after a grace time; a stop ends them at once.
TEST_F(Runner, EndedChildIsNotHeldByWhatItLeftBehind) {
    EXPECT_EQ(run("print done\\n\nhold 300000\n"), 0);
    EXPECT_EQ(captured(), "done\n");
    EXPECT_TRUE(processEnds(grandchild()));
    EXPECT_EQ(run("print done\\n\nchatter 300000\n"), 0);
    EXPECT_TRUE(captured().starts_with("done\ntick\n")) << captured();
    EXPECT_EQ(stopWhileRunning("chatter 300000\nsleep 300000\n"), stoppedResult);
#ifndef _WIN32
    // Also when it left the group: it lives on, but neither an end nor a stop waits for it.
    EXPECT_EQ(run("print done\\n\ndetach 300000\n"), 0);
    kill(pid_t(grandchild()), SIGKILL);
    EXPECT_EQ(stopWhileRunning("print started\\n\ndetach 300000\nsleep 300000\n"), stoppedResult);
    kill(pid_t(grandchild()), SIGKILL);
#endif
}

#ifndef _WIN32
// A child someone else reaped (SIGCHLD ignored) has no exit code: the caller
// is told so, and the run is not taken for a success.
TEST_F(Runner, ChildReapedElsewhereIsReportedNotTakenForASuccess) {
    if (pid_t tester = fork(); tester == 0) {
        signal(SIGCHLD, SIG_IGN);
        std::string report, expected = "[PROBLEM]: 4294967295\ngit status\n" + folder + "\n";
        int32_t result = run("print out\\n\n", &report);
        if (result != -1 || report != expected)
            fprintf(stderr, "result %d, report \"%s\"\n", result, report.c_str());
        _exit(result == -1 && report == expected ? 0 : 1);
    } else {
        int status = 0;
        waitpid(tester, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}
#endif

}  // namespace
