// The texts of the Summary's cells, shared by the window and repodeck-scan.
#pragma once

#include <string>

#include "scan/RepositoryState.h"

enum SummaryColumn { repositoryColumn, branchColumn, upstreamColumn, changesColumn, stashColumn, fetchColumn,
                     pullColumn, notRunColumn, problemColumn, summaryColumnCount };
constexpr const char* summaryColumnNames[summaryColumnCount] = {"Repository", "Branch", "Upstream", "Changes", "Stash",
                                                                "Fetch",      "Pull",   "Not Run",  "Problem"};
std::string summaryCell(const RepositoryState& state, SummaryColumn column);
