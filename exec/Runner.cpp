// What the Linux and the Windows runner share.
#include "exec/Runner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

int32_t reportMissingExitCode(const char* commandLine, const char* workingFolder, std::string* report) {
    // -1, as for a stopped child: callers take a negative result for a command
    // that did not run, never for a success.
    constexpr int32_t result = -1;
    if (report)
        *report = "[PROBLEM]: " + std::to_string(uint32_t(result)) + "\n" + commandLine + "\n" +
                  (workingFolder ? workingFolder : "(current folder)") + "\n";
    return result;
}

namespace {

// Room kept free beside the text for the closing lines and zero, so that
// neither needs memory that may not be there.
constexpr size_t closingRoom = 512;

std::string resultLine(int32_t result, const std::string& reason) {
    switch (result) {
    case stoppedResult:
        return "Stopped.";
    case folderFailedResult:
        return "The folder could not be entered: " + reason;
    case startFailedResult:
        return "The command could not start: " + reason;
    case timedOutResult:
        return "Timed out: " +
               (reason.empty() ? "no output for " + std::to_string(chunkTimeoutSeconds()) + " s"
                               : "still running after its limit of " + reason + " s") +
               "; the command and what it started were ended.";
    case stillRunningResult:
        return "The command ended its output but was still running " + std::to_string(finalWaitMilliseconds / 1000) +
               " s later; it was ended.";
    }
    return "";
}

}  // namespace

void Capture::keep(const char* chunk, size_t length) {
    size_t taken = outOfMemory ? 0 : std::min(length, keptOutputLimit - text.size());
    try {
        if (text.size() + taken + closingRoom > text.capacity())
            text.reserve(std::min(std::max(text.capacity() * 2, text.size() + taken), keptOutputLimit) + closingRoom);
        text.append(chunk, taken);
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
        taken = 0;
    }
    notKept += length - taken;
}

int32_t Capture::end(std::string& output, int32_t result, const std::string& reason) {
    std::string line = resultLine(result, reason);
    auto addLine = [&](const std::string& said) {
        if (!text.empty() && text.back() != '\n')
            text.push_back('\n');
        text.append("[repodeck] ").append(said).push_back('\n');
    };
    try {
        if (notKept)
            addLine(std::to_string(notKept) + " more bytes of output were not kept (" +
                    (outOfMemory ? "memory ran out" : "16 MB of one command's output are kept") + ").");
        if (!line.empty())
            addLine(line);
        text.push_back('\0');
    } catch (const std::bad_alloc&) {
        text.assign(1, '\0');  // the empty text needs no memory
    }
    output = std::move(text);
    return result;
}

int chunkTimeoutSeconds() {
    static const int seconds = [] {
        const char* value = getenv("REPODECK_CHUNK_TIMEOUT");
        int given = value ? atoi(value) : 0;
        return given > 0 ? given : 513;
    }();
    return seconds;
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
