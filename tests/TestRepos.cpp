#include "tests/TestRepos.h"

#include <chrono>
#include <cstdlib>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>


void isolateGit() {
    static TempFolder home;
    writeFile(home / "gitconfig", "[user]\n\tname = repodeck tests\n\temail = tests@localhost\n"
                                  "[init]\n\tdefaultBranch = main\n[protocol \"file\"]\n\tallow = always\n");
    setenv("GIT_CONFIG_GLOBAL", (home / "gitconfig").c_str(), 1);
    setenv("GIT_CONFIG_NOSYSTEM", "1", 1);
    setenv("GIT_TERMINAL_PROMPT", "0", 1);
}

void sh(const std::string& commandLine) { ASSERT_EQ(std::system(commandLine.c_str()), 0) << commandLine; }

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

void copyFarm(const std::string& folder) {
    static TempFolder farm;
    [[maybe_unused]] static bool made = (isolateGit(), sh("sh " + quoted(FARM_SCRIPT) + " " + quoted(farm.path())), true);
    sh("cp -a " + quoted(farm.path()) + " " + quoted(folder));
}

FakeGit::FakeGit() : savedPath(getenv("PATH")) {
    setenv("PATH", (std::string(FAKEGIT_FOLDER) + ":" + savedPath).c_str(), 1);
    setenv("FAKEGIT_SCRIPTS", scripts.path().c_str(), 1);
}

FakeGit::~FakeGit() {
    setenv("PATH", savedPath.c_str(), 1);
    unsetenv("FAKEGIT_SCRIPTS");
}

bool waitForFile(const std::string& path) {
    for (int i = 0; i < 3000 && access(path.c_str(), F_OK) != 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return access(path.c_str(), F_OK) == 0;
}
