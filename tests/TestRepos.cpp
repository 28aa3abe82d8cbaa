#include "tests/TestRepos.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "repodeck-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        ADD_FAILURE() << "cannot make a temporary folder";
    root = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

void isolateGit() {
    static TempFolder home;
    std::string config = home / "gitconfig";
    writeFile(config,
              "[user]\n\tname = repodeck tests\n\temail = tests@localhost\n"
              "[init]\n\tdefaultBranch = main\n"
              "[protocol \"file\"]\n\tallow = always\n");
    setenv("GIT_CONFIG_GLOBAL", config.c_str(), 1);
    setenv("GIT_CONFIG_NOSYSTEM", "1", 1);
    setenv("GIT_TERMINAL_PROMPT", "0", 1);
    unsetenv("GIT_DIR");
    unsetenv("GIT_WORK_TREE");
}

void sh(const std::string& commandLine) {
    int status = std::system(commandLine.c_str());
    ASSERT_EQ(status, 0) << commandLine;
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string makeRepository(const std::string& path) {
    isolateGit();
    std::filesystem::create_directories(path);
    writeFile(path + "/file.txt", "first\n");
    sh("cd '" + path + "' && git init -q && git add file.txt && git commit -qm first");
    return path;
}
