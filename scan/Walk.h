// The folder walk that turns the chosen folder into the list of repositories.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "scan/ScanSink.h"

// Walks folder depth first and calls found for every folder that holds a
// repository; when found lists it (returns true), says so in Logs and
// Repositories. Each folder is walked once;
// a link is followed only into folder (and never into /proc, /sys or /dev),
// one that leads elsewhere gets a line in Logs. A work tree is walked into
// only when nested. Stops at the next entry once stop is set.
void findRepositories(const std::string& folder, bool nested, const std::atomic<bool>& stop, ScanSink& sink,
                      const std::function<bool(const std::string&)>& found);
