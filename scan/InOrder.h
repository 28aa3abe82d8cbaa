// Puts every repository's text in the panes in list order, whatever order
// the workers finish in, so the panes read the same with any number of them;
// and each record in the records, and to the views, as soon as every earlier
// one is there.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "scan/Records.h"
#include "scan/RepositoryState.h"
#include "scan/ScanSink.h"
#include "scan/Trust.h"

// One repository in hand: its record, and the text an earlier one holds up.
struct Work {
    size_t index = 0;  // in the list
    RepositoryState state;
    RepositoryGit git;  // how its git children are started
    std::string held[paneCount];
};

class InOrder {
public:
    // Closed, the repositories' text waits until open: the walk's comes first.
    InOrder(ScanSink& sink, Records& records, bool open);

    // A worker has taken the repository at index.
    void start(size_t index);
    void write(Work& work, Pane pane, std::string_view text);
    void finish(std::unique_ptr<Work> work);
    void open();

    static constexpr const char* outOfMemoryLine = "[repodeck] Text was cut here for lack of memory.\n";

private:
    void release(Work& work);
    void publish();  // the lock is held

    ScanSink& sink;
    Records& records;
    std::mutex mutex;
    std::condition_variable room;
    bool isOpen;
    size_t heldBytes = 0;
    size_t nextText = 0;    // the first repository whose text is not out
    size_t nextRecord = 0;  // the first repository whose record is not out
    std::map<size_t, std::unique_ptr<Work>> finished;  // done, but text or record not out
    std::set<size_t> running;  // taken, not finished
};
