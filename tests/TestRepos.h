// Real git repositories and the stand-in git for the Linux tests; git runs
// with a private configuration, never the user's.
#pragma once

#include <mutex>
#include <string>

#include "scan/ScanSink.h"
#include "tests/TempFolder.h"

void isolateGit();  // a private, empty configuration with a fixed identity
void sh(const std::string& commandLine);  // set-up; fails the test when it fails
std::string quoted(const std::string& text);  // in single quotes for sh, whatever bytes it holds
// A copy at folder of tests/farm.sh's repositories, made once per test program.
void copyFarm(const std::string& folder);
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

// Every pane's text as a scan gave it, readable while the scan runs.
class Texts : public ScanSink {
public:
    void text(Pane pane, std::string_view text) override {
        std::lock_guard<std::mutex> lock(mutex);
        texts[int(pane)] += text;
    }
    std::string operator[](Pane pane) const {
        std::lock_guard<std::mutex> lock(mutex);
        return texts[int(pane)];
    }

private:
    mutable std::mutex mutex;
    std::string texts[paneCount];
};
