// repodeck-scan as a user starts it: the real binary on real repositories,
// its exit status, and what reaches standard output and standard error.
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sstream>
#include <thread>
#include <sys/wait.h>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "log/LogPane.h"
#include "tests/TestRepos.h"

extern char** environ;

namespace {

struct Finished {
    int exitCode = -1;
    std::string out, err;
};

class ScanCli : public testing::Test {
protected:
    void SetUp() override { isolateGit(); }

    // Starts repodeck-scan through sh: its standard output sent by the
    // redirection output, then the shell line setup, then the program.
    pid_t start(const std::vector<std::string>& args, const std::string& output = "", const std::string& setup = "") {
        std::string line = "exec " + (output.empty() ? ">" + ::quoted(temp / "out") : output) + " 2>" +
                           ::quoted(temp / "err") + "\n" + setup + "\nexec " + ::quoted(REPODECK_SCAN);
        for (const std::string& arg : args)
            line += " " + ::quoted(arg);
        writeFile(temp / "out", "");
        const char* argv[] = {"/bin/sh", "-c", line.c_str(), nullptr};
        pid_t pid = 0;
        EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
        return pid;
    }
    Finished finish(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), readFile(temp / "out"),
                readFile(temp / "err")};
    }
    Finished scan(const std::vector<std::string>& args, const std::string& output = "", const std::string& setup = "") {
        return finish(start(args, output, setup));
    }
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
        {{"--", tree.path(), "-second"}, "more than one folder given: -second"},
        {{"--jobs", "65", tree.path()}, "--jobs needs a number from 0 to 64"},
        {{"--json", "--pane", "Logs", tree.path()}, "--json prints no panes"},
    };
    for (const Case& c : cases) {
        Finished done = scan(c.args);
        EXPECT_EQ(done.exitCode, 2) << c.said;
        EXPECT_TRUE(done.err.starts_with(std::string("repodeck-scan: ") + c.said) &&
                    done.err.ends_with("\nTry 'repodeck-scan --help'.\n")) << done.err;
    }
}

TEST_F(ScanCli, PrintsEveryPaneFromRealRepositories) {
    copyFarm(temp / "farm");
    for (const char* name : {"clean", "noupstream", "withsub"})
        std::filesystem::rename(temp / "farm" + "/" + name, tree / name);
    writeFile(tree / "clean/README.txt", "read me first\n");
    Finished done = scan({"--status", "--remote", "--pull", "--submodule", "--no-fetch", "--readme", "--jobs", "0", tree.path()});
    EXPECT_EQ(done.exitCode, 0) << done.err;
    EXPECT_EQ(done.err, "");  // not a terminal: no progress line
    size_t at = 0;
    for (const PaneTab& tab : paneTabs) {
        at = done.out.find(std::string("== ") + tab.label + " ==\n", at);
        EXPECT_NE(at, std::string::npos) << tab.label;
    }
    EXPECT_NE(done.out.find(tree / "clean\n\nread me first\n\n" + separatorLine), std::string::npos);
    EXPECT_EQ(occurrences(done.out, "Fetch Scan"), 0);

    // One pane: its text alone, byte for byte, chosen ignoring case.
    Finished repos = scan({"--pane", "repositories", "--no-fetch", tree / "clean"});
    EXPECT_EQ(repos.out, tree / "clean\n" + separatorLine + "Repository Count: 1\n" + separatorLine);
}

