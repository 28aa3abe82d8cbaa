#include "app/TerminalOutput.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include <nlohmann/json.hpp>

#include "scan/SummaryCells.h"

// How many bytes at text[i] a terminal would take as a control: 1 for C0 and
// DEL (line feed and tab aside), 2 for a C1 control written in UTF-8, else 0.
size_t controlAt(const char* text, size_t i, size_t length) {
    auto byte = (unsigned char)text[i];
    if (byte == '\n' || byte == '\t')
        return 0;
    if (byte < 0x20 || byte == 0x7f)
        return 1;
    if (byte == 0xc2 && i + 1 < length && (unsigned char)text[i + 1] >= 0x80 && (unsigned char)text[i + 1] <= 0x9f)
        return 2;
    return 0;
}

Output::Output(const std::atomic<bool>& hurry) : terminal(isatty(fileno(stdout)) != 0), hurry(hurry) {}

namespace {

using Json = nlohmann::ordered_json;  // keys in the order written: "path" first

bool validUtf8(const std::string& text) {
    try {
        (void)Json(text).dump();
        return true;
    } catch (const Json::type_error&) {
        return false;
    }
}

std::string hex(const std::string& bytes) {
    std::string text;
    for (unsigned char byte : bytes)
        text += "0123456789abcdef"[byte >> 4], text += "0123456789abcdef"[byte & 15];
    return text;
}

// ISO 8601 in UTC, to the second: "2024-05-01T12:34:56Z".
std::string utcText(std::chrono::system_clock::time_point at) {
    using namespace std::chrono;
    sys_days day = floor<days>(at);
    year_month_day date(day);
    hh_mm_ss time(floor<seconds>(at - day));
    char text[32];
    snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()), unsigned(date.month()),
             unsigned(date.day()), int(time.hours().count()), int(time.minutes().count()), int(time.seconds().count()));
    return text;
}

}  // namespace

// One repository's line of --json; the README lists every key. Controls that
// JSON lets through (DEL, C1 in UTF-8) are written \u00XX too: valid JSON,
// and harmless to a terminal.
std::string jsonLine(const RepositoryState& state) {
    static const char* const names[operationCount] = {"status", "remote", "fetch", "pull", "submodule"};
    auto orNull = [](const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); };
    Json row = {{"path", state.path}};
    // Bytes that are not UTF-8 show replaced; "...Hex" keeps them.
    if (!validUtf8(state.path))
        row["pathHex"] = hex(state.path);
    if (state.summarized) {
        row.update({{"branch", orNull(state.branch)}, {"detached", state.detached}, {"commit", orNull(state.commit)},
                    {"upstream", orNull(state.upstream)}, {"ahead", state.ahead}, {"behind", state.behind},
                    {"upstreamGone", state.upstreamGone}, {"staged", state.staged}, {"changed", state.changed},
                    {"untracked", state.untracked}, {"conflicted", state.conflicted}, {"stashes", state.stashes},
                    {"inProgress", orNull(state.inProgress)}});
        row["head"] = orNull(state.head);
        row["noUpstream"] = state.noUpstream;
        if (!validUtf8(state.branch))
            row["branchHex"] = hex(state.branch);
    }
    for (int i = 0; i < operationCount; i++)
        if (state.operations[i].ran) {
            row[names[i]] = {{"exitCode", state.operations[i].exitCode}, {"message", state.operations[i].message}};
            if (state.operations[i].needsCredentials)
                row[names[i]]["needsCredentials"] = true;
            if (state.operations[i].unreachable)
                row[names[i]]["unreachable"] = true;
            if (state.operations[i].skipped)
                row[names[i]]["skipped"] = true;
        }
    if (state.operations[fetchOperation].ran)
        row["fetchedRefs"] = state.fetchedRefs;
    if (state.operations[pullOperation].ran)
        row["pulledCommits"] = state.pulledCommits;
    if (state.operations[submoduleOperation].ran)
        row["submodulesUpdated"] = state.submodulesUpdated;
    row["problem"] = orNull(state.problem);
    row["stop"] = orNull(state.stop);
    row["gone"] = state.gone;
    bool checked = state.checkedAt != std::chrono::system_clock::time_point();
    row["checkedAt"] = checked ? Json(utcText(state.checkedAt)) : Json(nullptr);
    row["trust"] = state.trust;
    row["needsCredentials"] = state.needsCredentials();
    row["needsAttention"] = state.needsAttention();
    std::string line = row.dump(-1, ' ', false, Json::error_handler_t::replace), escaped;
    for (size_t i = 0; i < line.size(); i++) {
        size_t width = controlAt(line.data(), i, line.size());
        if (width == 0) {
            escaped += line[i];
            continue;
        }
        char code[8];
        i += width - 1;  // a C1 control is its second byte's code
        snprintf(code, sizeof code, "\\u00%02x", (unsigned char)line[i]);
        escaped += code;
    }
    return escaped + "\n";
}

