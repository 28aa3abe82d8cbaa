// Real folders and real git repositories for tests, made in a temporary
// folder and removed afterwards; git runs with a private configuration.
#pragma once

#include <string>

#include "tests/TempFolder.h"

// Points git at a private, empty configuration with a fixed identity, so
// tests never read the user's or the system's settings. Safe to call again.
void isolateGit();

// Runs a shell command line for test set-up; fails the test when it fails.
void sh(const std::string& commandLine);

// text in single quotes for sh, whatever bytes it holds.
std::string quoted(const std::string& text);

// Makes a repository at path with one commit; returns path.
std::string makeRepository(const std::string& path);

// A copy of tests/farm.sh's repositories (every state a scan reports) at
// folder; the farm itself is made once per test program.
void copyFarm(const std::string& folder);

// A stand-in "git" put first on PATH for as long as the object lives: a shell
// script whose body decides what each git command line does.
class StandinGit {
public:
    explicit StandinGit(const std::string& scriptBody);
    ~StandinGit();
    StandinGit(const StandinGit&) = delete;
    StandinGit& operator=(const StandinGit&) = delete;

    const std::string& folder() const { return bin.path(); }

private:
    TempFolder bin;
    std::string savedPath;
};

// tests/fakegit first on PATH for as long as the object lives, reading its
// scripts from a folder of its own: script("fetch", "sleep 100\n").
class FakeGit {
public:
    FakeGit();
    ~FakeGit();
    FakeGit(const FakeGit&) = delete;
    FakeGit& operator=(const FakeGit&) = delete;

    void script(const std::string& key, const std::string& text) const { writeFile(scripts / key, text); }
    std::string file(const std::string& name) const { return scripts / name; }

private:
    TempFolder scripts;
    std::string savedPath;
};

// Empties the seven panes and puts the options and flags back to their
// start-up values, since they live as long as the test program.
void resetScanState();

// How often needle occurs in text, without overlaps.
int occurrences(const std::string& text, const std::string& needle);

// Waits for path to exist; false after 30 seconds, so a broken test fails
// instead of hanging.
bool waitForFile(const std::string& path);
