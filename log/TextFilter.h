// The filter of a pane and of the Summary, as the user types it.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// Terms separated by commas, blanks around them dropped; "-term" leaves out.
// Letters' case is ignored (ASCII letters, as in git's own output).
class TextFilter {
public:
    // What the filter box edits in place; build() after each change.
    char input[256] = "";
    void build();

    // False while the input holds no term: everything passes.
    bool active() const { return !included.empty() || !excluded.empty(); }

    // Whether texts (one line, or the cells of a Summary row, judged as one)
    // pass: out when any "-term" occurs in them, wherever the term stands;
    // else in when there is no plain term or one occurs.
    bool passes(std::initializer_list<std::string_view> texts) const;

private:
    std::vector<std::string> included, excluded;  // in lower case
};
