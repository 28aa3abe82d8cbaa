// repodeck-scan as a user starts it: the real binary on real repositories,
// its exit status, and what reaches standard output and standard error.
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
#include <nlohmann/json.hpp>

#include "log/LogPane.h"
#include "tests/TestRepos.h"

extern char** environ;

namespace {

const std::string sep = separatorLine;

std::string readAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

struct Finished {
    int exitCode = -1;
    std::string out, err;
};

// One run, with standard output in temp/out, or on the descriptor output
// (closed when it is -1); limits is a shell line run before the program.
class Cli {
public:
    static constexpr int toFile = -2;

    Cli(const TempFolder& temp, std::vector<std::string> args, int output = toFile, const std::string& limits = "")
        : temp(temp), toTemp(output == toFile) {
        args.insert(args.begin(), {"/bin/sh", "-c", limits + "\nexec \"$0\" \"$@\"", REPODECK_SCAN});
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (toTemp)
            posix_spawn_file_actions_addopen(&actions, 1, (temp / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        else if (output < 0)
            posix_spawn_file_actions_addclose(&actions, 1);
        else
            posix_spawn_file_actions_adddup2(&actions, output, 1);
        posix_spawn_file_actions_addopen(&actions, 2, (temp / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_EQ(posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
    }
    void signal(int number) { kill(pid, number); }
    Finished wait() {
        int status = 0;
        waitpid(pid, &status, 0);
        Finished done;
        done.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        done.out = toTemp ? readAll(temp / "out") : "";
        done.err = readAll(temp / "err");
        return done;
    }

private:
    const TempFolder& temp;
    bool toTemp;
    pid_t pid = 0;
};

class ScanCli : public testing::Test {
protected:
    void SetUp() override { isolateGit(); }
    Finished scan(std::vector<std::string> args) { return Cli(temp, std::move(args)).wait(); }
    TempFolder temp, tree;
};

TEST_F(ScanCli, UsageErrorsExitTwoWithOneLineNamingTheProblem) {
    writeFile(tree / "file", "");
    struct Case {
        std::vector<std::string> args;
        const char* said;
    } cases[] = {
        {{}, "no folder given"},
        {{tree / "missing"}, "no such folder: "},
        {{tree / "file"}, "not a folder: "},
        {{"--frobnicate", tree.path()}, "unknown option: --frobnicate"},
        {{"--pane", "Nowhere", tree.path()}, "no such pane: Nowhere"},
        {{"--pane"}, "--pane needs a pane name"},
        {{tree.path(), tree.path()}, "more than one folder given"},
        {{"--jobs", "65", tree.path()}, "--jobs needs a number from 0 to 64"},
        {{"--json", "--pane", "Logs", tree.path()}, "--json prints no panes"},
    };
    for (const Case& c : cases) {
        Finished done = scan(c.args);
        EXPECT_EQ(done.exitCode, 2) << c.said;
        EXPECT_EQ(done.err.rfind(std::string("repodeck-scan: ") + c.said, 0), 0u) << done.err;
    }
    EXPECT_EQ(scan({"--help"}).out.rfind("usage: repodeck-scan", 0), 0u);
    EXPECT_EQ(scan({"--version"}).out, "repodeck-scan 1.0\n");
}

TEST_F(ScanCli, PrintsEveryPaneFromRealRepositories) {
    copyFarm(tree / "farm");
    writeFile(tree / "farm/clean/README.txt", "read me first\n");
    Finished done = scan({"--status", "--remote", "--pull", "--submodule", "--no-fetch", "--readme", tree.path()});
    EXPECT_EQ(done.exitCode, 0) << done.err;
    EXPECT_EQ(done.err, "");  // not a terminal: no progress line
    const std::string& out = done.out;
    size_t at = 0;
    for (const PaneTab& tab : paneTabs) {
        size_t header = out.find(std::string("== ") + tab.label + " ==\n", at);
        EXPECT_NE(header, std::string::npos) << tab.label;
        at = header;
    }
    std::string farm = tree / "farm";
    EXPECT_NE(out.find("Repository Found: " + farm + "/withsub\n"), std::string::npos);
    EXPECT_NE(out.find("git pull: " + farm + "/noupstream\nThere is no tracking information"), std::string::npos);
    EXPECT_NE(out.find(farm + "/clean\n\nread me first\n\n" + sep), std::string::npos);
    EXPECT_EQ(occurrences(out, "Fetch Scan"), 0);

    // One pane: its text alone, byte for byte, chosen ignoring case.
    Finished repos = scan({"--pane", "repositories", "--no-fetch", tree / "farm/clean"});
    EXPECT_EQ(repos.out, farm + "/clean\n" + sep + "Repository Count: 1\n" + sep);
}

TEST_F(ScanCli, GitThatCannotRunExitsOneAfterTheWalk) {
    makeRepository(tree / "repo");
    std::string saved = getenv("PATH");
    setenv("PATH", temp.path().c_str(), 1);
    Finished done = scan({"--readme", "--pane", "Logs", "--pane", "Read Me", tree.path()});
    setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ(done.exitCode, 1);
    EXPECT_TRUE(done.out.ends_with("If git is already installed. You need to add git folder into your environment "
                                   "variable (PATH)\n== Read Me ==\n"))
        << done.out;
}

TEST_F(ScanCli, StopSignalPrintsWhatWasGatheredAndSaysSo) {
    FakeGit fake;
    fake.script("fetch", "touch " + fake.file("fetching") + "\nsleep 300000\n");
    std::filesystem::create_directories(tree / "repo/.git");
    for (int number : {SIGINT, SIGTERM}) {
        std::filesystem::remove(fake.file("fetching"));
        Cli cli(temp, {"--pane", "Logs", tree.path()});
        ASSERT_TRUE(waitForFile(fake.file("fetching")));
        cli.signal(number);
        Finished done = cli.wait();
        EXPECT_EQ(done.exitCode, 128 + number);  // 130 and 143
        EXPECT_NE(done.out.find("Error Code: -1\n"), std::string::npos) << done.out;
        EXPECT_TRUE(done.out.ends_with("Fetch Scan Finished !!!\nScan Stopped !!!\n")) << done.out;
    }
}

// --json: one object per repository, then the totals, and nothing else; a
// path that is not UTF-8 still gives valid JSON, its bytes kept in "pathHex".
// The Summary pane shows the same rows, "*" before those needing attention.
TEST_F(ScanCli, JsonAndSummaryShowOneRowPerRepository) {
    std::string odd = makeRepository(tree / "caf\xe9");
    std::filesystem::create_directories(tree / "refused/.git");  // git refuses it
    Finished done = scan({"--json", "--status", "--no-fetch", tree.path()});
    EXPECT_EQ(done.exitCode, 0) << done.err;
    std::vector<nlohmann::json> rows;
    std::istringstream lines(done.out);
    for (std::string line; std::getline(lines, line);)
        rows.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(rows.size(), 3u) << done.out;
    std::string hex = rows[0].value("pathHex", ""), bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    EXPECT_EQ(bytes, odd);
    EXPECT_EQ(rows[0]["branch"], "main");
    EXPECT_EQ(rows[0]["status"]["exitCode"], 0);
    EXPECT_EQ(rows[1]["path"], tree / "refused");
    EXPECT_EQ(rows[1]["status"]["exitCode"], 128);
    EXPECT_EQ(rows[1]["needsAttention"], true);
    EXPECT_EQ(rows[2], nlohmann::json::parse(R"({"totals":{"repositories":2,"needAttention":1,"failed":1}})"));

    std::string table = scan({"--pane", "summary", "--no-fetch", tree.path()}).out;
    size_t line = table.find("\n  " + odd + " ");
    EXPECT_LT(table.find(" main ", line), table.find('\n', line + 1)) << table;
    EXPECT_NE(table.find("\n* " + tree / "refused" + " "), std::string::npos) << table;
}

// Output that cannot be written is never a silent success.
TEST_F(ScanCli, LostOutputIsAFailure) {
    std::filesystem::create_directories(tree / "repo/.git");
    int full = open("/dev/full", O_WRONLY);
    Finished done = Cli(temp, {"--no-fetch", tree.path()}, full).wait();
    close(full);
    EXPECT_EQ(done.exitCode, 1);
    EXPECT_EQ(done.err, "repodeck-scan: cannot write the output: No space left on device\n");
    done = Cli(temp, {"--no-fetch", tree.path()}, -1).wait();
    EXPECT_EQ(done.exitCode, 1);
    EXPECT_EQ(done.err, "repodeck-scan: cannot write the output: Bad file descriptor\n");

    // A reader that went away ends it quietly, also with SIGPIPE ignored.
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    done = Cli(temp, {"--no-fetch", tree.path()}, ends[1], "trap '' PIPE").wait();
    close(ends[1]);
    EXPECT_EQ(done.exitCode, 141);
    EXPECT_EQ(done.err, "");
}

// On a terminal, control characters of the panes are shown escaped; to a
// file the bytes stay as they are.
TEST_F(ScanCli, EscapesControlCharactersOnlyOnATerminal) {
    std::string hostile = tree / "\x1b]0;title\x07\x1b[2K\xc2\x9b";
    std::filesystem::create_directories(hostile + "/.git");
    int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0);
    int screen = open(ptsname(terminal), O_RDWR | O_NOCTTY);
    Finished done = Cli(temp, {"--no-fetch", "--pane", "Repositories", tree.path()}, screen).wait();
    close(screen);
    std::string shown(4096, '\0');
    shown.resize(std::max<ssize_t>(0, read(terminal, shown.data(), shown.size())));
    close(terminal);
    EXPECT_EQ(done.exitCode, 0);
    EXPECT_NE(shown.find(tree.path() + "/\\x1b]0;title\\x07\\x1b[2K\\xc2\\x9b\r\n"), std::string::npos) << shown;
    EXPECT_EQ(Cli(temp, {"--no-fetch", "--pane", "Repositories", tree.path()}).wait().out.find(hostile + "\n"), 0u);
}

// 100 MB of git output with little memory to spare: what cannot be kept is
// cut with a line saying so, and the scan goes on to its end.
TEST_F(ScanCli, HugeOutputWithoutMemoryIsCutNotFatal) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than these limits leave";
#endif
    FakeGit fake;
    fake.script("fetch", "count 12000000\n");
    std::filesystem::create_directories(tree / "repo/.git");
    Finished done = Cli(temp, {"--pane", "Logs", "--pane", "Compacts", tree.path()}, Cli::toFile, "ulimit -v 250000")
                        .wait();
    EXPECT_EQ(done.exitCode, 0) << done.err;
    EXPECT_NE(done.out.find("for lack of memory.\n"), std::string::npos);
    EXPECT_NE(done.out.find("Fetch Scan Finished !!!\n== Compacts =="), std::string::npos);
}

// Out of threads (each needs a stack larger than the memory left): the part
// that cannot start is reported and the status is 1, never an abort.
TEST_F(ScanCli, ThreadThatCannotStartIsReported) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than these limits leave";
#endif
    std::filesystem::create_directories(tree / "repo/.git");
    Finished done = Cli(temp, {tree.path()}, Cli::toFile, "ulimit -s 2000000; ulimit -v 1500000").wait();
    EXPECT_EQ(done.exitCode, 1);
    EXPECT_EQ(done.err.rfind("repodeck-scan: cannot start a thread: ", 0), 0u) << done.err;
    done = Cli(temp, {tree.path()}, Cli::toFile, "ulimit -s 2000000; ulimit -v 3000000").wait();
    EXPECT_EQ(done.exitCode, 1);
    EXPECT_NE(done.out.find("[ERROR] Could not start the main scan thread: "), std::string::npos) << done.out;
}

}  // namespace
