// repodeck-scan as a user starts it: the real binary on real repositories,
// its exit status, and what reaches standard output and standard error.
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <thread>
#include <sys/wait.h>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "scan/ScanSink.h"
#include "tests/TestRepos.h"

extern char** environ;

namespace {

struct Finished {
    int exitCode = -1;  // minus the signal that ended it
    std::string out, err;
};

class ScanCli : public testing::Test {
protected:
    void SetUp() override { isolateGit(); }

    // Starts repodeck-scan through sh: its standard error to a file and its
    // output sent by the redirection output, then the shell line setup, then the program.
    pid_t start(const std::vector<std::string>& args, const std::string& output = "", const std::string& setup = "") {
        std::string line = "exec 2>" + ::quoted(temp / "err") + " " + (output.empty() ? ">" + ::quoted(temp / "out") : output) +
                           "\n" + setup + "\nexec " + ::quoted(REPODECK_SCAN);
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
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), readFile(temp / "out"), readFile(temp / "err")};
    }
    Finished scan(const std::vector<std::string>& args, const std::string& output = "", const std::string& setup = "") {
        return finish(start(args, output, setup));
    }
    TempFolder temp, tree;
};

TEST_F(ScanCli, UsageErrorsExitTwoWithOneLineNamingTheProblem) {
    writeFile(tree / "file", "");
    for (auto [args, said] : std::initializer_list<std::pair<std::vector<std::string>, const char*>>{
             {{}, "no folder given"},
             {{tree / "missing"}, "no such folder: "},
             {{tree / "file"}, "not a folder: "},
             {{"--frobnicate", tree.path()}, "unknown option: --frobnicate"},
             {{"--pane", "Nowhere", tree.path()}, "no such pane: Nowhere"},
             {{"--", tree.path(), "-second"}, "more than one folder given: -second"},
             {{"--jobs", "65", tree.path()}, "--jobs needs a number from 0 to 64"},
             {{"--per-host", "0", tree.path()}, "--per-host needs a number from 1 to 64"},
             {{"--timeout", "1s", tree.path()}, "--timeout needs a number of seconds from 1 to 86400"},
             {{"--json", "--pane", "Logs", tree.path()}, "--json prints no panes"},
             {{"--color=sometimes", tree.path()}, "--color takes auto, always or never: --color=sometimes"},
             {{"--only", temp.path(), tree.path()}, "--only names a path outside the folder: "}}) {
        Finished done = scan(args);
        EXPECT_EQ(done.exitCode, 2) << said;
        EXPECT_TRUE(done.err.starts_with(std::string("repodeck-scan: ") + said) &&
                    done.err.ends_with("\nTry 'repodeck-scan --help'.\n")) << done.err;
    }
}

