// The ticked git commands on one repository, each one row of a table, so the
// five operations are one procedure; what they learn goes into the
// repository's record, what they write to the panes through InOrder.
#pragma once

#include <atomic>
#include <string>

#include "exec/Runner.h"
#include "scan/InOrder.h"
#include "scan/Scan.h"
#include "scan/ScanSink.h"
#include "scan/Trust.h"

// What the workers of one run share.
struct RunContext {
    const ScanOptions& options;
    const GitSession& session;
    const std::string& root;  // the chosen folder, resolved: git runs only inside it
    const std::atomic<bool>& stop;
    ScanSink& sink;
    InOrder& order;
};

// Runs in slot every git child of work's repository.
void scanRepository(Work& work, const RunContext& run, ChildSlot& slot);

// The option that ticks operation.
bool ScanOptions::*optionOf(Operation operation);

// The Logs lines that open the ticked commands' run, and those that close it
// there and in each command's pane.
void writeBeginLines(const ScanOptions& options, ScanSink& sink);
void writeFinishLines(const ScanOptions& options, ScanSink& sink);
