// Real folders and real git repositories for tests, made in a temporary
// folder and removed afterwards; git runs with a private configuration.
#pragma once

#include <string>

// A fresh empty folder, removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return root; }
    std::string operator/(const std::string& name) const { return root + "/" + name; }

private:
    std::string root;
};

// Points git at a private, empty configuration with a fixed identity, so
// tests never read the user's or the system's settings. Safe to call again.
void isolateGit();

// Runs a shell command line for test set-up; fails the test when it fails.
void sh(const std::string& commandLine);

// Writes text to a file, replacing it.
void writeFile(const std::string& path, const std::string& text);

// Makes a repository at path with one commit; returns path.
std::string makeRepository(const std::string& path);
