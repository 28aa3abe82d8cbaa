#include "log/LogPane.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <chrono>
#include <new>

std::atomic<void (*)()> paneTextArrived{nullptr};

LogPane logsPane, reposPane, updatesPane, statusPane, compactPane, remotesPane, readmePane;

const PaneTab paneTabs[paneCount] = {
    {"Logs", "Logs", &logsPane},
    {"Repositories", "Repos", &reposPane},
    {"Updates", "Updates", &updatesPane},
    {"Status", "Status", &statusPane},
    {"Compacts", "Compacts", &compactPane},
    {"Remotes", "Remotes", &remotesPane},
    {"Read Me", "ReadMe", &readmePane},
};

LogPane::LogPane() { clear(); }

void LogPane::addLog(const char* fmt, ...) {
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
    if (void (*wake)() = paneTextArrived.load())
        wake();
}

void LogPane::append(const char* text, size_t size) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (full || discarded || size == 0)
        return;
    int length = int(std::min<size_t>(size, INT32_MAX));
    if (size > size_t(textLimit - buf.size() - 1)) {
        // Dear ImGui sizes its buffers with int: past this the pane would
        // corrupt memory. Say once that the rest is not shown.
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

// Grows vector to hold needed elements, doubling up to limit where memory
// allows; false, changing nothing, where it does not. realloc, since Dear
// ImGui's default allocator, which repodeck never replaces, is malloc and
// free; and the system can move the pages of a large block instead of
// copying them, which makes a million appended lines a third faster.
template <typename T>
bool reserveFor(ImVector<T>& vector, int needed, int limit) {
    if (needed <= vector.Capacity)
        return true;
    int doubled = int(std::min<int64_t>(int64_t(vector.Capacity) * 2, limit));
    for (int capacity : {std::max(needed, doubled), needed})
        if (void* grown = realloc(vector.Data, size_t(capacity) * sizeof(T))) {
            vector.Data = static_cast<T*>(grown);
            vector.Capacity = capacity;
            return true;
        }
    return false;
}

}  // namespace

// Both buffers grow here or not at all, so Dear ImGui's own growth, which
// writes through a null pointer when memory runs out, never runs. Beside
// other text, room for the cut note is kept, so that the note needs no memory.
bool LogPane::appendWhole(const char* text, int length, bool keepNoteRoom) {
    int oldSize = buf.size();
    int lines = int(std::count(text, text + length, '\n'));
    int noteBytes = keepNoteRoom ? cutNoteLength : 0, noteLines = keepNoteRoom ? 1 : 0;
    // ImGuiTextBuffer::append grows unless one byte more than it fills is free.
    if (!reserveFor(buf.Buf, oldSize + length + 2 + noteBytes, textLimit + cutNoteLength + 2) ||
        !reserveFor(lineOffsets, lineOffsets.Size + lines + noteLines, textLimit + 2))
        return false;
    buf.append(text, text + length);
    for (int i = 0; i < length; i++)
        if (text[i] == '\n')
            lineOffsets.push_back(oldSize + i + 1);
    return true;
}

// Out of memory: the text is dropped whole, and one line says so where it
// is missing, however many texts after it are dropped too.
void LogPane::noteCut() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (!cut)
        cut = appendWhole(cutNote, cutNoteLength, false);
}

void LogPane::write(const char* text) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    addLog("%s", text);
}

void LogPane::write(const std::string& text) { write(text.c_str()); }

void LogPane::write(int32_t value) {
    char digits[16];
    snprintf(digits, sizeof digits, "%" PRId32, value);
    write(digits);
}

void LogPane::write(uint32_t value) { write(uint64_t(value)); }

void LogPane::write(uint64_t value) {
    char digits[24];
    snprintf(digits, sizeof digits, "%" PRIu64, value);
    write(digits);
}

void LogPane::clear() {
    buf.clear();
    lineOffsets.clear();
    lineOffsets.push_back(0);
    full = false;
    resetFilteredLines();
}

std::string LogPane::text() const {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return std::string(buf.begin(), buf.size());
}

size_t LogPane::clipboardLimit = SIZE_MAX;

namespace {

using Clock = std::chrono::steady_clock;

// The filter's share of one frame: a million lines take about 0.2 s to test,
// so they are tested in slices and the frame stays well inside 20 ms.
constexpr Clock::duration filterSlice = std::chrono::milliseconds(6);
constexpr int linesBetweenClockReads = 1024;

}  // namespace

void LogPane::resetFilteredLines() {
    filteredLines.clear();
    filteredUpTo = 0;
}

bool LogPane::filtering() const {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return filter.active() && filteredUpTo < lineOffsets.Size - 1;
}

void LogPane::refreshFilteredLines() {
    const char* begin = buf.begin();
    int completeLines = lineOffsets.Size - 1;
    Clock::time_point deadline = Clock::now() + filterSlice;
    while (filteredUpTo < completeLines) {
        int sliceEnd = std::min(completeLines, filteredUpTo + linesBetweenClockReads);
        for (; filteredUpTo < sliceEnd; filteredUpTo++) {
            const char* lineStart = begin + lineOffsets[filteredUpTo];
            const char* lineEnd = begin + lineOffsets[filteredUpTo + 1] - 1;
            if (filter.passes({{lineStart, size_t(lineEnd - lineStart)}}))
                filteredLines.push_back(filteredUpTo);
        }
        if (Clock::now() >= deadline)
            break;
    }
}

