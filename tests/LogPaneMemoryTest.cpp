// A pane that runs out of memory for real, in a child process with a limited
// address space, so that a crash fails the test instead of ending it.
#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "log/LogPane.h"

// 1 MB pieces far past a limit 16 MB above what the process holds, then a line once
// memory is back: the pane holds whole pieces, one cut note, that line, and their index.
static bool fillPastTheLimit(char fill) {
    LogPane pane;
    std::string piece = std::string((1 << 20) - 1, fill) + '\n';
    size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit limit{}, narrow{};
    getrlimit(RLIMIT_AS, &limit);
    narrow = {pages * size_t(sysconf(_SC_PAGESIZE)) + (16 << 20), limit.rlim_max};
    setrlimit(RLIMIT_AS, &narrow);
    for (int i = 0; i < 40; i++)
        pane.append(piece.data(), piece.size());
    setrlimit(RLIMIT_AS, &limit);
    pane.addLog("after\n");
    std::string text = pane.text(), tail = "[repodeck] Text was cut here for lack of memory.\nafter\n";
    size_t kept = text.size() - tail.size();
    return text.ends_with(tail) && kept % piece.size() == 0 && kept > 0 && text.starts_with(piece) &&
           pane.lineOffsets.Size == std::count(text.begin(), text.end(), '\n') + 1;
}

TEST(LogPaneMemory, TextThatDoesNotFitIsDroppedWithOneLineThatSaysSo) {
    pid_t child = fork();
    if (child == 0)  // the text runs out first, then the line index
        _exit(fillPastTheLimit('x') && fillPastTheLimit('\n') ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child ended with status " << status;
}
