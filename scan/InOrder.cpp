#include "scan/InOrder.h"

#include <cstring>
#include <new>

namespace {

// Bytes of text that repositories waiting for an earlier one may hold back,
// together: past it, a worker waits for room or for its turn.
constexpr size_t heldTextBudget = size_t(64) << 20;

}  // namespace

InOrder::InOrder(ScanSink& sink, Records& records, bool open) : sink(sink), records(records), isOpen(open) {}

void InOrder::start(size_t index) {
    std::lock_guard<std::mutex> lock(mutex);
    running.insert(index);
}

void InOrder::write(Work& work, Pane pane, std::string_view text) {
    if (!sink.keeps(pane))
        return;  // nothing to hold
    std::unique_lock<std::mutex> lock(mutex);
    // The repository whose turn it is never waits once the list is open, and
    // the walk never waits for a worker, so every wait ends. One whose turn it
    // is but that no worker has yet (its host is full) may wait for the very
    // repositories that hold its host: they write on past the budget.
    auto turn = [&] { return isOpen && work.index == nextText; };
    auto turnRuns = [&] { return !isOpen || running.count(nextText); };
    room.wait(lock, [&] { return turn() || heldBytes + text.size() <= heldTextBudget || !turnRuns(); });
    if (turn()) {
        release(work);
        sink.text(pane, text);
        return;
    }
    try {
        work.held[int(pane)] += text;
        heldBytes += text.size();
    } catch (const std::bad_alloc&) {
        sink.text(pane, outOfMemoryLine);  // out of order, but said
    }
}

void InOrder::finish(std::unique_ptr<Work> work) {
    std::lock_guard<std::mutex> lock(mutex);
    size_t index = work->index;
    running.erase(index);
    finished[index] = std::move(work);
    publish();
}

void InOrder::open() {
    std::lock_guard<std::mutex> lock(mutex);
    isOpen = true;
    publish();
}

void InOrder::publish() {
    for (auto found = finished.find(nextRecord); found != finished.end(); found = finished.find(++nextRecord)) {
        records.put(found->second->state);
        sink.recordFinished(found->second->state);
    }
    for (auto found = finished.begin(); isOpen && found != finished.end() && found->first == nextText &&
                                        nextText < nextRecord;
         found = finished.erase(found), nextText++)
        release(*found->second);
    room.notify_all();
}

void InOrder::release(Work& work) {
    for (int pane = 0; pane < paneCount; pane++)
        if (!work.held[pane].empty()) {
            sink.text(Pane(pane), work.held[pane]);
            heldBytes -= work.held[pane].size();
            std::string().swap(work.held[pane]);
        }
}
