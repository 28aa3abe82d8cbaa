// What the Linux and the Windows runner share.
#include "exec/Runner.h"

#include "log/LogPane.h"

int32_t reportMissingExitCode(const char* commandLine, const char* workingFolder) {
    // -1, as for a stopped child: callers take a negative result for a command
    // that did not run, never for a success.
    constexpr int32_t result = -1;
    logsPane.write("[PROBLEM]: ");
    logsPane.write(uint32_t(result));
    logsPane.write("\n");
    logsPane.write(commandLine);
    logsPane.write("\n");
    logsPane.write(workingFolder ? workingFolder : "(current folder)");
    logsPane.write("\n");
    return result;
}
