// The records of one scan, one per repository, in the order of the list and
// keyed by path. A retry or a refresh replaces a record in its place; every
// change gets the next generation, so a view copies only what changed.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "scan/RepositoryState.h"

class Records {
public:
    // Appends state, or replaces the record of its path.
    void put(const RepositoryState& state);
    // The records changed after generation `after`, each with its place in the
    // list, in list order; now is the generation they bring the caller to.
    std::vector<std::pair<size_t, RepositoryState>> changedSince(uint64_t after, uint64_t& now) const;
    std::vector<RepositoryState> all() const;
    std::optional<RepositoryState> find(const std::string& path) const;
    size_t count(bool (RepositoryState::*test)() const) const;
    uint64_t generation() const;

private:
    mutable std::mutex mutex;
    std::vector<RepositoryState> rows;
    std::vector<uint64_t> changedAt;  // the generation of each row's last change
    std::unordered_map<std::string, size_t> places;
    uint64_t current = 0;
};