// The lines as shown, each ended by one line feed: built from the pane, not
// from what Dear ImGui rendered, so nothing of the window around it comes
// along. The empty line after the last line feed is not a line of text. The
// size is known before anything is copied, so a text too large for the
// clipboard or for memory is refused with a line in the pane.
void LogPane::copyShownLines() {
    const char* begin = buf.begin();
    int lastLine = lineOffsets.Size - 1;
    const char* lastStart = begin + lineOffsets[lastLine];
    bool lastShown = lastStart != buf.end() && (!filter.active() || filter.passes({{lastStart, size_t(buf.end() - lastStart)}}));
    size_t length = lastShown ? size_t(buf.end() - lastStart) + 1 : 0;
    if (!filter.active())
        length += size_t(lastStart - begin);
    else
        for (int line : filteredLines)
            length += size_t(lineOffsets[line + 1] - lineOffsets[line]);
    if (length + 1 > clipboardLimit) {
        addLog("[repodeck] Copy: the %.1f MB shown are more than the clipboard takes (%.1f MB); nothing was "
               "copied. Narrow the filter and copy again.\n",
               double(length) / 1e6, double(clipboardLimit) / 1e6);
        return;
    }
    std::string text;
    try {
        text.reserve(length);
    } catch (const std::bad_alloc&) {
        addLog("[repodeck] Copy: not enough memory for the %.1f MB shown; nothing was copied.\n", double(length) / 1e6);
        return;
    }
    if (!filter.active())
        text.assign(begin, lastStart);
    else
        for (int line : filteredLines)
            text.append(begin + lineOffsets[line], begin + lineOffsets[line + 1]);
    if (lastShown)
        text.append(lastStart, buf.end()).push_back('\n');
    ImGui::SetClipboardText(text.c_str());
}

void LogPane::draw(bool focusFilter) {
    std::lock_guard<std::recursive_mutex> lock(mutex);

    bool clearPressed = ImGui::Button("Clear");
    ImGui::SameLine();
    bool copyPressed = ImGui::Button("Copy");
    ImGui::SameLine();
    ImGui::SetNextItemWidth(-10);
    if (focusFilter)
        ImGui::SetKeyboardFocusHere();
    if (ImGui::InputTextWithHint(" ", "Filter (include, -exclude)", filter.input, IM_ARRAYSIZE(filter.input))) {
        filter.build();
        resetFilteredLines();
    }
    // After the box, which on Escape has already given up its edit.
    if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape)) && filter.input[0]) {
        filter.input[0] = '\0';
        filter.build();
        resetFilteredLines();
    }
    ImGui::Separator();
    ImGui::BeginChild("scrolling", ImVec2(0, 0), false, ImGuiWindowFlags_HorizontalScrollbar);
    if (clearPressed)
        clear();
    // Home and End move the view, unless a text box has the keys.
    bool toTop = false, toBottom = false;
    if (!ImGui::IsAnyItemActive()) {
        toTop = ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Home));
        toBottom = ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_End));
    }

    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(0, 0));
    const char* begin = buf.begin();
    const char* end = buf.end();
    auto lineEnd = [&](int line) {
        return line + 1 < lineOffsets.Size ? begin + lineOffsets[line + 1] - 1 : end;
    };
    int lastLine = lineOffsets.Size - 1;
    ImGuiListClipper clipper;
    if (filter.active()) {
        // The lines found so far; the open last line only once the rest is
        // done, so lines never show out of order.
        refreshFilteredLines();
        bool done = filteredUpTo == lastLine;
        bool lastPasses = done && filter.passes({{begin + lineOffsets[lastLine], size_t(end - begin - lineOffsets[lastLine])}});
        clipper.Begin(filteredLines.Size + (lastPasses ? 1 : 0));
        while (clipper.Step())
            for (int item = clipper.DisplayStart; item < clipper.DisplayEnd; item++) {
                int line = item < filteredLines.Size ? filteredLines[item] : lastLine;
                ImGui::TextUnformatted(begin + lineOffsets[line], lineEnd(line));
            }
    } else {
        clipper.Begin(lineOffsets.Size);
        while (clipper.Step())
            for (int line = clipper.DisplayStart; line < clipper.DisplayEnd; line++)
                ImGui::TextUnformatted(begin + lineOffsets[line], lineEnd(line));
    }
    clipper.End();
    ImGui::PopStyleVar();

    // A Copy during filtering waits for the last slice, a frame or so later.
    copyPending |= copyPressed;
    if (copyPending && !(filter.active() && filteredUpTo < lastLine)) {
        copyPending = false;
        copyShownLines();
    }

    if (toTop)
        ImGui::SetScrollY(0);
    else if (toBottom || (autoScroll && ImGui::GetScrollY() >= ImGui::GetScrollMaxY()))
        ImGui::SetScrollHereY(1.0f);
    ImGui::EndChild();
}
