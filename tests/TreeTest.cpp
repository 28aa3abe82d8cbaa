// The repository walk and the README preview on real trees in temporary folders.
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "scan/GitWatch.h"
#include "scan/ReadmeScan.h"
#include "scan/Walk.h"
#include "tests/TempFolder.h"
#include "tests/TestRepos.h"

namespace {

using Lines = std::vector<std::string>;

// One entry of a tree, made with its parents: "PATH -> TARGET" is a link, a
// path ending in "/" a folder, one ending in "|" a FIFO, any other a file.
void makeEntry(const std::string& entry, const std::string& text = "") {
    size_t arrow = entry.find(" -> ");
    std::string path = entry.substr(0, arrow);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    if (arrow != std::string::npos)
        std::filesystem::create_symlink(entry.substr(arrow + 4), path);
    else if (path.back() == '/')
        std::filesystem::create_directories(path);
    else if (path.back() == '|')
        ASSERT_EQ(mkfifo(path.substr(0, path.size() - 1).c_str(), 0644), 0);
    else
        writeFile(path, text);
}

// The repositories a walk of folder finds, and what it says in Logs.
std::vector<std::string> walk(const std::string& folder, std::string& logs, const std::atomic<bool>& stop = false) {
    Texts texts;
    std::vector<std::string> found;
    findRepositories(folder, false, stop, texts, [&](const std::string& path) { return found.push_back(path), true; });
    logs = texts[Pane::logs];
    return found;
}

Lines lattice() {  // ten levels, each with two links to the next: 2^10 paths to one repository
    Lines tree = {"top/10/.git/"};
    for (int i = 0; i < 20; i++)
        tree.push_back("top/" + std::to_string(i / 2) + (i % 2 ? "/a" : "/b") + " -> ../" + std::to_string(i / 2 + 1));
    return tree;
}

// A tree and what the walk of its folder (top unless given) reports in order:
// repositories, and "PATH -> TARGET" for a link not followed.
const struct {
    const char* name;
    Lines tree, reports;
    const char* scanned = "top";
} treeCases[] = {
    {"NTFS order (ASCII letters upper-cased, then bytes), paths byte for byte, a trailing separator kept",
     {"top/b/.git/", "top/B/.git/", "top/a/.git/", "top/Z/.git/", "top/_/.git/", "top/\xff/.git/", "top/-/.git/",
      "top/A.txt", "top/a b/.git/", "top/n\nl/.git/"},
     {"top//-", "top//a", "top//a b", "top//B", "top//b", "top//n\nl", "top//Z", "top//_", "top//\xff"}, "top/"},
    {"a work tree is never walked into, whatever sorts before its .git; other spellings are no repository",
     {"top/!x/.GIT/a/.git/", "top/!x/.github/b/.git/", "top/!x/.gitx/.git/", "top/!x/w/.git", "top/!x/w/s/.git/",
      "top/!x/p|", "top/-in/.git/", "top/-in/-n/.git/", "top/-in/zz/.git/", "top/bare/HEAD", "top/bare/objects/",
      "top/bare/refs/", "top/bare/x/.git/"},
     {"top/!x/.GIT/a", "top/!x/.github/b", "top/!x/.gitx", "Git File Not Followed: top/!x/w/.git", "top/-in",
      "Bare Repository Not Scanned: top/bare"}},

    {"a lattice of links lists its repository once", lattice(), {"top/0/a/a/a/a/a/a/a/a/a/a"}},
    {"links that lead outside are not followed",
     {"top/!escape -> /etc", "top/!root -> /", "top/!file -> ../secret", "top/!gone -> ../none", "top/r/.git/",
      "top/s/.git -> ../r/.git", "top/t/.git -> /etc", "secret"},
     {"Link Not Followed: top/!escape -> /etc", "Link Not Followed: top/!root -> /", "top/r", "top/s",
      "Link Not Followed: top/t/.git -> /etc"}},
    {"each folder once, whatever reaches it, the scanned folder itself a link",
     {"top -> real", "real/-up -> .", "real/0 -> r", "real/1 -> r", "real/r/.git/"}, {"top/0"}},
};

TEST(Discovery, WalksEachTree) {
    for (const auto& c : treeCases) {
        SCOPED_TRACE(c.name);
        TempFolder root;
        for (const std::string& entry : c.tree)
            makeEntry(root / entry);
        std::vector<std::string> repositories;
        std::string logs, said;
        for (const std::string& report : c.reports) {
            size_t said = report.find(": ") == std::string::npos ? 0 : report.find(": ") + 2;
            logs += (said ? report.substr(0, said) : "Repository Found: ") + root / report.substr(said) + "\n";
            if (!said)
                repositories.push_back(root / report);
        }
        EXPECT_EQ(walk(root / c.scanned, said), repositories);
        EXPECT_EQ(said, logs);
    }
}

// /proc/self is a link; in it, an open folder shows as a link to that folder.
TEST(Discovery, NeverFollowsALinkIntoTheKernelsFolders) {
    int task = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string logs;
    walk("/proc/self", logs);
    close(task);
    EXPECT_NE(logs.find("Link Not Followed: /proc/self/fd/" + std::to_string(task) + " -> " +
                        std::filesystem::canonical("/proc/self").string() + "/task\n"), std::string::npos) << logs;
}

TEST(Discovery, StopEndsTheWholeWalkAndKeepsWhatWasFound) {
    TempFolder root;
    for (const char* entry : {"a/x/.git/", "a/y/.git/", "b/.git/"})
        makeEntry(root / entry);
    // The walk stops as it reports its first repository.
    std::atomic<bool> stop = false;
    Texts texts;
    std::vector<std::string> found;
    findRepositories(root.path(), false, stop, texts, [&](const std::string& path) { return found.push_back(path), stop = true; });
    EXPECT_EQ(found, std::vector<std::string>{root / "a/x"});
}

// A repository's files, as makeEntry takes them, and the text it shows (none
// without a README); from "fifo" on the first candidate wins but reads as nothing.
const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;
    std::optional<std::string> shown;
} repositories[] = {
    {"both", {{"README.MD", "markdown\n"}, {"README.txt", "text"}}, "markdown\n"},
    {"onlyTxt", {{"readme.TXT", "only text"}}, "only text"},
    {"none", {{"README", "no"}, {"README.markdown", "no"}, {"READ.ME", "no"}}, {}},
    {"exact", {{"README.md", std::string(256, 'a')}}, std::string(256, 'a')},
    {"longer", {{"README.md", std::string(256, 'b') + "c"}}, std::string(256, 'b') + "..."},
    {"zero", {{"README.md", std::string("0123456789\0after", 16)}}, "0123456789"},
    {"utf8", {{"README.md", std::string(255, 'f') + "\xc3\xa9"}}, std::string(255, 'f') + "..."},  // not cut inside é
    {"linkInside", {{"README.md -> docs/intro", ""}, {"docs/intro", "own text"}}, "own text"},
    {"viaLink -> linkInside", {}, "own text"},
    {"fifo", {{"README.md|", ""}, {"README.txt", "no"}}, ""},
    {"dangling", {{"readme.MD -> missing", ""}, {"README.txt", "no"}}, ""},
    {"secret", {{"README.md -> ../private", ""}}, ""},
    {"gitConfig", {{"README.md -> .git/config", ""}, {".git/config", "password"}}, ""},
};

