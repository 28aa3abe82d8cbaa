// The Windows folder walk and README reader on real folders under wine. Wine
// lists a folder in the Linux file system's order, so where siblings meet the
// assertions do not depend on their order.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log/LogPane.h"
#include "scan/ReadmeFile.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"
#include "tests/Win32Test.h"

namespace {

using Paths = std::vector<std::string>;

Paths walk(const std::string& folder) {
    RepositoryList repositories;
    findRepositories(folder, repositories);
    return Paths(repositories.begin(), repositories.end());
}

Paths sorted(Paths paths) {
    std::sort(paths.begin(), paths.end());
    return paths;
}

void makeFolders(const TempFolder& root, const Paths& relative) {
    for (const std::string& folder : relative) {
        std::string path = root.path();
        for (size_t at = 0; at != std::string::npos;) {
            size_t next = folder.find('\\', at);
            path += '\\';
            path += folder.substr(at, next == std::string::npos ? next : next - at);
            makeFolder(path);
            at = next == std::string::npos ? next : next + 1;
        }
    }
}

class ScanWin32 : public testing::Test {
protected:
    void SetUp() override { scanState.abortRequested = false; }
};

TEST_F(ScanWin32, FindsFoldersHoldingAGitFolderWithBackslashPaths) {
    TempFolder root;
    makeFolders(root, {"alpha\\.git", "beta\\gamma\\.git", ".hidden\\.git", "notes\\plain",
                       "UPPER\\.GIT", "worktree", "worktree\\inner\\.git"});
    writeFile(root / "worktree\\.git", "gitdir: elsewhere\n");  // a linked work tree: a file
    writeFile(root / ".git", "not a folder\n");

    size_t logsAt = logsPane.text().size(), reposAt = reposPane.text().size();
    Paths found = walk(root.path());
    EXPECT_EQ(sorted(found), sorted({root / "alpha", root / "beta\\gamma", root / ".hidden", root / "worktree\\inner"}));
    std::string logs, repos;
    for (const std::string& path : found) {
        logs += "Repository Found: " + path + "\n";
        repos += path + "\n";
    }
    EXPECT_EQ(logsPane.text().substr(logsAt), logs);
    EXPECT_EQ(reposPane.text().substr(reposAt), repos);
}

TEST_F(ScanWin32, ScanFolderHoldingGitIsListedLastAsWrittenAndTrailingBackslashDoubles) {
    TempFolder root;
    makeFolders(root, {".git", "only\\.git"});
    Paths found = walk(root.path());
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.back(), root.path());
    // A sub-folder listed after ".git" is never walked, one before it is.
    EXPECT_TRUE(found.size() == 1 || found == Paths({root / "only", root.path()}));

    TempFolder plain;
    makeFolders(plain, {"one\\.git"});
    EXPECT_EQ(walk(plain.path() + "\\"), Paths({plain.path() + "\\\\one"}));
}

TEST_F(ScanWin32, FolderThatCannotBeListedContributesNothing) {
    TempFolder root;
    EXPECT_TRUE(walk(root / "vanished").empty());
    EXPECT_TRUE(walk(root.path()).empty());

    // Below a path too long for the narrow find calls nothing is listed, also
    // where the platform would take it: that is what ends a junction cycle.
    std::string deep = root.path();
    while (deep.size() < 200)
        deep += "\\folder";
    makeFolders(root, {deep.substr(root.path().size() + 1) + "\\ok\\.git"});
    std::string tooLong = deep + "\\" + std::string(MAX_PATH - 4 - deep.size(), 'x');  // its pattern: MAX_PATH + 1
    ASSERT_TRUE(CreateDirectoryA(tooLong.c_str(), nullptr));
    std::string hiddenRepository = "\\\\?\\" + tooLong + "\\.git";  // too long for the narrow calls
    std::wstring wide(hiddenRepository.begin(), hiddenRepository.end());
    ASSERT_TRUE(CreateDirectoryW(wide.c_str(), nullptr));
    EXPECT_EQ(walk(root.path()), Paths({deep + "\\ok"}));
    RemoveDirectoryW(wide.c_str());
}

TEST_F(ScanWin32, StopBeforeTheWalkFindsNothing) {
    TempFolder root;
    makeFolders(root, {"a\\.git", "b\\.git"});
    scanState.abortRequested = true;
    EXPECT_TRUE(walk(root.path()).empty());
}

TEST_F(ScanWin32, ReadmeProbeIgnoresCaseAndPrefersReadmeMd) {
    TempFolder repository;
    EXPECT_EQ(findReadme(repository.path()), "");
    writeFile(repository / "readme.TXT", "text\n");
    EXPECT_EQ(findReadme(repository.path()), repository / "README.txt");
    EXPECT_EQ(readFileStart(findReadme(repository.path()), 256), "text\n");
    writeFile(repository / "ReadMe.md", "mark\r\ndown\n");
    EXPECT_EQ(findReadme(repository.path()), repository / "README.MD");
    EXPECT_EQ(readFileStart(findReadme(repository.path()), 256), "mark\r\ndown\n");  // bytes as stored

    // A folder of that name still wins, and reads as nothing.
    TempFolder other;
    makeFolder(other / "README.MD");
    writeFile(other / "README.txt", "never shown\n");
    EXPECT_EQ(findReadme(other.path()), other / "README.MD");
    EXPECT_EQ(readFileStart(other / "README.MD", 256), "");
}

TEST_F(ScanWin32, ReadIsBoundedAndEndsAtAZeroByte) {
    TempFolder folder;
    writeFile(folder / "long", std::string(100000, 'a'));
    EXPECT_EQ(readFileStart(folder / "long", 256), std::string(257, 'a'));
    writeFile(folder / "exact", std::string(256, 'b'));
    EXPECT_EQ(readFileStart(folder / "exact", 256), std::string(256, 'b'));
    writeFile(folder / "zero", std::string("abc\0def", 7));
    EXPECT_EQ(readFileStart(folder / "zero", 256), "abc");
    EXPECT_EQ(readFileStart(folder / "missing", 256), "");
    EXPECT_EQ(readFileStart("NUL", 256), "");  // a device is no README
}

TEST_F(ScanWin32, PreviewShowsEachRepositoryWithItsReadme) {
    TempFolder root;
    makeFolders(root, {"with", "without"});
    writeFile(root / "with\\README.md", std::string(300, 'r'));
    size_t at = readmePane.text().size();
    readmeScan({root / "with", root / "without"});
    EXPECT_EQ(readmePane.text().substr(at), root / "with" + "\n\n" + std::string(256, 'r') + "...\n" + separatorLine +
                                                root / "without" + "\n\n" + separatorLine +
                                                "ReadMe Scan Finished !!!\n" + separatorLine);
}

}  // namespace
