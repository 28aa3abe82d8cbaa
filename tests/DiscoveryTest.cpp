#include <atomic>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "log/LogPane.h"
#include "scan/DirectoryList.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"
#include "tests/TestRepos.h"

namespace fs = std::filesystem;

namespace {

using Paths = std::vector<std::string>;

// Folders given relative to root with "/", made with all their parents.
void makeFolders(const TempFolder& root, const Paths& relative) {
    for (const std::string& folder : relative)
        fs::create_directories(root / folder);
}

struct Walk {
    Paths list;
    std::string logs;   // what the walk appended to "Logs"
    std::string repos;  // and to "Repositories"
};

Walk walk(const std::string& folder) {
    size_t logsAt = logsPane.text().size(), reposAt = reposPane.text().size();
    RepositoryList repositories;
    findRepositories(folder, repositories);
    return {Paths(repositories.begin(), repositories.end()), logsPane.text().substr(logsAt),
            reposPane.text().substr(reposAt)};
}

// The list, the "Repository Found: " lines and the bare paths must agree.
void expectConsistent(const Walk& result) {
    std::string logs, repos;
    for (const std::string& path : result.list) {
        logs += "Repository Found: " + path + "\n";
        repos += path + "\n";
    }
    EXPECT_EQ(result.logs, logs);
    EXPECT_EQ(result.repos, repos);
}

void expectRepositories(const std::string& folder, const Paths& expected) {
    Walk result = walk(folder);
    EXPECT_EQ(result.list, expected);
    expectConsistent(result);
}

class Discovery : public testing::Test {
protected:
    void SetUp() override { scanState.abortRequested = false; }
    void TearDown() override { scanState.abortRequested = false; }
    TempFolder root;
};

TEST_F(Discovery, ListsEntriesWithAsciiLettersUpperCasedThenByBytes) {
    makeFolders(root, {"b", "B", "a", "Z", "[", "_x", "\xc3\xa9", "-"});
    writeFile(root / "A.txt", "");
    FolderListing listing;
    ASSERT_TRUE(listFolder(root.path(), listing));
    Paths names;
    for (const DirectoryEntry& entry : listing.entries)
        names.push_back(entry.name + (entry.isFolder ? "/" : ""));
    EXPECT_EQ(names, (Paths{"-/", "a/", "A.txt", "B/", "b/", "Z/", "[/", "_x/", "\xc3\xa9/"}));

    struct stat info;
    ASSERT_EQ(stat(root.path().c_str(), &info), 0);
    EXPECT_EQ(listing.id, (FolderId{uint64_t(info.st_dev), uint64_t(info.st_ino)}));

    EXPECT_FALSE(listFolder(root / "gone", listing));
    EXPECT_TRUE(listing.entries.empty());
    EXPECT_FALSE(listFolder(root / "A.txt", listing));
}

TEST_F(Discovery, ScanFolderHoldingGitComesLastAfterWhatSortsBeforeGit) {
    isolateGit();
    std::string top = makeRepository(root / "top");
    makeRepository(top + "/-inner");
    makeFolders(root, {"top/!x/.git", "top/zz/.git", "top/sub/deeper/.git"});
    // Only sub-folders that come before ".git" are walked: "!" and "-" do.
    expectRepositories(top, {top + "/!x", top + "/-inner", top});

    // Nested in a working tree after ".git": never found.
    std::string outer = makeRepository(root / "outer");
    makeRepository(outer + "/inner");
    expectRepositories(outer, {outer});
}

TEST_F(Discovery, GitFileAndOtherSpellingsAreWalkedLikeAnyFolder) {
    isolateGit();
    // A linked work tree has a ".git" file: no repository, its folders are walked.
    std::string main = makeRepository(root / "work/main");
    sh("git -C '" + main + "' worktree add -q ../linked");
    makeFolders(root, {"work/linked/sub/.git"});
    ASSERT_TRUE(fs::is_regular_file(root / "work/linked/.git"));
    std::string work = root / "work";
    expectRepositories(work, {work + "/linked/sub", work + "/main"});

    makeFolders(root, {"names/.GIT/in/.git", "names/.github/x/.git", "names/.hidden/r/.git", "names/.gitx/.git"});
    std::string names = root / "names";
    expectRepositories(names, {names + "/.GIT/in", names + "/.github/x", names + "/.gitx",
                               names + "/.hidden/r"});
}

TEST_F(Discovery, FolderWithoutRepositoriesGivesNothing) {
    expectRepositories(root.path(), {});
    makeFolders(root, {"a/b/c", "d"});
    writeFile(root / "a/b/c/.git", "not a folder");
    expectRepositories(root.path(), {});
    expectRepositories(root / "no such folder", {});
}

TEST_F(Discovery, PathsComeBackByteForByteAndUnnormalised) {
    // Already in walk order: "a b" < "it's" < "new" < 0xff.
    Paths names = {"a b", "it's \"quoted\"", "new\nline", "\xff\xfe not utf-8"};
    // A trailing separator is kept, so the paths below hold two in a row.
    std::string withSeparator = root.path() + pathSeparator;
    Paths expected, expectedWithSeparator;
    for (const std::string& name : names) {
        fs::create_directories(root / (name + "/.git"));
        expected.push_back(root / name);
        expectedWithSeparator.push_back(withSeparator + pathSeparator + name);
    }
    expectRepositories(root.path(), expected);
    expectRepositories(withSeparator, expectedWithSeparator);
}

TEST_F(Discovery, FollowsLinksToFoldersAndWalksACycleOnce) {
    TempFolder elsewhere;
    makeFolders(elsewhere, {"repo/.git"});
    makeFolders(root, {"a/c/.git", "b/.git"});
    fs::create_directory_symlink(elsewhere.path(), root / "link1");
    fs::create_directory_symlink(elsewhere.path(), root / "link2");
    fs::create_directory_symlink("..", root / "a/loop");
    fs::create_symlink(root / "missing", root / "dangling");
    // Reached through two links that form no cycle: listed twice.
    expectRepositories(root.path(), {root / "a/c", root / "b", root / "link1/repo", root / "link2/repo"});
}

TEST_F(Discovery, UnreadableFolderIsSkipped) {
    if (geteuid() == 0)
        GTEST_SKIP() << "running as root, where folder permissions do not stop a listing";
    makeFolders(root, {"locked/r/.git", "open/.git"});
    ASSERT_EQ(chmod((root / "locked").c_str(), 0), 0);
    expectRepositories(root.path(), {root / "open"});
    chmod((root / "locked").c_str(), 0755);
}

TEST_F(Discovery, FoldersVanishingDuringTheWalkAreSkipped) {
    const int count = 300;
    std::set<std::string> possible;
    for (int i = 0; i < count; i++) {
        std::string name = "d" + std::to_string(10000 + i);
        fs::create_directories(root / (name + "/r/.git"));
        possible.insert(root / (name + "/r"));
    }
    std::thread remover([&] {
        for (int i = count - 1; i >= 0; i--)
            fs::remove_all(root / ("d" + std::to_string(10000 + i)));
    });
    Walk result = walk(root.path());
    remover.join();
    expectConsistent(result);
    for (const std::string& path : result.list)
        EXPECT_EQ(possible.count(path), 1u) << path;
    EXPECT_TRUE(std::is_sorted(result.list.begin(), result.list.end()));
}

TEST_F(Discovery, AbortStopsTheWalkAndKeepsWhatWasFound) {
    makeFolders(root, {"a/.git", "b/.git"});
    scanState.abortRequested = true;
    expectRepositories(root.path(), {});

    // A long walk from few real folders: each level links 40 times to the next,
    // so 64000 repository paths lie below root, each reached once.
    const int fanOut = 40, count = fanOut * fanOut * fanOut;
    makeFolders(root, {"level1", "level2", "level3/r/.git", "walked"});
    for (int i = 0; i < fanOut; i++) {
        std::string name = "l" + std::to_string(10 + i);
        fs::create_directory_symlink(root / "level1", root / ("walked/" + name));
        fs::create_directory_symlink(root / "level2", root / ("level1/" + name));
        fs::create_directory_symlink(root / "level3", root / ("level2/" + name));
    }
    scanState.abortRequested = false;

    size_t reposAt = reposPane.text().size();
    std::atomic<bool> done{false};
    std::thread stopper([&] {
        // Stop once the first repository has shown up.
        while (!done && reposPane.text().size() == reposAt)
            std::this_thread::yield();
        scanState.abortRequested = true;
    });
    Walk result = walk(root / "walked");
    done = true;
    stopper.join();
    expectConsistent(result);
    EXPECT_GE(result.list.size(), 1u);
    EXPECT_LT(result.list.size(), size_t(count) / 2) << "the walk went on after the stop";
}

}  // namespace
