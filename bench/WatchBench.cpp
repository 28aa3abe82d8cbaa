// The window's scans and its watch on a folder of many repositories, through
// the window's own code in a headless Dear ImGui context whose frames, 60 a
// second, take in what the watch saw and draw the Summary tab, as the window's
// frames do:
// - a new scan of the folder (the walk and git status), Rescan (git status on
//   the last list, while a walk looks for added and gone ones) and Refresh all
//   (the state command alone), in turns, each until the scan has ended;
// - with Watch on, a real git commit in a repository picked at random, timed
//   from git's return to the first frame whose Summary shows the new head.
// Prints one "name value" line per figure; times in seconds.
//   WatchBench FOLDER [RUNS=5 [COMMITS=20]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/Panes.h"
#include "app/WindowScan.h"
#include "bench/SummaryFrame.h"
#include "tests/Headless.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr Clock::duration framePeriod = std::chrono::nanoseconds(1'000'000'000 / 60);

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Frames until done() holds after one, or limit seconds pass; false then.
bool framesUntil(Headless& ui, const std::function<bool()>& done, double limit) {
    Clock::time_point start = Clock::now(), next = start;
    for (;;) {
        ui.frame([] {
            keepRowsCurrent();
            drawSummaryTab();
        });
        if (done())
            return true;
        if (secondsSince(start) > limit)
            return false;
        std::this_thread::sleep_until(next += framePeriod);
    }
}

// Seconds from action until the scan it starts has ended.
double timedScan(Headless& ui, void (*action)()) {
    Clock::time_point start = Clock::now();
    action();
    if (!framesUntil(ui, [] { return !scanBusy(); }, 3600))
        exit(1);
    return secondsSince(start);
}

void newScan() { scanFolderAt(std::string(lastScannedFolder())); }  // a copy: the scan replaces it

// The inotify watches this process holds, as any program can read them.
size_t watchesHeld() {
    size_t count = 0;
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fdinfo", error)) {
        std::ifstream info(fd.path());
        for (std::string line; std::getline(info, line);)
            count += line.starts_with("inotify wd:");
    }
    return count;
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        count++;
    return count;
}

// The value at fraction of the sorted values, by nearest rank.
double rank(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    size_t at = size_t(fraction * double(values.size()) + 0.999999);
    return values[std::clamp<size_t>(at, 1, values.size()) - 1];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: WatchBench FOLDER [RUNS=5 [COMMITS=20]]\n");
        return 2;
    }
    int runs = argc > 2 ? atoi(argv[2]) : 5, commits = argc > 3 ? atoi(argv[3]) : 20;
    Headless ui(1280, 800);
    ScanOptions& options = windowOptions();
    options.fetchEnabled = false;
    options.statusEnabled = true;
    watchRows() = false;

    // The first scan warms the disk's cache; then each turn starts one later.
    scanFolderAt(argv[1]);
    if (lastScannedFolder().empty())
        return 1;
    timedScan(ui, [] {});
    std::vector<std::pair<const char*, void (*)()>> kinds = {{"new_scan", newScan}, {"rescan", rescanFolder}, {"refresh_all", refreshAll}};
    std::vector<std::vector<double>> times(kinds.size());
    for (int run = 0; run < runs; run++)
        for (size_t k = 0; k < kinds.size(); k++) {
            size_t kind = (size_t(run) + k) % kinds.size();
            times[kind].push_back(timedScan(ui, kinds[kind].second));
        }
    for (size_t kind = 0; kind < kinds.size(); kind++)
        printf("%s_seconds %.3f\n", kinds[kind].first, median(times[kind]));
    std::vector<RepositoryState> rows = summaryRecords().all();
    printf("rows %zu\n", rows.size());

    // The watch starts on a thread of its own once the scan has ended: ready
    // when the count of watches stops growing.
    watchRows() = true;
    Clock::time_point start = Clock::now();
    size_t watches = 0;
    for (Clock::time_point steady = start; (secondsSince(steady) < 1 || watches == 0) && secondsSince(start) < 60;)
        if (framesUntil(ui, [] { return false; }, 0.1); watchesHeld() != watches)
            watches = watchesHeld(), steady = Clock::now();
    printf("inotify_watches %zu\nwatch_start_seconds %.3f\n", watches, secondsSince(start) - 1);

    std::mt19937 pick(29);
    std::vector<double> delays;
    size_t refreshesBefore = occurrences(logsPane.text(), "\nChanged: ");
    for (int commit = 0; commit < commits; commit++) {
        std::string path = rows[pick() % rows.size()].path;
        std::string head = summaryRecords().find(path)->head;
        std::string command = "git -C '" + path + "' commit -q --allow-empty -m 'Commit " + std::to_string(commit) + "'";
        if (system(command.c_str()) != 0)
            return 1;
        start = Clock::now();
        if (framesUntil(ui, [&] { return summaryRecords().find(path)->head != head; }, 10))
            delays.push_back(secondsSince(start));
        // Apart, so each commit finds the window idle.
        framesUntil(ui, [] { return false; }, 0.5);
    }
    printf("commits %d\nshown %zu\nrefreshes %zu\n", commits, delays.size(),
           occurrences(logsPane.text(), "\nChanged: ") - refreshesBefore);
    if (delays.empty())
        return 1;
    printf("commit_seconds_min %.3f\ncommit_seconds_median %.3f\ncommit_seconds_p90 %.3f\ncommit_seconds_max %.3f\n",
           rank(delays, 0), median(delays), rank(delays, 0.9), rank(delays, 1));
    stopScan();
    watchRows() = false;
    keepRowsCurrent();
    return 0;
}
