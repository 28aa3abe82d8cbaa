#include "scan/Records.h"

#include <algorithm>

void Records::put(const RepositoryState& state) {
    std::lock_guard<std::mutex> lock(mutex);
    current++;
    auto [place, added] = places.try_emplace(state.path, rows.size());
    if (!added) {
        rows[place->second] = state;
        changedAt[place->second] = current;
        return;
    }
    rows.push_back(state);
    changedAt.push_back(current);
}

std::vector<std::pair<size_t, RepositoryState>> Records::changedSince(uint64_t after, uint64_t& now) const {
    std::lock_guard<std::mutex> lock(mutex);
    now = current;
    std::vector<std::pair<size_t, RepositoryState>> changed;
    for (size_t i = 0; i < rows.size(); i++)
        if (changedAt[i] > after)
            changed.emplace_back(i, rows[i]);
    return changed;
}

std::vector<RepositoryState> Records::all() const {
    std::lock_guard<std::mutex> lock(mutex);
    return rows;
}

std::optional<RepositoryState> Records::find(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex);
    auto place = places.find(path);
    return place == places.end() ? std::nullopt : std::optional<RepositoryState>(rows[place->second]);
}

size_t Records::count(bool (RepositoryState::*test)() const) const {
    std::lock_guard<std::mutex> lock(mutex);
    return size_t(std::count_if(rows.begin(), rows.end(), [&](const RepositoryState& row) { return (row.*test)(); }));
}

uint64_t Records::generation() const {
    std::lock_guard<std::mutex> lock(mutex);
    return current;
}
