// What the scan reads in git's output: each function takes one command's
// captured text (up to its first zero byte).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "scan/RepositoryState.h"

// Calls line for each line of text up to its first zero byte, without its
// line end; stops early when line returns false.
template <typename Line>
void forEachLine(const std::string& text, Line line) {
    std::string_view rest(text.c_str());
    while (!rest.empty()) {
        size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view one = rest.substr(0, end);
        if (!one.empty() && one.back() == '\r')
            one.remove_suffix(1);
        if (!line(one))
            return;
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
}

std::string firstLine(const std::string& output);
// The line that says what happened (at most 4096 bytes): for a result of the
// runner's own, its line; for a failure, git's first "fatal:" or "error:"
// line; else the first line.
std::string messageOf(const std::string& output, int32_t result);
// A pull that failed for want of an upstream or of a branch: skipped, not failed.
bool nothingToPullFrom(const std::string& output);
// Fills the summary fields from "git status --porcelain=v2 --branch
// --show-stash", passing over lines that are no entry; false (problem set)
// when it is not that command's output.
bool readSummary(const std::string& output, RepositoryState& state);
// Take what fetch and submodule update reported from their output; the
// first returns the ranges of the refs that moved ("a1b2c3d..e4f5a6b a...b"), for git log.
std::string readFetchReport(const std::string& output, RepositoryState& state);
int countSubmoduleLines(const std::string& output);
