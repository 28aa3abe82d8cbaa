// What the Linux and the Windows runner share.
#include "exec/Runner.h"

#include <cstring>
#include <new>
#include <string_view>

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

bool keepChunk(std::string& captured, const char* chunk, size_t length) {
    static const char cut[] = "\n[repodeck] Output was cut here for lack of memory.\n";
    try {
        // Room for the closing zero and the cut line too, so neither needs
        // memory that may not be there.
        captured.reserve(captured.size() + length + sizeof cut);
        captured.append(chunk, length);
        return true;
    } catch (const std::bad_alloc&) {
        if (captured.capacity() - captured.size() >= sizeof cut)
            captured.append(cut);
        return false;
    }
}

std::vector<std::string> childVariables(const char* workingFolder, const ChildSettings* settings) {
    std::vector<std::string> variables = {"LC_ALL=C"};
    std::string folder = workingFolder ? workingFolder : "";
    size_t last = folder.find_last_not_of("/\\");
    size_t cut = last == std::string::npos ? std::string::npos : folder.find_last_of("/\\", last);
    if (cut != std::string::npos) {
        bool root = cut == 0 || folder[cut - 1] == ':';  // "/" or "C:\" keeps its separator
        variables.push_back("GIT_CEILING_DIRECTORIES=" + folder.substr(0, root ? cut + 1 : cut));
    }
    if (!settings)
        return variables;
    for (const std::string& own : settings->variables) {
        std::string_view name(own.data(), own.find('=') + 1);
        std::erase_if(variables, [&](const std::string& earlier) { return earlier.starts_with(name); });
        variables.push_back(own);
    }
    return variables;
}
