// The start of each repository's README, for "Read Me".
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "scan/ScanSink.h"

void readmePreviews(const std::vector<std::string>& repositories, const std::atomic<bool>& stop, ScanSink& sink);
