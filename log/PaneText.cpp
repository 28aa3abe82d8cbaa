#include "log/PaneText.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <chrono>
#include <new>


void PaneText::addLog(const char* fmt, ...) {
    // Formatted once and before the lock, so writers on other threads wait
    // only for the copy; a line of the usual length needs no heap.
    char small[1024];
    va_list args;
    va_start(args, fmt);
    int length = vsnprintf(small, sizeof small, fmt, args);
    va_end(args);
    if (length <= 0)
        return;
    std::string large;
    const char* text = small;
    if (length >= int(sizeof small)) {
        try {
            large.resize(size_t(length) + 1);
        } catch (const std::bad_alloc&) {
            noteCut();
            return;
        }
        va_start(args, fmt);
        vsnprintf(large.data(), large.size(), fmt, args);
        va_end(args);
        text = large.data();
    }

    append(text, size_t(length));
}

void PaneText::append(const char* text, size_t size) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (full || size == 0)
        return;
    int length = int(std::min<size_t>(size, INT32_MAX));
    if (int64_t(chars.size) + length >= textLimit) {
        // Line starts are ints, and a pane's memory has a bound: say once
        // that the rest is not shown.
        full = true;
        text = "[repodeck] This pane is full; later text is not shown here.\n";
        length = int(strlen(text));
    }
    if (appendWhole(text, length, true))
        cut = false;
    else
        noteCut();
}

namespace {

constexpr const char* cutNote = "[repodeck] Text was cut here for lack of memory.\n";
const int cutNoteLength = int(strlen(cutNote));

// Grows data to hold needed elements, doubling up to limit where memory
// allows; false, changing nothing, where it does not. realloc, since the
// system can move the pages of a large block instead of copying them,
// which makes a million appended lines a third faster.
template <typename T>
bool reserveFor(T*& data, int& capacity, int needed, int limit) {
    if (needed <= capacity)
        return true;
    int doubled = int(std::min<int64_t>(int64_t(capacity) * 2, limit));
    for (int grown : {std::max(needed, doubled), needed})
        if (void* block = realloc(data, size_t(grown) * sizeof(T))) {
            data = static_cast<T*>(block);
            capacity = grown;
            return true;
        }
    return false;
}

}  // namespace

// Neither block is ever null, so an empty text too has a place to point at.
PaneText::PaneText() {
    if (!reserveFor(chars.data, chars.capacity, 1, 1) || !reserveFor(lineStarts.data, lineStarts.capacity, 1, 1))
        throw std::bad_alloc();
    lineStarts.data[lineStarts.size++] = 0;
}

PaneText::~PaneText() {
    free(chars.data);
    free(lineStarts.data);
}

// Both blocks grow here or not at all. Beside other text, room for the cut
// note is kept, so that the note needs no memory.
bool PaneText::appendWhole(const char* text, int length, bool keepNoteRoom) {
    int oldSize = chars.size;
    int lines = int(std::count(text, text + length, '\n'));
    int noteBytes = keepNoteRoom ? cutNoteLength : 0, noteLines = keepNoteRoom ? 1 : 0;
    if (!reserveFor(chars.data, chars.capacity, oldSize + length + noteBytes, textLimit + cutNoteLength) ||
        !reserveFor(lineStarts.data, lineStarts.capacity, lineStarts.size + lines + noteLines, textLimit + 2))
        return false;
    memcpy(chars.data + oldSize, text, size_t(length));
    chars.size += length;
    for (int i = 0; i < length; i++)
        if (text[i] == '\n')
            lineStarts.data[lineStarts.size++] = oldSize + i + 1;
    return true;
}

// Out of memory: the text is dropped whole, and one line says so where it
// is missing, however many texts after it are dropped too.
void PaneText::noteCut() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (!cut)
        cut = appendWhole(cutNote, cutNoteLength, false);
}

void PaneText::write(const char* text) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    addLog("%s", text);
}

void PaneText::write(const std::string& text) { write(text.c_str()); }

void PaneText::write(int32_t value) {
    char digits[16];
    snprintf(digits, sizeof digits, "%" PRId32, value);
    write(digits);
}

void PaneText::write(uint32_t value) { write(uint64_t(value)); }

void PaneText::write(uint64_t value) {
    char digits[24];
    snprintf(digits, sizeof digits, "%" PRIu64, value);
    write(digits);
}

void PaneText::clear() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    chars.size = 0;
    lineStarts.size = 1;  // the first line starts at 0
    full = false;
    filteredLines.clear();
    filteredUpTo = 0;
}

std::string PaneText::text() const {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return std::string(view());
}

std::string_view PaneText::line(int index) const {
    int start = lineStarts.data[index];
    int end = index + 1 < lineStarts.size ? lineStarts.data[index + 1] - 1 : chars.size;
    return {chars.data + start, size_t(end - start)};
}

namespace {

using Clock = std::chrono::steady_clock;

// The filter's share of one frame: a million lines take some 0.06 s to test,
// more on a busy machine, so they are tested in slices and the frame stays
// well inside 20 ms.
constexpr Clock::duration filterSlice = std::chrono::milliseconds(6);
constexpr int linesBetweenClockReads = 1024;

}  // namespace

void PaneText::refilter() {
    filter.build();
    filteredLines.clear();
    filteredUpTo = 0;
}

bool PaneText::filtering() const {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return filter.active() && filteredUpTo < lineStarts.size - 1;
}

void PaneText::refreshFilteredLines() {
    int completeLines = lineStarts.size - 1;
    Clock::time_point deadline = Clock::now() + filterSlice;
    while (filteredUpTo < completeLines) {
        int sliceEnd = std::min(completeLines, filteredUpTo + linesBetweenClockReads);
        for (; filteredUpTo < sliceEnd; filteredUpTo++)
            if (filter.passes({line(filteredUpTo)}))
                filteredLines.push_back(filteredUpTo);
        if (Clock::now() >= deadline)
            break;
    }
}

int PaneText::showLines() {
    if (!filter.active())
        return lineStarts.size;
    refreshFilteredLines();
    int lastLine = lineStarts.size - 1;
    bool lastPasses = filteredUpTo == lastLine && filter.passes({line(lastLine)});
    return int(filteredLines.size()) + (lastPasses ? 1 : 0);
}

std::string_view PaneText::shownLine(int index) const {
    if (!filter.active())
        return line(index);
    return line(index < int(filteredLines.size()) ? filteredLines[size_t(index)] : lineStarts.size - 1);
}

bool PaneText::lastLineShown() const {
    std::string_view last = line(lineStarts.size - 1);
    return !last.empty() && (!filter.active() || filter.passes({last}));
}

size_t PaneText::shownSize() const {
    int lastStart = lineStarts.data[lineStarts.size - 1];
    size_t size = lastLineShown() ? size_t(chars.size - lastStart) + 1 : 0;
    if (!filter.active())
        return size + size_t(lastStart);
    for (int shown : filteredLines)
        size += size_t(lineStarts.data[shown + 1] - lineStarts.data[shown]);
    return size;
}

std::string PaneText::shownText() const {
    std::string text;
    text.reserve(shownSize());
    int lastStart = lineStarts.data[lineStarts.size - 1];
    if (!filter.active())
        text.assign(chars.data, size_t(lastStart));
    else
        for (int shown : filteredLines)
            text.append(chars.data + lineStarts.data[shown], size_t(lineStarts.data[shown + 1] - lineStarts.data[shown]));
    if (lastLineShown())
        text.append(line(lineStarts.size - 1)).push_back('\n');
    return text;
}
