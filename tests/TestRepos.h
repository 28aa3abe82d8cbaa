// Real folders, real git repositories and the stand-in git for the Linux
// tests; git runs with a private configuration, never the user's.
#pragma once

#include <string>

#include "tests/TempFolder.h"

// Points git at a private, empty configuration with a fixed identity.
void isolateGit();
// Runs a shell command line for set-up; fails the test when it fails.
void sh(const std::string& commandLine);
// text in single quotes for sh, whatever bytes it holds.
std::string quoted(const std::string& text);
// A copy at folder of tests/farm.sh's repositories in every state a scan
// reports; the farm itself is made once per test program.
void copyFarm(const std::string& folder);
// Empties the panes, puts options and flags back as at start-up (they live on).
void resetScanState();
// Waits for path to exist; false after 30 s, so a broken test fails, not hangs.
bool waitForFile(const std::string& path);

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
