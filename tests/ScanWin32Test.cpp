// The Windows folder walk and README reader on real folders under wine, which
// lists a folder in the file system's order: the walk's list is sorted here.
#include <windows.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "log/LogPane.h"
#include "scan/ReadmeFile.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"
#include "tests/TempFolder.h"

namespace {

using Paths = std::vector<std::string>;

// The walk's list, sorted.
Paths walk(const std::string& folder) {
    RepositoryList repositories;
    findRepositories(folder, repositories);
    Paths sorted(repositories.begin(), repositories.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

// Folders below root, with their parents, named in UTF-8 whatever the code page under test.
void makeFolders(const TempFolder& root, const Paths& relative) {
    for (const std::string& folder : relative)
        std::filesystem::create_directories(root.path() / std::filesystem::path(std::u8string(folder.begin(),
                                                                                              folder.end())));
}

// Wine makes no link (CreateSymbolicLink does nothing) but starts Linux programs
// without waiting: ln makes it, waited for with a bound that only catches a hang.
void makeLink(const std::string& folder, const std::string& name, const std::string& target) {
    std::string command = "ln -s " + target + " " + name;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ASSERT_TRUE(CreateProcessA("Z:\\bin\\ln", command.data(), 0, 0, 0, 0, 0, folder.c_str(), &startup, &process));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 1000 && GetFileAttributesA((folder + "\\" + name).c_str()) == INVALID_FILE_ATTRIBUTES; i++)
        Sleep(10);
}

TEST(ScanWin32, WalksAndReadsUnicodeNamesAndFollowsOnlyLinksIntoTheScannedFolder) {
    TempFolder root;
    // One path longer than MAX_PATH in UTF-8 bytes, not in the UTF-16 units that count.
    std::string japanese = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", accented = "caf\xc3\xa9\\d\xc3\xa9p\xc3\xb4t";
    std::string longName;
    while (longName.size() < 240)  // a Linux name holds at most 255 bytes
        longName += japanese;
    makeFolders(root, {japanese + "\\.git", accented + "\\.git", longName + "\\.git", ".hidden\\.git", "UPPER\\.GIT",
                       "worktree\\inner\\.git"});
    writeFile(root / "worktree\\.git", "gitdir: elsewhere\n");  // a linked work tree: a file
    writeFile(root / (accented + "\\ReadMe.md"), "d\xc3\xa9p\xc3\xb4t\r\n");
    EXPECT_EQ(walk(root.path()),
              Paths({root / ".hidden", root / accented, root / "worktree\\inner", root / japanese, root / longName}));

    writeFile(root / "long", std::string(100000, 'a'));
    writeFile(root / "zero", std::string("abc\0def", 7));
    using Read = std::pair<std::string, std::string>;  // a path, and what the preview may read of it
    for (auto [path, text] : {Read{root / japanese, ""}, {root / "missing", ""}, {"NUL", ""}, {root / "zero", "abc"},
                              {root / "long", std::string(257, 'a')}})
        EXPECT_EQ(readFileStart(path, 256), text) << path;

    // Links: followed only into the scanned folder, and each folder walked once.
    makeFolders(root, {"top\\a\\r\\.git", "out\\r\\.git"});
    writeFile(root / "secret", "never shown");
    makeLink(root / "top\\a", "up", "..");
    makeLink(root / "top\\a\\r", "README.md", "../../../secret");
    makeLink(root / "top", "out", "../out");
    makeLink(root / "top", "all", "/");
    size_t logsAt = logsPane.text().size();
    EXPECT_EQ(walk(root / "top"), Paths{root / "top\\a\\r"});
    std::string logs = logsPane.text().substr(logsAt);
    EXPECT_NE(logs.find("Link Not Followed: " + root / "top\\out -> "), std::string::npos) << logs;
    EXPECT_NE(logs.find("Link Not Followed: " + root / "top\\all -> Z:\\\n"), std::string::npos) << logs;

    // A README as stored, in any case; one that leads out of its repository: an empty line.
    size_t at = readmePane.text().size();
    readmeScan({root / accented, root / "top\\a\\r"});
    std::string shown = root / accented + "\n\nd\xc3\xa9p\xc3\xb4t\r\n\n" + separatorLine;
    shown += root / "top\\a\\r" + "\n\n\n" + separatorLine + "ReadMe Scan Finished !!!\n" + separatorLine;
    EXPECT_EQ(readmePane.text().substr(at), shown);
}

}  // namespace
