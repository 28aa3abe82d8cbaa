#include "log/TextFilter.h"

#include <algorithm>
#include <cstring>

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// term is in lower case and not empty.
bool occurs(std::initializer_list<std::string_view> texts, const std::string& term) {
    auto sameLetter = [](char a, char b) { return lower(a) == b; };
    for (std::string_view text : texts)
        if (std::search(text.begin(), text.end(), term.begin(), term.end(), sameLetter) != text.end())
            return true;
    return false;
}

}  // namespace

void TextFilter::build() {
    included.clear();
    excluded.clear();
    std::string_view all(input, strnlen(input, sizeof input));
    for (size_t start = 0; start <= all.size();) {
        size_t comma = std::min(all.find(',', start), all.size());
        std::string_view term = all.substr(start, comma - start);
        start = comma + 1;
        while (!term.empty() && isBlank(term.front()))
            term.remove_prefix(1);
        while (!term.empty() && isBlank(term.back()))
            term.remove_suffix(1);
        bool leftOut = !term.empty() && term[0] == '-';
        if (leftOut)
            term.remove_prefix(1);
        if (term.empty())
            continue;
        std::string& added = (leftOut ? excluded : included).emplace_back(term);
        std::transform(added.begin(), added.end(), added.begin(), lower);
    }
}

bool TextFilter::passes(std::initializer_list<std::string_view> texts) const {
    for (const std::string& term : excluded)
        if (occurs(texts, term))
            return false;
    if (included.empty())
        return true;
    for (const std::string& term : included)
        if (occurs(texts, term))
            return true;
    return false;
}