// Every stop (a signal, a second one however soon, a reader of --json gone
// away) ends every git and what it started before repodeck-scan exits; one
// stop prints what was gathered, with a row for each repository.
TEST_F(ScanCli, EveryStopEndsEveryGitFirst) {
    FakeGit fake;
    fake.script("fetch", "hold 300000\nsleep 300000\n");
    const std::string held[] = {tree / "r1", tree / "r2", tree / "r3"};
    for (const std::string& folder : {tree / "a", held[0], held[1], held[2], tree / "r4"})
        std::filesystem::create_directories(folder + "/.git");
    writeFile(tree / "a/.fakegit-fetch", "await " + fake.file("go") + "\n");
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    struct Case {
        std::vector<int> signals;
        int gapMs, exitCode;
        std::string output;
    } cases[] = {
        {{SIGINT}, 0, 130, ""}, {{SIGTERM}, 0, 143, ""}, {{SIGHUP}, 0, 129, ""}, {{SIGQUIT}, 0, 131, ""},
        {{SIGINT, SIGINT}, 1, 130, ""}, {{SIGINT, SIGINT}, 10, 130, ""}, {{SIGINT, SIGINT}, 50, 130, ""},
        {{}, 0, 141, ">&" + std::to_string(ends[1])},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signals.size() ? strsignal(c.signals[0]) + std::to_string(c.signals.size()) : "a pipe");
        for (const std::string& folder : held)
            std::filesystem::remove(folder + "/grandchild.pid");
        std::filesystem::remove(fake.file("go"));
        pid_t pid = start(c.output.empty() ? std::vector<std::string>{"--jobs", "4", "--pane", "Summary", "--pane",
                                                                      "Logs", tree.path()}
                                           : std::vector<std::string>{"--jobs", "4", "--json", tree.path()},
                          c.output);
        std::vector<long> grandchildren;
        for (const std::string& folder : held) {
            ASSERT_TRUE(waitForFile(folder + "/grandchild.pid"));
            while (!readFile(folder + "/grandchild.pid").ends_with("\n"))  // written whole
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            grandchildren.push_back(std::stol(readFile(folder + "/grandchild.pid")));
        }
        if (c.signals.empty())
            writeFile(fake.file("go"), "");  // a's line of --json goes to the pipe
        for (size_t i = 0; i < c.signals.size(); i++)
            kill(pid, c.signals[i]), std::this_thread::sleep_for(std::chrono::milliseconds(c.gapMs));
        Finished done = finish(pid);
        EXPECT_EQ(done.exitCode, c.exitCode) << done.err;
        for (long grandchild : grandchildren)
            EXPECT_TRUE(processEnds(grandchild));
        if (c.signals.size() == 1) {
            auto row = [&](const std::string& path) {
                size_t at = done.out.find(path + "  ");
                return at == std::string::npos ? "" : done.out.substr(at, done.out.find('\n', at) - at);
            };
            EXPECT_TRUE(row(held[0]).ends_with(" stopped") && row(tree / "r4").ends_with(" not reached")) << done.out;
            EXPECT_NE(done.out.find("[STOPPED] Fetch\nFolder: " + held[0] + "\n"), std::string::npos) << done.out;
            EXPECT_TRUE(done.out.ends_with("Fetch Scan Finished !!!\nScan Stopped !!!\n")) << done.out;
        }
    }
    close(ends[1]);
}

// Git missing, output that cannot be written, no thread or memory to spare:
// an exit status and one line that say so, never a crash or a silent success.
TEST_F(ScanCli, FailuresAreReportedNeverSilentOrFatal) {
    FakeGit fake;
    // 95 MB from each of eight fetches at once: 16 MB of each are kept, within
    // a limit; under a lower one, what finds no memory.
    fake.script("fetch", "count 12000000\n");
    for (const char* repository : {"repo/", "r1/", "r2/", "r3/", "r4/", "r5/", "r6/", "r7/"})
        std::filesystem::create_directories(tree / repository + ".git");
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    struct Case {
        std::string output, setup;
        int exitCode;
        std::string err, out;  // a start of standard error, a part of standard output
        bool limitsResources = false;
        const char* fetch = "--no-fetch";
        int times = 0;  // when given, how often out shows
    } cases[] = {
        {"", "PATH=/nowhere", 1, "repodeck-scan: no git program on the search path\n", "You need to install git: "},
        {">/dev/full", "", 1, "repodeck-scan: cannot write the output: No space left on device\n", ""},
        {">&-", "", 1, "repodeck-scan: cannot write the output: Bad file descriptor\n", ""},
        {">&" + std::to_string(ends[1]), "trap '' PIPE", 141, "", ""},  // a reader that went away
        {"", "exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-; ulimit -n 4", 1, "repodeck-scan: no git command could run; Logs says why\n",
         "[ERROR] git could not run: The command could not start: Too many open files\n", true},
        {"", "ulimit -s 2000000; ulimit -v 1500000", 1, "repodeck-scan: cannot start a thread: ", "", true},
        {"", "ulimit -s 2000000; ulimit -v 3000000", 1, "repodeck-scan: no git command could run; Logs says why\n",
         "[ERROR] Could not start the main scan thread: Resource temporarily unavailable\n", true},
        {"", "ulimit -v 1000000", 0, "", "(16 MB of one command's output are kept).\n", true, "--fetch", 8},
        {"", "ulimit -v 400000", 0, "", "[repodeck] Text was cut here for lack of memory.\n", true, "--fetch"},
    };
    for (const Case& c : cases) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        if (c.limitsResources)
            continue;  // the sanitizers need more address space and descriptors than these limits leave
#endif
        Finished done = scan({c.fetch, "--jobs", "8", "--pane", "Logs", "--pane", "Updates", tree.path()}, c.output, c.setup);
        EXPECT_EQ(done.exitCode, c.exitCode) << c.setup << c.output;
        EXPECT_EQ(done.err.substr(0, c.err.size()), c.err) << c.setup << c.output;
        EXPECT_NE(done.out.find(c.out), std::string::npos) << c.setup << c.output;
        EXPECT_TRUE(!c.times || occurrences(done.out, c.out) == c.times) << c.setup;
    }
    close(ends[1]);
}

