// The Linux host's link opener, on a stand-in xdg-open. The test program is
// linked with the real host file, whose main calls runApp: here runApp runs
// the tests instead of the window.
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/App.h"
#include "app/Host.h"
#include "tests/TestRepos.h"

int runApp() {
    testing::InitGoogleTest();
    return RUN_ALL_TESTS();
}

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Waits for a file the stand-in writes; gives up after 20 seconds so a broken
// opener fails the test instead of hanging it.
bool waitFor(const std::string& path) {
    for (int i = 0; i < 2000 && !exists(path); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return exists(path);
}

// No child of this process is left, running or finished.
bool noChildren() { return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

class OpenLinkTest : public testing::Test {
protected:
    // Nothing but the stand-in's folder on the search path.
    void SetUp() override {
        savedPath = getenv("PATH");
        setenv("PATH", bin.path().c_str(), 1);
    }
    void TearDown() override { setenv("PATH", savedPath.c_str(), 1); }

    // The stand-in records its arguments, one per line, and where its standard
    // streams lead, then waits until the test lets it finish.
    void installOpener() {
        std::string script = "#!/bin/sh\n"
                             "cd " + quoted(out.path()) + " || exit 1\n"
                             "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >args.tmp\n"
                             "s=$(for fd in 0 1 2; do readlink /proc/$$/fd/$fd; done)\n"
                             "printf '%s\\n' \"$s\" >streams\n"
                             "echo printed\n"
                             "echo complained >&2\n"
                             "mv args.tmp args\n"
                             "i=0; while [ ! -e release ] && [ $i -lt 2000 ]; do sleep 0.01; i=$((i+1)); done\n"
                             "touch done\n";
        writeFile(bin / "xdg-open", script);
        chmod((bin / "xdg-open").c_str(), 0755);
        setenv("PATH", (bin.path() + ":" + savedPath).c_str(), 1);  // for the tools it uses
    }

    TempFolder bin, out;
    std::string savedPath;
};

TEST_F(OpenLinkTest, StartsTheOpenerWithTheAddressAsOneArgumentAndDoesNotWait) {
    installOpener();
    const char* address = "file:///tmp/a b;$(touch pwned)`touch pwned` 'q\" #x";
    host::openLink(address);
    // Returned with nothing left to reap: no zombie now or later.
    EXPECT_TRUE(noChildren());

    ASSERT_TRUE(waitFor(out / "args"));
    EXPECT_EQ(readFile(out / "args"), std::string(address) + "\n");
    EXPECT_FALSE(exists(out / "pwned"));  // no shell read the address
    EXPECT_EQ(readFile(out / "streams"), "/dev/null\n/dev/null\n/dev/null\n");
    EXPECT_FALSE(exists(out / "done"));  // still running: openLink did not wait for it

    writeFile(out / "release", "");
    EXPECT_TRUE(waitFor(out / "done"));
    EXPECT_TRUE(noChildren());
}

TEST_F(OpenLinkTest, MissingOpenerChangesNothing) {
    host::openLink("file:///nowhere");
    EXPECT_TRUE(noChildren());
}

}  // namespace
