// What a scan tells the views that show it. The scan knows which text goes
// where; the views own the panes and the table.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

struct RepositoryState;

// Where a text belongs, in the order the views show them.
enum class Pane { logs, repositories, updates, status, compacts, remotes, readme };
constexpr int paneCount = 7;
// Their names, as the views show them and as the scan's own notes name them.
constexpr const char* paneNames[paneCount] = {"Logs",     "Repositories", "Updates", "Status",
                                              "Compacts", "Remotes",      "Read Me"};

// The line that ends every block of a pane.
constexpr const char* separator = "----------------------------------------------------------------";
constexpr const char* separatorLine = "----------------------------------------------------------------\n";

// Called on the scan's threads, never two at once for one sink: a
// repository's text arrives in list order, after the walk's.
class ScanSink {
public:
    virtual ~ScanSink() = default;
    // False for a pane the view drops: the scan then holds none of its text back.
    virtual bool keeps(Pane) const { return true; }
    virtual void text(Pane pane, std::string_view text) = 0;
    virtual void repositoryFound(const std::string&) {}
    // A repository's record, complete, in list order; again after a retry.
    virtual void recordFinished(const RepositoryState&) {}
    // Every scan thread's work is done (stopped: a stop ended it).
    virtual void finished(bool /*stopped*/) {}
};

// Passes everything on to another sink, one call at a time: the scan's
// threads share one of these.
class SerialSink : public ScanSink {
public:
    explicit SerialSink(ScanSink& to) : to(to) {}
    bool keeps(Pane pane) const override { return to.keeps(pane); }
    void text(Pane pane, std::string_view text) override {
        std::lock_guard<std::mutex> lock(mutex);
        to.text(pane, text);
    }
    void repositoryFound(const std::string& path) override {
        std::lock_guard<std::mutex> lock(mutex);
        to.repositoryFound(path);
    }
    void recordFinished(const RepositoryState& state) override {
        std::lock_guard<std::mutex> lock(mutex);
        to.recordFinished(state);
    }
    void finished(bool stopped) override {
        std::lock_guard<std::mutex> lock(mutex);
        to.finished(stopped);
    }

private:
    ScanSink& to;
    std::mutex mutex;
};