// --json: one object per repository, then the totals, and nothing else; a
// path that is not UTF-8 still gives valid JSON, its bytes kept in "pathHex".
// The Summary pane shows the same rows, "*" before those needing attention.
TEST_F(ScanCli, JsonAndSummaryShowOneRowPerRepository) {
    std::string odd = tree / "caf\xe9\nx";  // Latin-1, not UTF-8, and a line feed; so is its branch
    sh("git init -q " + ::quoted(odd) + " && git -C " + ::quoted(odd) + " symbolic-ref HEAD refs/heads/caf\xe9");
    for (const char* name : {"abcd", "\xe6\x97\xa5\xe6\x9c\xac"})  // as wide as each other on a terminal
        sh("git init -q " + ::quoted(tree / name) + " && git -C " + ::quoted(tree / name) + " commit -q --allow-empty -m x");
    std::filesystem::create_directories(tree / "refused/.git");  // git refuses it
    Finished done = scan({"--json", "--status", "--no-fetch", tree.path()});
    EXPECT_EQ(done.exitCode, 0) << done.err;
    std::vector<nlohmann::json> rows;
    std::istringstream lines(done.out);
    for (std::string line; std::getline(lines, line);)
        rows.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(rows.size(), 5u) << done.out;
    auto bytes = [](const std::string& hex) {
        std::string text;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            text += char(std::stoi(hex.substr(i, 2), nullptr, 16));
        return text;
    };
    EXPECT_EQ(bytes(rows[1].value("pathHex", "")), odd);
    EXPECT_EQ(bytes(rows[1].value("branchHex", "")), "caf\xe9");
    EXPECT_NE(done.out.find("caf\xef\xbf\xbd\\nx"), std::string::npos);  // UTF-8 as it is, U+FFFD for the odd byte
    EXPECT_TRUE(rows[0]["noUpstream"] == true && rows[0]["upstream"] == nullptr && rows[0]["stop"] == nullptr);
    EXPECT_EQ(rows[0]["head"].get<std::string>().rfind(rows[0]["commit"].get<std::string>(), 0), 0u);
    EXPECT_EQ(rows[2]["path"], tree / "refused");
    EXPECT_EQ(rows[2]["status"]["exitCode"], 128);
    EXPECT_EQ(rows[4], nlohmann::json::parse(R"({"totals":{"repositories":4,"needAttention":3,"failed":1}})"));

    std::string table = scan({"--pane", "summary", "--no-fetch", tree.path()}).out;
    auto rest = [&](const std::string& name) {
        size_t at = table.find(tree / name) + (tree / name).size();
        return table.substr(at, table.find('\n', at) - at);
    };
    EXPECT_EQ(rest("abcd"), rest("\xe6\x97\xa5\xe6\x9c\xac")) << table;
    EXPECT_NE(rest("abcd").find(" main "), std::string::npos) << table;
    EXPECT_TRUE(rest("abcd").ends_with(" no upstream  clean")) << table;
    EXPECT_NE(rest("caf\xe9\\nx").find(" caf\xe9 (unborn) "), std::string::npos) << table;
    EXPECT_NE(table.find("\n* " + tree / "refused" + " "), std::string::npos) << table;
}

// On a terminal, control characters of the panes are shown escaped; to a
// file the bytes stay as they are. --json stays JSON there, line by line.
TEST_F(ScanCli, EscapesControlCharactersOnlyOnATerminal) {
    std::string hostile = tree / "\x1b]0;title\x07\x1b[2K\xc2\x9b";
    std::filesystem::create_directories(hostile + "/.git");
    int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0);
    std::vector<std::string> args = {"--no-fetch", "--pane", "Repositories", tree.path()};
    EXPECT_EQ(scan(args, ">" + ::quoted(ptsname(terminal))).exitCode, 0);
    std::string shown(4096, '\0');
    shown.resize(std::max<ssize_t>(0, read(terminal, shown.data(), shown.size())));
    EXPECT_NE(shown.find(tree.path() + "/\\x1b]0;title\\x07\\x1b[2K\\xc2\\x9b\r\n"), std::string::npos) << shown;
    EXPECT_EQ(scan(args).out.find(hostile + "\n"), 0u);

    EXPECT_EQ(scan({"--json", "--no-fetch", tree.path()}, ">" + ::quoted(ptsname(terminal))).exitCode, 0);
    shown.assign(4096, '\0');
    shown.resize(std::max<ssize_t>(0, read(terminal, shown.data(), shown.size())));
    ASSERT_TRUE(shown.ends_with("}}\r\n") && shown.find("\xc2\x9b") == std::string::npos) << shown;
    EXPECT_EQ(nlohmann::json::parse(shown.substr(0, shown.find("\r\n")))["path"], hostile) << shown;
    close(terminal);
}

}  // namespace
