#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "log/LogPane.h"
#include "scan/ReadmeFile.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"
#include "tests/TestRepos.h"

namespace fs = std::filesystem;

namespace {

using Paths = std::vector<std::string>;

struct Preview {
    std::string readme;  // what the scan appended to "Read Me"
    std::string logs;    // and to "Logs"
};

Preview preview(const Paths& repositories) {
    size_t readmeAt = readmePane.text().size(), logsAt = logsPane.text().size();
    readmeScan(RepositoryList(repositories.begin(), repositories.end()));
    return {readmePane.text().substr(readmeAt), logsPane.text().substr(logsAt)};
}

// One repository's block: its path, an empty line, the text when a README was
// taken, the separator.
std::string block(const std::string& repository, std::optional<std::string> text) {
    return repository + "\n\n" + (text ? *text + "\n" : "") + separatorLine;
}

const std::string closingLines = std::string("ReadMe Scan Finished !!!\n") + separatorLine;
const std::string logLines = "ReadMe Scan Beginning ...\nReadMe Scan Finished !!!\n";

void expectPreview(const Paths& repositories, const std::string& blocks) {
    Preview result = preview(repositories);
    EXPECT_EQ(result.readme, blocks + closingLines);
    EXPECT_EQ(result.logs, logLines);
    EXPECT_FALSE(scanState.readmeScanRunning);
}

class ReadmeScan : public testing::Test {
protected:
    void SetUp() override { scanState.abortRequested = false; }
    void TearDown() override { scanState.abortRequested = false; }

    // A repository folder below root holding the given files.
    std::string repository(const std::string& name, const std::vector<std::pair<std::string, std::string>>& files) {
        std::string folder = root / name;
        fs::create_directories(folder);
        for (const auto& [file, text] : files)
            writeFile(folder + "/" + file, text);
        return folder;
    }