TEST_F(ScanCli, PrintsEveryPaneFromRealRepositories) {
    copyFarm(temp / "farm");
    for (const char* name : {"clean", "noupstream", "withsub"})
        std::filesystem::rename(temp / "farm" + "/" + name, tree / name);
    writeFile(tree / "clean/README.txt", "read me first\n");
    std::string json = scan({"--json", "--submodule", "--no-fetch", tree / "withsub"}).out;
    EXPECT_EQ(nlohmann::json::parse(json.substr(0, json.find('\n')))["submodulesUpdated"], 1);
    Finished done = scan({"--status", "--remote", "--pull", "--submodule", "--no-fetch", "--readme", "--jobs", "0", tree.path()});
    EXPECT_EQ(done.exitCode, 0) << done.err;
    EXPECT_EQ(done.err, "");  // not a terminal: no progress line
    size_t at = 0;
    for (const char* name : paneNames)
        EXPECT_NE(at = done.out.find(std::string("== ") + name + " ==\n", at), std::string::npos) << name;
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
    writeFile(tree / "repo/README.md", "");
    std::filesystem::resize_file(tree / "repo/README.md", uint64_t(1) << 30);  // sparse: costs no disk
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
        {"", "ulimit -v 400000", 0, "", "ReadMe Scan Finished !!!\n", true, "--readme"},  // a GiB README is not read whole
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
    EXPECT_TRUE(std::regex_match(rows[0].value("checkedAt", ""), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    // --only: those repositories alone, in the walk's order; one it does not find is marked gone.
    std::istringstream only(scan({"--json", "--no-fetch", "--only", tree / "gone", "--only", "refused", "--only",
                                  tree / "abcd", tree.path()}, "", "cd " + ::quoted(tree.path())).out);
    std::string kept;
    for (std::string line; std::getline(only, line);)
        if (auto row = nlohmann::json::parse(line); row.contains("path"))
            kept += row["path"].get<std::string>() + (row["gone"] == true && row["checkedAt"] == nullptr ? " gone " : " ");
    EXPECT_EQ(kept, tree / "abcd " + tree / "refused " + tree / "gone gone ");

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
    table = scan({"--pane", "summary", "--no-fetch", "--color", tree.path()}).out;
    EXPECT_NE(table.find("\n\x1b[31m* " + tree / "refused" + " "), std::string::npos) << table;

    // --exit-code: 0 when nothing needs attention, 3 when something does, 4 (over 3) when a command failed.
    EXPECT_EQ(scan({"--exit-code", "--no-fetch", odd}).exitCode, 0);
    writeFile(odd + "/untracked", "");
    EXPECT_EQ(scan({"--exit-code", "--no-fetch", odd}).exitCode, 3);
    EXPECT_EQ(scan({"--exit-code", "--no-fetch", tree.path()}).exitCode, 4);
}

// On a terminal, control characters of the panes are shown escaped, a
// progress line goes to standard error and the Summary is in colour unless
// NO_COLOR says no; to a file the bytes stay as they are.
TEST_F(ScanCli, OnATerminalEscapesControlCharactersAndShowsProgress) {
    FakeGit fake;
    fake.script("fetch", "sleep 300\n");
    std::string hostile = tree / "\x1b]0;title\x07\x1b[2K\xc2\x9b";
    std::filesystem::create_directories(hostile + "/.git");
    std::vector<std::string> args = {"--pane", "Repositories", "--pane", "Summary", tree.path()};
    for (std::string noColour : {"", "1"}) {
        int terminal = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_TRUE(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0);
        EXPECT_EQ(scan(args, ">" + ::quoted(ptsname(terminal)) + " 2>&1", "export TERM=xterm NO_COLOR=" + noColour).exitCode,
                  0);
        std::string shown;
        char chunk[4096];
        fcntl(terminal, F_SETFL, O_NONBLOCK);  // all of it is there: the program ended
        for (ssize_t n; (n = read(terminal, chunk, sizeof chunk)) > 0;)
            shown.append(chunk, size_t(n));
        close(terminal);
        EXPECT_NE(shown.find("\rrepodeck-scan: running git: 0 of 1 repositories done"), std::string::npos) << shown;
        EXPECT_NE(shown.find(tree.path() + "/\\x1b]0;title\\x07\\x1b[2K\\xc2\\x9b\r\n"), std::string::npos) << shown;
        EXPECT_EQ(shown.find("\r\n\x1b[31m* " + tree.path()) != std::string::npos, noColour.empty()) << shown;
    }
    EXPECT_EQ(scan(args).out.find("== Repositories ==\n" + hostile + "\n"), 0u);
    int terminal = posix_openpt(O_RDWR | O_NOCTTY);  // --json stays JSON there, line by line
    ASSERT_TRUE(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0);
    EXPECT_EQ(scan({"--json", "--no-fetch", tree.path()}, ">" + ::quoted(ptsname(terminal))).exitCode, 0);
    std::string shown(4096, '\0');
    shown.resize(std::max<ssize_t>(0, read(terminal, shown.data(), shown.size())));
    ASSERT_TRUE(shown.ends_with("}}\r\n") && shown.find("\xc2\x9b") == std::string::npos) << shown;
    EXPECT_EQ(nlohmann::json::parse(shown.substr(0, shown.find("\r\n")))["path"], hostile) << shown;
    close(terminal);
}

// At the default jobs, each counted by a stand-in ssh: a host's first session
// alone (the one the others could share), then as many at once as --per-host
// allows and no more, while a host that never answers holds a worker until
// --timeout. A host that could not be reached shows as unreachable, with ssh's words.
TEST_F(ScanCli, TalksToEachHostWithinItsLimits) {
    writeFile(temp / "standin", "#!/bin/sh\n[ \"$1\" = -G ] && exit 1\n[ \"$1\" = silent ] && exec sleep 300\n"
                            "echo + >>" + ::quoted(temp / "") + "\"$1\"; sleep 2; echo - >>" + ::quoted(temp / "") +
                            "\"$1\"; echo \"ssh: connect to host $1 port 22: Connection timed out\" >&2; exit 255\n");
    std::vector<std::pair<std::string, std::string>> remotes = {{"s", "silent:x"}, {"b1", "ssh://near/x"},
                                                                {"b2", "near:y"}};
    for (int i = 0; i < 6; i++)
        remotes.emplace_back("a" + std::to_string(i), "far:" + std::to_string(i));
    for (const auto& [name, url] : remotes)
        sh("git init -q " + ::quoted(tree / name) + " && git -C " + ::quoted(tree / name) + " remote add origin " + url);
    Finished done = scan({"--per-host", "5", "--timeout", "5", "--pane", "Logs", "--pane", "Summary", tree.path()}, "",
                         "export REPODECK_CHUNK_TIMEOUT=30 XDG_RUNTIME_DIR=" + ::quoted(temp.path()) + " GIT_SSH_COMMAND=" +
                             ::quoted(temp / "standin") + " && chmod +x \"$GIT_SSH_COMMAND\"");
    EXPECT_NE(done.out.find(tree / "s\nError Code: -64\n[repodeck] Timed out: still running after its limit of 5 s"),
              std::string::npos) << done.out;
    std::string squeezed;  // the Summary's columns, one blank apart
    for (char c : done.out)
        if (c != ' ' || squeezed.empty() || squeezed.back() != ' ')
            squeezed += c;
    for (const char* row : {"/b1 main (unborn) clean unreachable git fetch: ssh: connect to host near port 22: Connection timed out",
                            "/s main (unborn) clean timed out git fetch: Timed out: still running after its limit of 5 s"})
        EXPECT_NE(squeezed.find(row), std::string::npos) << row;
    for (auto [host, most] : {std::pair{"far", 5}, std::pair{"near", 1}}) {
        EXPECT_TRUE(readFile(temp / host).starts_with("+\n-\n")) << host << ": " << readFile(temp / host);
        int running = 0, highest = 0;
        for (char mark : readFile(temp / host))
            highest = std::max(highest, running += mark == '+' ? 1 : mark == '-' ? -1 : 0);
        EXPECT_EQ(highest, most) << host << ": " << readFile(temp / host);
    }
}

// A tree of repositories whose configuration or hooks name programs, scanned
// with every command: none runs, each repository says what it named, the
// user's own ssh and credential helper still serve, and a remote that wants a
// password fails at once as needing credentials.
TEST_F(ScanCli, RunsNoProgramARepositoryNames) {
    std::string markers = temp / "markers", farm = tree / "farm", port = temp / "port";
    std::filesystem::create_directories(markers);
    // The user's ssh: its configuration sets ControlMaster and leaves the time-outs unset.
    writeFile(temp / "ssh", "#!/bin/sh\n[ \"$1\" = -G ] && printf 'user me\\nconnecttimeout none\\nserveraliveinterval 0"
                            "\\ncontrolmaster auto\\n' && exit\necho \"$@\" >>" + ::quoted(temp / "ssh.log") +
                            "\necho 'Permission denied (publickey).' >&2\nexit 255\n");
    sh("chmod +x " + ::quoted(temp / "ssh") + " && mkdir " + ::quoted(farm) + " && cp \"$GIT_CONFIG_GLOBAL\" " +
       ::quoted(temp / "gitconfig") + " && git config --file " + ::quoted(temp / "gitconfig") + " core.sshCommand " +
       ::quoted(temp / "ssh") + " && git config --file " + ::quoted(temp / "gitconfig") + " credential.helper " +
       ::quoted("!f() { echo \"$1\" >>" + temp / "credential.log" + "; }; f"));
    // An address on the loopback that asks for a password.
    sh("(timeout 100 python3 -c \"import http.server as h, sys\nclass A(h.BaseHTTPRequestHandler):\n"
       " def do_GET(s): s.send_response(401); s.send_header('WWW-Authenticate', 'Basic'); "
       "s.send_header('Content-Length', '0'); s.end_headers()\n log_message = lambda *a: None\n"
       "s = h.HTTPServer(('127.0.0.1', 0), A); open(sys.argv[1], 'w').write(str(s.server_port)); "
       "s.serve_forever()\" " + ::quoted(port) + " & echo $! >" + ::quoted(temp / "server") + ")");
    ASSERT_TRUE(waitForFile(port));
    while (readFile(port).empty())
        ;
    sh("sh " + ::quoted(HOSTILE_SCRIPT) + " " + ::quoted(farm) + " " + ::quoted(markers) + " http://127.0.0.1:" +
       readFile(port) + "/x");
    std::string user = "export GIT_CONFIG_GLOBAL=" + ::quoted(temp / "gitconfig");
    const std::map<std::string, std::string> flagged = {
        {"fsmonitor", "core.fsmonitor"}, {"hooks", "hooks: post-checkout, post-merge, post-rewrite, reference-transaction"},
        {"ssh", "core.sshcommand"}, {"askpass", "core.askpass"}, {"credential", "credential.helper; credential.http"},
        {"gitproxy", "core.gitproxy"}, {"uploadpack", "remote.origin.uploadpack"}, {"ext", "protocol.allow"},
        {"filter", "filter.evil.clean; filter.evil.process; filter.evil.smudge"},
        {"merge", "diff.evil.textconv; merge.evil.driver"}, {"include", "core.fsmonitor"},
        {"hookspath", "core.hookspath"}, {"gpg", "gpg.program"}, {"submodule", "submodule.x/y/z/w/lib.update"},
        {"module", "filter.evil.clean"}};
    for (const char* jobs : {"1", "4"}) {
        sh("rm -rf " + ::quoted(tree / "copy") + " && cp -a " + ::quoted(farm) + " " + ::quoted(tree / "copy"));
        Finished done = scan({"--status", "--remote", "--pull", "--submodule", "--json", "--jobs", jobs, tree / "copy"},
                             "", user);
        EXPECT_EQ(std::to_string(std::distance(std::filesystem::directory_iterator(markers),
                                                                        std::filesystem::directory_iterator())),
                  "0") << "a program of the tree ran";
        std::istringstream lines(done.out);
        int rows = 0;
        for (std::string line; std::getline(lines, line) && !line.starts_with("{\"totals\"");) {
            auto row = nlohmann::json::parse(line);
            std::string name = std::filesystem::path(row["path"].get<std::string>()).filename(), said;
            for (const auto& item : row["trust"])
                said += (said.empty() ? "" : "; ") + item.get<std::string>();
            EXPECT_EQ(said.substr(0, flagged.count(name) ? flagged.at(name).size() : 0),
                      flagged.count(name) ? flagged.at(name) : "") << name;
            EXPECT_EQ(row["needsCredentials"], name == "ssh" || name == "askpass" || name == "credential") << line;
            rows++;
        }
        EXPECT_EQ(rows, 19);
    }
    EXPECT_NE(readFile(temp / "ssh.log").find("-o BatchMode=yes -o ConnectTimeout=15 -o ServerAliveInterval=15"),
              std::string::npos) << "the user's ssh, in batch, with what its configuration leaves unset";
    EXPECT_EQ(readFile(temp / "ssh.log").find("ControlMaster"), std::string::npos);
    EXPECT_NE(readFile(temp / "credential.log").find("get"), std::string::npos) << "the user's credential helper";
    // --ask: then git asks, on the terminal.
    sh(user + " && printf 'me\\nsecret\\n' | script -qec \"" + REPODECK_SCAN + " --ask " + tree / "copy/askpass" +
       "\" /dev/null >" + ::quoted(temp / "asked") + " 2>&1");
    EXPECT_NE(readFile(temp / "asked").find("Password for 'http://me@127.0.0.1:"), std::string::npos)
        << readFile(temp / "asked");

    // Trusted hooks run; the programs of the configuration still do not.
    sh("rm -rf " + ::quoted(tree / "copy") + " && cp -a " + ::quoted(farm) + " " + ::quoted(tree / "copy"));
    scan({"--no-fetch", "--pull", "--run-hooks", tree / "copy"}, "", user);
    EXPECT_TRUE(std::filesystem::exists(markers + "/post-merge"));
    EXPECT_FALSE(std::filesystem::exists(markers + "/hookspath") || std::filesystem::exists(markers + "/fsmonitor"));
    sh("kill $(cat " + ::quoted(temp / "server") + ")");
}

// The folder is made absolute and plain once: git's ceiling holds for a
// relative one, and a listed folder that git refuses never lets a pull reach
// the repository around the chosen folder.
TEST_F(ScanCli, RelativeFolderScansAsItsAbsolutePath) {
    copyFarm(temp / "farm");
    std::string outer = temp / "farm/behind";
    std::filesystem::create_directories(outer + "/deps/x/.git");
    writeFile(outer + "/deps/x/.git/HEAD", "");
    std::string head = readFile(outer + "/.git/refs/heads/main");
    Finished absolute = scan({"--pull", "--pane", "Logs", outer + "/deps"});
    for (const char* relative : {"deps", "./deps/", "deps/../deps//"}) {
        Finished done = scan({"--pull", "--pane", "Logs", relative}, "", "cd " + ::quoted(outer));
        EXPECT_EQ(done.out, absolute.out) << relative;
    }
    EXPECT_NE(absolute.out.find("Path to Scan: " + outer + "/deps\n"), std::string::npos) << absolute.out;
    EXPECT_EQ(readFile(outer + "/.git/refs/heads/main"), head) << "the repository around was pulled";
}

// A linked worktree is listed with its own branch; a work tree is walked into
// only with --nested, for repositories that are not its submodules; a folder
// the walk cannot read gets its line.
TEST_F(ScanCli, ListsWorktreesAndNestedRepositoriesAsAsked) {
    sh("cd " + ::quoted(tree.path()) + " && git init -q main && git -C main commit -q --allow-empty -m one && "
       "git -C main worktree add -q ../wt -b topic && git init -q main/inner && "
       "git -C main/inner commit -q --allow-empty -m inner && "
       "git -C main -c protocol.file.allow=always submodule -q add \"file://$PWD/main/inner\" sub && "
       "mkdir -m 000 locked && chmod 755 . " + ::quoted(temp.path()));
    for (bool nested : {false, true}) {
        std::vector<std::string> args = {"--no-fetch", "--pane", "Summary", tree.path()};
        if (nested)
            args.insert(args.begin(), "--nested");
        std::string table = scan(args).out;
        auto row = [&](const std::string& name) {
            size_t at = table.find(tree / name + " ");
            return at == std::string::npos ? "" : table.substr(at, table.find('\n', at) - at);
        };
        EXPECT_NE(row("wt").find(" topic "), std::string::npos) << table;
        EXPECT_EQ(row("main/inner").empty(), !nested) << table;
        EXPECT_EQ(row("main/sub"), "") << table;
    }
    sh("setpriv --reuid=65534 --regid=65534 --clear-groups " + ::quoted(REPODECK_SCAN) + " --no-fetch --pane Logs " +
       ::quoted(tree.path()) + " >" + ::quoted(temp / "locked") + " 2>&1");
    EXPECT_NE(readFile(temp / "locked").find("Folder Not Readable: " + tree / "locked\n"), std::string::npos)
        << readFile(temp / "locked");
}
}  // namespace
