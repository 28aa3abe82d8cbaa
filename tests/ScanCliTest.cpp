#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "log/LogPane.h"
#include "tests/TestRepos.h"

extern char** environ;

namespace {

const std::string sep = separatorLine;

struct Finished {
    int exitCode = -1;
    std::string out, err;
};

std::string readAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// repodeck-scan as a user starts it, with its output in files of temp.
class Cli {
public:
    Cli(const TempFolder& temp, std::vector<std::string> args) : temp(temp) {
        args.insert(args.begin(), REPODECK_SCAN);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (temp / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (temp / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
    }
    void signal(int number) { kill(pid, number); }
    Finished wait() {
        int status = 0;
        waitpid(pid, &status, 0);
        Finished done;
        done.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        done.out = readAll(temp / "out");
        done.err = readAll(temp / "err");
        return done;
    }

private:
    const TempFolder& temp;
    pid_t pid = 0;
};

Finished scan(const TempFolder& temp, std::vector<std::string> args) {
    return Cli(temp, std::move(args)).wait();
}

class ScanCli : public ::testing::Test {
protected:
    void SetUp() override { isolateGit(); }
    TempFolder temp, tree;
};

TEST_F(ScanCli, UsageErrorsExitTwoWithOneLineNamingTheProblem) {
    Finished none = scan(temp, {});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_NE(none.err.find("no folder given"), std::string::npos);
    Finished missing = scan(temp, {tree / "missing"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("no such folder: " + tree / "missing"), std::string::npos);
    writeFile(tree / "file", "");
    EXPECT_NE(scan(temp, {tree / "file"}).err.find("not a folder: "), std::string::npos);
    EXPECT_EQ(scan(temp, {"--frobnicate", tree.path()}).exitCode, 2);
    EXPECT_EQ(scan(temp, {"--pane", "Nowhere", tree.path()}).exitCode, 2);
    EXPECT_EQ(scan(temp, {"--pane"}).exitCode, 2);
    EXPECT_EQ(scan(temp, {tree.path(), tree.path()}).exitCode, 2);
    Finished help = scan(temp, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("usage: repodeck-scan", 0), 0u);
    EXPECT_EQ(scan(temp, {"--version"}).out, "repodeck-scan 1.0\n");
}

TEST_F(ScanCli, PrintsEveryPaneWithHeadersAndFillsThemFromRealRepositories) {
    std::string origin = makeRepository(tree / "origin");
    sh("git clone -q 'file://" + origin + "' '" + tree / "clone" + "'");
    writeFile(origin + "/file.txt", "second\n");
    sh("cd '" + origin + "' && git commit -qam second");
    writeFile(tree / "clone/README.txt", "read me first\n");

    Finished done = scan(temp, {"--status", "--remote", "--pull", "--submodule", "--no-fetch", "--readme",
                                tree.path()});
    EXPECT_EQ(done.exitCode, 0) << done.err;
    EXPECT_EQ(done.err, "");  // not a terminal: no progress line
    const std::string& out = done.out;
    size_t at = 0;
    for (const char* label : {"Logs", "Repositories", "Updates", "Status", "Compacts", "Remotes", "Read Me"}) {
        size_t header = out.find(std::string("== ") + label + " ==\n", at);
        EXPECT_NE(header, std::string::npos) << label;
        at = header;
    }
    EXPECT_NE(out.find("Repository Found: " + tree / "clone\n"), std::string::npos);
    EXPECT_NE(out.find("Repository Count: 2\n"), std::string::npos);
    EXPECT_NE(out.find("git pull: " + tree / "clone\nUpdating "), std::string::npos) << out;
    EXPECT_NE(out.find(tree / "clone\n\nread me first\n\n" + sep), std::string::npos);
    EXPECT_EQ(occurrences(out, "Fetch Scan"), 0);

    // One pane: its text alone, byte for byte, chosen ignoring case.
    Finished repos = scan(temp, {"--pane", "repositories", "--no-fetch", tree.path()});
    EXPECT_TRUE(repos.out.ends_with("\n" + sep + "Repository Count: 2\n" + sep)) << repos.out;
    EXPECT_EQ(repos.out.find("=="), std::string::npos);
}

TEST_F(ScanCli, GitThatCannotRunExitsOneAfterTheWalk) {
    makeRepository(tree / "repo");
    TempFolder emptyBin;
    std::string savedPath = getenv("PATH");
    setenv("PATH", emptyBin.path().c_str(), 1);
    Finished done = scan(temp, {"--readme", "--pane", "Logs", "--pane", "Read Me", tree.path()});
    setenv("PATH", savedPath.c_str(), 1);
    EXPECT_EQ(done.exitCode, 1);
    EXPECT_NE(done.out.find("You need to install git: "), std::string::npos);
    EXPECT_EQ(done.out.find("Git Version: "), std::string::npos);
    EXPECT_EQ(done.out.substr(done.out.size() - 14), "== Read Me ==\n");
}

TEST_F(ScanCli, InterruptDuringASlowCommandPrintsWhatWasGathered) {
    StandinGit git(
        "case \"$1\" in --version) echo 'git version stand-in';; fetch) touch \"$MARKS/fetching\"; sleep 300;; esac\n");
    setenv("MARKS", temp.path().c_str(), 1);
    std::filesystem::create_directories(tree / "repo/.git");
    for (int number : {SIGINT, SIGTERM}) {
        std::filesystem::remove(temp / "fetching");
        Cli cli(temp, {"--pane", "Logs", tree.path()});
        while (!std::filesystem::exists(temp / "fetching"))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        cli.signal(number);
        Finished done = cli.wait();
        EXPECT_EQ(done.exitCode, number == SIGINT ? 130 : 143);
        EXPECT_NE(done.out.find("Error Code: -1\n"), std::string::npos) << done.out;
        EXPECT_EQ(done.out.substr(done.out.size() - 24), "Fetch Scan Finished !!!\n");
    }
}

}  // namespace
