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

// Empties the seven panes and puts the options and flags back to their
// start-up values, since they live as long as the test program.
void resetScanState();

// How often needle occurs in text, without overlaps.
int occurrences(const std::string& text, const std::string& needle);
