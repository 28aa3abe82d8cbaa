// What repodeck-scan writes: standard output that never fails silently, the
// JSON Lines and the Summary pane.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "scan/RepositoryState.h"

// How many bytes at text[i] a terminal would take as a control: 1 for C0 and
// DEL (line feed and tab aside), 2 for a C1 control written in UTF-8, else 0.
size_t controlAt(const char* text, size_t i, size_t length);

// Standard output, whose failures are never silent. On a terminal, control
// characters are shown escaped (\x1b), so a folder name or a README cannot
// drive the terminal; to a file or a pipe the bytes go as the panes hold them.
class Output {
public:
    // Escaping ends early once hurry is set: a second stop.
    explicit Output(const std::atomic<bool>& hurry);

    void put(const char* text, size_t length) {
        if (!terminal)
            return raw(text, length);
        size_t start = 0;
        for (size_t i = 0; i < length && !hurry;) {
            size_t width = controlAt(text, i, length);
            if (width == 0) {
                i++;
                continue;
            }
            raw(text + start, i - start);
            for (size_t end = i + width; i < end; i++) {
                char escaped[8];
                snprintf(escaped, sizeof escaped, "\\x%02x", (unsigned char)text[i]);
                raw(escaped, 4);
            }
            start = i;
        }
        raw(text + start, length - start);
    }
    void put(const std::string& text) { put(text.data(), text.size()); }
    void putCode(const char* sequence) { raw(sequence, strlen(sequence)); }  // never escaped
    // JSON, whose strings carry their controls escaped already.
    void putAsIs(const std::string& text) { raw(text.data(), text.size()); }
    bool failed() const { return error != 0; }
    void flush() {
        if (!error && fflush(stdout) != 0)
            error = errno;
    }

    // 0 when everything was written; otherwise the exit status, after one
    // line on standard error (none for a reader that went away).
    int finish() {
        if (fflush(stdout) != 0 && !error)
            error = errno;
        if (!error)
            return 0;
        if (error == EPIPE)
            return 141;  // as a program ended by the broken pipe
        fprintf(stderr, "repodeck-scan: cannot write the output: %s\n", strerror(error));
        return 1;
    }

private:
    void raw(const char* bytes, size_t length) {
        if (!error && length > 0 && fwrite(bytes, 1, length, stdout) != length)
            error = errno ? errno : EIO;
    }

    bool terminal;
    const std::atomic<bool>& hurry;
    int error = 0;
};

// One repository's line of --json; the README lists every key.
std::string jsonLine(const RepositoryState& state);
// The closing line of --json: how many repositories, and how many need attention or failed.
std::string totalsLine(const std::vector<RepositoryState>& rows);
// The Summary pane: a legend, then an aligned table with one line per
// repository, "*" first on the lines that need attention; in the window's
// colours when colour is set.
void printSummary(Output& output, const std::vector<RepositoryState>& rows, bool colour);
// --color=auto: colours only for a terminal that reads them.
bool colourWanted();