namespace {

size_t count(const std::vector<RepositoryState>& rows, bool (RepositoryState::*test)() const) {
    return size_t(std::count_if(rows.begin(), rows.end(), [&](const RepositoryState& row) { return (row.*test)(); }));
}

}  // namespace

std::string totalsLine(const std::vector<RepositoryState>& rows) {
    Json totals = {{"repositories", rows.size()},
                   {"needAttention", count(rows, &RepositoryState::needsAttention)},
                   {"failed", count(rows, &RepositoryState::failed)}};
    return Json{{"totals", totals}}.dump() + "\n";
}

namespace {

// Columns a terminal gives text: two for a wide character (East Asian wide
// and full-width forms, emoji), none for a combining mark, else one.
size_t displayWidth(const std::string& text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        auto byte = (unsigned char)text[i];
        size_t length = byte < 0xc0 ? 1 : byte >= 0xf0 ? 4 : byte >= 0xe0 ? 3 : 2;
        char32_t c = length == 1 ? byte : byte & (0x7f >> length);
        for (size_t k = 1; k < length; k++)
            if (i + k < text.size() && ((unsigned char)text[i + k] & 0xc0) == 0x80)
                c = (c << 6) | ((unsigned char)text[i + k] & 0x3f);
            else
                length = 1;  // not UTF-8: one byte, shown as one replacement character
        i += length;
        bool combining = (c >= 0x300 && c <= 0x36f) || (c >= 0x200b && c <= 0x200f) || (c >= 0xfe00 && c <= 0xfe0f);
        bool wide = (c >= 0x1100 && c <= 0x115f) || (c >= 0x2e80 && c <= 0xa4cf && c != 0x303f) ||
                    (c >= 0xac00 && c <= 0xd7a3) || (c >= 0xf900 && c <= 0xfaff) || (c >= 0xfe30 && c <= 0xfe4f) ||
                    (c >= 0xff00 && c <= 0xff60) || (c >= 0xffe0 && c <= 0xffe6) || (c >= 0x1f300 && c <= 0x1f64f) ||
                    (c >= 0x1f900 && c <= 0x1f9ff) || (c >= 0x20000 && c <= 0x3fffd);
        width += combining ? 0 : wide ? 2 : 1;
    }
    return width;
}

// The escape sequence that gives a Summary line its row's colour in the window.
const char* ansiColour(RepositoryState::Tone tone) {
    switch (tone) {
    case RepositoryState::Tone::stopped: return "\x1b[90m";  // grey
    case RepositoryState::Tone::failed: return "\x1b[31m";  // red
    case RepositoryState::Tone::unread: break;
    case RepositoryState::Tone::changed: return "\x1b[33m";  // yellow
    case RepositoryState::Tone::moved: return "\x1b[94m";    // light blue
    case RepositoryState::Tone::clean: return "\x1b[32m";    // green
    }
    return "";
}

}  // namespace

// The Summary pane: a legend, then an aligned table with one line per
// repository, "*" first on the lines that need attention.
void printSummary(Output& output, const std::vector<RepositoryState>& rows, bool colour) {
    std::vector<std::vector<std::string>> cells(1);
    for (const char* name : summaryColumnNames)
        cells[0].push_back(name);
    for (const RepositoryState& row : rows) {
        cells.emplace_back();
        for (int column = 0; column < summaryColumnCount; column++) {
            std::string cell = summaryCell(row, SummaryColumn(column));
            for (size_t at; (at = cell.find_first_of("\r\n")) != std::string::npos;)  // one line per repository
                cell.replace(at, 1, cell[at] == '\n' ? "\\n" : "\\r");
            cells.back().push_back(cell);
        }
    }
    size_t widths[summaryColumnCount] = {};
    for (const auto& line : cells)
        for (int column = 0; column < summaryColumnCount; column++)
            widths[column] = std::max(widths[column], displayWidth(line[column]));
    output.put("Changes: +staged ~changed ?untracked !conflicted. Upstream: \u2191ahead \u2193behind. "
               "* needs attention.\n");
    for (size_t i = 0; i < cells.size(); i++) {
        std::string line = i > 0 && rows[i - 1].needsAttention() ? "* " : "  ";
        for (int column = 0; column < summaryColumnCount; column++)
            line += cells[i][column] + std::string(widths[column] - displayWidth(cells[i][column]) + 2, ' ');
        line.erase(line.find_last_not_of(' ') + 1);
        const char* code = colour && i > 0 ? ansiColour(rows[i - 1].tone()) : "";
        output.putCode(code);
        output.put(line);
        output.putCode(*code ? "\x1b[m\n" : "\n");
    }
}

bool colourWanted() {
    const char* noColour = getenv("NO_COLOR");
    if (!isatty(fileno(stdout)) || (noColour && *noColour))
        return false;
#ifdef _WIN32
    // Windows' console takes ANSI colours only once told to.
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(console, &mode) && SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
#else
    const char* term = getenv("TERM");
    return !term || strcmp(term, "dumb") != 0;
#endif
}

