// The text of one pane: appended from any thread, indexed by line, and
// filtered a slice at a time for the one thread that shows it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "log/TextFilter.h"

// Any thread may append (addLog, append, write). One recursive mutex guards
// every field: write holds it while calling addLog, the showing thread
// around a frame's calls.
class PaneText {
public:
    PaneText();
    ~PaneText();
    PaneText(const PaneText&) = delete;
    PaneText& operator=(const PaneText&) = delete;

    [[gnu::format(gnu_printf, 2, 3)]] void addLog(const char* fmt, ...);
    // length bytes of text as they are, with no format and no copy on the way.
    void append(const char* text, size_t length);

    // One piece of a logsPane line; a run of pieces is not atomic as a group.
    void write(const char* text);
    void write(const std::string& text);  // up to its first zero character
    void write(int32_t value);
    void write(uint32_t value);
    void write(uint64_t value);

    // Empties the text; the filter stays.
    void clear();

    // A copy of the text, taken under the lock.
    std::string text() const;

    mutable std::recursive_mutex mutex;

    // Bytes a pane holds at most; once reached, one line says so and later
    // text is dropped until Clear.
    int textLimit = 1 << 30;

    // The showing thread's side; it holds mutex around these calls.
    // The filter box edits filter.input, then calls refilter().
    TextFilter filter;
    void refilter();
    // Tests the lines that arrived since, for at most a slice of a frame,
    // and returns how many lines show now: every line, or those found to
    // pass so far (the open last line only once the rest are done, so that
    // lines never show out of order).
    int showLines();
    // The index-th of the lines showLines counted, without its line feed.
    std::string_view shownLine(int index) const;
    // True while the filter is still being worked through the text: the
    // window keeps drawing until it is done. Takes the lock.
    bool filtering() const;
    // Once filtering() is over: the lines shown, each ended by one line feed,
    // and that text's size, known before anything is copied. The empty line
    // after the last line feed is not a line of text.
    size_t shownSize() const;
    std::string shownText() const;
    // The text in place, while the caller holds mutex.
    std::string_view view() const { return {chars.data, size_t(chars.size)}; }

private:
    // Grown with realloc, see reserveFor.
    template <typename T>
    struct Block {
        T* data = nullptr;
        int size = 0, capacity = 0;
    };
    Block<char> chars;
    Block<int> lineStarts;  // start of every line; never empty, first is 0
    bool full = false;
    bool cut = false;  // the last text was dropped for lack of memory, and a line says so
    bool appendWhole(const char* text, int length, bool keepNoteRoom);
    void noteCut();
    std::string_view line(int index) const;
    bool lastLineShown() const;

    // Lines that pass the filter, so a filtered frame does not test every line.
    // Complete lines [0, filteredUpTo) have been tested; the open last line is
    // tested on each frame since it may still grow.
    std::vector<int> filteredLines;
    int filteredUpTo = 0;
    void refreshFilteredLines();
};