// Each block: path, empty line, the text if a README was taken, separator.
TEST(ReadmeScan, ShowsTheStartOfEachRepositorysOwnReadme) {
    TempFolder root;
    writeFile(root / "private", "never shown");
    std::vector<std::string> paths = {root / "gone"};
    std::string expected = root / "gone\n\n" + separatorLine, closing = "ReadMe Scan Finished !!!\n" + std::string(separatorLine);
    for (const auto& repository : repositories) {
        makeEntry(root / repository.name + (repository.files.empty() ? "" : "/"));
        for (const auto& [name, text] : repository.files)
            makeEntry(root / repository.name + "/" + name, text);
        std::string path = root / std::string(repository.name).substr(0, std::string(repository.name).find(' '));
        paths.push_back(path);
        expected += path + "\n\n" + (repository.shown ? *repository.shown + "\n" : "") + separatorLine;
    }
    std::atomic<bool> stop = false;
    auto preview = [&](const std::vector<std::string>& list) {
        Texts texts;
        readmePreviews(list, stop, texts);
        return texts[Pane::readme];
    };
    auto running = std::async(std::launch::async, [&] { return preview(paths); });
    // A generous bound that only catches a read that waits on the pipe.
    if (running.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        close(open((root / "fifo/README.md").c_str(), O_WRONLY | O_NONBLOCK));  // lets the reader go
        FAIL() << "the preview waited on a pipe";
    }
    EXPECT_EQ(running.get(), expected + closing);

    // A stop shows no further repository, and still the closing lines.
    stop = true;
    EXPECT_EQ(preview({"/"}), closing);
}

// A change in a repository's git folder is told once for the repository,
// however many files it wrote; git's lock file alone is none. In a watched
// work tree every file counts, also in a folder made after, but not one of a
// nested repository's. A wake ends a wait that would last for ever.
TEST(GitWatchTest, TellsWhichRepositoriesChanged) {
    TempFolder root;
    for (const char* entry : {"a/.git/refs/heads/", "b/.git/refs/heads/", "b/inner/.git/"})
        makeEntry(root / entry);
    GitWatch watch(root.path());
    for (const char* name : {"a", "b"})
        ASSERT_TRUE(watch.add(root / name, findGitFolder(root / name)));
    watch.addTree(root / "b", std::atomic<bool>{false});
    for (const char* entry : {"a/.git/index.lock", "a/file", "b/inner/file"})
        makeEntry(root / entry);
    EXPECT_EQ(watch.changed(0), Lines());
    makeEntry(root / "a/.git/HEAD");
    makeEntry(root / "a/.git/refs/heads/main");
    EXPECT_EQ(watch.changed(30000), Lines{root / "a"});
    for (const char* entry : {"b/new/", "b/new/Cargo.lock"}) {
        makeEntry(root / entry);
        EXPECT_EQ(watch.changed(30000), Lines{root / "b"}) << entry;
    }
    EXPECT_FALSE(watch.treesCut());
    watch.wake();
    EXPECT_EQ(watch.changed(-1), Lines());
}

}  // namespace
