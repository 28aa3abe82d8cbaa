// Whole scans in the process: the option scan on a farm of real repositories
// (tests/farm.sh), and starts and stops with the stand-in git.
#include <cstring>
#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <thread>

#include <gtest/gtest.h>

#include "scan/GitOutput.h"
#include "scan/InOrder.h"
#include "scan/Remote.h"
#include "scan/RepositoryState.h"
#include "scan/Scan.h"
#include "scan/SummaryCells.h"
#include "tests/TestRepos.h"

namespace {

const std::string sep = separatorLine;
using Flag = bool ScanOptions::*;
const Flag status = &ScanOptions::statusEnabled, remote = &ScanOptions::remoteEnabled,
           fetch = &ScanOptions::fetchEnabled, pull = &ScanOptions::pullEnabled,
           submodule = &ScanOptions::submoduleEnabled;

// Whether text is all of pattern, where * stands for any text and @ for path.
bool matches(const std::string& text, std::string pattern, const std::string& path = "") {
    for (size_t at; (at = pattern.find('@')) != std::string::npos;)
        pattern.replace(at, 1, path);
    size_t star = pattern.find('*'), from = star;
    if (star == std::string::npos || !text.starts_with(pattern.substr(0, star)))
        return text == pattern;
    for (size_t next; (next = pattern.find('*', star + 1)) != std::string::npos; star = next) {
        if ((from = text.find(pattern.substr(star + 1, next - star - 1), from)) == std::string::npos)
            return false;
        from += next - star - 1;
    }
    return text.size() >= from + pattern.size() - star - 1 && text.ends_with(pattern.substr(star + 1));
}

class Scans : public testing::Test {
protected:
    // A scan of list with the given options only, without a walk.
    void scan(const std::vector<std::string>& list, std::initializer_list<Flag> ticked, int jobs = 1) {
        last.reset();
        texts = std::make_unique<Texts>();
        ScanOptions options;
        options.fetchEnabled = false;
        for (Flag option : ticked)
            options.*option = true;
        options.jobs = jobs;
        last = std::make_unique<Scan>(temp.path(), options, *texts);
        last->runOn(list);
    }
    std::vector<RepositoryState> records() { return last->records().all(); }
    std::string text(Pane pane) { return (*texts)[pane]; }
    // The farm, copied for this test under a path with blanks, quotes, "$(...)"
    // and bytes that are not UTF-8, all shown as they are.
    std::string farm(const std::string& name = "") {
        std::string folder = temp / "a b 'c' \"d\" $(e) \xc3\xa9\xff";
        if (!std::filesystem::exists(folder))
            copyFarm(folder);
        return folder + "/" + name;
    }
    TempFolder temp;
    std::unique_ptr<Texts> texts;  // outlives the scan, which may still write
    std::unique_ptr<Scan> last;
};

// One command on one repository: git's own words reach its pane and, when it
// failed or brought something, Compacts; any exit code but 0 also gives one
// error block in Logs. The panes' whole texts as patterns (see matches).
TEST_F(Scans, GitsOwnWordsReachThePanes) {
    struct Case {
        const char* repository;
        Flag option;
        Pane pane;
        const char *own, *compacts, *error;  // "" for no error block
    } cases[] = {
        {"clean", status, Pane::status, "@\nOn branch main\n*nothing to commit, working tree clean\n*", "", ""},
        {"dirty", status, Pane::status, "@\n*Changes to be committed*", "git status: @\n*Changes to be committed*", ""},
        {"plain", status, Pane::status, "@\nfatal: not a git repository*", "git status: @\nfatal: not a git*",
         "Status\nFolder: @\nError Code: 128\nfatal: not a git*"},
        {"vanished", status, Pane::status, "@\n[repodeck] The folder could not be entered: No such file or directory\n\n-*",
         "git status: @\n[repodeck] The folder*", "Status\nFolder: @\nError Code: -62\n[repodeck] The folder*"},
        {"clean", remote, Pane::remotes, "@\norigin\t* (fetch)\n*", "", ""},
        {"plain", remote, Pane::remotes, "@\nfatal: not a git*", "git remote: @\nfatal*", "Remote\nFolder: @\nError Code: 128\n*"},
        {"behind", fetch, Pane::updates, "git fetch: @\n*main       -> origin/main\n*", "git fetch: @\n*-> origin/main\n*", ""},
        {"clean", fetch, Pane::updates, "git fetch: @\n\n-*", "", ""},
        {"badremote", fetch, Pane::updates, "git fetch: @\n*does not appear to be a git repository*",
         "git fetch: @\n*does not appear*", "Fetch\nFolder: @\nError Code: 128\n*"},
        {"behind", pull, Pane::updates, "git pull: @\n*Fast-forward*", "git pull: @\n*Fast-forward*", ""},
        {"clean", pull, Pane::updates, "git pull: @\nAlready up to date.\n*", "", ""},
        {"noupstream", pull, Pane::updates, "git pull: @\n*There is no tracking information*", "", ""},  // skipped
        {"detached", pull, Pane::updates, "git pull: @\n*You are not currently on a branch.*", "", ""},
        {"withsub", submodule, Pane::updates, "git submodule: @\n*Submodule path 'lib': checked out*",
         "git submodule: @\n*Submodule path*", ""},
        {"behind/vendor/x", pull, Pane::updates, "git pull: @\nfatal: not a git repository*", "git pull: @\nfatal*",
         "Pull\nFolder: @\nError Code: 128\nfatal*"},  // never the repository above
    };
    std::filesystem::create_directories(farm("behind/vendor/x/.git"));
    for (const Case& c : cases) {
        std::string path = farm(c.repository), logs = (scan({path}, {c.option}), text(Pane::logs));
        SCOPED_TRACE(path + "\n" + text(c.pane) + text(Pane::compacts) + logs);
        EXPECT_TRUE(matches(text(c.pane), c.own, path));
        EXPECT_TRUE(matches(text(Pane::compacts), c.compacts, path));
        EXPECT_EQ(occurrences(logs, "[ERROR]"), *c.error != '\0');
        EXPECT_TRUE(!*c.error || matches(logs, std::string("*-\n[ERROR] ") + c.error, path));
    }
}

// The record of every repository after a fetch, as both views show it.
TEST_F(Scans, RecordsTellEachRepositorysState) {
    const std::vector<std::vector<std::string>> expected = {
        // repository, branch, upstream, changes, stash, fetch, problem: each cell as a pattern
        {"ahead", "main", "origin/main \u21911", "clean", "", "ok", ""},
        {"badremote", "main", "origin/main", "clean", "", "failed (128)",
         "git fetch: fatal: '*/nowhere' does not appear to be a git repository"},
        {"noupstream", "main", "no upstream", "clean", "", "ok", ""},
        {"localtrack", "topic", "main", "clean", "", "ok", ""},  // FETCH_HEAD is no ref fetched
        {"sequencer", "main [cherry-pick]", "origin/main \u21912", "clean", "", "ok", ""},
        {"behind", "main", "origin/main \u21931", "clean", "", "1 ref", ""},
        {"clean", "main", "origin/main", "clean", "", "ok", ""},
        {"conflicted", "main [merge]", "origin/main \u21911", "!1", "", "ok", ""},
        {"detached", "(detached *)", "", "clean", "", "ok", ""},
        {"dirty", "main", "origin/main", "+1 ~1 ?1", "", "ok", ""},
        {"gone", "feature", "origin/feature (gone)", "clean", "", "ok", ""},
        {"rebasing", "(detached *) [rebase]", "", "!1", "", "ok", ""},
        {"stash", "main", "origin/main", "clean", "1", "ok", ""},
        {"unborn", "main (unborn)", "", "clean", "", "ok", ""},
        {"vanished", "", "", "", "", "failed (-62)", "git fetch: The folder could not be entered: *"},
        {"applying", "main [am]", "origin/main \u21911", "clean", "", "ok", ""},
        {"picking", "main [cherry-pick]", "origin/main \u21911", "!1", "", "ok", ""},
        {"reverting", "main [revert]", "origin/main \u21911", "!1", "", "ok", ""},
        {"bisecting", "main [bisect]", "origin/main", "clean", "", "ok", ""},
    };
    std::vector<std::string> list;
    for (const auto& row : expected)
        list.push_back(farm(row[0]));
    scan(list, {fetch});
    std::vector<RepositoryState> found = records();
    ASSERT_EQ(found.size(), expected.size());
    for (size_t i = 0; i < found.size(); i++) {
        EXPECT_EQ(found[i].path, farm(expected[i][0]));
        int c = 1;
        for (SummaryColumn column : {branchColumn, upstreamColumn, changesColumn, stashColumn, fetchColumn, problemColumn}) {
            std::string cell = summaryCell(found[i], column);
            EXPECT_TRUE(matches(cell, expected[i][c++])) << expected[i][0] << ": " << cell;
        }
        bool quiet = expected[i][0] == "clean" || expected[i][0] == "detached" || expected[i][0] == "unborn" ||
                     expected[i][0] == "localtrack";
        EXPECT_EQ(found[i].needsAttention(), !quiet) << expected[i][0];
    }
    EXPECT_EQ(found[0].commit.size(), 12u) << "git's abbreviation, core.abbrev there";
    EXPECT_TRUE(found[0].head.size() == 40 && found[0].head.starts_with(found[0].commit)) << found[0].head;
    auto subjects = [](const std::vector<std::string>& commits) {
        std::string all;
        for (const std::string& commit : commits)
            all += commit.substr(commit.find(' ')) + ";";
        return all;
    };
    EXPECT_EQ(subjects(found[5].fetchedSubjects) + subjects(found[0].fetchedSubjects), " two;");

    // A pull that brought commits counts them from the head before and after;
    // one with nothing to pull from is skipped, no failure.
    scan({farm("behind"), farm("noupstream"), farm("detached")}, {pull});
    for (size_t i = 0; i < 3; i++)
        EXPECT_EQ(summaryCell(records().at(i), pullColumn) + (records()[i].failed() ? " failed" : ""),
                  i == 0 ? "1 commit" : "skipped");
    EXPECT_EQ(subjects(records()[0].pulledSubjects), " two;");

    // git's warnings share the pipe with its entries: they hide no state.
    RepositoryState state;
    EXPECT_TRUE(readSummary("warning: could not open directory 'x/'\n# branch.oid abc\n# branch.head main\n? y\n"
                            "1 A. N... x\n1 AM N... z\n", state));
    EXPECT_EQ(state.branch + " +" + std::to_string(state.staged) + " ~" + std::to_string(state.changed), "main +2 ~1");
    // git's fatal line, not what came before it; for "Could not read", ssh's line before that.
    EXPECT_EQ(messageOf("warning: redirecting to x\nfatal: no such remote\n", 128), "fatal: no such remote");
    EXPECT_EQ(messageOf("Warning: Permanently added 'h' (ED25519) to the list of known hosts.\nssh: connect to host h "
                        "port 22: Connection refused\nfatal: Could not read from remote repository.\n", 128),
              "ssh: connect to host h port 22: Connection refused");
    // A message is cut at 4096 bytes, never inside a character.
    std::string line = "fatal: " + std::string(4088, 'x') + "\xc3\xa9 and more";
    EXPECT_EQ(messageOf(line, 128), line.substr(0, 4095));
}

// Every option, by one worker and by four, each on a copy of the farm: every
// pane reads the same, byte for byte, failures and a vanished folder included;
// each repository's commands in the order of the options, the scans opened in
// that order and closed in the reverse.
TEST_F(Scans, ManyJobsWriteWhatOneJobWrites) {
    std::string texts[2];
    for (int jobs : {1, 4}) {
        std::string copy = temp / ("copy" + std::to_string(jobs)), &text = texts[jobs > 1];
        copyFarm(copy);
        std::vector<std::string> list;
        for (const char* name : {"behind", "dirty", "badremote", "vanished", "noupstream", "withsub", "clean", "plain"})
            list.push_back(copy + "/" + name);
        scan(list, {status, remote, fetch, pull, submodule}, jobs);
        for (int pane = 0; pane < paneCount; pane++)
            text += this->text(Pane(pane));
        for (const RepositoryState& record : records())
            text += summaryCell(record, changesColumn) + summaryCell(record, pullColumn) + "\n";
        for (size_t at; (at = text.find(copy)) != std::string::npos;)
            text.replace(at, copy.size(), "COPY");
    }
    EXPECT_EQ(texts[0], texts[1]);
    EXPECT_TRUE(matches(texts[0], "Status Scan Beginning ...\nRemote Scan Beginning ...\nFetch Scan Beginning ...\n"
                                  "Pull Scan Beginning ...\nSubmodule Scan Beginning ...\n*Submodule Scan Finished !!!\n"
                                  "Pull Scan Finished !!!\nFetch Scan Finished !!!\nRemote Scan Finished !!!\n"
                                  "Status Scan Finished !!!\n*git fetch: COPY/behind\n*git pull: COPY/behind\n"
                                  "*git submodule: COPY/behind\n*git fetch: COPY/dirty\n*")) << texts[0];
}

// The stand-in git: plain folders whose fetch waits until the test lets it go.
class ScanWithWaitingGit : public Scans {
protected:
    void SetUp() override {
        for (const std::string& folder : {first, second})
            std::filesystem::create_directories(folder + "/.git");
        fake.script("fetch", "touch started\nprint fetching\\n\nawait " + fake.file("go") + "\n");
    }
    FakeGit fake;
    std::string first = temp / "first", second = temp / "second";
};

// A stop while four workers wait in git: every child ends at once, each
// repository in hand writes its [STOPPED] block and its lines, no other
// begins and each of those gets its row, every scan thread ends with its
// closing lines, and Logs says once that the scan was stopped.
TEST_F(ScanWithWaitingGit, StopEndsEveryChildAndEveryThreadWithItsClosingLines) {
    std::vector<std::string> inHand = {first, temp / "r0", temp / "r1", temp / "r2"};  // the first four in walk order
    for (const std::string& folder : {inHand[1], inHand[2], inHand[3], temp / "r3"})
        std::filesystem::create_directories(folder + "/.git");
    ScanOptions options;
    options.pullEnabled = options.readmeEnabled = true;
    options.jobs = 4;
    Texts texts;
    Scan scan(temp.path(), options, texts);
    ASSERT_TRUE(scan.start());
    for (const std::string& repository : inHand)
        ASSERT_TRUE(waitForFile(repository + "/started"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let "fetching" reach the pipes
    scan.stop();
    scan.wait();
    EXPECT_FALSE(scan.running());
    EXPECT_TRUE(waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD) << "a child was left";
    std::string logs = texts[Pane::logs], updates, stopped = "fetching\n[repodeck] Stopped.\n\n" + sep;
    for (const std::string& repository : inHand) {
        EXPECT_NE(logs.find(sep + "[STOPPED] Fetch\nFolder: " + repository + "\n" + stopped), std::string::npos);
        updates += "git fetch: " + repository + "\n" + stopped;
    }
    EXPECT_EQ(occurrences(logs, "[ERROR]"), 0) << logs;
    std::string rows;
    for (const RepositoryState& row : scan.records().all())
        rows += summaryCell(row, fetchColumn) + "/" + summaryCell(row, problemColumn) + (row.failed() ? "!" : "") + " ";
    EXPECT_EQ(rows, "stopped/stopped stopped/stopped stopped/stopped stopped/stopped /not reached /not reached ");
    EXPECT_NE(logs.find("Pull Scan Finished !!!\nFetch Scan Finished !!!\n"), std::string::npos) << logs;
    EXPECT_NE(logs.find("ReadMe Scan Finished !!!\n"), std::string::npos) << logs;
    EXPECT_EQ(texts[Pane::updates], updates + "Pull Scan Finished !!!\n" + sep + "Fetch Scan Finished !!!\n" + sep);
    EXPECT_FALSE(std::filesystem::exists(temp / "r3/started") || std::filesystem::exists(second + "/started"));
}

// A stop before the walk says so, not that there is nothing, and runs no git.
TEST_F(ScanWithWaitingGit, AStopBeforeTheWalkSaysSo) {
    Texts texts;
    Scan scan(temp.path(), ScanOptions(), texts);
    scan.stop();
    ASSERT_TRUE(scan.start());
    scan.wait();
    EXPECT_EQ(texts[Pane::logs], "Path to Scan: " + temp.path() + "\n" + sep +
                                     "Main Scan Stopped !!!\nRepositories Found Before The Stop: 0\n" + sep);
    EXPECT_FALSE(scan.gitRan());
}

// Text held for an earlier repository has a bound (64 MB): past it, a later
// one waits until the one whose turn it is ends, and nothing is lost.
TEST(InOrderTest, HeldTextWaitsPastItsBound) {
    Texts texts;
    Records records;
    InOrder order(texts, records, true);
    auto first = std::make_unique<Work>(), later = std::make_unique<Work>();
    later->index = 1;
    order.start(0);
    order.start(1);
    std::string bound(size_t(64) << 20, 'x');
    order.write(*later, Pane::logs, bound);  // held whole
    std::atomic<bool> written{false};
    std::thread writer([&] {
        order.write(*later, Pane::logs, "y");
        written = true;
    });
    for (int i = 0; i < 100 && !written; i++)  // it never is, until the first ends
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(written);
    order.finish(std::move(first));
    writer.join();
    order.finish(std::move(later));
    EXPECT_TRUE(texts[Pane::logs] == bound + "y");
}

// The host each kind of remote reaches, after the user's insteadOf rules.
TEST(Remote, HostOfEachKindOfUrl) {
    const UrlRewrites rewrites = {{"gh:x/", "https://other/"}, {"gh:", "ssh://git@host/"}};
    for (auto [url, reached] : std::initializer_list<std::pair<const char*, const char*>>{
             {"ssh://me@host:2222/x", "ssh host 2222"}, {"me@host:x.git", "ssh host "}, {"host:a/b", "ssh host "},
             {"git+ssh://host/x", "ssh host "}, {"ssh://[::1]:22/x", "ssh [::1] 22"},
             {"https://host/x.git", "https host "}, {"http://me:pw@host:8080/x", "http host 8080"},
             {"git://host/x", "git host "}, {"gh:y", "ssh host "}, {"gh:x/y", "https other "},
             {"file:///srv/x", "  "}, {"/srv/x", "  "}, {"./a:b", "  "}, {"C:\\x", "  "}, {"ext::sh -c x", "  "}}) {
        RemoteHost remote = remoteHost(rewrittenUrl(url, rewrites));
        EXPECT_EQ(remote.transport + " " + remote.host + " " + remote.port, reached) << url;
    }
}

// The remote of a repository's own configuration file, read as git reads it
// (each of these gives git "me@host:x.git").
TEST(Remote, ReadAsGitReadsTheConfiguration) {
    TempFolder repo;
    std::filesystem::create_directories(repo / ".git");
    for (const char* text : {"[remote \"origin\"]\n\tmirror\n\turl = me@host:x.git\n",  // a key alone: true
                             "[Remote \"origin\"]\n\tURL = \"me@host:x.git\" ; a comment\n",
                             "[remote \"origin\"]\n\turl = me@ho\\\nst:x.git\n", "[remote.origin]\n\turl=me@host:x.git#c\n",
                             "# c\n[core]\n\tbare = false\n[remote \"origin\"]   \n  url = \"me@host:x.git\"\n"}) {
        writeFile(repo / ".git" + pathSeparator + "config", text);
        EXPECT_EQ(remoteOfFolder(repo.path(), {}).host, "host") << text;
    }
}

}  // namespace