    TempFolder root;
};

TEST_F(ReadmeScan, TakesReadmeMdBeforeReadmeTxtIgnoringCase) {
    std::string both = repository("both", {{"README.MD", "markdown\n"}, {"README.txt", "text"}});
    std::string onlyTxt = repository("onlyTxt", {{"README.txt", "only text"}});
    std::string lower = repository("lower", {{"readme.md", "lower md"}, {"README.txt", "text"}});
    std::string spellings = repository("spellings", {{"readme.md", "second"}, {"README.md", "first"}});
    std::string upperTxt = repository("upperTxt", {{"README.TXT", "upper txt"}});
    std::string none = repository("none", {{"README", "no"}, {"README.markdown", "no"}, {"READ.ME", "no"}});
    std::string gone = root / "gone";

    // A README ending in a line break leaves an empty line before the separator.
    expectPreview({both, onlyTxt, lower, spellings, upperTxt, none, gone},
                  block(both, "markdown\n") + block(onlyTxt, "only text") + block(lower, "lower md") +
                      block(spellings, "first") + block(upperTxt, "upper txt") + block(none, {}) +
                      block(gone, {}));
}

TEST_F(ReadmeScan, CutsTheTextAfter256Bytes) {
    std::string exact = repository("exact", {{"README.md", std::string(256, 'a')}});
    std::string longer = repository("longer", {{"README.md", std::string(256, 'b') + "c"}});
    std::string zero = repository("zero", {{"README.md", std::string("0123456789\0after", 16)}});
    std::string lateZero = repository("lateZero", {{"README.md", std::string(300, 'd') + '\0' + "e"}});
    std::string empty = repository("empty", {{"README.md", ""}});
    // Bytes are counted, so the cut splits the two-byte letter.
    std::string utf8 = repository("utf8", {{"README.md", std::string(255, 'f') + "\xc3\xa9"}});
    std::string lineEnds = repository("lineEnds", {{"README.txt", "one\r\ntwo\r\n"}});

    expectPreview({exact, longer, zero, lateZero, empty, utf8, lineEnds},
                  block(exact, std::string(256, 'a')) + block(longer, std::string(256, 'b') + "...") +
                      block(zero, "0123456789") + block(lateZero, std::string(256, 'd') + "...") +
                      block(empty, "") + block(utf8, std::string(255, 'f') + "\xc3...") +
                      block(lineEnds, "one\r\ntwo\r\n"));
}

TEST_F(ReadmeScan, CandidateThatCannotBeReadStillWinsAndNeverBlocks) {
    std::string folder = repository("folder", {{"README.txt", "not looked at"}});
    fs::create_directory(folder + "/README.MD");
    std::string fifo = repository("fifo", {{"README.txt", "not looked at"}});
    ASSERT_EQ(mkfifo((fifo + "/README.md").c_str(), 0644), 0);
    std::string device = repository("device", {});
    fs::create_symlink("/dev/zero", device + "/README.md");
    std::string dangling = repository("dangling", {{"README.txt", "not looked at"}});
    fs::create_symlink(root / "missing", dangling + "/readme.MD");

    auto running = std::async(std::launch::async, [&] {
        return preview({folder, fifo, device, dangling});
    });
    if (running.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        // Let the blocked reader go, so the test fails instead of hanging.
        int writer = open((fifo + "/README.md").c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            close(writer);
        FAIL() << "the preview blocked on a pipe";
    }
    EXPECT_EQ(running.get().readme,
              block(folder, "") + block(fifo, "") + block(device, "") + block(dangling, "") + closingLines);
    EXPECT_EQ(readFileStart(fifo + "/README.md", 256), "");
}

TEST_F(ReadmeScan, HugeReadmeIsNotReadWhole) {
    std::string huge = repository("huge", {{"README.md", std::string(300, 'x')}});
    fs::resize_file(huge + "/README.md", uint64_t(1) << 30);  // sparse: costs no disk

    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    EXPECT_EQ(readFileStart(huge + "/README.md", 256), std::string(257, 'x'));
    expectPreview({huge}, block(huge, std::string(256, 'x') + "..."));
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024) << "kilobytes more at the peak";
}

TEST_F(ReadmeScan, EmptyListWritesOnlyTheOpeningAndClosingLines) { expectPreview({}, ""); }

TEST_F(ReadmeScan, StopFinishesTheCurrentRepositoryAndWritesTheClosingLines) {
    std::string one = repository("one", {{"README.md", "one"}});
    scanState.abortRequested = true;
    expectPreview({one}, "");

    scanState.abortRequested = false;
    // Ten folders, each listed a hundred times, make a long list cheaply.
    const int count = 1000;
    Paths repositories;
    for (int i = 0; i < count; i++)
        repositories.push_back(i < 10 ? repository("r" + std::to_string(i), {{"README.md", "text " + std::to_string(i)}})
                                      : repositories[i % 10]);

    size_t readmeAt = readmePane.text().size();
    std::atomic<bool> done{false}, sawRunning{false};
    std::thread stopper([&] {
        while (!done && readmePane.text().size() == readmeAt)
            std::this_thread::yield();
        sawRunning = scanState.readmeScanRunning.load();
        scanState.abortRequested = true;
    });
    Preview result = preview(repositories);
    done = true;
    stopper.join();
    EXPECT_TRUE(sawRunning);
    EXPECT_FALSE(scanState.readmeScanRunning);
    EXPECT_EQ(result.logs, logLines);

    // Whole blocks for a prefix of the list, then the closing lines.
    std::string blocks;
    int shown = 0;
    while (shown < count && blocks.size() + closingLines.size() < result.readme.size())
        blocks += block(repositories[shown], "text " + std::to_string(shown % 10)), shown++;
    EXPECT_EQ(result.readme, blocks + closingLines);
    EXPECT_GE(shown, 1);
    EXPECT_LT(shown, count / 2) << "the preview went on after the stop";
}

}  // namespace
