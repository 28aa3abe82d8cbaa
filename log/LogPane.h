// The thread-safe, filterable, append-only text log shown in each tab.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <initializer_list>
#include <string>
#include <string_view>

#include <imgui.h>

#include "scan/ScanSink.h"

// Any thread may append (addLog, write); only the user interface thread draws.
// One recursive mutex guards every field: write holds it while calling addLog.
struct LogPane {
    ImGuiTextBuffer buf;
    ImGuiTextFilter filter;
    ImVector<int> lineOffsets;  // start of every line; never empty, first is 0
    bool autoScroll = true;

    LogPane();

    void addLog(const char* fmt, ...) IM_FMTARGS(2);
    // length bytes of text as they are, with no format and no copy on the way.
    void append(const char* text, size_t length);

    // One piece of a logsPane line; a run of pieces is not atomic as a group.
    void write(const char* text);
    void write(const std::string& text);  // up to its first zero character
    void write(int32_t value);
    void write(uint32_t value);
    void write(uint64_t value);

    // Caller holds the mutex (the constructor, draw).
    void clear();

    // Inside a window the caller has begun; takes the mutex for the whole pane.
    // focusFilter puts the keyboard into the filter box (Ctrl+F).
    void draw(bool focusFilter = false);
    // True while a filter is still being worked through the text, a slice
    // per frame: the window keeps drawing until it is done.
    bool filtering() const;

    // A copy of the text, taken under the lock (tests and repodeck-scan).
    std::string text() const;

    mutable std::recursive_mutex mutex;

    // repodeck-scan: a pane it will not print keeps nothing. Set before a scan.
    bool discarded = false;

    // Bytes a pane holds at most; once reached, one line says so and later
    // text is dropped until Clear.
    int textLimit = 1 << 30;

    // Bytes the desktop's clipboard takes in one piece; the host sets it.
    // A larger Copy says so in the pane instead of failing unseen.
    static size_t clipboardLimit;

private:
    bool full = false;
    bool cut = false;  // the last text was dropped for lack of memory, and a line says so
    bool appendWhole(const char* text, int length, bool keepNoteRoom);
    void noteCut();

    // Lines that pass the filter, so a filtered frame does not test every line.
    // Complete lines [0, filteredUpTo) have been tested; the open last line is
    // tested on each frame since it may still grow.
    ImVector<int> filteredLines;
    int filteredUpTo = 0;
    bool copyPending = false;  // Copy waits for the filter to reach the end
    void refreshFilteredLines();
    void resetFilteredLines();
    void copyShownLines();
};

// Called on the appending thread after each addLog (and so each write): the
// window host points it at what ends its idle wait. Null without a window.
extern std::atomic<void (*)()> paneTextArrived;

// Whether texts (one line, or the cells of a Summary row, judged as one) pass
// filter: out when any "-term" occurs in them, wherever the term stands; else
// in when there is no plain term or one occurs. Letters' case is ignored.
bool passesFilter(const ImGuiTextFilter& filter, std::initializer_list<std::string_view> texts);

extern LogPane logsPane, reposPane, updatesPane, statusPane, compactPane, remotesPane, readmePane;

// Tab order, for the user interface and repodeck-scan.
struct PaneTab {
    const char* label;
    const char* childName;
    LogPane* pane;
};
extern const PaneTab paneTabs[paneCount];
