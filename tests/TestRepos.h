// Real git repositories and the stand-in git for the Linux tests; git runs
// with a private configuration, never the user's.
#pragma once

#include <string>

#include "tests/TempFolder.h"

void isolateGit();  // a private, empty configuration with a fixed identity
void sh(const std::string& commandLine);  // set-up; fails the test when it fails
std::string quoted(const std::string& text);  // in single quotes for sh, whatever bytes it holds
// A copy at folder of tests/farm.sh's repositories, made once per test program.
void copyFarm(const std::string& folder);
void resetScanState();  // empty panes, options and flags as at start-up (they live on)
bool waitForFile(const std::string& path);  // false after 30 s, so a broken test fails, not hangs

// tests/fakegit first on PATH while the object lives, reading its scripts
// from a folder of its own: script("fetch", "sleep 100\n").
class FakeGit {
public:
    FakeGit();
    ~FakeGit();
    void script(const std::string& key, const std::string& text) const { writeFile(scripts / key, text); }
    std::string file(const std::string& name) const { return scripts / name; }

private:
    TempFolder scripts;
    std::string savedPath;
};
